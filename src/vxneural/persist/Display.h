// The one helper for debug displays: labelled values and named vectors, with
// the stream's formatting restored afterwards.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace VXNeural {
namespace detail {

// Sets a precision that shows doubles to 12 significant digits for the
// lifetime of the guard, and restores the stream's own afterwards.
class DisplayPrecision {
 public:
  explicit DisplayPrecision(std::ostream& out) : fOut(out), fOld(out.precision(12)) {}
  ~DisplayPrecision() { fOut.precision(fOld); }
  DisplayPrecision(const DisplayPrecision&) = delete;
  DisplayPrecision& operator=(const DisplayPrecision&) = delete;

 private:
  std::ostream& fOut;
  std::streamsize fOld;
};

// "<label><value>\n"
template <typename T>
void ShowValue(std::ostream& out, const char* label, const T& value) {
  out << label << value << '\n';
}

// "<label>: v0 v1 ...\n"; an empty vector shows "<label>: (empty)".
template <typename Vec>
void ShowVector(std::ostream& out, const char* label, const Vec& values) {
  out << label << ':';
  if (std::size(values) == 0) out << " (empty)";
  for (const auto& v : values) out << ' ' << v;
  out << '\n';
}

}  // namespace detail
}  // namespace VXNeural
