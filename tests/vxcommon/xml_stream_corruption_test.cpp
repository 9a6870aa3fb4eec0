// Hostile input to the XML object stream readers: every reader must answer
// false, never throw, crash, loop or allocate without bound.
#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "vxcommon/XMLStream.h"
#include "xml_test_util.h"

namespace {

using VXXML_1_2::ParseEndObj;
using VXXML_1_2::ParseEndXML;
using VXXML_1_2::ParseStartObj;
using VXXML_1_2::ParseStartXML;
using VXXML_1_2::ParseValue;
using VXXML_1_2::XMLObj;

template <typename T>
bool ParseOne(const std::string& text) {
  std::istringstream in(text);
  T value{};
  return ParseValue(in, value);
}

bool StartObj(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  return ParseStartObj(in, name);
}

bool StartXML(const std::string& text) {
  std::istringstream in(text);
  return ParseStartXML(in);
}

// Marks the positions of the sample document where a byte may be replaced by
// one that is neither markup, white space nor part of a number and the
// document still reads: inside the declaration, the document type and the
// comment, in plain string text outside reference names, and after the root.
std::vector<bool> FreePositions(const std::string& doc) {
  std::vector<bool> free(doc.size(), false);
  const auto mark = [&free](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) free[k] = true;
  };
  const std::size_t declaration = doc.find("<?xml ") + 6;
  mark(declaration, doc.find("?>", declaration));
  const std::string docType = "<!DOCTYPE VXXMLRoot ";
  const std::size_t docTypeBody = doc.find(docType) + docType.size();
  mark(docTypeBody, doc.find('>', docTypeBody));
  const std::size_t comment = doc.find("<!--") + 4;
  mark(comment, doc.find("-->", comment));
  for (std::size_t at = doc.find("<string>"); at != std::string::npos;
       at = doc.find("<string>", at + 1)) {
    const std::size_t end = doc.find("</string>", at);
    // Inside a reference only its '&' is free: replaced, it leaves text.
    bool inReference = false;
    for (std::size_t k = at + 8; k < end; ++k) {
      free[k] = !inReference;
      if (doc[k] == '&') inReference = true;
      if (doc[k] == ';') inReference = false;
    }
  }
  mark(doc.find("</VXXMLRoot>") + 12, doc.size());
  return free;
}

TEST(XmlStreamCorruption, EveryTruncationFailsCleanly) {
  const std::string doc = vxtest::SampleDocument();
  const std::size_t complete = doc.find("</VXXMLRoot>") + 12;
  for (std::size_t length = 0; length < doc.size(); ++length) {
    std::istringstream in(doc.substr(0, length));
    EXPECT_EQ(vxtest::ReadSampleDocument(in, nullptr), length >= complete) << length;
  }
}

TEST(XmlStreamCorruption, ReplacedBytesFailOutsideFreeText) {
  const std::string doc = vxtest::SampleDocument();
  const std::vector<bool> free = FreePositions(doc);
  for (const char replacement : {'Z', '\0', '\x01', '\x80', '\xFF'}) {
    for (std::size_t k = 0; k < doc.size(); ++k) {
      std::string corrupt = doc;
      corrupt[k] = replacement;
      std::istringstream in(corrupt);
      bool same = false;
      const bool ok = vxtest::ReadSampleDocument(in, &same);
      ASSERT_EQ(ok, free[k]) << "offset " << k << " near \"" << doc.substr(k, 16) << "\"";
    }
  }
}

TEST(XmlStreamCorruption, ChangedTextReadsAsChangedValue) {
  std::string doc = vxtest::SampleDocument();
  doc[doc.find("two spaces")] = 'T';
  std::istringstream in(doc);
  bool same = true;
  EXPECT_TRUE(vxtest::ReadSampleDocument(in, &same));
  EXPECT_FALSE(same);
}

TEST(XmlStreamCorruption, WrongObjectName) {
  std::ostringstream out;
  XMLObj("NNVarList", 1).StartObj(out);
  const std::string text = out.str();
  EXPECT_TRUE(StartObj(text, "NNVarList"));
  for (const char* other : {"NNVarLis", "NNVarListX", "nnvarlist", "NNContVar", ""})
    EXPECT_FALSE(StartObj(text, other)) << other;
  // The hexadecimal spelling names the same bytes or nothing.
  EXPECT_TRUE(StartObj("<object name=\"4e4e\" enc=\"hex\">", "NN"));
  EXPECT_FALSE(StartObj("<object name=\"4e4e\" enc=\"hex\">", "4e4e"));
  EXPECT_FALSE(StartObj("<object name=\"4e4\" enc=\"hex\">", "N"));
  EXPECT_FALSE(StartObj("<object name=\"4e4e\" enc=\"b64\">", "NN"));
}

TEST(XmlStreamCorruption, WrongValueType) {
  const XMLObj obj("T", 0);
  std::vector<std::string> elements;
  for (int k = 0; k < 6; ++k) {
    std::ostringstream out;
    switch (k) {
      case 0:
        obj.WriteSubElement(out, 1);
        break;
      case 1:
        obj.WriteSubElement(out, 1L);
        break;
      case 2:
        obj.WriteSubElement(out, 1U);
        break;
      case 3:
        obj.WriteSubElement(out, 1.0);
        break;
      case 4:
        obj.WriteSubElement(out, true);
        break;
      default:
        obj.WriteSubElement(out, std::string("1"));
        break;
    }
    elements.push_back(out.str());
  }
  const std::vector<bool (*)(const std::string&)> readers = {
      ParseOne<int>,    ParseOne<long>, ParseOne<unsigned>,
      ParseOne<double>, ParseOne<bool>, ParseOne<std::string>};
  for (std::size_t w = 0; w < elements.size(); ++w)
    for (std::size_t r = 0; r < readers.size(); ++r)
      EXPECT_EQ(readers[r](elements[w]), w == r) << elements[w] << " read as type " << r;
  // An object is not a value, nor a value an object.
  EXPECT_FALSE(ParseOne<int>("<object name=\"int\">"));
  EXPECT_FALSE(StartObj("<int>1</int>", "int"));
}

TEST(XmlStreamCorruption, NumbersOutOfRangeOrWithJunk) {
  EXPECT_FALSE(ParseOne<int>("<int>2147483648</int>"));
  EXPECT_FALSE(ParseOne<int>("<int>-2147483649</int>"));
  EXPECT_FALSE(ParseOne<long>("<long>9223372036854775808</long>"));
  EXPECT_FALSE(ParseOne<long>("<long>-9223372036854775809</long>"));
  EXPECT_FALSE(ParseOne<unsigned>("<unsigned>4294967296</unsigned>"));
  EXPECT_FALSE(ParseOne<unsigned>("<unsigned>-1</unsigned>"));
  for (const char* junk : {"12x", "1 2", "0x10", "+", "", "1.0", "--1", "1e3"}) {
    EXPECT_FALSE(ParseOne<int>(std::string("<int>") + junk + "</int>")) << junk;
    EXPECT_FALSE(ParseOne<long>(std::string("<long>") + junk + "</long>")) << junk;
  }
  for (const char* junk : {"1.5e", "0x10", "infinity", "INF", "nan(1)", "-nan", "1e400", "1,5", "",
                           "1.5.", "nan:0x7ff", "nan:0x3ff0000000000000", "nan:0x7ff000000000000g"})
    EXPECT_FALSE(ParseOne<double>(std::string("<double>") + junk + "</double>")) << junk;
  for (const char* junk : {"2", "yes", "TRUE", "", "01", "1 0"})
    EXPECT_FALSE(ParseOne<bool>(std::string("<bool>") + junk + "</bool>")) << junk;
  // A number longer than any double's text is refused before it is read.
  EXPECT_FALSE(ParseOne<double>("<double>" + std::string(100, '1') + "</double>"));
}

TEST(XmlStreamCorruption, BrokenMarkup) {
  for (const char* text :
       {"<int>1</int", "<int>1</in>", "<int>1<int>", "<int 1</int>", "<int>1</int x>",
        "<int a=\"1\">1</int>", "<int/>", "int>1</int>", "x<int>1</int>", "<!- c --><int>1</int>",
        "<!-- unterminated -- ><int>1</int>", "<?pi?><int>1</int>", "<![CDATA[1]]>"})
    EXPECT_FALSE(ParseOne<int>(text)) << text;
  for (const char* text : {"<object name=\"a\"", "<object name=\"a>", "<object name=a>",
                           "<object name=\"a\" name=\"a\">", "<object>", "<object id=\"a\">",
                           "<object name=\"a\"enc=\"x\">", "<object name=\"a<\">",
                           "<object name=\"a\"/>", "< object name=\"a\">"})
    EXPECT_FALSE(StartObj(text, "a")) << text;
  for (const char* text :
       {"<string enc=\"hex\">4</string>", "<string enc=\"hex\">4g</string>",
        "<string enc=\"base64\">QQ==</string>", "<string enc=\"hex\" enc=\"hex\">",
        "<string>a</strin>", "<string>a<b</string>", "<string>a"})
    EXPECT_FALSE(ParseOne<std::string>(text)) << text;
}

TEST(XmlStreamCorruption, BadReferences) {
  for (const char* reference : {"&nbsp;", "&amp", "&AMP;", "&;", "&#;", "&#x;", "&#0;", "&#1;",
                                "&#x1F;", "&#xD800;", "&#xFFFE;", "&#x110000;", "&#99999999999;",
                                "&#x000000041;", "&#12a;", "&#xg;", "&quot2;", "& amp;"})
    EXPECT_FALSE(ParseOne<std::string>(std::string("<string>") + reference + "</string>"))
        << reference;
  // The limit on digits still admits every character XML has.
  std::istringstream in("<string>&#x0010FFFF;&#00000065;</string>");
  std::string value;
  ASSERT_TRUE(ParseValue(in, value));
  EXPECT_EQ(value,
            "\xF4\x8F\xBF\xBF"
            "A");
}

TEST(XmlStreamCorruption, NestingMismatch) {
  std::istringstream values("<int>1</int>");
  EXPECT_FALSE(ParseEndObj(values));
  std::istringstream end("</object>");
  int value = 0;
  EXPECT_FALSE(ParseValue(end, value));
  std::istringstream end2("</object>");
  EXPECT_FALSE(ParseStartObj(end2, "object"));
  std::istringstream root("</object>");
  EXPECT_FALSE(ParseEndXML(root));
  std::istringstream object("</VXXMLRoot>");
  EXPECT_FALSE(ParseEndObj(object));
}

TEST(XmlStreamCorruption, BadProlog) {
  EXPECT_TRUE(StartXML("<VXXMLRoot>"));
  for (const char* text :
       {"", "   ", "<Root>", "<VXXMLRoot", "<VXXMLRoot attr=\"1\">",
        "<!DOCTYPE Other SYSTEM \"savexml.dtd\"><VXXMLRoot>",
        "<!DOCTYPE VXXMLRoot [<!ENTITY e \"x\">]><VXXMLRoot>",
        "<!DOCTYPE VXXMLRoot><!DOCTYPE VXXMLRoot><VXXMLRoot>",
        "<!DOCTYPE VXXMLRoot><?xml version=\"1.0\"?><VXXMLRoot>", "<?xml?><VXXMLRoot>",
        "<?xml version=\"1.0\"><VXXMLRoot>", "<?xmlversion=\"1.0\"?><VXXMLRoot>",
        "<?xml version=\"1.0\"?><?xml version=\"1.0\"?><VXXMLRoot>",
        "<!DOCTYPEVXXMLRoot><VXXMLRoot>", "<!DOCTYPE VXXMLRoot SYSTEM \"x\"",
        "<object name=\"x\">"})
    EXPECT_FALSE(StartXML(text)) << text;
}

TEST(XmlStreamCorruption, FailedStreamIsRefused) {
  std::istringstream in("<int>1</int>");
  in.setstate(std::ios::failbit);
  int value = 3;
  EXPECT_FALSE(ParseValue(in, value));
  EXPECT_EQ(value, 3);
  std::istream none(nullptr);
  EXPECT_FALSE(ParseStartXML(none));
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
  std::string fHead;
  std::string fBlock;
};

bool ReadEndless(const std::string& head, char fill, int kind) {
  EndlessBuf buffer(head, fill);
  std::istream in(&buffer);
  int number = 0;
  std::string text;
  switch (kind) {
    case 0:
      return ParseStartXML(in);
    case 1:
      return ParseStartObj(in, "name");
    case 2:
      return ParseValue(in, number);
    default:
      return ParseValue(in, text);
  }
}

TEST(XmlStreamCorruption, EndlessInputIsRefusedWithinBounds) {
  EXPECT_FALSE(ReadEndless("", ' ', 0));
  EXPECT_FALSE(ReadEndless("<!--", 'c', 1));
  EXPECT_FALSE(ReadEndless("<?xml ", 'v', 0));
  EXPECT_FALSE(ReadEndless("<!DOCTYPE VXXMLRoot ", 's', 0));
  EXPECT_FALSE(ReadEndless("<object name=\"", 'n', 1));
  EXPECT_FALSE(ReadEndless("<object ", ' ', 1));
  EXPECT_FALSE(ReadEndless("<int>", '1', 2));
  EXPECT_FALSE(ReadEndless("<objectname", 'e', 1));
  EXPECT_FALSE(ReadEndless("<string>", 's', 3));
}

}  // namespace
