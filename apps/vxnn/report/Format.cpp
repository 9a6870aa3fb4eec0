#include "report/Format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "vxcommon/VXMissing.h"

namespace vxnn {

std::string Fixed(double value, int digits) {
  if (VXMV::IsMissing(value)) return "n/a";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", digits, value);
  return buf;
}

std::string General(double value) {
  if (VXMV::IsMissing(value)) return "n/a";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.4g", value);
  return buf;
}

double Fraction(double percent) { return VXMV::IsMissing(percent) ? percent : percent / 100.0; }

std::string Plural(long n, const std::string& word, const std::string& plural) {
  return std::to_string(n) + " " + (n == 1 ? word : plural.empty() ? word + "s" : plural);
}

std::string Join(const std::vector<std::string>& items, const std::string& sep) {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i) s += (i ? sep : "") + items[i];
  return s;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

}  // namespace vxnn
