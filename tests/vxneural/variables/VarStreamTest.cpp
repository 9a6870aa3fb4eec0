// The saved forms of the variable list, its variables, encoders and
// user-missing values: the layouts field by field against records assembled
// here, and every reader fed truncated, corrupted and hand-made hostile
// streams. A refusal prints its documented line and throws; the sanitizer
// build checks that nothing leaks.
#include <gtest/gtest.h>

#include <cctype>
#include <cfloat>
#include <functional>
#include <memory>
#include <sstream>
#include <type_traits>

#include "VarsTestSupport.h"
#include "common/layouts.h"
#include "persist/XmlIO.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"

using VXMV::gMissingValue;
using namespace vars_test;

namespace {

// --- Layouts ----------------------------------------------------------------

// Three variables: a standardized continuous input with user-missing values
// and a replacement, a string output flag with labels and user-missing
// values, and an ordinal numeric input.
NNVarList SmallList() {
  NNVarList list;
  list.AddContVar("age", "Age", 18, 90, 40, 100, INNVariable::kInput, INNVariable::kInteger);
  list.AddDiscreteUserMissing(0, 99.0, "refused");
  list.SetMissingInterval(0, 100.0, gMissingValue);
  list.SetMissingValueReplacement(0, "40");
  list.SetupContEncoders(VXNNCommon::kMinRange, VXNNCommon::kMeanStdDev);
  list.AddCatVar("colour", "", std::vector<std::string>{"red", "green"}, {"Red", ""},
                 INNVariable::kOutput, INNVariable::kString);
  list.AddDiscreteUserMissing(1, "NA", "not asked");
  static_cast<NNCatVar*>(list.GetVarAt(1))->SetBinaryFlag(true, 0);
  list.AddCatVar("grade", "", std::vector<double>{1, 2}, INNVariable::kInput,
                 INNVariable::kInteger);
  static_cast<NNCatVar*>(list.GetVarAt(2))->SetOrdinalFlag(true);
  return list;
}

layouts::Bytes BinaryOfSmallList() {
  const double slope = 1.0 / (90.0 - 18.0), intercept = -slope * 18.0;
  layouts::Bytes b;
  b.Tag("VARL").I(3);
  b.I(1).Tag("COVR").S("age").S("Age").I(1).I(1).D(40).D(100).D(18).D(90).D(0).I(1);
  b.Tag("LIEN").D(18).D(90).D(slope).D(intercept).I(1);
  b.Tag("NNNumUMi").I(1).D(99).S("refused").I(1).Tag("NNNumInt").D(100).D(DBL_MAX);
  b.I(3).Tag("CAVR").S("colour").S("").I(2).I(3).I(2).I(3).I(3);
  b.Tag("STEN").I(2).S("red").S("green").I(2).S("Red").S("").I(1);
  b.Tag("NNStrUMi").I(1).S("NA").S("not asked");
  b.I(2).Tag("CAVR").S("grade").S("").I(1).I(1).I(2).I(2).I(2);
  b.Tag("CNEN").I(2).D(1).D(2).I(0).I(0);
  return b.I(1).I(2);
}

// withXmlOnly false: what a list read from the binary form holds, without
// the replacement and the flags the binary records leave out.
layouts::Xml XmlOfSmallList(bool withXmlOnly) {
  const double slope = 1.0 / (90.0 - 18.0), intercept = -slope * 18.0;
  layouts::Xml x;
  x.Obj("NNVarList").I(3);
  x.I(1).Obj("NNContVar").S("age").I(3).S("Age").I(1).I(1).D(40).D(100).D(18).D(90).D(0);
  if (withXmlOnly) {
    x.B(true).S("40");
  } else {
    x.B(false);
  }
  x.I(1).Obj("NNLinearEncoder").D(18).D(90).D(slope).D(intercept).I(1);
  // An open end is written as the missing value.
  x.Obj("NNNumericUserMissing").I(1).D(99).S("refused").I(1);
  x.Obj("NNNumericInterval").D(100).D(gMissingValue).End().End().End().End();
  x.I(3).Obj("NNCatVar").S("colour").I(0).I(2).I(3).I(2).I(3).B(false).I(3);
  x.Obj("NNStringEncoder").I(2).S("red").S("green").I(2).S("Red").S("").I(1);
  x.Obj("NNStringUserMissing").I(1).S("NA").S("not asked").End().End();
  x.B(withXmlOnly).I(withXmlOnly ? 0 : -1).B(false).End();
  x.I(2).Obj("NNCatVar").S("grade").I(0).I(1).I(1).I(2).I(2).B(false).I(2);
  x.Obj("NNCatNumEncoder").I(2).D(1).D(2).I(0).I(0).End();
  x.B(false).I(-1).B(withXmlOnly).End();
  return x.I(1).I(2).End();
}

TEST(VariableLayouts, ListVariablesEncodersAndUserMissingValues) {
  const NNVarList list = SmallList();
  // Readers replace whatever the target held.
  const auto stale = [] { return std::make_unique<NNVarList>(vars_test::MakeFullList()); };
  layouts::ExpectLayout(list, stale, BinaryOfSmallList(), XmlOfSmallList(true));

  // The binary records leave out the replacement and the flags.
  auto back = stale();
  std::stringstream in(BinaryOfSmallList().s);
  back->ReadObject(in);
  EXPECT_EQ(layouts::Items(vars_test::Saved(*back, true)), XmlOfSmallList(false).items);
}

// --- Damaged and hand-made streams --------------------------------------------

const char kWrongEncoderType[] = "Wrong encoder type in NNContVar!\n";

// One read into a copy of a stale target, which is then written again:
// whatever a reader leaves behind can still be written, and the invariants
// of what it read hold whether the read failed or not.
template <typename T>
ReadOutcome AttemptRead(const T& target, const std::string& bytes, bool xml) {
  T obj(target);
  const ReadOutcome outcome = stream_faults::ReadFrom(
      bytes, [&](std::istream& in) { xml ? obj.ReadObjectXML(in) : obj.ReadObject(in); });
  if constexpr (std::is_same_v<T, NNContVar>) {
    EXPECT_TRUE(outcome.out != kWrongEncoderType || obj.GetEncoder() == nullptr);
  } else if constexpr (std::is_same_v<T, NNVarList>) {
    int cont = 0;
    for (int i = 0; i < static_cast<int>(obj.Size()); ++i)
      cont += obj.GetVarAt(i)->GetMeasureLevel() == INNVariable::kContinuous;
    EXPECT_EQ(obj.GetNumContVar(), cont);
    EXPECT_EQ(obj.GetNumCatVar(), static_cast<int>(obj.Size()) - cont);
  }
  std::stringstream b, x;
  obj.WriteObject(b);
  obj.WriteObjectXML(x, 1);
  return outcome;
}

struct ReaderCase {
  std::string className, nested;  // nested: the classes read inside it
  std::string binary, xml;
  std::function<ReadOutcome(const std::string&, bool)> read;
};

template <typename T>
ReaderCase Case(const std::string& className, const T& sample, const T& target,
                const std::string& nested) {
  const auto read = [target](const std::string& bytes, bool xml) {
    return AttemptRead(target, bytes, xml);
  };
  return {className, nested, Saved(sample, false), Saved(sample, true), read};
}

// A list that already holds variables, so that readers must replace them.
NNVarList StaleList() {
  NNVarList list;
  list.AddContVar("stale", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("age", "", std::vector<std::string>{"x"}, INNVariable::kOutput,
                 INNVariable::kString);
  return list;
}

std::vector<ReaderCase> AllReaders() {
  const NNVarList list = MakeFullList();
  const auto& age = static_cast<const NNContVar&>(*list.GetVarAt(0));
  const auto& income = static_cast<const NNContVar&>(*list.GetVarAt(1));
  const auto& grade = static_cast<const NNCatVar&>(*list.GetVarAt(3));
  NNCatVar smoker = static_cast<const NNCatVar&>(*list.GetVarAt(4));
  smoker.SetOrdinalFlag(true);
  const auto& colour = static_cast<const NNCatVar&>(*list.GetVarAt(5));
  const std::string numericUm = "NNNumericUserMissing NNNumericInterval";
  const std::string linear = "NNLinearEncoder " + numericUm;
  const std::string cat = "NNCatNumEncoder NNStringEncoder NNStringUserMissing " + numericUm;
  // The list holds every other reader; these take stale targets of their
  // own.
  return {
      // Parameters no constructor computes from a range: read as stored.
      Case("NNLinearEncoder", NNLinearEncoder(0.0, 7.0, 1.0, 3.0), *age.GetLinearEncoder(),
           numericUm),
      Case("NNContVar", age, income, linear),
      // A binary read clears the replacement and flags the record does not carry.
      Case("NNContVar", income, age, linear),
      Case("NNCatVar", grade, colour, cat),
      Case("NNCatVar", colour, smoker, cat),
      Case("NNVarList", list, StaleList(), "NNContVar NNCatVar " + linear + " " + cat),
  };
}

std::vector<std::string> Messages(const ReaderCase& c, bool xml) {
  std::vector<std::string> messages = {ReadMessage(c.className, xml)};
  std::istringstream names(c.nested);
  for (std::string n; names >> n;) messages.push_back(ReadMessage(n, xml));
  return messages;
}

// A refusal printed exactly one documented line: a read-failure message of
// the class or of one nested in it, or a continuous variable's wrong-encoder
// line on standard output.
::testing::AssertionResult FailedProperly(const ReaderCase& c, const ReadOutcome& r, bool xml) {
  const bool hasContVar = (c.className + c.nested).find("NNContVar") != std::string::npos;
  if (hasContVar && r.threw && r.err.empty() && r.out == kWrongEncoderType)
    return ::testing::AssertionSuccess();
  if (!r.out.empty()) return ::testing::AssertionFailure() << "stdout: " << r.out;
  return stream_faults::RefusedWith(r, Messages(c, xml));
}

std::size_t TrimmedSize(const std::string& text) {
  std::size_t n = text.size();
  while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  return n;
}

// Every truncation is refused; each byte replaced in turn (by its
// complement or high-bit flip in the binary form, by markup and digits in
// the XML form) is read or refused properly.
TEST(ReaderRobustness, TruncatedAtEveryOffsetAndEveryByteCorrupted) {
  const char kXmlReplacements[] = {'<', '9', 'x', '"', '>', '-', '/', ' '};
  for (const ReaderCase& c : AllReaders()) {
    for (bool xml : {false, true}) {
      SCOPED_TRACE(c.className + (xml ? " XML" : " binary"));
      const std::string& full = xml ? c.xml : c.binary;
      EXPECT_EQ(c.read("", xml).err, ReadMessage(c.className, xml));
      stream_faults::ExpectTruncationsRefused(
          full, Messages(c, xml), [&](const std::string& bytes) { return c.read(bytes, xml); },
          xml ? TrimmedSize(full) : full.size());
      for (std::size_t k = 0; k < full.size(); ++k) {
        std::string bad = full;
        if (xml) {
          bad[k] = kXmlReplacements[k % sizeof(kXmlReplacements)];
          if (bad[k] == full[k]) bad[k] = '#';
        } else {
          bad[k] = static_cast<char>(full[k] ^ (k % 2 ? 0x80 : 0xFF));
        }
        const ReadOutcome r = c.read(bad, xml);
        if (r.threw)
          ASSERT_TRUE(FailedProperly(c, r, xml)) << "at " << k;
        else
          ASSERT_EQ(r.err + r.out, "") << "at " << k;
      }
    }
  }
}

using B = layouts::Bytes;

B ContVarHead(int role, int encoderType) {
  B b;
  b.Tag("COVR").S("x").S("").I(role).I(INNVariable::kReal);
  return b.Ds({0, 1, 0, 1, 0}).I(encoderType);
}

// A string variable record with an empty string encoder.
B& CatVar(B& b, const char* name, int count, int level, int encoderType) {
  b.Tag("CAVR").S(name).S("").I(INNVariable::kInput).I(INNVariable::kString);
  return b.I(count).I(level).I(encoderType).Tag("STEN").I(0).I(0).I(0);
}

std::string CatVarBytes(int count, int level, int encoderType) {
  B b;
  return CatVar(b, "c", count, level, encoderType).s;
}

// A list of string variables, each stored with the given level, and the two
// counters.
std::string ListOf(std::vector<const char*> names, int count, int numCont, int numCat,
                   int level = INNVariable::kStringCategorical) {
  B b;
  b.Tag("VARL").I(count);
  for (const char* name : names) CatVar(b.I(level), name, 0, 3, 3);
  return b.I(numCont).I(numCat).s;
}

std::string ContVarXml(const std::function<void(VXNeural::detail::XmlWriter&)>& write) {
  std::stringstream s;
  VXNeural::detail::XmlWriter w(s, "NNContVar", 1);
  write(w);
  w.End();
  return s.str();
}

template <typename T>
std::function<ReadOutcome(const std::string&)> Into(const T& target, bool xml = false) {
  return [target, xml](const std::string& bytes) { return AttemptRead(target, bytes, xml); };
}

// Streams no writer produces, each refused with its exact line (or read, when
// none is given).
TEST(ReaderRefusals, HandMadeStreams) {
  const NNContVar cont("t", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
  const NNCatVar catVar("t", "", 2, INNVariable::kStringCategorical, INNVariable::kInput,
                        INNVariable::kString);
  const NNVarList full = MakeFullList();
  struct Case {
    std::string what, bytes;
    std::function<ReadOutcome(const std::string&)> read;
    std::string message;  // empty when the stream reads
  };
  const auto err = [](const char* className) { return ReadMessage(className, false); };
  const std::string contError = err("NNContVar"), catError = err("NNCatVar");
  const std::string listError = err("NNVarList");
  const Case cases[] = {
      {"unknown encoder type", ContVarHead(1, 7).s, Into(cont), kWrongEncoderType},
      {"role 4", ContVarHead(4, 0).s, Into(cont), contError},
      {"name longer than the stream", B().Tag("COVR").I(1000).Tag("ab").s, Into(cont), contError},
      {"has-user-missing 2", ContVarHead(1, 1).Tag("LIEN").Ds({0, 1, 1, 0}).I(2).s, Into(cont),
       err("NNLinearEncoder")},
      {"XML unknown encoder type", ContVarXml([](auto& w) {
         w.String("x").Int(0).Int(1).Int(2).Doubles({0, 1, 0, 1, 0}).Bool(false).Int(3);
       }),
       Into(cont, true), kWrongEncoderType},
      {"XML label length disagrees with the label", ContVarXml([](auto& w) {
         w.String("x").Int(3).String("ab").Int(1).Int(2).Doubles({0, 1, 0, 1, 0});
         w.Bool(false).Int(0);
       }),
       Into(cont, true), ReadMessage("NNContVar", true)},
      {"negative category count", CatVarBytes(-2, 3, 3), Into(catVar), catError},
      {"valid categorical", CatVarBytes(2, 3, 3), Into(catVar), ""},
      // Measure level and encoder type must agree on a categorical encoder.
      {"level 3, encoder 2", CatVarBytes(1, 3, 2), Into(catVar), catError},
      {"level 2, encoder 3", CatVarBytes(1, 2, 3), Into(catVar), catError},
      {"level 4, encoder 3", CatVarBytes(1, 4, 3), Into(catVar), catError},
      {"repeated number", B().Tag("CNEN").I(3).Ds({1, 2, 1}).I(0).I(0).s, Into(NNCatNumEncoder()),
       err("NNCatNumEncoder")},
      {"missing value as a category", B().Tag("CNEN").I(1).D(gMissingValue).I(0).I(0).s,
       Into(NNCatNumEncoder()), err("NNCatNumEncoder")},
      {"repeated string", B().Tag("STEN").I(2).S("a").S("a").I(0).I(0).s, Into(NNStringEncoder()),
       err("NNStringEncoder")},
      {"negative label count", B().Tag("STEN").I(0).I(-1).I(0).s, Into(NNStringEncoder()),
       err("NNStringEncoder")},
      {"has-interval 3", B().Tag("NNNumUMi").I(0).I(3).s, Into(NNNumericUserMissing()),
       err("NNNumericUserMissing")},
      {"huge value count", B().Tag("NNStrUMi").I(0x7fffffff).s, Into(NNStringUserMissing()),
       err("NNStringUserMissing")},
      {"valid list", ListOf({"a", "b"}, 2, 0, 2), Into(full), ""},
      {"duplicate name", ListOf({"a", "a"}, 2, 0, 2), Into(full), listError},
      {"wrong counters", ListOf({"a", "b"}, 2, 1, 1), Into(full), listError},
      {"huge count", ListOf({}, 0x7fffffff, 0, 0), Into(full), listError},
      {"stored level differs", ListOf({"a"}, 1, 0, 1, INNVariable::kNumericCategorical), Into(full),
       listError},
      // The continuous reader meets a categorical record.
      {"continuous level", ListOf({"a"}, 1, 1, 0, INNVariable::kContinuous), Into(full), contError},
  };
  for (const Case& c : cases) {
    const ReadOutcome r = c.read(c.bytes);
    EXPECT_EQ(r.threw, !c.message.empty()) << c.what;
    EXPECT_EQ(r.err + r.out, c.message) << c.what;
    // Only the wrong-encoder line goes to standard output.
    EXPECT_EQ(r.out.empty(), c.message != kWrongEncoderType) << c.what;
  }
}

}  // namespace
