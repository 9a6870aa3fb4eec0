#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "StreamHelpers.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNStringEncoder.h"

using vars_test::Binary;
using vars_test::Read;
using vars_test::Xml;
using VXMV::gMissingValue;
using namespace VXNNCommon;

namespace {

NNContVar Var(double min, double max, double mean, double variance, INNVariable::VariableRole role,
              double correction) {
  return NNContVar("x", "", min, max, mean, variance, role, INNVariable::kReal, correction);
}

TEST(LinearEncoder, Constructors) {
  const NNLinearEncoder def;
  EXPECT_EQ(def.GetMin(), -100.0);
  EXPECT_EQ(def.GetMax(), 100.0);
  EXPECT_EQ(def.Normalize(42.0), 42.0);
  const NNLinearEncoder range(3.0, 9.0);
  EXPECT_EQ(range.GetMin(), 3.0);
  EXPECT_EQ(range.Normalize(-7.5), -7.5);
  // The line through (0, -1) and (4, 1).
  const NNLinearEncoder line(0.0, -1.0, 4.0, 1.0);
  EXPECT_DOUBLE_EQ(line.GetSlope(), 0.5);
  EXPECT_DOUBLE_EQ(line.GetIntercept(), -1.0);
  EXPECT_DOUBLE_EQ(line.Normalize(2.0), 0.0);
  EXPECT_EQ(line.GetEncoderType(), INNEncoder::kLinearEncoder);
  EXPECT_EQ(line.GetNumberOfCategories(), 1);
  EXPECT_EQ(line.GetValueLabels(), nullptr);
}

TEST(LinearEncoder, MinRangeWidenedForOutputOnly) {
  const NNLinearEncoder out(kMinRange, Var(0, 10, 5, 9, INNVariable::kOutput, 1.0));
  EXPECT_DOUBLE_EQ(out.GetMin(), -1.0);
  EXPECT_DOUBLE_EQ(out.GetMax(), 11.0);
  EXPECT_DOUBLE_EQ(out.GetSlope(), 1.0 / 12.0);
  EXPECT_DOUBLE_EQ(out.GetIntercept(), 1.0 / 12.0);
  EXPECT_DOUBLE_EQ(out.Normalize(11.0), 1.0);
  EXPECT_DOUBLE_EQ(out.Unnormalize(1.0), 11.0);
  EXPECT_DOUBLE_EQ(out.Normalize(-1.0), 0.0);

  const NNLinearEncoder in(kMinRange, Var(0, 10, 5, 9, INNVariable::kInput, 1.0));
  EXPECT_DOUBLE_EQ(in.GetSlope(), 0.1);
  EXPECT_DOUBLE_EQ(in.GetIntercept(), 0.0);
}

TEST(LinearEncoder, SymmetricRangeMode) {
  const NNLinearEncoder e(kMinRangeSymmetric, Var(0, 4, 2, 1, INNVariable::kInput, 0.5));
  EXPECT_DOUBLE_EQ(e.Normalize(0.0), -1.0);
  EXPECT_DOUBLE_EQ(e.Normalize(2.0), 0.0);
  EXPECT_DOUBLE_EQ(e.Normalize(4.0), 1.0);
  const auto data = e.GetLinearNormData();
  EXPECT_DOUBLE_EQ(data[0], 0.0);
  EXPECT_DOUBLE_EQ(data[1], -1.0);
  EXPECT_DOUBLE_EQ(data[2], 4.0);
  EXPECT_DOUBLE_EQ(data[3], 1.0);
}

TEST(LinearEncoder, MeanStdDevIgnoresCorrection) {
  const NNLinearEncoder e(kMeanStdDev, Var(0, 10, 5, 4, INNVariable::kOutput, 3.0));
  EXPECT_DOUBLE_EQ(e.Normalize(7.0), 1.0);
  EXPECT_DOUBLE_EQ(e.Normalize(5.0), 0.0);
  EXPECT_DOUBLE_EQ(e.Unnormalize(-1.0), 3.0);
  // The range still records the widened min and max.
  EXPECT_DOUBLE_EQ(e.GetMin(), -3.0);
}

TEST(LinearEncoder, NoStandardizationIsIdentity) {
  const NNLinearEncoder e(kNoStandardization, Var(0, 10, 5, 4, INNVariable::kInput, 0));
  EXPECT_EQ(e.GetSlope(), 1.0);
  EXPECT_EQ(e.GetIntercept(), 0.0);
}

TEST(LinearEncoder, MissingAndUserMissingInEveryMode) {
  for (Standardization mode : {kNoStandardization, kMeanStdDev, kMinRange, kMinRangeSymmetric}) {
    NNLinearEncoder e(mode, Var(0, 10, 5, 4, INNVariable::kInput, 0));
    EXPECT_EQ(e.Normalize(gMissingValue), gMissingValue) << mode;
    auto* um = new NNNumericUserMissing();
    um->SetInterval(NNNumericInterval(gMissingValue, -1.0));
    ASSERT_TRUE(e.SetUserMissingInfo(um));
    EXPECT_EQ(e.Normalize(-3.0), gMissingValue) << mode;
    EXPECT_EQ(e.Normalize(-1.0), gMissingValue) << mode;
    EXPECT_NE(e.Normalize(-0.5), gMissingValue) << mode;
  }
}

TEST(EncoderUserMissing, TypeMismatchRefusedAndOldKept) {
  NNLinearEncoder e;
  auto* numeric = new NNNumericUserMissing();
  numeric->AddValue(99, "");
  ASSERT_TRUE(e.SetUserMissingInfo(numeric));
  NNStringUserMissing strings;
  EXPECT_FALSE(e.SetUserMissingInfo(&strings));
  EXPECT_EQ(e.GetUserMissingInfo(), numeric);
  EXPECT_EQ(e.Normalize(99), gMissingValue);
  // Handing back the object it already holds keeps it alive.
  EXPECT_TRUE(e.SetUserMissingInfo(numeric));
  EXPECT_EQ(e.Normalize(99), gMissingValue);

  NNCatNumEncoder cat;
  EXPECT_FALSE(cat.SetUserMissingInfo(&strings));
  NNStringEncoder str;
  NNNumericUserMissing numbers;
  EXPECT_FALSE(str.SetUserMissingInfo(&numbers));
  EXPECT_EQ(str.GetUserMissingInfo(), nullptr);
  ASSERT_TRUE(str.SetUserMissingInfo(new NNStringUserMissing()));
  EXPECT_TRUE(str.SetUserMissingInfo(nullptr));
  EXPECT_EQ(str.GetUserMissingInfo(), nullptr);
}

TEST(CatNumEncoder, CodesInOrderOfFirstAppearance) {
  NNCatNumEncoder e;
  EXPECT_EQ(e.Encode(3.0), 0);
  EXPECT_EQ(e.Encode(1.0), 1);
  EXPECT_EQ(e.Encode(3.0), 0);
  EXPECT_EQ(e.GetNumberOfCategories(), 2);
  EXPECT_EQ(e.Decode(1), 1.0);
  EXPECT_EQ(e.Decode(2), gMissingValue);
  EXPECT_EQ(e.Decode(-1), gMissingValue);
  EXPECT_EQ(e.EncodeConst(7.0), -1);
  EXPECT_EQ(e.EncodeConst(1.0), 1);
  EXPECT_EQ(e.GetNumberOfCategories(), 2);
  EXPECT_EQ(e.GetCateValues(), (std::vector<double>{3.0, 1.0}));
}

TEST(CatNumEncoder, MissingValuesGetNoCode) {
  NNCatNumEncoder e(std::vector<double>{5.0, gMissingValue, 6.0, NAN});
  EXPECT_EQ(e.GetNumberOfCategories(), 2);
  auto* um = new NNNumericUserMissing();
  um->AddValue(9.0, "");
  ASSERT_TRUE(e.SetUserMissingInfo(um));
  EXPECT_EQ(e.Encode(9.0), -1);
  EXPECT_EQ(e.Encode(gMissingValue), -1);
  EXPECT_EQ(e.Encode(NAN), -1);
  EXPECT_EQ(e.GetNumberOfCategories(), 2);
  EXPECT_EQ(e.Encode(7.0), 2);
}

TEST(StringEncoder, CodesAndIndependentCopy) {
  auto e = std::make_unique<NNStringEncoder>();
  EXPECT_EQ(e->Encode("b"), 0);
  EXPECT_EQ(e->Encode("a"), 1);
  EXPECT_EQ(e->Encode("b"), 0);
  EXPECT_EQ(e->Encode(""), 2);
  EXPECT_EQ(e->Decode(0), "b");
  EXPECT_EQ(e->Decode(3), "");
  EXPECT_EQ(e->Decode(-1), "");
  EXPECT_EQ(e->EncodeConst("B"), -1);
  EXPECT_EQ(e->GetNumberOfCategories(), 3);

  const NNStringEncoder copy(*e);
  std::unique_ptr<INNEncoder> clone(e->Clone());
  NNStringEncoder assigned(0);
  assigned.Encode("zzz");
  assigned = *e;
  e.reset();
  for (const NNStringEncoder* c : {&copy, static_cast<const NNStringEncoder*>(clone.get()),
                                   static_cast<const NNStringEncoder*>(&assigned)}) {
    EXPECT_EQ(c->Decode(0), "b");
    EXPECT_EQ(c->Decode(1), "a");
    EXPECT_EQ(c->EncodeConst("a"), 1);
    std::vector<std::string> values{"keep"};
    c->GetCateValues(values);
    EXPECT_EQ(values, (std::vector<std::string>{"keep", "b", "a", ""}));
  }
}

TEST(StringEncoder, UserMissingStringGetsNoCode) {
  NNStringEncoder e;
  auto* um = new NNStringUserMissing();
  um->AddValue("NA", "");
  ASSERT_TRUE(e.SetUserMissingInfo(um));
  EXPECT_EQ(e.Encode("NA"), -1);
  EXPECT_EQ(e.Encode("na"), 0);
  EXPECT_EQ(e.GetNumberOfCategories(), 1);
}

TEST(EncoderLabels, SetValueLabelPadsAndIgnoresOutOfRange) {
  NNCatNumEncoder e(std::vector<double>{1, 2, 3});
  e.SetValueLabel(5, "nope");
  EXPECT_EQ(e.GetValueLabels()->size(), 3u);
  EXPECT_EQ(*e.GetValueLabels(), (std::vector<std::string>(3)));
  e.SetValueLabel(1, "x");
  EXPECT_EQ(*e.GetValueLabels(), (std::vector<std::string>{"", "x", ""}));

  NNStringEncoder s(std::vector<std::string>{"p", "q", "r"});
  s.SetValueLabel(-1, "nope");
  s.SetValueLabel(1, "x");
  EXPECT_EQ(*s.GetValueLabels(), (std::vector<std::string>{"", "x", ""}));
  s.SetValueLabels({"only"});
  EXPECT_EQ(*s.GetValueLabels(), (std::vector<std::string>{"only"}));
}

TEST(EncoderStreams, CategoricalRoundTripsKeepCodesLabelsAndUserMissing) {
  NNStringEncoder str(std::vector<std::string>{"zeta", "alpha", "", "mid"});
  str.SetValueLabels({"Z", "A"});
  auto* sum = new NNStringUserMissing();
  sum->AddValue("NA", "n/a");
  ASSERT_TRUE(str.SetUserMissingInfo(sum));
  NNCatNumEncoder num(std::vector<double>{10, -2.5, 0.0, 1e-300});
  num.SetValueLabels({"ten", "", "zero", "tiny", "extra"});
  auto* num_um = new NNNumericUserMissing();
  num_um->SetInterval(NNNumericInterval(100, gMissingValue));
  ASSERT_TRUE(num.SetUserMissingInfo(num_um));

  for (bool xml : {false, true}) {
    NNStringEncoder strBack(std::vector<std::string>{"stale"});
    auto r = Read(strBack, xml ? Xml(str) : Binary(str), xml);
    ASSERT_FALSE(r.threw) << r.err;
    for (const char* s : {"zeta", "alpha", "", "mid"})
      EXPECT_EQ(strBack.EncodeConst(s), str.EncodeConst(s));
    EXPECT_EQ(strBack.EncodeConst("stale"), -1);
    EXPECT_EQ(strBack.GetNumberOfCategories(), 4);
    EXPECT_EQ(*strBack.GetValueLabels(), *str.GetValueLabels());
    EXPECT_EQ(strBack.Encode("NA"), -1);
    EXPECT_EQ(strBack.Decode(3), "mid");

    NNCatNumEncoder numBack(std::vector<double>{77});
    r = Read(numBack, xml ? Xml(num) : Binary(num), xml);
    ASSERT_FALSE(r.threw) << r.err;
    EXPECT_EQ(numBack.GetCateValues(), num.GetCateValues());
    EXPECT_EQ(numBack.EncodeConst(-2.5), 1);
    EXPECT_EQ(numBack.EncodeConst(77), -1);
    EXPECT_EQ(*numBack.GetValueLabels(), *num.GetValueLabels());
    ASSERT_NE(numBack.GetUserMissingInfo(), nullptr);
    EXPECT_TRUE(numBack.GetUserMissingInfo()->IsEqualTo(num.GetUserMissingInfo()));
    EXPECT_EQ(numBack.Encode(1e6), -1);
  }
}

TEST(EncoderStreams, LinearKeepsStoredParameters) {
  // Parameters that no constructor would compute from the range: read as
  // stored, not recomputed.
  NNLinearEncoder e(0.0, 7.0, 1.0, 3.0);
  NNLinearEncoder odd(-1, 1);
  for (bool xml : {false, true}) {
    NNLinearEncoder back;
    auto* um = new NNNumericUserMissing();
    back.SetUserMissingInfo(um);
    const auto r = Read(back, xml ? Xml(e) : Binary(e), xml);
    ASSERT_FALSE(r.threw) << r.err;
    EXPECT_EQ(back.GetSlope(), e.GetSlope());
    EXPECT_EQ(back.GetIntercept(), e.GetIntercept());
    EXPECT_EQ(back.GetMin(), 0.0);
    EXPECT_EQ(back.GetMax(), 1.0);
    EXPECT_EQ(back.GetUserMissingInfo(), nullptr);
  }
  // Tag, four doubles, has-user-missing.
  EXPECT_EQ(Binary(odd).size(), 4u + 32u + 4u);
  EXPECT_EQ(Binary(odd).substr(0, 4), "LIEN");
}

TEST(EncoderDisplay, KeyTexts) {
  NNLinearEncoder lin(0.0, 1.0, 2.0, 5.0);
  auto* um = new NNNumericUserMissing();
  um->AddValue(99, "dk");
  lin.SetUserMissingInfo(um);
  std::ostringstream a;
  lin.Display(a);
  EXPECT_EQ(a.str().find("Start of NNLinearEncoder display"), 0u);
  EXPECT_NE(a.str().find("Slope = 2"), std::string::npos);
  EXPECT_NE(a.str().find("Intercept = 1"), std::string::npos);
  EXPECT_NE(
      a.str().find("\t\tUser-missing values for this encoder:\n\t\tStart of NNNumericUserMissing"),
      std::string::npos);
  EXPECT_NE(a.str().find("End of NNLinearEncoder display"), std::string::npos);

  NNCatNumEncoder cat(std::vector<double>{4.5, 6});
  cat.SetValueLabels({"low", "high"});
  std::ostringstream b;
  cat.Display(b);
  EXPECT_EQ(b.str().find("Start of NNCatNumEncoder display"), 0u);
  EXPECT_NE(b.str().find("Last code = 1"), std::string::npos);
  EXPECT_NE(b.str().find("Numeric values of categories"), std::string::npos);
  EXPECT_NE(b.str().find("4.5"), std::string::npos);
  EXPECT_NE(b.str().find("Value labels:"), std::string::npos);
  EXPECT_NE(b.str().find("high"), std::string::npos);
  EXPECT_EQ(b.str().find("User-missing"), std::string::npos);
  EXPECT_NE(b.str().find("End of NNCatNumEncoder display"), std::string::npos);

  NNStringEncoder str(std::vector<std::string>{"red", "blue"});
  str.SetValueLabel(1, "Blue");
  std::ostringstream c;
  str.Display(c);
  EXPECT_EQ(c.str().find("\tNNStringEncoder object:  Last code = 1"), 0u);
  EXPECT_NE(c.str().find("red,\t Label: "), std::string::npos);
  EXPECT_NE(c.str().find("blue,\t Label: Blue"), std::string::npos);
}

}  // namespace
