// A list holding every kind of variable, encoder and user-missing object,
// through both saved forms.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "FullList.h"
#include "StreamHelpers.h"
#include "persist/BinaryIO.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNVarList.h"

using vars_test::Binary;
using vars_test::MakeFullList;
using vars_test::Read;
using vars_test::ReadMessage;
using vars_test::Xml;
using VXMV::gMissingValue;

namespace {

// What both forms carry, checked field by field rather than only through a
// second serialisation.
void ExpectSameCarriedFields(const NNVarList& a, const NNVarList& b) {
  ASSERT_EQ(a.Size(), b.Size());
  EXPECT_EQ(a.GetNumContVar(), b.GetNumContVar());
  EXPECT_EQ(a.GetNumCatVar(), b.GetNumCatVar());
  for (int i = 0; i < static_cast<int>(a.Size()); ++i) {
    SCOPED_TRACE(i);
    const INNVariable& va = *a.GetVarAt(i);
    const INNVariable& vb = *b.GetVarAt(i);
    EXPECT_EQ(va.GetVariableName(), vb.GetVariableName());
    EXPECT_EQ(va.GetVariableLabel(), vb.GetVariableLabel());
    EXPECT_EQ(va.GetMeasureLevel(), vb.GetMeasureLevel());
    EXPECT_EQ(va.GetVariableRole(), vb.GetVariableRole());
    EXPECT_EQ(va.GetVariableStorage(), vb.GetVariableStorage());
    EXPECT_EQ(va.GetNumberOfCategories(), vb.GetNumberOfCategories());
    const INNEncoder& ea = *va.GetEncoder();
    const INNEncoder& eb = *vb.GetEncoder();
    EXPECT_EQ(ea.GetEncoderType(), eb.GetEncoderType());
    EXPECT_EQ(ea.GetNumberOfCategories(), eb.GetNumberOfCategories());
    if (ea.GetValueLabels()) {
      EXPECT_EQ(*ea.GetValueLabels(), *eb.GetValueLabels());
    }
    if (va.GetUserMissingInfo()) {
      EXPECT_TRUE(va.GetUserMissingInfo()->IsEqualTo(vb.GetUserMissingInfo()));
    } else {
      EXPECT_EQ(vb.GetUserMissingInfo(), nullptr);
    }
    if (va.GetMeasureLevel() == INNVariable::kContinuous) {
      const auto& ca = static_cast<const NNContVar&>(va);
      const auto& cb = static_cast<const NNContVar&>(vb);
      EXPECT_EQ(ca.GetMean(), cb.GetMean());
      EXPECT_EQ(ca.GetVariance(), cb.GetVariance());
      EXPECT_EQ(ca.GetMin(), cb.GetMin());
      EXPECT_EQ(ca.GetMax(), cb.GetMax());
      EXPECT_EQ(ca.GetCorrection(), cb.GetCorrection());
      EXPECT_EQ(ca.GetLinearEncoder()->GetSlope(), cb.GetLinearEncoder()->GetSlope());
      EXPECT_EQ(ca.GetLinearEncoder()->GetIntercept(), cb.GetLinearEncoder()->GetIntercept());
    } else if (va.GetMeasureLevel() == INNVariable::kNumericCategorical) {
      EXPECT_EQ(static_cast<const NNCatNumEncoder&>(ea).GetCateValues(),
                static_cast<const NNCatNumEncoder&>(eb).GetCateValues());
    } else {
      std::vector<std::string> sa, sb;
      static_cast<const NNStringEncoder&>(ea).GetCateValues(sa);
      static_cast<const NNStringEncoder&>(eb).GetCateValues(sb);
      EXPECT_EQ(sa, sb);
    }
  }
}

bool HasBinaryOrOrdinalFlag(const NNVarList& list) {
  for (int i = 0; i < static_cast<int>(list.Size()); ++i) {
    const auto* cat = dynamic_cast<const NNCatVar*>(list.GetVarAt(i));
    if (cat == nullptr) continue;
    bool flag;
    int index;
    cat->GetBinaryFlag(flag, index);
    if (flag || index != -1 || cat->GetOrdinalFlag()) return true;
  }
  return false;
}

// A list that already holds variables, so that readers must replace them.
NNVarList StaleList() {
  NNVarList list;
  list.AddContVar("stale", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("age", "", std::vector<std::string>{"x"}, INNVariable::kOutput,
                 INNVariable::kString);
  return list;
}

TEST(ListStreams, BinaryRoundTripDropsWhatItDoesNotCarry) {
  const NNVarList list = MakeFullList();
  const std::string bytes = Binary(list);
  EXPECT_EQ(bytes.substr(0, 4), "VARL");
  NNVarList back = StaleList();
  const auto r = Read(back, bytes, false);
  ASSERT_FALSE(r.threw) << r.err;
  EXPECT_EQ(r.err, "");
  ExpectSameCarriedFields(list, back);
  EXPECT_EQ(Binary(back), bytes);

  NNVarList fresh;
  ASSERT_FALSE(Read(fresh, bytes, false).threw);
  EXPECT_EQ(fresh.GetWeightedCount(), 0.0);
  EXPECT_EQ(fresh.GetFieldFormatsElement(), nullptr);
  for (int i = 0; i < static_cast<int>(fresh.Size()); ++i) {
    EXPECT_EQ(fresh.GetVarAt(i)->GetMissingValueReplacement(), nullptr) << i;
    EXPECT_EQ(fresh.GetVarAt(i)->GetFieldFormatElement(), nullptr) << i;
  }
  EXPECT_FALSE(HasBinaryOrOrdinalFlag(fresh));
  // The source did carry them.
  EXPECT_TRUE(HasBinaryOrOrdinalFlag(list));
  EXPECT_NE(list.GetVarAt(0)->GetMissingValueReplacement(), nullptr);
}

TEST(ListStreams, XmlRoundTripKeepsReplacementsAndFlags) {
  const NNVarList list = MakeFullList();
  const std::string text = Xml(list);
  NNVarList back = StaleList();
  const auto r = Read(back, text, true);
  ASSERT_FALSE(r.threw) << r.err;
  ExpectSameCarriedFields(list, back);
  EXPECT_EQ(Xml(back), text);
  EXPECT_EQ(Binary(back), Binary(list));
  for (int i = 0; i < static_cast<int>(list.Size()); ++i) {
    const std::string* want = list.GetVarAt(i)->GetMissingValueReplacement();
    const std::string* got = back.GetVarAt(i)->GetMissingValueReplacement();
    ASSERT_EQ(want == nullptr, got == nullptr) << i;
    if (want) {
      EXPECT_EQ(*want, *got);
    }
    if (const auto* cat = dynamic_cast<const NNCatVar*>(list.GetVarAt(i))) {
      const auto* catBack = static_cast<const NNCatVar*>(back.GetVarAt(i));
      bool f1, f2;
      int t1, t2;
      cat->GetBinaryFlag(f1, t1);
      catBack->GetBinaryFlag(f2, t2);
      EXPECT_EQ(f1, f2);
      EXPECT_EQ(t1, t2);
      EXPECT_EQ(cat->GetOrdinalFlag(), catBack->GetOrdinalFlag());
    }
  }
  EXPECT_TRUE(HasBinaryOrOrdinalFlag(back));
  // Neither form carries the list's weighted count nor field formats.
  NNVarList fresh;
  ASSERT_FALSE(Read(fresh, text, true).threw);
  EXPECT_EQ(fresh.GetWeightedCount(), 0.0);
  EXPECT_EQ(fresh.GetFieldFormatsElement(), nullptr);
}

TEST(ListStreams, RestoredEncodersBehaveAsTheOriginals) {
  const NNVarList list = MakeFullList();
  for (bool xml : {false, true}) {
    NNVarList back;
    ASSERT_FALSE(Read(back, xml ? Xml(list) : Binary(list), xml).threw);
    for (int i = 0; i < static_cast<int>(list.Size()); ++i) {
      const auto* c = dynamic_cast<const NNContVar*>(list.GetVarAt(i));
      if (c == nullptr) continue;
      const auto* cb = static_cast<const NNContVar*>(back.GetVarAt(i));
      for (double x : {-50.0, 0.0, 0.5, 18.0, 98.0, 99.0, 150.0, gMissingValue})
        EXPECT_EQ(c->GetLinearEncoder()->Normalize(x), cb->GetLinearEncoder()->Normalize(x));
    }
    auto* grade = static_cast<NNCatNumEncoder*>(back.GetEncoderAt(back.FindVariable("grade")));
    EXPECT_EQ(grade->EncodeConst(3.0), 2);
    EXPECT_EQ(grade->Encode(15.0), -1);
    auto* colour = static_cast<NNStringEncoder*>(back.GetEncoderAt(back.FindVariable("colour")));
    EXPECT_EQ(colour->EncodeConst("blue"), 2);
    EXPECT_EQ(colour->Encode("NA"), -1);
  }
}

TEST(ListStreams, BinaryReadClearsWhatTheRecordDoesNotCarry) {
  const NNVarList list = MakeFullList();
  NNContVar cont("old", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  cont.SetMissingValueReplacement("0");
  ASSERT_FALSE(Read(cont, Binary(*list.GetVarAt(1)), false).threw);
  EXPECT_EQ(cont.GetVariableName(), "income");
  EXPECT_EQ(cont.GetMissingValueReplacement(), nullptr);

  NNCatVar cat = static_cast<const NNCatVar&>(*list.GetVarAt(4));  // flag, replacement
  cat.SetOrdinalFlag(true);
  ASSERT_FALSE(Read(cat, Binary(*list.GetVarAt(5)), false).threw);
  bool flag;
  int trueIndex;
  cat.GetBinaryFlag(flag, trueIndex);
  EXPECT_FALSE(flag);
  EXPECT_EQ(trueIndex, -1);
  EXPECT_FALSE(cat.GetOrdinalFlag());
  EXPECT_EQ(cat.GetMissingValueReplacement(), nullptr);
  EXPECT_EQ(cat.GetVariableName(), "colour");
  EXPECT_EQ(cat.GetUserMissingInfo()->GetNDiscreteValues(), 2);
}

TEST(ListStreams, WrongFirstTagIsRefused) {
  std::string bytes = Binary(MakeFullList());
  bytes[3] = 'X';
  NNVarList back;
  const auto r = Read(back, bytes, false);
  EXPECT_TRUE(r.threw);
  EXPECT_EQ(r.err, "Error reading NNVarList!\n");
  EXPECT_EQ(back.Size(), 0u);
}

// A continuous variable stored without an encoder (type 0), which the
// list's own writer never produces for a variable built through its
// interface.
std::string ListWithoutEncoder() {
  std::stringstream s;
  VXNeural::detail::BinWriter w(s);
  w.Tag("VARL").Int(1).Int(INNVariable::kContinuous);
  w.Tag("COVR").String("raw").String("").Int(INNVariable::kInput).Int(INNVariable::kReal);
  w.Double(5).Double(4).Double(0).Double(10).Double(0).Int(INNEncoder::kNoEncoder);
  w.Int(1).Int(0);
  return s.str();
}

TEST(ListStreams, ContinuousVariableWithoutEncoder) {
  const std::string bytes = ListWithoutEncoder();
  NNVarList list;
  const auto r = Read(list, bytes, false);
  ASSERT_FALSE(r.threw) << r.err;
  auto* var = static_cast<NNContVar*>(list.GetVarAt(0));
  EXPECT_EQ(var->GetEncoder(), nullptr);
  EXPECT_EQ(list.GetEncoderAt(0), nullptr);
  EXPECT_EQ(Binary(list), bytes);
  NNVarList viaXml;
  ASSERT_FALSE(Read(viaXml, Xml(list), true).threw);
  EXPECT_EQ(viaXml.GetEncoderAt(0), nullptr);

  NNNumericUserMissing um;
  EXPECT_FALSE(var->SetUserMissingInfo(&um));
  EXPECT_EQ(var->GetUserMissingInfo(), nullptr);
  EXPECT_FALSE(list.AddDiscreteUserMissing(0, 1.0, ""));
  EXPECT_FALSE(list.SetMissingInterval(0, 0, 1));
  std::vector<double> mins, maxs;
  EXPECT_EQ(list.GetInpContMinMax(mins, maxs), 1);
  EXPECT_EQ(mins, std::vector<double>{0.0});
  EXPECT_EQ(maxs, std::vector<double>{10.0});
  std::ostringstream out;
  var->Display(out);
  EXPECT_NE(out.str().find("\tEncoder not set.\n"), std::string::npos);
  // Standardizing gives it an encoder again.
  EXPECT_TRUE(var->SetupEncoder(VXNNCommon::kMinRange));
  ASSERT_NE(var->GetLinearEncoder(), nullptr);
  EXPECT_DOUBLE_EQ(var->GetLinearEncoder()->Normalize(5), 0.5);
}

TEST(ListStreams, ReturnedCounts) {
  const NNVarList list = MakeFullList();
  std::stringstream s;
  const int written = list.WriteObject(s);
  EXPECT_EQ(static_cast<std::size_t>(written), s.str().size());
  NNVarList back;
  EXPECT_EQ(back.ReadObject(s), written);
  // Each value of a single-variable XML list: count, level, 9 leading
  // values, has-replacement, encoder type, then the encoder's 5, then the
  // two counters.
  NNVarList one;
  one.AddContVar("x", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  std::stringstream x;
  EXPECT_EQ(one.WriteObjectXML(x, 1), 1 + 1 + 9 + 1 + 1 + 5 + 2);
  EXPECT_EQ(back.ReadObjectXML(x), 20);
}

}  // namespace
