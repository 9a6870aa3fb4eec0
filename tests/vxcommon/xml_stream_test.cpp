// The XML object stream: its lexical form, and round trips of every value
// type through the writer and the reader.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "xml_test_util.h"

namespace {

using vxtest::Bits;
using vxtest::FromBits;
using VXXML_1_2::ParseEndObj;
using VXXML_1_2::ParseStartObj;
using VXXML_1_2::ParseValue;
using VXXML_1_2::XMLObj;

// One object holding one value, written and read back.
template <typename T>
bool RoundTrip(const T& value, T& back, std::string* text = nullptr) {
  std::stringstream stream;
  const XMLObj obj("Value", 1);
  EXPECT_TRUE(obj.StartObj(stream));
  EXPECT_TRUE(obj.WriteSubElement(stream, value));
  EXPECT_TRUE(obj.EndObj(stream));
  if (text != nullptr) *text = stream.str();
  return ParseStartObj(stream, "Value") && ParseValue(stream, back) && ParseEndObj(stream);
}

std::vector<double> NastyDoubles() {
  return {0.0,
          -0.0,
          1.0,
          -1.5,
          0.1,
          1.0 / 3.0,
          3.141592653589793,
          1e21,
          123456789012345678.0,
          DBL_EPSILON,
          DBL_MAX,
          -DBL_MAX,
          VXMV::gMissingValue,
          DBL_MIN,
          DBL_MIN / 3.0,
          std::numeric_limits<double>::denorm_min(),
          -std::numeric_limits<double>::denorm_min(),
          std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN(),
          -std::numeric_limits<double>::quiet_NaN(),
          FromBits(0x7FF0000000000001ULL),  // signalling NaN, smallest payload
          FromBits(0x7FF7FFFFFFFFFFFFULL),  // signalling NaN, largest payload
          FromBits(0xFFF8000000000ABCULL)};
}

std::vector<std::string> NastyStrings() {
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
          std::string("nul\0inside", 10),
          std::string(1, '\0'),
          "\xFF\xFE invalid bytes",
          "\xC3 truncated sequence",
          "\xED\xA0\x80 surrogate",
          "\xEF\xBF\xBE not a character",
          "\xC0\xAF overlong",
          "\xF4\x90\x80\x80 beyond U+10FFFF",
          std::string(100000, 'x') + "&<>"};
}

TEST(XmlStreamFormat, ObjectIsIndentedByLevelWithOneLinePerValue) {
  std::ostringstream out;
  const XMLObj obj("NNVarList", 1);
  obj.StartObj(out);
  obj.WriteSubElement(out, 3);
  obj.WriteSubElement(out, 0.5);
  obj.WriteSubElement(out, std::string("a & b"));
  obj.EndObj(out);
  EXPECT_EQ(out.str(),
            "  <object name=\"NNVarList\">\n"
            "    <int>3</int>\n"
            "    <double>0.5</double>\n"
            "    <string>a &amp; b</string>\n"
            "  </object>\n");
}

TEST(XmlStreamFormat, EachTypeHasItsOwnElement) {
  std::ostringstream out;
  const XMLObj obj("T", 0);
  obj.WriteSubElement(out, -7L);
  obj.WriteSubElement(out, 7U);
  obj.WriteSubElement(out, true);
  obj.WriteSubElement(out, "lit");  // a literal is a string, not a bool
  obj.WriteSubElement(out, std::string("\x01", 1));
  obj.WriteSubElement(out, "cr\r");
  EXPECT_EQ(out.str(),
            "  <long>-7</long>\n"
            "  <unsigned>7</unsigned>\n"
            "  <bool>1</bool>\n"
            "  <string>lit</string>\n"
            "  <string enc=\"hex\">01</string>\n"
            "  <string>cr&#13;</string>\n");
}

TEST(XmlStreamFormat, DoublesUseShortestFormAndExactNaNBits) {
  const std::vector<std::pair<double, std::string>> cases = {
      {0.1, "0.1"},
      {-0.0, "-0"},
      {3.0, "3"},
      {1e21, "1e+21"},
      {VXMV::gMissingValue, "-1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {FromBits(0xFFF0000000000123ULL), "nan:0xfff0000000000123"}};
  for (const auto& [value, text] : cases) {
    std::ostringstream out;
    XMLObj("T", -1).WriteSubElement(out, value);
    EXPECT_EQ(out.str(), "<double>" + text + "</double>\n") << text;
  }
}

TEST(XmlStreamFormat, DocumentStartsWithDeclarationDocTypeAndNotice) {
  EXPECT_EQ(vxtest::DocumentHead("notice"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE VXXMLRoot SYSTEM \"savexml.dtd\">\n"
            "<VXXMLRoot>\n"
            "<!-- notice -->\n");
  std::ostringstream end;
  VXXML_1_2::EndRoot(end);
  EXPECT_EQ(end.str(), "</VXXMLRoot>\n");
}

TEST(XmlStreamFormat, ObjectNamesAreEscapedOrHexEncoded) {
  std::ostringstream out;
  XMLObj("a<b & \"c\" 'd'\t\n", 0).StartObj(out);
  XMLObj(std::string("\x01", 1), 0).StartObj(out);
  EXPECT_EQ(out.str(),
            "<object name=\"a&lt;b &amp; &quot;c&quot; &apos;d&apos;&#9;&#10;\">\n"
            "<object name=\"01\" enc=\"hex\">\n");
}

TEST(XmlStreamFormat, EveryValueElementTakesAtLeastTheMinimumBytes) {
  std::ostringstream out;
  const XMLObj obj("T", 0);
  obj.WriteSubElement(out, 0);
  obj.WriteSubElement(out, 0L);
  obj.WriteSubElement(out, 0U);
  obj.WriteSubElement(out, 0.0);
  obj.WriteSubElement(out, false);
  obj.WriteSubElement(out, std::string());
  std::istringstream lines(out.str());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_GE(line.size() - line.find('<'), VXXML_1_2::kMinValueBytes) << line;
    ++count;
  }
  EXPECT_EQ(count, 6);
}

TEST(XmlStreamRoundTrip, DoublesSurviveBitForBit) {
  for (const double value : NastyDoubles()) {
    double back = 1.0;
    ASSERT_TRUE(RoundTrip(value, back)) << value;
    EXPECT_EQ(Bits(back), Bits(value)) << std::hex << Bits(value);
  }
  EXPECT_TRUE(VXMV::IsMissing([] {
    double back = 0.0;
    RoundTrip(VXMV::gMissingValue, back);
    return back;
  }()));
}

TEST(XmlStreamRoundTrip, RandomBitPatternsSurvive) {
  std::mt19937_64 random(20240611);
  std::stringstream stream;
  const XMLObj obj("Random", 0);
  std::vector<std::uint64_t> written;
  obj.StartObj(stream);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = random();
    // Every fourth value a NaN or infinity, to exercise the special forms.
    if (i % 4 == 0) bits |= 0x7FF0000000000000ULL;
    written.push_back(bits);
    obj.WriteSubElement(stream, FromBits(bits));
  }
  obj.EndObj(stream);
  ASSERT_TRUE(ParseStartObj(stream, "Random"));
  for (const std::uint64_t bits : written) {
    double back = 0.0;
    ASSERT_TRUE(ParseValue(stream, back));
    ASSERT_EQ(Bits(back), bits);
  }
  EXPECT_TRUE(ParseEndObj(stream));
}

TEST(XmlStreamRoundTrip, IntegersAtTheirLimits) {
  for (const int value : {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX}) {
    int back = 42;
    ASSERT_TRUE(RoundTrip(value, back));
    EXPECT_EQ(back, value);
  }
  for (const long value : {LONG_MIN, -1L, 0L, LONG_MAX}) {
    long back = 42;
    ASSERT_TRUE(RoundTrip(value, back));
    EXPECT_EQ(back, value);
  }
  for (const unsigned value : {0U, 1U, 0x80000000U, UINT_MAX}) {
    unsigned back = 42;
    ASSERT_TRUE(RoundTrip(value, back));
    EXPECT_EQ(back, value);
  }
  for (const bool value : {true, false}) {
    bool back = !value;
    ASSERT_TRUE(RoundTrip(value, back));
    EXPECT_EQ(back, value);
  }
}

TEST(XmlStreamRoundTrip, StringsSurviveByteForByte) {
  for (const std::string& value : NastyStrings()) {
    std::string back = "stale";
    std::string text;
    ASSERT_TRUE(RoundTrip(value, back, &text)) << text;
    EXPECT_EQ(back, value) << text;
  }
}

TEST(XmlStreamRoundTrip, ObjectNamesSurvive) {
  for (const std::string& name : NastyStrings()) {
    std::stringstream stream;
    const XMLObj obj(name, 3);
    obj.StartObj(stream);
    obj.EndObj(stream);
    EXPECT_TRUE(ParseStartObj(stream, name) && ParseEndObj(stream)) << stream.str();
  }
}

TEST(XmlStreamRoundTrip, NestedObjectsReadBackInOrder) {
  std::istringstream in(vxtest::SampleDocument());
  bool same = false;
  EXPECT_TRUE(vxtest::ReadSampleDocument(in, &same));
  EXPECT_TRUE(same);
}

TEST(XmlStreamRoundTrip, NestingIndentsTwoSpacesPerLevel) {
  const std::string document = vxtest::SampleDocument();
  EXPECT_NE(document.find("\n<object name=\"MLPAlgorithm 1.00\">\n  <int>"), std::string::npos);
  EXPECT_NE(document.find("\n  <object name=\"Nested &lt;&amp;&quot;&apos;&gt; name\">\n    <"),
            std::string::npos);
  EXPECT_NE(document.find("\n    <object name=\"696e6e0272"), std::string::npos);
  EXPECT_NE(document.find("\n      <bool>0</bool>\n"), std::string::npos);
  EXPECT_NE(document.find("\n    </object>\n    <int>7</int>\n  </object>\n"), std::string::npos);
}

TEST(XmlStreamReader, AcceptsOtherSpellingsOfTheSameDocument) {
  // No declaration, comments and white space everywhere between constructs,
  // single quotes, spaces inside tags, references, words for bools.
  std::istringstream in(
      "  <!-- first --> <!DOCTYPE VXXMLRoot>\n<VXXMLRoot >\r\n"
      "<!----><object  name = 'A&#32;&#x42;' >\t<!-- - -- --->"
      "<int> -12 </int ><bool>true</bool><bool> false </bool>"
      "<string>&#x1D11E;&#233;&lt;&#10;</string>"
      "<string enc='hex'> 41ff </string><string></string><double>1E3</double>"
      "</object ></VXXMLRoot >");
  int i = 0;
  bool t = false, f = true;
  std::string music, hex, empty = "x";
  double d = 0.0;
  ASSERT_TRUE(VXXML_1_2::ParseStartXML(in));
  ASSERT_TRUE(ParseStartObj(in, "A B"));
  ASSERT_TRUE(ParseValue(in, i) && ParseValue(in, t) && ParseValue(in, f));
  ASSERT_TRUE(ParseValue(in, music) && ParseValue(in, hex) && ParseValue(in, empty));
  ASSERT_TRUE(ParseValue(in, d) && ParseEndObj(in) && VXXML_1_2::ParseEndXML(in));
  EXPECT_EQ(i, -12);
  EXPECT_TRUE(t);
  EXPECT_FALSE(f);
  EXPECT_EQ(music, "\xF0\x9D\x84\x9E\xC3\xA9<\n");
  EXPECT_EQ(hex, "A\xFF");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(d, 1000.0);
}

TEST(XmlStreamReader, StopsRightAfterItsConstruct) {
  std::istringstream in("<int>5</int>tail");
  int value = 0;
  ASSERT_TRUE(ParseValue(in, value));
  EXPECT_EQ(value, 5);
  std::string rest;
  std::getline(in, rest);
  EXPECT_EQ(rest, "tail");
}

TEST(XmlStreamWellFormed, SampleDocumentPassesXmllint) {
  if (!vxtest::HaveXmllint()) GTEST_SKIP() << "/usr/bin/xmllint is not installed";
  EXPECT_TRUE(vxtest::RunXmllint(vxtest::SampleDocument(), "--noout"));
}

TEST(XmlStreamWellFormed, XmllintReadsTheSameStrings) {
  if (!vxtest::HaveXmllint()) GTEST_SKIP() << "/usr/bin/xmllint is not installed";
  std::ostringstream out;
  out << vxtest::DocumentHead("notice -- with\ndashes \x01 and \xFF bytes-");
  const XMLObj obj("Strings", 1);
  obj.StartObj(out);
  const std::vector<std::string> values = NastyStrings();
  for (const std::string& value : values) obj.WriteSubElement(out, value);
  obj.EndObj(out);
  VXXML_1_2::EndRoot(out);
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--noout"));
  // Every string written as text reads as the original in another parser.
  int checked = 0;
  for (std::size_t k = 0; k < values.size() && values[k].size() < 1000; ++k) {
    std::ostringstream single;
    obj.WriteSubElement(single, values[k]);
    if (single.str().find("enc=\"hex\"") != std::string::npos) continue;
    std::string text;
    ASSERT_TRUE(vxtest::RunXmllint(
        out.str(), "--xpath 'string(/VXXMLRoot/object/string[" + std::to_string(k + 1) + "])'",
        &text));
    // xmllint ends what it prints with a line feed of its own.
    ASSERT_FALSE(text.empty());
    text.pop_back();
    EXPECT_EQ(text, values[k]) << k;
    ++checked;
  }
  EXPECT_EQ(checked, 13);
}

}  // namespace
