// Checks of the texts that objects write: debug displays and the like.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace text_checks {

// What obj.Display writes.
template <typename T>
std::string Shown(const T& obj) {
  std::ostringstream out;
  obj.Display(out);
  return out.str();
}

// Checks that text starts with first, ends with last (either may be empty)
// and contains every fragment.
inline void ExpectText(const std::string& text, const std::string& first,
                       const std::vector<std::string>& fragments, const std::string& last) {
  EXPECT_EQ(text.substr(0, first.size()), first);
  EXPECT_EQ(text.substr(text.size() - std::min(last.size(), text.size())), last);
  for (const auto& f : fragments) EXPECT_NE(text.find(f), std::string::npos) << f;
}

}  // namespace text_checks
