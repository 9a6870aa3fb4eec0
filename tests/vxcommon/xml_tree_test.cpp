// The element tree writer: layout, escaping, numbers, ownership of children.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "vxcommon/XMLTree.h"
#include "xml_test_util.h"

namespace {

using vxtest::Bits;
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
  for (int k = 0; k < 20000; ++k) values.push_back(vxtest::FromBits(random()));
  for (const double value : values) {
    const std::string text = FormatDouble(value);
    if (std::isfinite(value)) {
      ASSERT_EQ(Bits(std::strtod(text.c_str(), nullptr)), Bits(value)) << text;
    }
  }
}

TEST(XmlTreeEscaping, MarkupCharactersAndWhatXmlCannotCarry) {
  using VXXML_1_2::EscapeXML;
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
  EXPECT_EQ(
      out.str().rfind(
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE PMML SYSTEM \"pmml-4-0.dtd\">\n"
          "<PMML version=\"4.0\">\n",
          0),
      0u);
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--noout"));
  std::string attribute, text, number;
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--xpath 'string(/PMML/Nasty/@value)'", &attribute));
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--xpath 'string(/PMML/Nasty)'", &text));
  ASSERT_TRUE(vxtest::RunXmllint(out.str(), "--xpath 'string(/PMML/Nasty/@number)'", &number));
  // xmllint ends each answer with a line feed of its own.
  EXPECT_EQ(attribute, nasty + "\n");
  EXPECT_EQ(text, nasty + "\xEF\xBF\xBD\xEF\xBF\xBD\n");
  EXPECT_EQ(std::strtod(number.c_str(), nullptr), 0.1);

  // The notice comment is one line without "--" whatever it is given.
  std::ostringstream notice;
  VXXML_1_2::StartRoot(notice, "a -- b --- c\nnext line \x01 \xFF-");
  VXXML_1_2::EndRoot(notice);
  const std::string document = notice.str();
  EXPECT_EQ(std::count(document.begin(), document.end(), '\n'), 3);
  EXPECT_NE(document.find("a - - b - - - c next line"), std::string::npos) << document;
  EXPECT_TRUE(vxtest::RunXmllint(document, "--noout")) << document;
}

}  // namespace
