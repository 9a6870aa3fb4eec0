// "did you mean": a name the user typed that names no column, matched
// against the columns there are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vxnn {

// The fewest edits that turn a into b, where an edit inserts a character,
// deletes one, replaces one with another, or swaps two neighbours (each
// character takes part in at most one edit, so "ab" to "bca" counts 3).
// Characters are compared byte for byte: "Age" and "age" are one edit apart.
std::size_t EditDistance(const std::string& a, const std::string& b);

// The one name of names one edit away from name, or empty when none is or
// when several are (a guess between two would mislead).
std::string OneEditAway(const std::string& name, const std::vector<std::string>& names);

// " (did you mean \"COL\"?)" for OneEditAway's answer, or empty.
std::string DidYouMean(const std::string& name, const std::vector<std::string>& names);

}  // namespace vxnn
