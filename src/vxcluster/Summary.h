// Cluster summaries (clustering features): the sufficient statistics of a set
// of records, stored as a fixed-length row of doubles so that summaries live
// in flat pools and adding two of them is a plain loop.
//
// Layout: [0] records; per continuous variable three slots (records with a
// value, their mean and their population standard deviation); per categorical
// variable one slot per category (records in that category). Counts are
// doubles, exact up to 2^53 records.
//
// Means and spreads rather than sums and sums of squares: a sum of squares
// overflows once values pass about 1e154, and a sum of many values near the
// largest double overflows too, turning means and distances into inf and NaN.
// A mean lies between the smallest and largest value and a standard
// deviation is at most half their range, so both stay finite for any finite
// values; two summaries are merged with the pairwise update of mean and
// spread, scaled where the squares would overflow.
#pragma once

#include <vector>

#include "vxcluster/ClusterRecord.h"
#include "vxcluster/ClusterStats.h"
#include "vxcluster/ClusterStatus.h"
#include "vxcluster/ClusterVarList.h"

namespace VXCluster {

class SummaryLayout {
 public:
  SummaryLayout(const ClusterVarList& vars, double varianceFloor);

  int Width() const { return fWidth; }

  // Writes the one-record summary of r into out (Width() doubles). OK, or the
  // error for a bad value (datum 1: the variable, datum 2: the value).
  VXStatus FromRecord(const Record& r, double* out) const;

  // into becomes the summary of the union of into and from.
  void Add(double* into, const double* from) const;

  // Maximised log-likelihood of the summary's values, less the terms that
  // depend only on the number of values (those cancel in every comparison
  // the model makes): -1/2 c log(variance + floor) per continuous variable,
  // sum n log(n / c) per categorical one.
  double LogLikelihood(const double* s) const;
  // The same for the union of a and b, without forming it.
  double LogLikelihoodOfUnion(const double* a, const double* b) const;
  // Log-likelihood lost by merging a and b, at least 0 up to rounding.
  double Distance(const double* a, const double* b) const {
    return LogLikelihood(a) + LogLikelihood(b) - LogLikelihoodOfUnion(a, b);
  }
  // Free parameters of one cluster: mean and variance per continuous
  // variable, n - 1 proportions per categorical one.
  int ParametersPerCluster() const { return fParameters; }

  ClusterStats ToStats(const double* s) const;

  // For quick bounds on distances and for the mixture fit: the slot offset
  // (count, mean, spread), the variance floor and its square root (bounded
  // by the largest double where the floor overflows) of each continuous
  // variable, in variable order.
  struct ContinuousColumn {
    int fOffset;
    double fFloor;
    double fFloorSd;
  };
  std::vector<ContinuousColumn> ContinuousColumns() const;
  // The first slot and the number of categories of each categorical
  // variable, in variable order.
  struct CategoricalColumn {
    int fOffset;
    int fNCategories;
  };
  std::vector<CategoricalColumn> CategoricalColumns() const;
  int NumVariables() const { return static_cast<int>(fVars.size()); }
  // Sum of the magnitudes of the terms LogLikelihood adds up: a scale for
  // the rounding error of log-likelihoods and distances built from them.
  double LogLikelihoodMagnitude(const double* s) const;

 private:
  struct Var {
    bool fContinuous;
    int fOffset;
    int fNCategories;
    double fFloor;    // variance floor; inf when it overflows
    double fFloorSd;  // its square root, bounded by the largest double
  };
  // log(variance + floor) of a continuous variable whose variance is
  // wa sa^2 + wb sb^2 + 4 wa wb h^2 (weights wa + wb = 1, h half the
  // difference of the means; wb = 0 for a single summary), for when the
  // plain sum overflows: every term is scaled by the largest first.
  static double ScaledLogVariance(const Var& v, double wa, double sa, double wb, double sb,
                                  double h);
  template <typename Count>
  static double CategoricalLogLikelihood(const Var& v, Count count);

  std::vector<Var> fVars;
  int fWidth = 1;
  int fParameters = 0;
};

}  // namespace VXCluster
