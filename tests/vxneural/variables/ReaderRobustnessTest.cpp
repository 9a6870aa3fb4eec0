// Every reader of this module, fed truncated and corrupted copies of valid
// streams, fails with its own message and an IOException, and leaks nothing
// (the sanitizer build checks the last part).
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <set>
#include <sstream>

#include "FullList.h"
#include "StreamHelpers.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"
#include "vxneural/variables/NNVarList.h"

using vars_test::Binary;
using vars_test::MakeFullList;
using vars_test::Read;
using vars_test::ReadMessage;
using vars_test::ReadResult;
using vars_test::Xml;
using VXMV::gMissingValue;
using VXNeural::detail::BinWriter;

namespace {

const char kWrongEncoderType[] = "Wrong encoder type in NNContVar!\n";

// One reader under test: valid streams of a sample object, and how to read
// bytes into a fresh (non-empty) target.
struct ReaderCase {
  std::string className;
  std::set<std::string> nested;  // classes read inside it
  std::string binary;
  std::string xml;
  std::function<ReadResult(const std::string&, bool)> read;
};

template <typename T>
ReaderCase Case(const std::string& className, const T& sample, const T& target,
                std::set<std::string> nested) {
  ReaderCase c;
  c.className = className;
  c.nested = std::move(nested);
  c.binary = Binary(sample);
  c.xml = Xml(sample);
  c.read = [target](const std::string& bytes, bool xml) {
    T obj(target);
    ReadResult r = Read(obj, bytes, xml);
    // Whatever a reader leaves behind can still be written.
    std::stringstream sink;
    obj.WriteObject(sink);
    obj.WriteObjectXML(sink, 0);
    return r;
  };
  return c;
}

std::vector<ReaderCase> AllReaders() {
  const NNVarList list = MakeFullList();
  NNNumericInterval interval(-2.0, gMissingValue);
  NNNumericUserMissing num;
  num.AddValue(99, "no answer");
  num.AddValue(-1, "");
  num.SetInterval(NNNumericInterval(5, 7));
  NNNumericUserMissing numTarget;
  numTarget.AddValue(3, "old");
  NNStringUserMissing str;
  str.AddValue("NA", "n/a");
  str.AddValue("", "blank");
  NNStringUserMissing strTarget;
  strTarget.AddValue("old", "");
  const auto& age = static_cast<const NNContVar&>(*list.GetVarAt(0));
  const auto& income = static_cast<const NNContVar&>(*list.GetVarAt(1));
  const auto& grade = static_cast<const NNCatVar&>(*list.GetVarAt(3));
  const auto& colour = static_cast<const NNCatVar&>(*list.GetVarAt(5));
  const auto& gradeEnc = static_cast<const NNCatNumEncoder&>(*grade.GetEncoder());
  const auto& colourEnc = static_cast<const NNStringEncoder&>(*colour.GetEncoder());
  const std::set<std::string> numericUm = {"NNNumericUserMissing", "NNNumericInterval"};
  const std::set<std::string> linear = {"NNLinearEncoder", "NNNumericUserMissing",
                                        "NNNumericInterval"};
  return {
      Case("NNNumericInterval", interval, NNNumericInterval(1, 2), {}),
      Case("NNNumericUserMissing", num, numTarget, {"NNNumericInterval"}),
      Case("NNStringUserMissing", str, strTarget, {}),
      Case("NNLinearEncoder", *age.GetLinearEncoder(), *income.GetLinearEncoder(), numericUm),
      Case("NNCatNumEncoder", gradeEnc, NNCatNumEncoder(std::vector<double>{5}), numericUm),
      Case("NNStringEncoder", colourEnc, NNStringEncoder(std::vector<std::string>{"q"}),
           {"NNStringUserMissing"}),
      Case("NNContVar", age, income, linear),
      Case("NNCatVar", grade, colour,
           {"NNCatNumEncoder", "NNStringEncoder", "NNNumericUserMissing", "NNStringUserMissing",
            "NNNumericInterval"}),
      Case("NNCatVar", colour, grade,
           {"NNCatNumEncoder", "NNStringEncoder", "NNNumericUserMissing", "NNStringUserMissing",
            "NNNumericInterval"}),
      Case("NNVarList", list, NNVarList(MakeFullList()),
           {"NNContVar", "NNCatVar", "NNLinearEncoder", "NNCatNumEncoder", "NNStringEncoder",
            "NNNumericUserMissing", "NNStringUserMissing", "NNNumericInterval"}),
  };
}

// A failed read printed exactly one documented line: a read-failure message
// of the reader's class or of a class nested in it on standard error, or the
// wrong-encoder-type line of a continuous variable on standard output.
::testing::AssertionResult FailedProperly(const ReaderCase& c, const ReadResult& r, bool xml) {
  if (!r.threw) return ::testing::AssertionFailure() << "no exception";
  const bool hasContVar = c.className == "NNContVar" || c.nested.count("NNContVar");
  if (hasContVar && r.err.empty() && r.out == kWrongEncoderType)
    return ::testing::AssertionSuccess();
  if (!r.out.empty()) return ::testing::AssertionFailure() << "stdout: " << r.out;
  if (r.err == ReadMessage(c.className, xml)) return ::testing::AssertionSuccess();
  for (const std::string& n : c.nested)
    if (r.err == ReadMessage(n, xml)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "stderr: " << r.err;
}

std::size_t TrimmedSize(const std::string& text) {
  std::size_t n = text.size();
  while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  return n;
}

TEST(ReaderRobustness, ValidStreamsRead) {
  for (const ReaderCase& c : AllReaders()) {
    for (bool xml : {false, true}) {
      const ReadResult r = c.read(xml ? c.xml : c.binary, xml);
      EXPECT_FALSE(r.threw) << c.className << " xml=" << xml << ": " << r.err;
      EXPECT_EQ(r.err + r.out, "");
    }
  }
}

TEST(ReaderRobustness, TruncatedAtEveryOffset) {
  for (const ReaderCase& c : AllReaders()) {
    for (bool xml : {false, true}) {
      const std::string& full = xml ? c.xml : c.binary;
      const std::size_t end = xml ? TrimmedSize(full) : full.size();
      for (std::size_t k = 0; k < end; ++k) {
        const ReadResult r = c.read(full.substr(0, k), xml);
        ASSERT_TRUE(FailedProperly(c, r, xml)) << c.className << " xml=" << xml << " at " << k;
        if (k == 0) {
          EXPECT_EQ(r.err, ReadMessage(c.className, xml));
        }
      }
    }
  }
}

TEST(ReaderRobustness, EveryByteCorrupted) {
  const char kXmlReplacements[] = {'<', '9', 'x', '"', '>', '-', '/', ' '};
  for (const ReaderCase& c : AllReaders()) {
    for (bool xml : {false, true}) {
      const std::string& full = xml ? c.xml : c.binary;
      for (std::size_t k = 0; k < full.size(); ++k) {
        std::string bad = full;
        if (xml) {
          bad[k] = kXmlReplacements[k % sizeof(kXmlReplacements)];
          if (bad[k] == full[k]) bad[k] = '#';
        } else {
          bad[k] = static_cast<char>(full[k] ^ (k % 2 ? 0x80 : 0xFF));
        }
        const ReadResult r = c.read(bad, xml);
        if (r.threw)
          ASSERT_TRUE(FailedProperly(c, r, xml)) << c.className << " xml=" << xml << " at " << k;
        else
          ASSERT_EQ(r.err + r.out, "") << c.className << " xml=" << xml << " at " << k;
      }
    }
  }
}

// The position of every occurrence of what in text.
std::vector<std::size_t> Occurrences(const std::string& text, const std::string& what) {
  std::vector<std::size_t> at;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
    at.push_back(p);
  return at;
}

TEST(ReaderRobustness, CorruptedTagNamesItsClass) {
  const std::string bytes = Binary(MakeFullList());
  const std::vector<std::pair<std::string, std::string>> tags = {
      {"VARL", "NNVarList"},
      {"COVR", "NNContVar"},
      {"CAVR", "NNCatVar"},
      {"LIEN", "NNLinearEncoder"},
      {"CNEN", "NNCatNumEncoder"},
      {"STEN", "NNStringEncoder"},
      {"NNNumUMi", "NNNumericUserMissing"},
      {"NNStrUMi", "NNStringUserMissing"},
      {"NNNumInt", "NNNumericInterval"}};
  for (const auto& [tag, cls] : tags) {
    const auto at = Occurrences(bytes, tag);
    ASSERT_FALSE(at.empty()) << tag;
    for (std::size_t p : at) {
      std::string bad = bytes;
      bad[p + tag.size() - 1] ^= 0x20;
      NNVarList list;
      const ReadResult r = Read(list, bad, false);
      EXPECT_TRUE(r.threw) << tag << " at " << p;
      EXPECT_EQ(r.err, ReadMessage(cls, false)) << tag << " at " << p;
    }
  }
  // In the XML form each object is named after its class.
  const std::string text = Xml(MakeFullList());
  for (const auto& entry : tags) {
    const std::string quoted = "\"" + entry.second + "\"";
    const auto at = Occurrences(text, quoted);
    ASSERT_FALSE(at.empty()) << quoted;
    for (std::size_t p : at) {
      std::string bad = text;
      bad[p + quoted.size() - 2] = '_';
      NNVarList list;
      const ReadResult r = Read(list, bad, true);
      EXPECT_TRUE(r.threw) << quoted << " at " << p;
      EXPECT_EQ(r.err, ReadMessage(entry.second, true)) << quoted << " at " << p;
    }
  }
}

std::string Bytes(const std::function<void(BinWriter&)>& write) {
  std::stringstream s;
  BinWriter w(s);
  write(w);
  return s.str();
}

// A continuous variable record up to its encoder type.
void ContVarHead(BinWriter& w, int role, int encoderType) {
  w.Tag("COVR").String("x").String("").Int(role).Int(INNVariable::kReal);
  w.Doubles({0, 1, 0, 1, 0}).Int(encoderType);
}

void CatVarHead(BinWriter& w, const char* name, int count, int level, int encoderType) {
  w.Tag("CAVR").String(name).String("").Int(INNVariable::kInput).Int(INNVariable::kString);
  w.Int(count).Int(level).Int(encoderType);
}

void EmptyStringEncoder(BinWriter& w) { w.Tag("STEN").Int(0).Int(0).Int(0); }

template <typename T>
ReadResult ReadInto(T obj, const std::string& bytes) {
  return Read(obj, bytes, false);
}

const NNContVar kContTarget("t", "", 0, 1, 0, 1, INNVariable::kInput, INNVariable::kReal);
const NNCatVar kCatTarget("t", "", 2, INNVariable::kStringCategorical, INNVariable::kInput,
                          INNVariable::kString);

TEST(ReaderRefusals, ContinuousVariable) {
  // A wrong encoder type is told on standard output, and the variable is left
  // without an encoder.
  NNContVar var = kContTarget;
  ReadResult r = Read(var, Bytes([](BinWriter& w) { ContVarHead(w, 1, 7); }), false);
  EXPECT_TRUE(r.threw);
  EXPECT_EQ(r.out, kWrongEncoderType);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(var.GetEncoder(), nullptr);

  r = ReadInto(kContTarget, Bytes([](BinWriter& w) { ContVarHead(w, 4, 0); }));
  EXPECT_EQ(r.err, "Error reading NNContVar!\n");
  r = ReadInto(kContTarget, Bytes([](BinWriter& w) { ContVarHead(w, -1, 0); }));
  EXPECT_EQ(r.err, "Error reading NNContVar!\n");
  // A name longer than what is left of the stream.
  r = ReadInto(kContTarget, Bytes([](BinWriter& w) { w.Tag("COVR").Int(1000).Tag("abc"); }));
  EXPECT_EQ(r.err, "Error reading NNContVar!\n");
  // The encoder's has-user-missing is 0 or 1.
  r = ReadInto(kContTarget, Bytes([](BinWriter& w) {
                 ContVarHead(w, 1, 1);
                 w.Tag("LIEN").Doubles({0, 1, 1, 0}).Int(2);
               }));
  EXPECT_EQ(r.err, "Error reading NNLinearEncoder!\n");

  // XML: a wrong encoder type, and a label length that disagrees with the
  // label.
  std::stringstream s;
  {
    VXNeural::detail::XmlWriter w(s, "NNContVar", 1);
    w.String("x").Int(0).Int(1).Int(2).Doubles({0, 1, 0, 1, 0}).Bool(false).Int(3);
    w.End();
  }
  var = kContTarget;
  r = Read(var, s.str(), true);
  EXPECT_TRUE(r.threw);
  EXPECT_EQ(r.out, kWrongEncoderType);
  EXPECT_EQ(var.GetEncoder(), nullptr);
  std::stringstream t;
  {
    VXNeural::detail::XmlWriter w(t, "NNContVar", 1);
    w.String("x").Int(3).String("ab").Int(1).Int(2).Doubles({0, 1, 0, 1, 0}).Bool(false).Int(0);
    w.End();
  }
  r = Read(var, t.str(), true);
  EXPECT_EQ(r.err, "Failure reading NNContVar!\n");
}

TEST(ReaderRefusals, CategoricalVariable) {
  // Encoder type and measure level must agree, and name one of the two
  // categorical encoders.
  for (auto [level, type] :
       std::vector<std::pair<int, int>>{{3, 2}, {2, 3}, {3, 0}, {3, 1}, {1, 1}, {4, 3}}) {
    const ReadResult r = ReadInto(kCatTarget, Bytes([&](BinWriter& w) {
                                    CatVarHead(w, "c", 1, level, type);
                                    EmptyStringEncoder(w);
                                  }));
    EXPECT_TRUE(r.threw);
    EXPECT_EQ(r.err, "Error reading NNCatVar!\n") << level << "/" << type;
  }
  const ReadResult r = ReadInto(kCatTarget, Bytes([](BinWriter& w) {
                                  CatVarHead(w, "c", -2, 3, 3);
                                  EmptyStringEncoder(w);
                                }));
  EXPECT_EQ(r.err, "Error reading NNCatVar!\n");
  const ReadResult ok = ReadInto(kCatTarget, Bytes([](BinWriter& w) {
                                   CatVarHead(w, "c", 2, 3, 3);
                                   EmptyStringEncoder(w);
                                 }));
  EXPECT_FALSE(ok.threw) << ok.err;
}

TEST(ReaderRefusals, EncodersRefuseRepeatedCategories) {
  ReadResult r = ReadInto(NNCatNumEncoder(), Bytes([](BinWriter& w) {
                            w.Tag("CNEN").Int(3).Doubles({1.0, 2.0, 1.0}).Int(0).Int(0);
                          }));
  EXPECT_EQ(r.err, "Error reading NNCatNumEncoder!\n");
  r = ReadInto(NNCatNumEncoder(), Bytes([](BinWriter& w) {
                 w.Tag("CNEN").Int(1).Double(gMissingValue).Int(0).Int(0);
               }));
  EXPECT_EQ(r.err, "Error reading NNCatNumEncoder!\n");
  r = ReadInto(NNStringEncoder(), Bytes([](BinWriter& w) {
                 w.Tag("STEN").Int(2).String("a").String("a").Int(0).Int(0);
               }));
  EXPECT_EQ(r.err, "Error reading NNStringEncoder!\n");
  r = ReadInto(NNStringEncoder(), Bytes([](BinWriter& w) { w.Tag("STEN").Int(0).Int(-1).Int(0); }));
  EXPECT_EQ(r.err, "Error reading NNStringEncoder!\n");
  r = ReadInto(NNNumericUserMissing(),
               Bytes([](BinWriter& w) { w.Tag("NNNumUMi").Int(0).Int(3); }));
  EXPECT_EQ(r.err, "Error reading NNNumericUserMissing!\n");
  r = ReadInto(NNStringUserMissing(),
               Bytes([](BinWriter& w) { w.Tag("NNStrUMi").Int(0x7fffffff); }));
  EXPECT_EQ(r.err, "Error reading NNStringUserMissing!\n");
}

std::string ListOf(const std::function<void(BinWriter&)>& variables, int count, int numCont,
                   int numCat) {
  return Bytes([&](BinWriter& w) {
    w.Tag("VARL").Int(count);
    variables(w);
    w.Int(numCont).Int(numCat);
  });
}

void TwoStringVars(BinWriter& w, const char* first, const char* second) {
  for (const char* name : {first, second}) {
    w.Int(INNVariable::kStringCategorical);
    CatVarHead(w, name, 0, 3, 3);
    EmptyStringEncoder(w);
  }
}

TEST(ReaderRefusals, VariableList) {
  const auto valid = ListOf([](BinWriter& w) { TwoStringVars(w, "a", "b"); }, 2, 0, 2);
  NNVarList list;
  ReadResult r = Read(list, valid, false);
  ASSERT_FALSE(r.threw) << r.err;
  EXPECT_EQ(list.Size(), 2u);

  for (const std::string& bad :
       {ListOf([](BinWriter& w) { TwoStringVars(w, "a", "a"); }, 2, 0, 2),  // duplicate name
        ListOf([](BinWriter& w) { TwoStringVars(w, "a", ""); }, 2, 0, 2),   // empty name
        ListOf([](BinWriter& w) { TwoStringVars(w, "a", "b"); }, 2, 1, 1),  // counters
        ListOf([](BinWriter& w) { TwoStringVars(w, "a", "b"); }, 2, 0, 3),
        ListOf([](BinWriter&) {}, -1, 0, 0),  // count
        ListOf([](BinWriter&) {}, 0x7fffffff, 0, 0),
        ListOf(
            [](BinWriter& w) {  // stored level differs from the variable's
              w.Int(INNVariable::kNumericCategorical);
              CatVarHead(w, "a", 0, 3, 3);
              EmptyStringEncoder(w);
            },
            1, 0, 1)}) {
    NNVarList target = MakeFullList();
    r = Read(target, bad, false);
    EXPECT_TRUE(r.threw);
    EXPECT_EQ(r.err, "Error reading NNVarList!\n");
    // The counters always describe what the list holds.
    int cont = 0;
    for (int i = 0; i < static_cast<int>(target.Size()); ++i)
      cont += target.GetVarAt(i)->GetMeasureLevel() == INNVariable::kContinuous;
    EXPECT_EQ(target.GetNumContVar(), cont);
    EXPECT_EQ(target.GetNumCatVar(), static_cast<int>(target.Size()) - cont);
  }
  // A stored continuous level in front of a categorical record: the
  // continuous reader meets the wrong tag.
  r = Read(list,
           ListOf(
               [](BinWriter& w) {
                 w.Int(INNVariable::kContinuous);
                 CatVarHead(w, "a", 0, 3, 3);
                 EmptyStringEncoder(w);
               },
               1, 1, 0),
           false);
  EXPECT_EQ(r.err, "Error reading NNContVar!\n");
}

}  // namespace
