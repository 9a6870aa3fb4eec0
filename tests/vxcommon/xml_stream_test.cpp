// The element tree writer: layout, escaping, numbers, ownership of children.
// The XML object stream: its written form, round trips of every value type
// through the writer and the reader, the readers' leniency towards other
// spellings of the same document, and hostile input, which every reader
// answers with false, never a throw, crash, endless loop or unbounded
// allocation.
#include <gmock/gmock.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/stream_faults.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"

namespace {

using namespace VXXML_1_2;
double FromBits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

std::uint64_t Bits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// xmllint, an independent parser, is not installed everywhere.
bool HaveXmllint() { return std::ifstream("/usr/bin/xmllint").good(); }

// Runs "xmllint <options> FILE" on document; true when it exits with 0.
// Its standard output goes to *output when given.
bool RunXmllint(const std::string& document, const std::string& options,
                std::string* output = nullptr) {
  const std::string file =
      VXCommon_1_2::VXDefaultTempFileNameMaker("", "vxcommon-test").GetTempFileName();
  std::ofstream(file, std::ios::binary) << document;
  FILE* pipe = popen(("/usr/bin/xmllint " + options + " '" + file + "' 2>/dev/null").c_str(), "r");
  std::string text(1 << 20, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), pipe));
  const int status = pclose(pipe);
  std::remove(file.c_str());
  if (output != nullptr) *output = text;
  return status == 0;
}

std::string DocumentHead(const std::string& notice = "Saved by the vxcommon tests") {
  std::ostringstream out;
  std::unique_ptr<XMLDocType> docType(XMLDocType::Create(kRootName, "savexml.dtd", 0));
  docType->Write(out);
  StartRoot(out, notice);
  return out.str();
}

// Names and values of the sample document.
const std::string kOuterName = "MLPAlgorithm 1.00";
const std::string kMiddleName = "Nested <&\"'> name";
const std::string kInnerName = "inn\x02r \xC3\xBC";  // control character: hex name
const double kNanPayload = FromBits(0xFFF0000000000123ULL);
const std::string kPlain = "a & b <c> \xC3\xA9t\xC3\xA9";
const std::string kControl = std::string("\x01z\0", 3);
const std::string kSpaces = "  two spaces\teach side  ";
const double kTiny = std::numeric_limits<double>::denorm_min();
const double kMinusInf = -std::numeric_limits<double>::infinity();

template <typename... T>
void WriteAll(std::ostream& out, const XMLObj& obj, const T&... values) {
  (obj.WriteSubElement(out, values), ...);
}

// Three nested objects (levels 0, 1, 2) holding every value type.
std::string SampleDocument() {
  std::ostringstream out;
  out << DocumentHead();
  const XMLObj outer(kOuterName, 0), middle(kMiddleName, 1), inner(kInnerName, 2);
  outer.StartObj(out);
  WriteAll(out, outer, INT_MIN, LONG_MAX, UINT_MAX, -0.0, true, kPlain);
  middle.StartObj(out);
  WriteAll(out, middle, VXMV::gMissingValue, kNanPayload, std::string(), kControl);
  inner.StartObj(out);
  WriteAll(out, inner, kTiny, kMinusInf, false, kSpaces);
  inner.EndObj(out);
  middle.WriteSubElement(out, 7);
  middle.EndObj(out);
  outer.WriteSubElement(out, 0.1);
  outer.EndObj(out);
  EndRoot(out);
  return out.str();
}

// Reads one value of the expected one's type and notes whether it is equal
// (doubles bit for bit).
struct ValueReader {
  std::istream& in;
  bool same = true;
  template <typename T>
  bool operator()(const T& expected) {
    T value{};
    if (!ParseValue(in, value)) return false;
    if constexpr (std::is_same_v<T, double>)
      same = same && Bits(value) == Bits(expected);
    else
      same = same && value == expected;
    return true;
  }
};

// Reads the sample back. Returns whether every read succeeded; *same tells
// whether every value equals the one written.
bool ReadSampleDocument(std::istream& in, bool* same) {
  ValueReader read{in};
  const bool ok = ParseStartXML(in) && ParseStartObj(in, kOuterName) && read(INT_MIN) &&
                  read(LONG_MAX) && read(UINT_MAX) && read(-0.0) && read(true) && read(kPlain) &&
                  ParseStartObj(in, kMiddleName) && read(VXMV::gMissingValue) &&
                  read(kNanPayload) && read(std::string()) && read(kControl) &&
                  ParseStartObj(in, kInnerName) && read(kTiny) && read(kMinusInf) && read(false) &&
                  read(kSpaces) && ParseEndObj(in) && read(7) && ParseEndObj(in) && read(0.1) &&
                  ParseEndObj(in) && ParseEndXML(in);
  if (same != nullptr) *same = read.same;
  return ok;
}

std::vector<std::string> NastyStrings() {
  using namespace std::string_literals;
  return {"",
          " ",
          "\n",
          "  leading and trailing  ",
          "a & b < c > d \" e ' f",
          "&amp; is already escaped; &#65; too",
          "]]> ends a section",
          "<object name=\"x\"> </object>",
          "<!-- not a comment -->",
          "tab\there\tand\nline feed",
          "cr\ronly and\r\npair\r",
          "\xC3\xBCn\xC3\xAF\xC3\xA7\xC3\xB8\x64\xC3\xA9 \xE2\x9C\x93 \xF0\x9D\x84\x9E",
          "\x7F delete is an XML character",
          "\x01\x02 control",
          "nul\0inside"s,
          "\0"s,
          "\xFF\xFE invalid bytes",
          "\xC3 truncated sequence",
          "\xED\xA0\x80 surrogate",
          "\xEF\xBF\xBE not a character",
          "\xC0\xAF overlong",
          "\xF4\x90\x80\x80 beyond U+10FFFF",
          std::string(100000, 'x') + "&<>"};
}

template <typename T>
std::string Written(const XMLObj& obj, const T& value) {
  std::ostringstream out;
  obj.WriteSubElement(out, value);
  return out.str();
}

std::string Started(const std::string& name) {
  std::ostringstream out;
  XMLObj(name, 0).StartObj(out);
  return out.str();
}

TEST(XmlStreamFormat, WrittenForms) {
  const XMLObj obj("NNVarList", 1), top("T", 0), bare("T", -1);
  std::ostringstream object;
  obj.StartObj(object);
  obj.WriteSubElement(object, 3);
  obj.WriteSubElement(object, std::string("a & b"));
  obj.EndObj(object);
  std::ostringstream end;
  EndRoot(end);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {object.str(),
       "  <object name=\"NNVarList\">\n    <int>3</int>\n    <string>a &amp; b</string>\n"
       "  </object>\n"},
      {Written(top, -7L), "  <long>-7</long>\n"},
      {Written(top, 7U), "  <unsigned>7</unsigned>\n"},
      {Written(top, true), "  <bool>1</bool>\n"},
      {Written(top, "lit"), "  <string>lit</string>\n"},  // a literal is a string, not a bool
      {Written(top, std::string("\x01")), "  <string enc=\"hex\">01</string>\n"},
      {Written(top, "cr\r"), "  <string>cr&#13;</string>\n"},
      {Started("a<b & \"c\" 'd'\t\n"),
       "<object name=\"a&lt;b &amp; &quot;c&quot; &apos;d&apos;&#9;&#10;\">\n"},
      {Started("\x01"), "<object name=\"01\" enc=\"hex\">\n"},
      {DocumentHead("notice"),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">\n"
       "<VXXMLRoot>\n<!-- notice -->\n"},
      {end.str(), "</VXXMLRoot>\n"},
      // Doubles in their shortest form, NaNs with their exact bits.
      {Written(bare, 0.1), "<double>0.1</double>\n"},
      {Written(bare, -0.0), "<double>-0</double>\n"},
      {Written(bare, 3.0), "<double>3</double>\n"},
      {Written(bare, 1e21), "<double>1e+21</double>\n"},
      {Written(bare, VXMV::gMissingValue), "<double>-1.7976931348623157e+308</double>\n"},
      {Written(bare, std::numeric_limits<double>::denorm_min()), "<double>5e-324</double>\n"},
      {Written(bare, HUGE_VAL), "<double>inf</double>\n"},
      {Written(bare, -HUGE_VAL), "<double>-inf</double>\n"},
      {Written(bare, FromBits(0xFFF0000000000123ULL)),
       "<double>nan:0xfff0000000000123</double>\n"}};
  for (const auto& [written, expected] : cases) EXPECT_EQ(written, expected);
}

// One object holding the values, written and read back. Each value element
// (indented four spaces, with its line feed) is at least the minimum size.
template <typename T>
void ExpectRoundTrips(const std::vector<T>& values, T stale) {
  std::stringstream stream;
  const XMLObj obj("Values", 1);
  EXPECT_TRUE(obj.StartObj(stream));
  for (const T& value : values) {
    const auto before = stream.tellp();
    EXPECT_TRUE(obj.WriteSubElement(stream, value));
    EXPECT_GE(static_cast<std::size_t>(stream.tellp() - before), kMinValueBytes + 5);
  }
  EXPECT_TRUE(obj.EndObj(stream));
  ASSERT_TRUE(ParseStartObj(stream, "Values"));
  for (const T& value : values) {
    T back = stale;
    ASSERT_TRUE(ParseValue(stream, back)) << ::testing::PrintToString(value);
    if constexpr (std::is_same_v<T, double>)
      EXPECT_EQ(Bits(back), Bits(value)) << std::hex << Bits(value);
    else
      EXPECT_EQ(back, value);
  }
  EXPECT_TRUE(ParseEndObj(stream));
}

TEST(XmlStreamRoundTrip, EveryTypeAtItsLimits) {
  ExpectRoundTrips<int>({INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX}, 42);
  ExpectRoundTrips<long>({LONG_MIN, -1L, 0L, LONG_MAX}, 42);
  ExpectRoundTrips<unsigned>({0U, 1U, 0x80000000U, UINT_MAX}, 42);
  ExpectRoundTrips<bool>({true, false, true}, false);
  ExpectRoundTrips<std::string>(NastyStrings(), "stale");
  const double inf = HUGE_VAL, tiny = std::numeric_limits<double>::denorm_min();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> doubles({0.0, -0.0, 1.0 / 3.0, 1e21, 123456789012345678.0, DBL_EPSILON,
                               DBL_MAX, -DBL_MAX, VXMV::gMissingValue, DBL_MIN, DBL_MIN / 3.0, tiny,
                               -tiny, inf, -inf, nan, -nan});
  // Signalling NaNs with the smallest and largest payloads, a negative quiet one.
  for (std::uint64_t bits : {0x7FF0000000000001ULL, 0x7FF7FFFFFFFFFFFFULL, 0xFFF8000000000ABCULL})
    doubles.push_back(FromBits(bits));
  // Random bit patterns, every fourth a NaN or infinity.
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 20000; ++i)
    doubles.push_back(FromBits(random() | (i % 4 == 0 ? 0x7FF0000000000000ULL : 0)));
  ExpectRoundTrips(doubles, 1.0);
}

TEST(XmlStreamRoundTrip, NestedObjectsReadBackInOrder) {
  std::istringstream in(SampleDocument());
  bool same = false;
  EXPECT_TRUE(ReadSampleDocument(in, &same));
  EXPECT_TRUE(same);
}

TEST(XmlStreamReader, AcceptsOtherSpellingsAndStopsAfterItsConstruct) {
  // No declaration, comments and white space everywhere between constructs,
  // single quotes, spaces inside tags, references, words for bools.
  std::istringstream in(
      "  <!-- first --> <!DOCTYPE VXXMLRoot>\n<VXXMLRoot >\r\n"
      "<!----><object  name = 'A&#32;&#x42;' >\t<!-- - -- --->"
      "<int> -12 </int ><bool>true</bool><bool> false </bool>"
      "<string>&#x1d11e;&#233;&lt;&#10;</string>"
      "<string enc='hex'> 41ff </string><string></string><double>1E3</double>"
      "</object ></VXXMLRoot >tail");
  int i = 0;
  bool t = false, f = true;
  std::string music, hex, empty = "x", rest;
  double d = 0.0;
  ASSERT_TRUE(ParseStartXML(in) && ParseStartObj(in, "A B"));
  ASSERT_TRUE(ParseValue(in, i) && ParseValue(in, t) && ParseValue(in, f));
  ASSERT_TRUE(ParseValue(in, music) && ParseValue(in, hex) && ParseValue(in, empty));
  ASSERT_TRUE(ParseValue(in, d) && ParseEndObj(in) && ParseEndXML(in));
  EXPECT_EQ(i, -12);
  EXPECT_TRUE(t && !f);
  EXPECT_EQ(music, "\xF0\x9D\x84\x9E\xC3\xA9<\n");
  EXPECT_EQ(hex, "A\xFF");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(d, 1000.0);
  std::getline(in, rest);
  EXPECT_EQ(rest, "tail");
}

// Long string values and names were once read, escaped and decoded one
// range test after another per byte. The readers now take runs of ordinary
// bytes at once; these cases pin where such a run must stop and what it
// leaves consumed.
TEST(XmlStreamReader, PlainRunsStopWhereTheConstructSays) {
  const struct {
    std::string document;
    std::string objectName;  // empty: the document is a string value
    bool accepted;
    std::string value;        // the string read, when accepted
    std::streamoff consumed;  // where a refusal leaves the stream (-1: failed)
  } cases[] = {
      {"<string>a&amp;b&lt;c'\"d</string>", "", true, "a&b<c'\"d", 0},
      {"<string>abc", "", false, "", -1},
      {"<string enc=\"hex\">00ff41</string>", "", true, std::string("\0\xff\x41", 3), 0},
      {"<object name='a\"b'>", "a\"b", true, "", 0},
      {"<object name=\"a&quot;b\">", "a\"b", true, "", 0},
      // Twice the name's length is read, and one byte more, then refused.
      {"<object name=\"abcdefgh\">", "ab", false, "", 19},
      {"<object name=\"ab", "ab", false, "", -1},
      {"<object name=\"a<b\">", "a<b", false, "", 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    std::istringstream in(c.document);
    std::string value;
    const bool accepted =
        c.objectName.empty() ? ParseValue(in, value) : ParseStartObj(in, c.objectName);
    ASSERT_EQ(accepted, c.accepted);
    if (accepted && c.objectName.empty()) {
      EXPECT_EQ(value, c.value);
    }
    if (!accepted) {
      EXPECT_EQ(in.good() ? static_cast<std::streamoff>(in.tellg()) : -1, c.consumed);
    }
  }
}

TEST(XmlStreamWellFormed, XmllintAcceptsTheSampleAndReadsTheSameStrings) {
  if (!HaveXmllint()) GTEST_SKIP() << "/usr/bin/xmllint is not installed";
  EXPECT_TRUE(RunXmllint(SampleDocument(), "--noout"));
  std::ostringstream out;
  out << DocumentHead("notice -- with\ndashes \x01 and \xFF bytes-");
  const XMLObj obj("Strings", 1);
  obj.StartObj(out);
  const std::vector<std::string> values = NastyStrings();
  for (const std::string& value : values) obj.WriteSubElement(out, value);
  obj.EndObj(out);
  EndRoot(out);
  ASSERT_TRUE(RunXmllint(out.str(), "--noout"));
  // Every string written as text reads as the original in another parser.
  int checked = 0;
  for (std::size_t k = 0; k < values.size() && values[k].size() < 1000; ++k) {
    if (Written(obj, values[k]).find("enc=\"hex\"") != std::string::npos) continue;
    std::string text;
    ASSERT_TRUE(RunXmllint(
        out.str(), "--xpath 'string(/VXXMLRoot/object/string[" + std::to_string(k + 1) + "])'",
        &text));
    // xmllint ends what it prints with a line feed of its own.
    EXPECT_EQ(text, values[k] + "\n") << k;
    ++checked;
  }
  EXPECT_EQ(checked, 13);
}

// One reader: a value of a type, the start of an object named "a", the end
// of an object, the prolog or the end of the root.
using Reader = bool (*)(std::istream&);
template <typename T>
bool Value(std::istream& in) {
  T value{};
  return ParseValue(in, value);
}
bool ObjectA(std::istream& in) { return ParseStartObj(in, "a"); }
const Reader kInt = Value<int>, kLong = Value<long>, kUnsigned = Value<unsigned>,
             kDouble = Value<double>, kBool = Value<bool>, kString = Value<std::string>;

bool Parse(Reader read, const std::string& text) {
  std::istringstream in(text);
  return read(in);
}

std::vector<std::string> Inside(const std::string& tag, const std::vector<std::string>& bodies) {
  std::vector<std::string> texts;
  for (const std::string& body : bodies) texts.push_back("<" + tag + ">" + body + "</" + tag + ">");
  return texts;
}

TEST(XmlStreamCorruption, EveryTruncationFailsCleanly) {
  const std::string doc = SampleDocument();
  stream_faults::ExpectTruncationsRefused(
      doc, {""},
      [](const std::string& bytes) {
        std::istringstream in(bytes);
        return stream_faults::ReadOutcome{!ReadSampleDocument(in, nullptr), "", ""};
      },
      doc.find("</VXXMLRoot>") + 12);
}

TEST(XmlStreamCorruption, EachValueReadsOnlyAsItsOwnType) {
  const XMLObj obj("T", 0);
  const std::vector<std::string> written = {Written(obj, 1),    Written(obj, 1L),
                                            Written(obj, 1U),   Written(obj, 1.0),
                                            Written(obj, true), Written(obj, std::string("1"))};
  const std::vector<Reader> readers = {kInt, kLong, kUnsigned, kDouble, kBool, kString};
  for (std::size_t w = 0; w < written.size(); ++w)
    for (std::size_t r = 0; r < readers.size(); ++r)
      EXPECT_EQ(Parse(readers[r], written[w]), w == r) << written[w] << " as " << r;
}

// Malformed constructs no single-byte change of the sample produces.
TEST(XmlStreamCorruption, MalformedTextIsRefused) {
  const std::vector<std::pair<Reader, std::vector<std::string>>> cases = {
      {kInt, Inside("int", {"2147483648", "-2147483649", "12x", "1 2", "+", "", "1e3"})},
      {kLong, Inside("long", {"9223372036854775808", "-9223372036854775809"})},
      {kUnsigned, Inside("unsigned", {"4294967296", "-1"})},
      {kDouble, Inside("double", {"1.5e", "infinity", "nan(1)", "1e400", "1,5", "", "nan:0x7ff",
                                  "nan:0x3ff0000000000000", "nan:0x7ff000000000000g",
                                  // Longer than any double's text: refused before it is read.
                                  std::string(100, '1')})},
      {kBool, Inside("bool", {"2", "yes", "TRUE", "", "01", "1 0"})},
      {kInt,
       {"<int 1</int>", "<int>1</int x>", "<int a=\"1\">1</int>", "<int/>", "<!- c --><int>1</int>",
        "<!-- unterminated -- ><int>1</int>", "<?pi?><int>1</int>", "<![CDATA[1]]>",
        "<object name=\"int\">", "</object>"}},
      {ObjectA,
       {"<object name=\"ab\">", "<object name=\"A\">", "<object name=\"\">",
        "<object name=\"61\" enc=\"b64\">", "<object name=\"6\" enc=\"hex\">", "<object name=\"a>",
        "<object name=\"a\" name=\"a\">", "<object>", "<object id=\"a\">",
        "<object name=\"a\"enc=\"x\">", "<object name=\"a<\">", "<object name=\"a\"/>",
        "< object name=\"a\">", "<a>1</a>", "</object>"}},
      {kString,
       {"<string enc=\"hex\">4</string>", "<string enc=\"hex\">4g</string>",
        "<string enc=\"base64\">QQ==</string>", "<string enc=\"hex\" enc=\"hex\">",
        "<string>a<b</string>", "<string>a"}},
      {kString,
       Inside("string", {"&nbsp;", "&amp", "&AMP;", "&;", "&#;", "&#0;", "&#x1F;", "&#xD800;",
                         "&#xFFFE;", "&#x110000;", "&#x000000041;", "&#12a;", "&quot2;"})},
      {ParseEndObj, {"<int>1</int>", "</VXXMLRoot>"}},
      {ParseEndXML, {"</object>"}},
      {ParseStartXML,
       {"", "   ", "<Root>", "<VXXMLRoot", "<VXXMLRoot attr=\"1\">",
        "<!DOCTYPE Other SYSTEM \"savexml.dtd\"><VXXMLRoot>",
        "<!DOCTYPE VXXMLRoot [<!ENTITY e \"x\">]><VXXMLRoot>",
        "<!DOCTYPE VXXMLRoot><!DOCTYPE VXXMLRoot><VXXMLRoot>",
        "<!DOCTYPE VXXMLRoot><?xml version=\"1.0\"?><VXXMLRoot>", "<?xml?><VXXMLRoot>",
        "<?xml version=\"1.0\"><VXXMLRoot>", "<?xmlversion=\"1.0\"?><VXXMLRoot>",
        "<?xml version=\"1.0\"?><?xml version=\"1.0\"?><VXXMLRoot>",
        "<!DOCTYPEVXXMLRoot><VXXMLRoot>", "<!DOCTYPE VXXMLRoot SYSTEM \"x\"",
        "<object name=\"x\">"}},
  };
  for (const auto& [read, texts] : cases)
    for (const std::string& text : texts) EXPECT_FALSE(Parse(read, text)) << text;
  // What the refusals are measured against.
  EXPECT_TRUE(Parse(ParseStartXML, "<VXXMLRoot>"));
  EXPECT_TRUE(Parse(ObjectA, "<object name=\"a\">"));
  EXPECT_TRUE(Parse(ObjectA, "<object name=\"61\" enc=\"hex\">"));
  // Neither a longer expected name nor the hexadecimal text itself matches.
  for (const auto& [text, name] : {std::pair<std::string, std::string>{"<object name=\"a\">", "a "},
                                   {"<object name=\"61\" enc=\"hex\">", "61"}}) {
    std::istringstream in(text);
    EXPECT_FALSE(ParseStartObj(in, name)) << text;
  }
  // The limit on digits still admits every character XML has.
  std::istringstream in("<string>&#x0010FFFF;&#00000065;</string>");
  std::string value;
  ASSERT_TRUE(ParseValue(in, value));
  EXPECT_EQ(value, std::string("\xF4\x8F\xBF\xBF") + "A");
}

// A source that repeats one character without end after a fixed head.
class EndlessBuf : public std::streambuf {
 public:
  EndlessBuf(std::string head, char fill) : fHead(std::move(head)), fBlock(4096, fill) {
    setg(fHead.data(), fHead.data(), fHead.data() + fHead.size());
  }

 protected:
  int_type underflow() override {
    setg(fBlock.data(), fBlock.data(), fBlock.data() + fBlock.size());
    return traits_type::to_int_type(fBlock[0]);
  }

 private:
  std::string fHead, fBlock;
};

TEST(XmlStreamCorruption, EndlessInputIsRefusedWithinBounds) {
  const std::vector<std::tuple<std::string, char, Reader>> cases(
      {{"", ' ', ParseStartXML},
       {"<!--", 'c', ObjectA},
       {"<?xml ", 'v', ParseStartXML},
       {"<!DOCTYPE VXXMLRoot ", 's', ParseStartXML},
       {"<object name=\"", 'n', ObjectA},
       {"<object ", ' ', ObjectA},
       {"<int>", '1', kInt},
       {"<objectname", 'e', ObjectA},
       {"<string>", 's', kString}});
  for (const auto& [head, fill, read] : cases) {
    EndlessBuf buffer(head, fill);
    std::istream in(&buffer);
    EXPECT_FALSE(read(in)) << head << fill;
  }
}

std::unique_ptr<XMLElement> SampleTree() {
  std::unique_ptr<XMLElement> root(XMLElement::Create("PMML"));
  root->AddAttribute("version", "4.0");
  XMLElement* header = XMLElement::Create("Header");
  header->AddAttribute("copyright", std::string("a < b & \"c\" 'd'"));
  XMLElement* application = XMLElement::Create("Application");
  application->AddAttribute("name", "vxnn");
  header->AddElement(application);
  root->AddElement(header);
  XMLElement* array = XMLElement::Create("Array");
  array->AddAttribute("n", 3);
  array->AddAttribute("type", "real");
  array->AddElement(XMLString::Create("1 2.5 <3>"));
  root->AddElement(array);
  XMLElement* mixed = XMLElement::Create("Extension");
  mixed->AddElement(XMLString::Create("text"));
  mixed->AddElement(XMLElement::Create("Empty"));
  root->AddElement(mixed);
  return root;
}

TEST(XmlTreeLayout, IndentsChildrenKeepsTextInlineAndFollowsTheExportFormat) {
  EXPECT_EQ(SampleTree()->ToString(),
            "<PMML version=\"4.0\">\n"
            "  <Header copyright=\"a &lt; b &amp; &quot;c&quot; &apos;d&apos;\">\n"
            "    <Application name=\"vxnn\"/>\n"
            "  </Header>\n"
            "  <Array n=\"3\" type=\"real\">1 2.5 &lt;3&gt;</Array>\n"
            "  <Extension>\n"
            "    text\n"
            "    <Empty/>\n"
            "  </Extension>\n"
            "</PMML>\n");
  ExportFormat flat;
  flat.fNewLines = false;
  EXPECT_EQ(SampleTree()->ToString(flat),
            "<PMML version=\"4.0\"><Header copyright=\"a &lt; b &amp; &quot;c&quot; "
            "&apos;d&apos;\"><Application name=\"vxnn\"/></Header><Array n=\"3\" "
            "type=\"real\">1 2.5 &lt;3&gt;</Array><Extension>text<Empty/></Extension></PMML>");
}

TEST(XmlTreeAttributes, KeepInsertionOrderAndReplaceInPlace) {
  std::unique_ptr<XMLElement> e(XMLElement::Create("E"));
  e->AddAttribute("b", "1");
  e->AddAttribute("a", "2");
  e->AddAttribute("b", 3.5);
  e->AddAttribute("c", static_cast<const char*>(nullptr));
  e->AddAttribute("i", -2147483647 - 1);
  e->AddAttribute("d", 100.0);
  EXPECT_EQ(e->GetAttribute("missing"), nullptr);
  EXPECT_EQ(e->ToString(), "<E b=\"3.5\" a=\"2\" c=\"\" i=\"-2147483648\" d=\"100\"/>\n");
}

// Any fixed precision fails the examples (0.1 and 0.1 + 0.2 need 1 and 17
// digits); every finite value reads back exactly.
TEST(XmlTreeAttributes, NumbersAreShortestAndExact) {
  const double examples[] = {3.0, -0.0, 0.1, 0.1 + 0.2, 1e21, std::nan(""), HUGE_VAL, -HUGE_VAL};
  const char* texts[] = {"3", "-0", "0.1", "0.30000000000000004", "1e+21", "NaN", "INF", "-INF"};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(FormatDouble(examples[k]), texts[k]);
  std::mt19937_64 random(7);
  std::vector<double> values({DBL_MAX, -DBL_MAX, DBL_MIN, 5e-324});
  for (int k = 0; k < 20000; ++k) values.push_back(FromBits(random()));
  for (const double value : values) {
    const std::string text = FormatDouble(value);
    ASSERT_TRUE(!std::isfinite(value) || Bits(std::strtod(text.c_str(), nullptr)) == Bits(value))
        << text;
  }
}

TEST(XmlTreeEscaping, MarkupCharactersAndWhatXmlCannotCarry) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(EscapeXML("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&apos;");
  EXPECT_EQ(EscapeXML("tab\tnl\ncr\r"), "tab\tnl\ncr&#13;");
  EXPECT_EQ(EscapeXML("\xC3\xBC \xF0\x9D\x84\x9E"), "\xC3\xBC \xF0\x9D\x84\x9E");
  EXPECT_EQ(EscapeXML(std::string("\x01\0\xFF", 3)), replacement + replacement + replacement);
  EXPECT_EQ(EscapeXML("\xED\xA0\x80"), replacement + replacement + replacement);
  EXPECT_EQ(EscapeXML(""), "");
  // Attribute values keep tab and line feed as references.
  std::unique_ptr<XMLElement> e(XMLElement::Create("E"));
  e->AddAttribute("a", "x\ty\nz\r");
  EXPECT_EQ(e->ToString(), "<E a=\"x&#9;y&#10;z&#13;\"/>\n");
}

TEST(XmlTreeOwnership, CloneIsDeepAndNullChildrenAreIgnored) {
  std::unique_ptr<XMLElement> original = SampleTree();
  std::unique_ptr<XMLElement> copy(original->Clone());
  const std::string before = original->ToString();
  original->AddAttribute("version", "9");
  original->AddElement(XMLElement::Create("Late"));
  original->AddElement(static_cast<XMLElement*>(nullptr));
  original->AddElement(static_cast<XMLString*>(nullptr));
  EXPECT_EQ(copy->ToString(), before);
  EXPECT_EQ(original->Children().size(), 4u);
  ASSERT_NE(copy->FindChild("Header"), nullptr);
  EXPECT_NE(copy->FindChild("Header"), original->FindChild("Header"));
  EXPECT_EQ(copy->FindChild("Missing"), nullptr);
}

TEST(XmlTreeWellFormed, XmllintAcceptsAndDecodesTheTreeAndTheNotice) {
  if (!HaveXmllint()) GTEST_SKIP() << "/usr/bin/xmllint is not installed";
  std::unique_ptr<XMLElement> root = SampleTree();
  const std::string nasty = "  <&>\"' \t\n\r \xC3\xA9 ]]> ";
  XMLElement* nastyElement = XMLElement::Create("Nasty");
  nastyElement->AddAttribute("value", nasty);
  nastyElement->AddAttribute("number", 0.1);
  nastyElement->AddElement(XMLString::Create(nasty));
  nastyElement->AddElement(XMLString::Create(std::string("\x01\xFF", 2)));
  root->AddElement(nastyElement);
  std::unique_ptr<XMLDocType> docType(XMLDocType::Create("PMML", "pmml-4-0.dtd", 0));
  std::ostringstream out;
  ASSERT_TRUE(WriteTree(out, docType.get(), *root, true));
  EXPECT_THAT(out.str(), testing::StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                             "<!DOCTYPE PMML SYSTEM \"pmml-4-0.dtd\">\n"
                                             "<PMML version=\"4.0\">\n"));
  ASSERT_TRUE(RunXmllint(out.str(), "--noout"));
  // xmllint ends each answer with a line feed of its own.
  for (const auto& [path, value] :
       {std::pair<std::string, std::string>{"/PMML/Nasty/@value", nasty},
        {"/PMML/Nasty", nasty + "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"/PMML/Nasty/@number", "0.1"}}) {
    std::string text;
    ASSERT_TRUE(RunXmllint(out.str(), "--xpath 'string(" + path + ")'", &text));
    EXPECT_EQ(text, value + "\n");
  }

  // The notice comment is one line without "--" whatever it is given (that
  // such a notice is well-formed, the sample document's check shows).
  std::ostringstream notice;
  StartRoot(notice, "a -- b --- c\nnext line \x01 \xFF-");
  EndRoot(notice);
  const std::string document = notice.str();
  EXPECT_EQ(std::count(document.begin(), document.end(), '\n'), 3);
  EXPECT_NE(document.find("a - - b - - - c next line"), std::string::npos) << document;
}

}  // namespace
