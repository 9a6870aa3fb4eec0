#include "Dataset.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "vxcommon/VXMissing.h"

namespace vxnn {

bool ParseNumber(const std::string& text, double& value) {
  const std::size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return false;
  const std::size_t e = text.find_last_not_of(" \t");
  const std::string t = text.substr(b, e - b + 1);
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return false;
  value = v;
  return true;
}

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

void CheckNamesExist(const CsvTable& table, const std::vector<std::string>& names,
                     const char* option) {
  for (const std::string& n : names)
    if (table.Column(n) < 0)
      throw InputError(std::string(option) + " names \"" + n + "\", which is not a column");
}

bool IsMissingText(const std::string& cell, const std::vector<std::string>* declared) {
  return cell.empty() || (declared && Contains(*declared, cell));
}

}  // namespace

std::vector<FieldPlan> PlanFields(const CsvTable& table, const DescribeOptions& options) {
  CheckNamesExist(table, options.fTargets, "--target");
  CheckNamesExist(table, options.fContinuous, "--continuous");
  CheckNamesExist(table, options.fCategorical, "--categorical");
  CheckNamesExist(table, options.fIgnore, "--ignore");
  for (const auto& m : options.fMissing)
    if (table.Column(m.first) < 0)
      throw InputError("--missing names \"" + m.first + "\", which is not a column");
  if (options.fTargets.empty()) throw InputError("no target column given");

  std::vector<FieldPlan> plan;
  for (std::size_t c = 0; c < table.fHeader.size(); ++c) {
    const std::string& name = table.fHeader[c];
    if (Contains(options.fIgnore, name)) continue;
    const auto missing = options.fMissing.find(name);
    const std::vector<std::string>* declared =
        missing == options.fMissing.end() ? nullptr : &missing->second;

    bool numeric = true, whole = true;
    std::set<double> distinct;
    for (const auto& row : table.fRows) {
      if (IsMissingText(row[c], declared)) continue;
      double v;
      if (!ParseNumber(row[c], v)) {
        numeric = false;
        break;
      }
      whole = whole && v == std::floor(v);
      if (distinct.size() <= static_cast<std::size_t>(options.fMaxCategoricalLevels))
        distinct.insert(v);
    }

    FieldPlan f;
    f.fName = name;
    f.fColumn = static_cast<int>(c);
    f.fTarget = Contains(options.fTargets, name);
    if (Contains(options.fContinuous, name)) {
      if (!numeric) throw InputError("column \"" + name + "\" holds text and cannot be continuous");
      f.fKind = FieldKind::kContinuous;
    } else if (!numeric) {
      f.fKind = FieldKind::kStringCategorical;
    } else if (Contains(options.fCategorical, name) ||
               (whole && !distinct.empty() &&
                distinct.size() <= static_cast<std::size_t>(options.fMaxCategoricalLevels))) {
      f.fKind = FieldKind::kNumericCategorical;
    } else {
      f.fKind = FieldKind::kContinuous;
    }
    plan.push_back(f);
  }
  return plan;
}

NNVarList BuildVarList(const CsvTable& table, const std::vector<FieldPlan>& plan,
                       const DescribeOptions& options) {
  NNVarList list;
  for (const FieldPlan& f : plan) {
    const auto missing = options.fMissing.find(f.fName);
    const std::vector<std::string>* declared =
        missing == options.fMissing.end() ? nullptr : &missing->second;
    const auto role = f.fTarget ? INNVariable::kOutput : INNVariable::kInput;
    const std::size_t c = static_cast<std::size_t>(f.fColumn);
    bool hasEmpty = false;
    int index = -1;

    if (f.fKind == FieldKind::kContinuous) {
      // Welford's update keeps the variance accurate for large offsets.
      double n = 0, mean = 0, m2 = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
      for (const auto& row : table.fRows) {
        double v;
        if (IsMissingText(row[c], declared) || !ParseNumber(row[c], v)) {
          hasEmpty = hasEmpty || row[c].empty();
          continue;
        }
        n += 1;
        const double d = v - mean;
        mean += d / n;
        m2 += d * (v - mean);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
      if (n == 0) throw InputError("column \"" + f.fName + "\" has no value");
      const double variance = n > 1 ? m2 / (n - 1) : 0.0;
      index = list.AddContVar(f.fName, "", lo, hi, mean, variance, role, INNVariable::kReal, 0.0);
    } else if (f.fKind == FieldKind::kNumericCategorical) {
      // The list takes the number of categories from the vector's length,
      // so each category is passed once, in order of first appearance.
      std::vector<double> values;
      std::set<double> seenNumbers;
      for (const auto& row : table.fRows) {
        double v;
        if (IsMissingText(row[c], declared) || !ParseNumber(row[c], v)) {
          hasEmpty = hasEmpty || row[c].empty();
          continue;
        }
        if (seenNumbers.insert(v).second) values.push_back(v);
      }
      index = list.AddCatVar(f.fName, "", values, role, INNVariable::kInteger);
    } else {
      std::vector<std::string> values;
      std::set<std::string> seenStrings;
      for (const auto& row : table.fRows) {
        if (IsMissingText(row[c], declared)) {
          hasEmpty = hasEmpty || row[c].empty();
          continue;
        }
        if (seenStrings.insert(row[c]).second) values.push_back(row[c]);
      }
      index = list.AddCatVar(f.fName, "", values, role, INNVariable::kString);
    }
    if (index < 0) throw InputError("column \"" + f.fName + "\" could not be described");

    // Declared missing texts become user-missing values of the variable, so
    // that the saved model recognises them in new data too.
    if (declared) {
      for (const std::string& text : *declared) {
        double v;
        if (f.fKind == FieldKind::kStringCategorical)
          list.AddDiscreteUserMissing(index, text, "");
        else if (ParseNumber(text, v))
          list.AddDiscreteUserMissing(index, v, "");
      }
    }
    if (hasEmpty && f.fKind == FieldKind::kStringCategorical)
      list.AddDiscreteUserMissing(index, std::string(), "empty");
  }
  list.SetWeightedCount(static_cast<double>(table.fRows.size()));
  return list;
}

}  // namespace vxnn
