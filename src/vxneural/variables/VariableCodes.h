// Checked conversions of enumeration codes read from a stream: a code outside
// its enumeration is a corrupt stream, reported through the reader.
#pragma once

#include "vxneural/variables/INNVariable.h"

namespace VXNeural {
namespace detail {

template <typename Reader>
INNVariable::VariableRole RoleFromCode(Reader& r, int code) {
  if (code < INNVariable::kUndefinedRole || code > INNVariable::kUnused) r.Fail();
  return static_cast<INNVariable::VariableRole>(code);
}

template <typename Reader>
INNVariable::VariableStorage StorageFromCode(Reader& r, int code) {
  if (code < INNVariable::kUndefinedStorage || code > INNVariable::kTimestamp) r.Fail();
  return static_cast<INNVariable::VariableStorage>(code);
}

// Written as its length, then the string only when it is not empty.
template <typename Reader>
std::string ReadOptionalLabel(Reader& r) {
  const int length = r.Int();
  if (length < 0) r.Fail();
  if (length == 0) return std::string();
  std::string label = r.String();
  if (label.size() != static_cast<std::size_t>(length)) r.Fail();
  return label;
}

}  // namespace detail
}  // namespace VXNeural
