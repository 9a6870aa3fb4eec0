// What the program prints as JSON, read back for the tests: parsing is
// strict (a malformed document throws) and a missing key throws, so that a
// test fails loudly rather than reading a default.
#pragma once

#include <nlohmann/json.hpp>
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

inline Value From(const nlohmann::ordered_json& j) {
  Value v;
  if (j.is_boolean()) {
    v.fKind = Value::kBool;
    v.fBool = j.get<bool>();
  } else if (j.is_number()) {
    v.fKind = Value::kNumber;
    v.fNumber = j.get<double>();
  } else if (j.is_string()) {
    v.fKind = Value::kString;
    v.fString = j.get<std::string>();
  } else if (j.is_array()) {
    v.fKind = Value::kArray;
    for (const auto& e : j) v.fArray.push_back(From(e));
  } else if (j.is_object()) {
    v.fKind = Value::kObject;
    for (const auto& [key, e] : j.items()) v.fObject.emplace_back(key, From(e));
  }
  return v;
}

inline Value Parse(const std::string& text) { return From(nlohmann::ordered_json::parse(text)); }

}  // namespace testjson
