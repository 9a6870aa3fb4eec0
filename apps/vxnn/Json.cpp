#include "Json.h"

#include <cmath>
#include <cstdio>

#include "vxcommon/VXMissing.h"

namespace vxnn {

std::string JsonEscape(const std::string& text) {
  std::string s;
  s.reserve(text.size() + 2);
  for (const char c : text) {
    switch (c) {
      case '"':
        s += "\\\"";
        break;
      case '\\':
        s += "\\\\";
        break;
      case '\n':
        s += "\\n";
        break;
      case '\r':
        s += "\\r";
        break;
      case '\t':
        s += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          s += buf;
        } else {
          s += c;
        }
    }
  }
  return s;
}

void JsonWriter::NewLine() { fOut << '\n' << std::string(2 * fHasMember.size(), ' '); }

void JsonWriter::BeforeValue() {
  if (fAfterKey) {
    fAfterKey = false;
    return;
  }
  if (!fHasMember.empty()) {
    if (fHasMember.back()) fOut << ',';
    fHasMember.back() = true;
    NewLine();
  }
}

JsonWriter& JsonWriter::Key(const std::string& key) {
  BeforeValue();
  fOut << '"' << JsonEscape(key) << "\": ";
  fAfterKey = true;
  return *this;
}

void JsonWriter::BeginObject() {
  BeforeValue();
  fOut << '{';
  fHasMember.push_back(false);
}

void JsonWriter::EndObject() {
  const bool had = fHasMember.back();
  fHasMember.pop_back();
  if (had) NewLine();
  fOut << '}';
  if (fHasMember.empty()) fOut << '\n';
}

void JsonWriter::BeginArray() {
  BeforeValue();
  fOut << '[';
  fHasMember.push_back(false);
}

void JsonWriter::EndArray() {
  const bool had = fHasMember.back();
  fHasMember.pop_back();
  if (had) NewLine();
  fOut << ']';
  if (fHasMember.empty()) fOut << '\n';
}

void JsonWriter::String(const std::string& value) {
  BeforeValue();
  fOut << '"' << JsonEscape(value) << '"';
}

void JsonWriter::Number(double value) {
  BeforeValue();
  if (VXMV::IsMissing(value) || !std::isfinite(value)) {
    fOut << "null";
    return;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", value);
  fOut << buf;
}

void JsonWriter::Integer(long long value) {
  BeforeValue();
  fOut << value;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  fOut << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  fOut << "null";
}

}  // namespace vxnn
