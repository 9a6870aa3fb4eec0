// The element tree writer and its text helpers. Each input is a little
// program that builds a tree (elements, attributes of text or number, text
// nodes) from fuzzed names and values. The promises checked:
//   - the written document is well-formed UTF-8 of XML characters, with no
//     raw control characters and every markup bracket matched (text and
//     attribute values never carry a raw < or >);
//   - a clone writes the same document;
//   - an attribute added twice keeps one place and the last value;
//   - every double is written in a form strtod reads back to the same bits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCommon.h"
#include "vxcommon/XMLTree.h"

namespace {

using namespace VXXML_1_2;

const char* const kNames[] = {"PMML", "Header",    "DataField", "Value", "NeuralLayer", "Neuron",
                              "Con",  "Extension", "a",         "b-c",   "d.e",         "f_g"};

// Well-formed UTF-8 holding only characters XML 1.0 allows, and none of the
// C0 controls but tab and line feed (carriage returns are written as
// references).
bool CleanDocumentText(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n') return false;
      ++i;
      continue;
    }
    const int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (len == 0 || c > 0xF4 || i + len > text.size()) return false;
    unsigned long cp = c & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp == 0xFFFF)
      return false;
    i += len;
  }
  return true;
}

bool BracketsMatch(const std::string& text) {
  long depth = 0;
  for (char c : text) {
    if (c == '<') ++depth;
    if (c == '>') --depth;
    if (depth < 0 || depth > 1) return false;
  }
  return depth == 0;
}

void CheckDouble(double value) {
  const std::string text = FormatDouble(value);
  const double back = std::strtod(text.c_str(), nullptr);
  if (std::isnan(value)) {
    fuzz::Check(std::isnan(back), "a NaN is written as a NaN");
  } else {
    fuzz::Check(std::memcmp(&back, &value, sizeof value) == 0,
                "a double is written in a form that reads back to the same bits");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::unique_ptr<XMLElement> root(XMLElement::Create("PMML"));
  std::vector<XMLElement*> open{root.get()};
  int steps = 0;
  while (in.remaining_bytes() > 0 && ++steps < 200) {
    XMLElement* current = open.back();
    const std::string name = kNames[in.ConsumeIntegralInRange<int>(0, 11)];
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
      case 0: {
        XMLElement* child = XMLElement::Create(name);
        current->AddElement(child);
        if (open.size() < 40) open.push_back(child);
        break;
      }
      case 1:
        if (open.size() > 1) open.pop_back();
        break;
      case 2: {
        const std::string value = in.ConsumeRandomLengthString(64);
        const std::size_t before = current->Attributes().size();
        const bool had = current->GetAttribute(name) != nullptr;
        current->AddAttribute(name, value);
        fuzz::Check(current->Attributes().size() == before + (had ? 0 : 1),
                    "an attribute added again keeps its one place");
        fuzz::Check(*current->GetAttribute(name) == value, "an attribute holds its last value");
        break;
      }
      case 3: {
        const double value = in.ConsumeFloatingPoint<double>();
        CheckDouble(value);
        current->AddAttribute(name, value);
        break;
      }
      case 4:
        current->AddElement(XMLString::Create(in.ConsumeRandomLengthString(64)));
        break;
      default: {
        const std::string text = in.ConsumeRandomLengthString(64);
        const std::string escaped = EscapeXML(text);
        fuzz::Check(CleanDocumentText(escaped) && escaped.find_first_of("<>") == std::string::npos,
                    "escaped text is clean and holds no markup");
        break;
      }
    }
  }
  for (bool newLines : {true, false}) {
    ExportFormat format;
    format.fNewLines = newLines;
    const std::string text = root->ToString(format);
    fuzz::Check(CleanDocumentText(text), "a written tree is clean UTF-8 of XML characters");
    fuzz::Check(BracketsMatch(text), "a written tree has its markup brackets matched");
    const std::unique_ptr<XMLElement> copy(root->Clone());
    fuzz::Check(copy->ToString(format) == text, "a clone writes the same document");
  }
  return 0;
}
