#include "data/NameSuggestion.h"

#include <algorithm>

namespace vxnn {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  // d[i][j]: the edits from the first i characters of a to the first j of
  // b, kept as three rows (the swap looks two rows back).
  const std::size_t n = b.size();
  std::vector<std::size_t> older(n + 1), previous(n + 1), current(n + 1);
  for (std::size_t j = 0; j <= n; ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= n; ++j) {
      const std::size_t replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        current[j] = std::min(current[j], older[j - 2] + 1);
    }
    std::swap(older, previous);
    std::swap(previous, current);
  }
  return previous[n];
}

std::string OneEditAway(const std::string& name, const std::vector<std::string>& names) {
  std::string found;
  for (const std::string& candidate : names) {
    // Lengths more than one apart need more than one edit.
    const std::size_t longer = std::max(candidate.size(), name.size());
    if (longer - std::min(candidate.size(), name.size()) > 1) continue;
    if (EditDistance(name, candidate) != 1 || candidate == found) continue;
    if (!found.empty()) return "";
    found = candidate;
  }
  return found;
}

std::string DidYouMean(const std::string& name, const std::vector<std::string>& names) {
  const std::string match = OneEditAway(name, names);
  return match.empty() ? "" : " (did you mean \"" + match + "\"?)";
}

}  // namespace vxnn
