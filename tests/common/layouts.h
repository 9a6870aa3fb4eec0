// Saved layouts checked against references assembled field by field in the
// test, not produced by the library's writers: a field order swapped
// consistently in a writer and its reader shows up here, where a round trip
// cannot see it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/saved_forms.h"

namespace layouts {

// A binary record built byte by byte: little-endian 32-bit ints, IEEE
// doubles, length-prefixed strings, raw tags.
struct Bytes {
  std::string s;
  Bytes& Tag(const std::string& t) { return s += t, *this; }
  Bytes& I(std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int k = 0; k < 4; ++k) s += static_cast<char>((u >> (8 * k)) & 0xffu);
    return *this;
  }
  Bytes& B(bool v) { return I(v ? 1 : 0); }
  // Unsigned and long values take an int's 4 bytes in the binary stream.
  Bytes& U(std::int64_t v) { return I(v); }
  Bytes& L(std::int64_t v) { return I(v); }
  Bytes& D(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int k = 0; k < 8; ++k) s += static_cast<char>((u >> (8 * k)) & 0xffu);
    return *this;
  }
  Bytes& S(const std::string& v) { return I(static_cast<std::int64_t>(v.size())).Tag(v); }
  Bytes& Ds(const std::vector<double>& v) {
    for (double x : v) D(x);
    return *this;
  }
  Bytes& Is(const std::vector<int>& v) {
    for (int x : v) I(x);
    return *this;
  }
  Bytes& Add(const Bytes& nested) { return s += nested.s, *this; }
};

inline std::string DoubleItem(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "double %a", v);
  return text;
}

// An XML object as the sequence it must hold: "<Name" for an object start,
// "type value" for each value, ">" for an object end.
struct Xml {
  std::vector<std::string> items;
  Xml& Obj(const std::string& name) { return Put("<" + name); }
  Xml& End() { return Put(">"); }
  Xml& I(long long v) { return Put("int " + std::to_string(v)); }
  Xml& L(long long v) { return Put("long " + std::to_string(v)); }
  Xml& U(unsigned long long v) { return Put("unsigned " + std::to_string(v)); }
  Xml& B(bool v) { return Put(v ? "bool 1" : "bool 0"); }
  Xml& D(double v) { return Put(DoubleItem(v)); }
  Xml& S(const std::string& v) { return Put("string " + v); }
  Xml& Ds(const std::vector<double>& v) {
    for (double x : v) D(x);
    return *this;
  }
  Xml& Is(const std::vector<int>& v) {
    for (int x : v) I(x);
    return *this;
  }
  Xml& Add(const Xml& nested) {
    items.insert(items.end(), nested.items.begin(), nested.items.end());
    return *this;
  }
  Xml& Put(std::string item) { return items.push_back(std::move(item)), *this; }
};

// The same sequence read from a written document (object marks and value
// elements; declarations and the root are skipped). Test texts hold no
// markup characters, so no unescaping is needed.
inline std::vector<std::string> Items(const std::string& xml) {
  std::vector<std::string> items;
  for (std::size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    const std::size_t close = xml.find('>', at);
    const std::string tag = xml.substr(at + 1, close - at - 1);
    if (tag.rfind("object name=\"", 0) == 0) {
      items.push_back("<" + tag.substr(13, tag.find('"', 13) - 13));
    } else if (tag == "/object") {
      items.push_back(">");
    } else if (tag == "int" || tag == "long" || tag == "unsigned" || tag == "bool" ||
               tag == "double" || tag == "string") {
      const std::string text = xml.substr(close + 1, xml.find('<', close) - close - 1);
      items.push_back(tag == "double" ? DoubleItem(std::strtod(text.c_str(), nullptr))
                                      : tag + " " + text);
      at = xml.find('>', close + 1);
    }
  }
  return items;
}

// Values among the items (what an XML writer reports).
inline int ValueCount(const std::vector<std::string>& items) {
  int n = 0;
  for (const auto& item : items) n += item != ">" && item[0] != '<';
  return n;
}

// obj writes exactly the reference records; a fresh object from make()
// reads the binary reference (every byte) and writes it again, and one
// reads obj's XML and writes the same items again. xmlFrame: what an XML
// writer reports beyond its values (the layers count their object marks).
template <typename T, typename Make>
void ExpectLayout(const T& obj, Make&& make, const Bytes& binary, const Xml& xml,
                  int xmlFrame = 0) {
  std::stringstream b, x;
  EXPECT_EQ(saved_forms::WriteForm(obj, b, false), static_cast<int>(binary.s.size()));
  EXPECT_EQ(b.str(), binary.s) << "binary form";
  EXPECT_EQ(saved_forms::WriteForm(obj, x, true), ValueCount(xml.items) + xmlFrame);
  EXPECT_EQ(Items(x.str()), xml.items) << "XML form";
  auto fromBinary = make();
  std::stringstream in(binary.s);
  EXPECT_EQ(fromBinary->ReadObject(in), static_cast<int>(binary.s.size()));
  EXPECT_EQ(saved_forms::Saved(*fromBinary, false), binary.s) << "binary reference read back";
  auto fromXml = make();
  EXPECT_EQ(fromXml->ReadObjectXML(x), ValueCount(xml.items) + xmlFrame);
  EXPECT_EQ(Items(saved_forms::Saved(*fromXml, true)), xml.items) << "XML read back";
}

}  // namespace layouts
