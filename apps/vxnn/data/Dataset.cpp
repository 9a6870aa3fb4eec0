#include "data/Dataset.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>
#include <unordered_map>

#include "data/NameSuggestion.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

NumberText ReadNumber(const std::string& text, double& value) {
  const char* p = text.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '\0') return NumberText::kText;
  // A plain decimal number, the common case, read several times faster
  // than strtod reads it and to the same double (both round correctly).
  // Anything else (a sign "+", hexadecimal, blanks after, an overflow, a
  // subnormal) takes strtod's slower way, which has the last word.
  const char* last = text.c_str() + text.size();
  double quick = 0;
  const auto [stop, ec] = std::from_chars(p, last, quick);
  if (ec == std::errc() && stop == last && std::isfinite(quick)) {
    value = quick;
    return NumberText::kFinite;
  }
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(p, &end);
  if (end == p) return NumberText::kText;
  while (*end == ' ' || *end == '\t') ++end;
  if (end != text.c_str() + text.size()) return NumberText::kText;
  // An overflow comes back as an infinity; an underflow is a number near
  // zero and stays one.
  if (!std::isfinite(v)) return NumberText::kNonFinite;
  value = v;
  return NumberText::kFinite;
}

bool ParseNumber(const std::string& text, double& value) {
  return ReadNumber(text, value) == NumberText::kFinite;
}

std::string FieldKindText(const FieldPlan& f) {
  const bool cat = f.fKind != FieldKind::kContinuous;
  std::string why;
  switch (f.fReason) {
    case KindReason::kText:
      why = "text";
      break;
    case KindReason::kNumbers:
      why = "numbers";
      break;
    case KindReason::kFewWholeNumbers:
      why = "taken as categorical: " + std::to_string(f.fWholeValues) +
            " whole-number values; use --continuous to change";
      break;
    case KindReason::kUserCategorical:
      why = "--categorical";
      break;
    case KindReason::kUserContinuous:
      why = "--continuous";
      break;
  }
  if (f.fNonFinite > 0)
    why += "; " + std::to_string(f.fNonFinite) + " non-finite value" +
           (f.fNonFinite == 1 ? "" : "s") + " counted as missing";
  return std::string(cat ? "categorical" : "continuous") + " (" + why + ")";
}

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

void CheckNamesExist(const std::vector<std::string>& header, const std::vector<std::string>& names,
                     const char* option) {
  for (const std::string& n : names)
    if (!Contains(header, n))
      throw InputError(std::string(option) + " names \"" + n + "\", which is not a column" +
                       DidYouMean(n, header));
}

bool IsMissingText(const std::string& cell, const std::vector<std::string>* declared) {
  return cell.empty() || (declared && Contains(*declared, cell));
}

const std::vector<std::string>* DeclaredMissing(const DescribeOptions& o, const std::string& name) {
  const auto m = o.fMissing.find(name);
  return m == o.fMissing.end() ? nullptr : &m->second;
}

// What one pass learns about a column before its kind is known.
struct ColumnScan {
  bool fNumeric = true, fWhole = true;
  long fNonFinite = 0;
  std::set<double> fDistinct;  // up to one more than the level limit
};

// Categories in order of first appearance, with their counts.
template <typename T, typename Map>
struct CategoryCount {
  Map fIndex;
  std::vector<std::pair<T, long>> fSeen;
  void Add(const T& value) {
    const auto it = fIndex.find(value);
    if (it != fIndex.end()) {
      ++fSeen[it->second].second;
      return;
    }
    fIndex.emplace(value, fSeen.size());
    fSeen.emplace_back(value, 1);
  }
  // Most frequent first; a stable sort keeps ties in order of appearance.
  std::vector<T> Values(bool byFrequency) {
    if (byFrequency)
      std::stable_sort(fSeen.begin(), fSeen.end(),
                       [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<T> values;
    values.reserve(fSeen.size());
    for (const auto& s : fSeen) values.push_back(s.first);
    return values;
  }
};

// The categories of the training rows in their order, then those that only
// the test rows hold, most frequent there first.
template <typename T, typename Map>
std::vector<T> Categories(CategoryCount<T, Map>& train, CategoryCount<T, Map>& test,
                          bool byFrequency) {
  std::vector<T> values = train.Values(byFrequency);
  for (const T& v : test.Values(byFrequency))
    if (train.fIndex.count(v) == 0) values.push_back(v);
  return values;
}

// Statistics of one planned field: numbers over the training rows, the
// categories of each side apart.
struct FieldStats {
  double fN = 0, fMean = 0, fM2 = 0, fLo = HUGE_VAL, fHi = -HUGE_VAL;
  bool fHasEmpty = false;
  CategoryCount<double, std::unordered_map<double, std::size_t>> fNumbers, fTestNumbers;
  CategoryCount<std::string, std::unordered_map<std::string, std::size_t>> fStrings, fTestStrings;
};

}  // namespace

std::vector<FieldPlan> PlanFields(RowSource& rows, const DescribeOptions& options,
                                  std::size_t* rowCount) {
  const std::vector<std::string>& header = rows.Header();
  CheckNamesExist(header, options.fTargets, "--target");
  CheckNamesExist(header, options.fContinuous, "--continuous");
  CheckNamesExist(header, options.fCategorical, "--categorical");
  CheckNamesExist(header, options.fIgnore, "--ignore");
  for (const auto& m : options.fMissing)
    if (!Contains(header, m.first))
      throw InputError("--missing names \"" + m.first + "\", which is not a column" +
                       DidYouMean(m.first, header));
  if (options.fTargets.empty()) throw InputError("no target column given");

  const std::size_t limit = static_cast<std::size_t>(options.fMaxCategoricalLevels);
  std::vector<ColumnScan> scan(header.size());
  std::vector<const std::vector<std::string>*> declared(header.size());
  std::vector<bool> used(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) {
    declared[c] = DeclaredMissing(options, header[c]);
    used[c] = !Contains(options.fIgnore, header[c]);
  }
  std::size_t n = 0;
  rows.Rewind();
  while (const std::vector<std::string>* row = rows.Next()) {
    ++n;
    for (std::size_t c = 0; c < header.size(); ++c) {
      ColumnScan& s = scan[c];
      if (!used[c] || !s.fNumeric) continue;
      const std::string& cell = (*row)[c];
      if (IsMissingText(cell, declared[c])) continue;
      double v = 0;
      switch (ReadNumber(cell, v)) {
        case NumberText::kText:
          s.fNumeric = false;
          continue;
        case NumberText::kNonFinite:
          ++s.fNonFinite;
          continue;
        case NumberText::kFinite:
          break;
      }
      s.fWhole = s.fWhole && v == std::floor(v);
      if (s.fDistinct.size() <= limit) s.fDistinct.insert(v);
    }
  }

  std::vector<FieldPlan> plan;
  for (std::size_t c = 0; c < header.size(); ++c) {
    if (!used[c]) continue;
    const std::string& name = header[c];
    const ColumnScan& s = scan[c];
    FieldPlan f;
    f.fName = name;
    f.fColumn = static_cast<int>(c);
    f.fTarget = Contains(options.fTargets, name);
    f.fNonFinite = s.fNumeric ? s.fNonFinite : 0;
    if (Contains(options.fContinuous, name)) {
      if (!s.fNumeric)
        throw InputError("column \"" + name + "\" holds text and cannot be continuous");
      f.fKind = FieldKind::kContinuous;
      f.fReason = KindReason::kUserContinuous;
    } else if (!s.fNumeric) {
      f.fKind = FieldKind::kStringCategorical;
      f.fReason =
          Contains(options.fCategorical, name) ? KindReason::kUserCategorical : KindReason::kText;
    } else if (Contains(options.fCategorical, name)) {
      f.fKind = FieldKind::kNumericCategorical;
      f.fReason = KindReason::kUserCategorical;
    } else if (f.fTarget && s.fWhole && !s.fDistinct.empty() && s.fDistinct.size() <= limit) {
      f.fKind = FieldKind::kNumericCategorical;
      f.fReason = KindReason::kFewWholeNumbers;
      f.fWholeValues = static_cast<int>(s.fDistinct.size());
    } else {
      f.fKind = FieldKind::kContinuous;
      f.fReason = KindReason::kNumbers;
    }
    plan.push_back(f);
  }
  if (rowCount) *rowCount = n;
  return plan;
}

std::vector<FieldPlan> PlanFields(const CsvTable& table, const DescribeOptions& options) {
  TableRows rows(table, "");
  return PlanFields(rows, options);
}

NNVarList BuildVarList(RowSource& rows, const std::vector<FieldPlan>& plan,
                       const DescribeOptions& options, SplitDraw* split) {
  std::vector<FieldStats> stats(plan.size());
  std::vector<const std::vector<std::string>*> declared(plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i)
    declared[i] = DeclaredMissing(options, plan[i].fName);

  double records = 0;
  rows.Rewind();
  if (split) split->Restart();
  while (const std::vector<std::string>* row = rows.Next()) {
    const bool test = split && split->NextIsTest();
    if (!test) records += 1;
    for (std::size_t i = 0; i < plan.size(); ++i) {
      const FieldPlan& f = plan[i];
      FieldStats& s = stats[i];
      const std::string& cell = (*row)[static_cast<std::size_t>(f.fColumn)];
      if (IsMissingText(cell, declared[i])) {
        s.fHasEmpty = s.fHasEmpty || cell.empty();
        continue;
      }
      if (f.fKind == FieldKind::kStringCategorical) {
        (test ? s.fTestStrings : s.fStrings).Add(cell);
        continue;
      }
      double v;
      if (!ParseNumber(cell, v)) continue;  // non-finite: missing
      if (f.fKind == FieldKind::kNumericCategorical) {
        (test ? s.fTestNumbers : s.fNumbers).Add(v);
        continue;
      }
      // The test rows measure the model, so the scaling they go through is
      // the training rows' alone, as new data's would be.
      if (test) continue;
      // Welford's update keeps the variance accurate for large offsets.
      s.fN += 1;
      const double d = v - s.fMean;
      s.fMean += d / s.fN;
      s.fM2 += d * (v - s.fMean);
      s.fLo = std::min(s.fLo, v);
      s.fHi = std::max(s.fHi, v);
    }
  }

  NNVarList list;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const FieldPlan& f = plan[i];
    FieldStats& s = stats[i];
    const auto role = f.fTarget ? INNVariable::kOutput : INNVariable::kInput;
    int index = -1;
    if (f.fKind == FieldKind::kContinuous) {
      if (s.fN == 0) throw InputError("column \"" + f.fName + "\" has no value");
      const double variance = s.fN > 1 ? s.fM2 / (s.fN - 1) : 0.0;
      index = list.AddContVar(f.fName, "", s.fLo, s.fHi, s.fMean, variance, role,
                              INNVariable::kReal, 0.0);
    } else if (f.fKind == FieldKind::kNumericCategorical) {
      // The list takes the number of categories from the vector's length,
      // so each category is passed once.
      index = list.AddCatVar(f.fName, "", Categories(s.fNumbers, s.fTestNumbers, !f.fTarget), role,
                             INNVariable::kInteger);
    } else {
      index = list.AddCatVar(f.fName, "", Categories(s.fStrings, s.fTestStrings, !f.fTarget), role,
                             INNVariable::kString);
    }
    if (index < 0) throw InputError("column \"" + f.fName + "\" could not be described");

    // Declared missing texts become user-missing values of the variable, so
    // that the saved model recognises them in new data too.
    if (declared[i]) {
      for (const std::string& text : *declared[i]) {
        double v;
        if (f.fKind == FieldKind::kStringCategorical)
          list.AddDiscreteUserMissing(index, text, "");
        else if (ParseNumber(text, v))
          list.AddDiscreteUserMissing(index, v, "");
      }
    }
    if (s.fHasEmpty && f.fKind == FieldKind::kStringCategorical)
      list.AddDiscreteUserMissing(index, std::string(), "empty");
  }
  list.SetWeightedCount(records);
  return list;
}

NNVarList BuildVarList(const CsvTable& table, const std::vector<FieldPlan>& plan,
                       const DescribeOptions& options) {
  TableRows rows(table, "");
  return BuildVarList(rows, plan, options);
}

}  // namespace vxnn
