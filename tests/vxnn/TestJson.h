// A strict little JSON reader for the tests: it checks that what the
// program prints is well-formed and lets the tests read values back.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testjson {

struct Value {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } fKind = kNull;
  bool fBool = false;
  double fNumber = 0.0;
  std::string fString;
  std::vector<Value> fArray;
  std::vector<std::pair<std::string, Value>> fObject;

  // Member by key; throws when absent, so a test fails loudly.
  const Value& operator[](const std::string& key) const {
    for (const auto& m : fObject)
      if (m.first == key) return m.second;
    throw std::runtime_error("no key " + key);
  }
  const Value& operator[](std::size_t i) const { return fArray.at(i); }
  bool Has(const std::string& key) const {
    for (const auto& m : fObject)
      if (m.first == key) return true;
    return false;
  }
};

class Parser {
 public:
  explicit Parser(const std::string& text) : fText(text) {}

  // Throws std::runtime_error on anything that is not one JSON document.
  Value Document() {
    Value v = Parse();
    Skip();
    if (fPos != fText.size()) Fail("text after the document");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("JSON: " + what + " at " + std::to_string(fPos));
  }
  void Skip() {
    while (fPos < fText.size() && std::isspace(static_cast<unsigned char>(fText[fPos]))) ++fPos;
  }
  bool Eat(char c) {
    Skip();
    if (fPos < fText.size() && fText[fPos] == c) {
      ++fPos;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    const std::string s(w);
    if (fText.compare(fPos, s.size(), s) != 0) return false;
    fPos += s.size();
    return true;
  }
  std::string String() {
    if (!Eat('"')) Fail("string expected");
    std::string s;
    while (fPos < fText.size() && fText[fPos] != '"') {
      char c = fText[fPos++];
      if (c == '\\') {
        if (fPos >= fText.size()) Fail("bad escape");
        c = fText[fPos++];
        switch (c) {
          case 'n':
            s += '\n';
            break;
          case 't':
            s += '\t';
            break;
          case 'r':
            s += '\r';
            break;
          case 'u':
            s += static_cast<char>(std::stoi(fText.substr(fPos, 4), nullptr, 16));
            fPos += 4;
            break;
          default:
            s += c;
        }
      } else {
        if (static_cast<unsigned char>(c) < 0x20) Fail("control character in a string");
        s += c;
      }
    }
    if (fPos >= fText.size()) Fail("unterminated string");
    ++fPos;
    return s;
  }
  Value Parse() {
    Skip();
    Value v;
    if (fPos >= fText.size()) Fail("value expected");
    const char c = fText[fPos];
    if (c == '{') {
      ++fPos;
      v.fKind = Value::kObject;
      if (Eat('}')) return v;
      do {
        Skip();
        std::string key = String();
        if (!Eat(':')) Fail("':' expected");
        v.fObject.emplace_back(key, Parse());
      } while (Eat(','));
      if (!Eat('}')) Fail("'}' expected");
    } else if (c == '[') {
      ++fPos;
      v.fKind = Value::kArray;
      if (Eat(']')) return v;
      do v.fArray.push_back(Parse());
      while (Eat(','));
      if (!Eat(']')) Fail("']' expected");
    } else if (c == '"') {
      v.fKind = Value::kString;
      v.fString = String();
    } else if (Word("null")) {
      v.fKind = Value::kNull;
    } else if (Word("true") || Word("false")) {
      v.fKind = Value::kBool;
      v.fBool = fText[fPos - 1] == 'e' && fText[fPos - 2] == 'u';
    } else {
      const char* start = fText.c_str() + fPos;
      char* end = nullptr;
      v.fNumber = std::strtod(start, &end);
      if (end == start) Fail("value expected");
      v.fKind = Value::kNumber;
      fPos += static_cast<std::size_t>(end - start);
    }
    return v;
  }

  const std::string& fText;
  std::size_t fPos = 0;
};

inline Value Parse(const std::string& text) { return Parser(text).Document(); }

}  // namespace testjson
