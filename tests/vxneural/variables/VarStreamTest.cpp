// Every reader of this module fed truncated, corrupted and hand-made
// hostile streams (their layouts and round trips: LayoutTest.cpp). A refusal prints its documented
// line and throws; the sanitizer build checks that nothing leaks.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <sstream>

#include "VarsTestSupport.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"

using VXMV::gMissingValue;
using VXNeural::detail::BinWriter;
using namespace vars_test;

namespace {

const char kWrongEncoderType[] = "Wrong encoder type in NNContVar!\n";

// Invariants that hold after any read, failed or not.
template <typename T>
void ExpectConsistent(const T&, const ReadOutcome&) {}

void ExpectConsistent(const NNContVar& var, const ReadOutcome& r) {
  if (r.out == kWrongEncoderType) {
    EXPECT_EQ(var.GetEncoder(), nullptr);
  }
}

void ExpectConsistent(const NNVarList& list, const ReadOutcome&) {
  int cont = 0;
  for (int i = 0; i < static_cast<int>(list.Size()); ++i)
    cont += list.GetVarAt(i)->GetMeasureLevel() == INNVariable::kContinuous;
  EXPECT_EQ(list.GetNumContVar(), cont);
  EXPECT_EQ(list.GetNumCatVar(), static_cast<int>(list.Size()) - cont);
}

// One read into a copy of a stale target, which is then written again:
// whatever a reader leaves behind can still be written.
template <typename T>
ReadOutcome AttemptRead(const T& target, const std::string& bytes, bool xml) {
  T obj(target);
  const ReadOutcome outcome = stream_faults::ReadFrom(
      bytes, [&](std::istream& in) { xml ? obj.ReadObjectXML(in) : obj.ReadObject(in); });
  ExpectConsistent(obj, outcome);
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

std::string Bytes(const std::function<void(BinWriter&)>& write) {
  std::stringstream s;
  BinWriter w(s);
  write(w);
  return s.str();
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

void ContVarHead(BinWriter& w, int role, int encoderType) {
  w.Tag("COVR").String("x").String("").Int(role).Int(INNVariable::kReal);
  w.Doubles({0, 1, 0, 1, 0}).Int(encoderType);
}

// A string variable record with an empty string encoder.
void CatVar(BinWriter& w, const char* name, int count, int level, int encoderType) {
  w.Tag("CAVR").String(name).String("").Int(INNVariable::kInput).Int(INNVariable::kString);
  w.Int(count).Int(level).Int(encoderType).Tag("STEN").Int(0).Int(0).Int(0);
}

std::string CatVarBytes(int count, int level, int encoderType) {
  return Bytes([&](BinWriter& w) { CatVar(w, "c", count, level, encoderType); });
}

// A list of string variables, each stored with the given level, and the two
// counters.
std::string ListOf(std::vector<const char*> names, int count, int numCont, int numCat,
                   int level = INNVariable::kStringCategorical) {
  return Bytes([&](BinWriter& w) {
    w.Tag("VARL").Int(count);
    for (const char* name : names) CatVar(w.Int(level), name, 0, 3, 3);
    w.Int(numCont).Int(numCat);
  });
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
  const std::string contError = "Error reading NNContVar!\n",
                    catError = "Error reading NNCatVar!\n";
  const std::string listError = "Error reading NNVarList!\n";
  const Case cases[] = {
      {"unknown encoder type", Bytes([](BinWriter& w) { ContVarHead(w, 1, 7); }), Into(cont),
       kWrongEncoderType},
      {"role 4", Bytes([](BinWriter& w) { ContVarHead(w, 4, 0); }), Into(cont), contError},
      {"name longer than the stream",
       Bytes([](BinWriter& w) { w.Tag("COVR").Int(1000).Tag("ab"); }), Into(cont), contError},
      {"has-user-missing 2", Bytes([](BinWriter& w) {
         ContVarHead(w, 1, 1);
         w.Tag("LIEN").Doubles({0, 1, 1, 0}).Int(2);
       }),
       Into(cont), "Error reading NNLinearEncoder!\n"},
      {"XML unknown encoder type", ContVarXml([](auto& w) {
         w.String("x").Int(0).Int(1).Int(2).Doubles({0, 1, 0, 1, 0}).Bool(false).Int(3);
       }),
       Into(cont, true), kWrongEncoderType},
      {"XML label length disagrees with the label", ContVarXml([](auto& w) {
         w.String("x").Int(3).String("ab").Int(1).Int(2).Doubles({0, 1, 0, 1, 0});
         w.Bool(false).Int(0);
       }),
       Into(cont, true), "Failure reading NNContVar!\n"},
      {"negative category count", CatVarBytes(-2, 3, 3), Into(catVar), catError},
      {"valid categorical", CatVarBytes(2, 3, 3), Into(catVar), ""},
      // Measure level and encoder type must agree on a categorical encoder.
      {"level 3, encoder 2", CatVarBytes(1, 3, 2), Into(catVar), catError},
      {"level 2, encoder 3", CatVarBytes(1, 2, 3), Into(catVar), catError},
      {"level 4, encoder 3", CatVarBytes(1, 4, 3), Into(catVar), catError},
      {"repeated number", Bytes([](BinWriter& w) {
         w.Tag("CNEN").Int(3).Doubles({1.0, 2.0, 1.0}).Int(0).Int(0);
       }),
       Into(NNCatNumEncoder()), "Error reading NNCatNumEncoder!\n"},
      {"missing value as a category",
       Bytes([](BinWriter& w) { w.Tag("CNEN").Int(1).Double(gMissingValue).Int(0).Int(0); }),
       Into(NNCatNumEncoder()), "Error reading NNCatNumEncoder!\n"},
      {"repeated string",
       Bytes([](BinWriter& w) { w.Tag("STEN").Int(2).String("a").String("a").Int(0).Int(0); }),
       Into(NNStringEncoder()), "Error reading NNStringEncoder!\n"},
      {"negative label count", Bytes([](BinWriter& w) { w.Tag("STEN").Int(0).Int(-1).Int(0); }),
       Into(NNStringEncoder()), "Error reading NNStringEncoder!\n"},
      {"has-interval 3", Bytes([](BinWriter& w) { w.Tag("NNNumUMi").Int(0).Int(3); }),
       Into(NNNumericUserMissing()), "Error reading NNNumericUserMissing!\n"},
      {"huge value count", Bytes([](BinWriter& w) { w.Tag("NNStrUMi").Int(0x7fffffff); }),
       Into(NNStringUserMissing()), "Error reading NNStringUserMissing!\n"},
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
