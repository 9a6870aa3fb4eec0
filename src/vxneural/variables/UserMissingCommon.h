// What the user-missing classes share: a list of discrete values (numbers or
// strings) kept in step with a list of labels.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "vxcommon/XMLTree.h"

namespace VXNeural {
namespace detail {

template <typename Writer, typename T>
void WriteValuesAndLabels(Writer& w, const std::vector<T>& values,
                          const std::vector<std::string>& labels) {
  w.Int(static_cast<int>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    if constexpr (std::is_same_v<T, double>)
      w.Double(values[i]);
    else
      w.String(values[i]);
    w.String(labels[i]);
  }
}

// Appends n entries read from r (n already checked by the reader's Count).
template <typename Reader, typename T>
void ReadValuesAndLabels(Reader& r, int n, std::vector<T>& values,
                         std::vector<std::string>& labels) {
  values.reserve(values.size() + static_cast<std::size_t>(n));
  labels.reserve(labels.size() + static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    if constexpr (std::is_same_v<T, double>)
      values.push_back(r.Double());
    else
      values.push_back(r.String());
    labels.push_back(r.String());
  }
}

// One Value element (property "missing") per discrete value, appended.
template <typename T>
void AddMissingValueElements(std::vector<std::unique_ptr<VXXML_1_2::XMLElement>>& elements,
                             const std::vector<T>& values, const std::vector<std::string>& labels) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::unique_ptr<VXXML_1_2::XMLElement> e(VXXML_1_2::XMLElement::Create("Value"));
    e->AddAttribute("value", values[i]);
    if (!labels[i].empty()) e->AddAttribute("displayValue", labels[i]);
    e->AddAttribute("property", "missing");
    elements.push_back(std::move(e));
  }
}

inline std::vector<VXXML_1_2::XMLElement*> ReleaseAll(
    std::vector<std::unique_ptr<VXXML_1_2::XMLElement>>& elements) {
  std::vector<VXXML_1_2::XMLElement*> result;
  result.reserve(elements.size());
  for (auto& e : elements) result.push_back(e.release());
  return result;
}

template <typename T>
void DisplayValuesAndLabels(std::ostream& out, const std::vector<T>& values,
                            const std::vector<std::string>& labels) {
  out << "Discrete missing values:\n";
  for (std::size_t i = 0; i < values.size(); ++i)
    out << '\t' << values[i] << ", label = " << labels[i] << '\n';
}

}  // namespace detail
}  // namespace VXNeural
