// How the text summaries spell numbers and lists: the small helpers every
// text writer of report/ shares.
#pragma once

#include <string>
#include <vector>

namespace vxnn {

// value with digits decimals ("0.970"), or "n/a" for the missing value.
std::string Fixed(double value, int digits);
// value with four significant digits ("1.749", "2.5e-05"), or "n/a".
std::string General(double value);
// A percentage as a fraction, keeping the missing value missing.
double Fraction(double percent);
// "1 record", "2 records"; plural, when given, replaces word + "s".
std::string Plural(long n, const std::string& word, const std::string& plural = "");
// The items with sep between them.
std::string Join(const std::vector<std::string>& items, const std::string& sep = ", ");
std::string Lower(std::string s);
std::string Upper(std::string s);

}  // namespace vxnn
