// The element tree writer: layout, escaping, numbers, ownership of children.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "vxcommon/XMLTree.h"
#include "xml_test_util.h"

namespace {

using vxtest::Bits;
using vxtest::FromBits;
using VXXML_1_2::EscapeXML;
using VXXML_1_2::ExportFormat;
using VXXML_1_2::FormatDouble;
using VXXML_1_2::XMLDocType;
using VXXML_1_2::XMLElement;
using VXXML_1_2::XMLString;

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

// The fewest significant digits %e needs to read back as value, found by
// trying every precision: an oracle for the shortest form.
int ShortestDigits(double value) {
  for (int digits = 1; digits <= 17; ++digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
    if (std::strtod(text, nullptr) == value) return digits;
  }
  return 17;
}

int SignificantDigits(const std::string& text) {
  std::string digits;
  for (const char c : text.substr(0, text.find('e')))
    if (c >= '0' && c <= '9') digits += c;
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 1;
  return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

TEST(XmlTreeLayout, IndentsChildrenAndKeepsTextInline) {
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
}

TEST(XmlTreeLayout, FollowsTheExportFormat) {
  ExportFormat wide;
  wide.fIndent = 4;
  const std::string text = SampleTree()->ToString(wide);
  EXPECT_NE(text.find("\n    <Header"), std::string::npos);
  EXPECT_NE(text.find("\n        <Application"), std::string::npos);
  ExportFormat flat;
  flat.fNewLines = false;
  EXPECT_EQ(SampleTree()->ToString(flat),
            "<PMML version=\"4.0\"><Header copyright=\"a &lt; b &amp; &quot;c&quot; "
            "&apos;d&apos;\"><Application name=\"vxnn\"/></Header><Array n=\"3\" "
            "type=\"real\">1 2.5 &lt;3&gt;</Array><Extension>text<Empty/></Extension></PMML>");
}

TEST(XmlTreeLayout, WriteTreeAddsDeclarationAndDocType) {
  std::unique_ptr<XMLElement> root(XMLElement::Create("StatXML"));
  std::unique_ptr<XMLDocType> docType(XMLDocType::Create("StatXML", "stat.dtd", 7));
  std::ostringstream full, bare, noDeclaration;
  EXPECT_TRUE(VXXML_1_2::WriteTree(full, docType.get(), *root, true));
  EXPECT_EQ(full.str(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE StatXML SYSTEM \"stat.dtd\">\n"
            "<StatXML/>\n");
  EXPECT_TRUE(VXXML_1_2::WriteTree(bare, nullptr, *root, false));
  EXPECT_EQ(bare.str(), "<StatXML/>\n");
  ExportFormat format;
  format.fDeclaration = false;
  VXXML_1_2::WriteTree(noDeclaration, nullptr, *root, true, format);
  EXPECT_EQ(noDeclaration.str(), "<StatXML/>\n");
  EXPECT_EQ(docType->GetFlags(), 7);
}

TEST(XmlTreeAttributes, KeepInsertionOrderAndReplaceInPlace) {
  std::unique_ptr<XMLElement> e(XMLElement::Create("E"));
  e->AddAttribute("b", "1");
  e->AddAttribute("a", "2");
  e->AddAttribute("b", 3.5);
  e->AddAttribute("c", static_cast<const char*>(nullptr));
  ASSERT_EQ(e->Attributes().size(), 3u);
  EXPECT_EQ(e->Attributes()[0].first, "b");
  EXPECT_EQ(*e->GetAttribute("b"), "3.5");
  EXPECT_EQ(*e->GetAttribute("c"), "");
  EXPECT_EQ(e->GetAttribute("d"), nullptr);
  EXPECT_EQ(e->ToString(), "<E b=\"3.5\" a=\"2\" c=\"\"/>\n");
}

TEST(XmlTreeAttributes, NumbersAreShortestAndExact) {
  EXPECT_EQ(FormatDouble(3.0), "3");
  EXPECT_EQ(FormatDouble(-0.0), "-0");
  EXPECT_EQ(FormatDouble(0.1), "0.1");
  EXPECT_EQ(FormatDouble(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(FormatDouble(1e21), "1e+21");
  EXPECT_EQ(FormatDouble(std::nan("")), "NaN");
  EXPECT_EQ(FormatDouble(HUGE_VAL), "INF");
  EXPECT_EQ(FormatDouble(-HUGE_VAL), "-INF");
  std::unique_ptr<XMLElement> e(XMLElement::Create("E"));
  e->AddAttribute("i", -2147483647 - 1);
  e->AddAttribute("d", 100.0);
  EXPECT_EQ(*e->GetAttribute("i"), "-2147483648");
  EXPECT_EQ(*e->GetAttribute("d"), "100");

  std::mt19937_64 random(7);
  for (int k = 0; k < 20000; ++k) {
    double value = FromBits(random());
    if (k % 5 == 0) value = std::ldexp(static_cast<double>(random() % 100000), -(k % 60));
    if (!std::isfinite(value)) continue;
    e->AddAttribute("v", value);
    const std::string& text = *e->GetAttribute("v");
    ASSERT_EQ(Bits(std::strtod(text.c_str(), nullptr)), Bits(value)) << text;
    // Fixed notation may spell out an integer's exact digits when that is
    // no longer than the exponent form; otherwise no digit is wasted.
    const int shortest = ShortestDigits(value);
    char exponentForm[64];
    std::snprintf(exponentForm, sizeof exponentForm, "%.*e", shortest - 1, value);
    ASSERT_LE(text.size(), std::strlen(exponentForm)) << text;
    if (text.find_first_of(".e") != std::string::npos) {
      ASSERT_EQ(SignificantDigits(text), shortest) << text;
    }
    ASSERT_EQ(text.find(".0e"), std::string::npos) << text;
  }
  for (const double value : {DBL_MAX, -DBL_MAX, DBL_MIN, std::numeric_limits<double>::denorm_min()})
    EXPECT_EQ(std::strtod(FormatDouble(value).c_str(), nullptr), value);
}

TEST(XmlTreeEscaping, MarkupCharactersAndWhatXmlCannotCarry) {
  EXPECT_EQ(EscapeXML("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&apos;");
  EXPECT_EQ(EscapeXML("tab\tnl\ncr\r"), "tab\tnl\ncr&#13;");
  EXPECT_EQ(EscapeXML("\xC3\xBC \xF0\x9D\x84\x9E"), "\xC3\xBC \xF0\x9D\x84\x9E");
  EXPECT_EQ(EscapeXML(std::string("\x01\0\xFF", 3)), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(EscapeXML("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(EscapeXML(""), "");
  // Attribute values keep tab and line feed as references.
  std::unique_ptr<XMLElement> e(XMLElement::Create("E"));
  e->AddAttribute("a", "x\ty\nz\r");
  EXPECT_EQ(e->ToString(), "<E a=\"x&#9;y&#10;z&#13;\"/>\n");
}

TEST(XmlTreeOwnership, CloneIsDeep) {
  std::unique_ptr<XMLElement> original = SampleTree();
  std::unique_ptr<XMLElement> copy(original->Clone());
  const std::string before = original->ToString();
  EXPECT_EQ(copy->ToString(), before);
  original->AddAttribute("version", "9");
  original->AddElement(XMLElement::Create("Late"));
  EXPECT_EQ(copy->ToString(), before);
  ASSERT_NE(copy->FindChild("Header"), nullptr);
  EXPECT_NE(copy->FindChild("Header"), original->FindChild("Header"));
  EXPECT_EQ(copy->FindChild("Missing"), nullptr);
  EXPECT_EQ(copy->FindChild("Header")->FindChild("Application")->GetName(), "Application");
  std::unique_ptr<XMLString> text(XMLString::Create("t"));
  std::unique_ptr<XMLString> textCopy(text->Clone());
  EXPECT_EQ(textCopy->Text(), "t");
}

TEST(XmlTreeOwnership, NullChildrenAreIgnored) {
  std::unique_ptr<XMLElement> e(XMLElement::Create("E"));
  e->AddElement(static_cast<XMLElement*>(nullptr));
  e->AddElement(static_cast<XMLString*>(nullptr));
  EXPECT_TRUE(e->Children().empty());
  EXPECT_EQ(e->ToString(), "<E/>\n");
}

TEST(XmlTreeWellFormed, XmllintAcceptsAndDecodesTheTree) {
  if (!vxtest::HaveXmllint()) GTEST_SKIP() << "/usr/bin/xmllint is not installed";
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
  ASSERT_TRUE(VXXML_1_2::WriteTree(out, docType.get(), *root, true));
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--noout"));
  std::string attribute, text, number;
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--xpath 'string(/PMML/Nasty/@value)'", &attribute));
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--xpath 'string(/PMML/Nasty)'", &text));
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--xpath 'string(/PMML/Nasty/@number)'", &number));
  // xmllint ends each answer with a line feed of its own.
  EXPECT_EQ(attribute, nasty + "\n");
  EXPECT_EQ(text, nasty + "\xEF\xBF\xBD\xEF\xBF\xBD\n");
  EXPECT_EQ(std::strtod(number.c_str(), nullptr), 0.1);
}

TEST(XmlTreeWellFormed, NoticeCommentStaysWellFormed) {
  if (!vxtest::HaveXmllint()) GTEST_SKIP() << "/usr/bin/xmllint is not installed";
  std::ostringstream out;
  VXXML_1_2::StartRoot(out, "a -- b --- c\nnext line \x01 \xFF-");
  VXXML_1_2::EndRoot(out);
  const std::string document = out.str();
  EXPECT_EQ(std::count(document.begin(), document.end(), '\n'), 3);
  EXPECT_NE(document.find("a - - b - - - c next line"), std::string::npos) << document;
  EXPECT_TRUE(vxtest::RunXmllint(document, "--noout")) << document;
}

}  // namespace
