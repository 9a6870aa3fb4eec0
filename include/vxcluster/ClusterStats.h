// The summary of one result cluster.
#pragma once

#include <utility>
#include <vector>

/// Statistics of the records of one cluster. Variables are numbered as in the
/// model's ClusterVarList (continuous and categorical together, from 0).
class ClusterStats {
 public:
  /// One variable's summary. For a continuous variable: the records with a
  /// value (count), their mean and population variance (saturating at the
  /// largest double); for a categorical
  /// one: the records per category, category 1 first (count is their sum).
  struct VarSummary {
    bool fContinuous = true;           ///< continuous (else categorical)
    double fCount = 0.0;               ///< records counted
    double fMean = 0.0;                ///< continuous: mean
    double fVariance = 0.0;            ///< continuous: population variance
    std::vector<int> fCategoryCounts;  ///< categorical: records per category
  };

  ClusterStats() = default;
  /// stdDevs: per variable, the standard deviation of a continuous one, kept
  /// apart because a variance can overflow where it cannot; when absent, the
  /// square root of the variance.
  ClusterStats(int caseCount, std::vector<VarSummary> vars, std::vector<double> stdDevs = {})
      : fCaseCount(caseCount), fVars(std::move(vars)), fStdDevs(std::move(stdDevs)) {}

  /// Records in the cluster, with or without values for any variable (counts
  /// beyond the range of int read as its largest value).
  int GetCaseCount() const { return fCaseCount; }
  /// The number of variables summarised.
  int GetNumVars() const { return static_cast<int>(fVars.size()); }

  /// Mean of continuous variable v over the cluster's records that have a
  /// value for it; VXMV::gMissingValue when none has, or when v is not a
  /// continuous variable of the list.
  double GetMeanOfContVar(int v) const;
  /// Population variance (sum of squared deviations divided by the count, not
  /// by count - 1) of the same values: the spread of the cluster's own records,
  /// which is what a radial unit's width or a Gaussian fit needs; 0 for a
  /// single record. VXMV::gMissingValue as for the mean. Values spread by more
  /// than about 1e154 have a variance beyond the range of double: it reads as
  /// the largest double, and GetStdDevOfContVar gives the spread.
  double GetVarianceOfContVar(int v) const;
  /// Square root of the population variance, finite for any finite values;
  /// VXMV::gMissingValue as for the mean.
  double GetStdDevOfContVar(int v) const;
  /// Records of the cluster per category of categorical variable v, category
  /// 1 first (n entries for n categories); records without a category for v
  /// are not counted. Empty when v is not a categorical variable of the list.
  const std::vector<int>& GetCountsOfCatVar(int v) const;
  /// Records with a value (continuous) or a category (categorical) for v;
  /// 0 when v is not a variable of the list.
  double GetValidCount(int v) const;

 private:
  const VarSummary* Var(int v) const;

  int fCaseCount = 0;
  std::vector<VarSummary> fVars;
  std::vector<double> fStdDevs;
};
