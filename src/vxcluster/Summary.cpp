#include "Summary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "vxcommon/VXMissing.h"

namespace VXCluster {

namespace {

constexpr double kHuge = std::numeric_limits<double>::max();

double XLogX(double x) { return x > 0.0 ? x * std::log(x) : 0.0; }

// Counts are reported as int; beyond its range they saturate.
int AsCount(double n) {
  return static_cast<int>(std::min(n, static_cast<double>(std::numeric_limits<int>::max())));
}

}  // namespace

SummaryLayout::SummaryLayout(const ClusterVarList& vars, double varianceFloor) {
  for (int i = 0; i < vars.Size(); ++i) {
    const ClusterVar& v = vars.GetVar(i);
    // The floor is a fraction of the scale squared; for a scale beyond about
    // 1e154 only its square root is a number, and ScaledLogVariance uses it.
    // That root overflows too for a fraction above 1 at the largest scales:
    // bounded, it keeps log-likelihoods numbers (an infinite one made every
    // distance NaN, which nothing short of an infinite threshold absorbs).
    Var s{v.IsContinuous(), fWidth, v.GetNumCategories(),
          varianceFloor * v.GetScale() * v.GetScale(),
          std::min(std::sqrt(varianceFloor) * v.GetScale(), kHuge)};
    fWidth += s.fContinuous ? 3 : s.fNCategories;
    fParameters += s.fContinuous ? 2 : s.fNCategories - 1;
    fVars.push_back(s);
  }
}

VXStatus SummaryLayout::FromRecord(const Record& r, double* out) const {
  for (int i = 0; i < fWidth; ++i) out[i] = 0.0;
  out[0] = 1.0;
  for (int i = 0; i < static_cast<int>(fVars.size()); ++i) {
    const Var& v = fVars[static_cast<std::size_t>(i)];
    const double x = r[i];
    // The missing value, NaN and (for categories) -1 all mean "no value":
    // the record still counts for the cluster and its other variables, but
    // adds nothing to this variable's count, mean or spread. The missing
    // value is the lowest double; taken as a value it would drag a cluster's
    // mean to about -1.8e308 / count (and a centre placed there), and a
    // caller such as the RBF driver hands it over unchanged for an absent
    // encoded input.
    if (VXMV::IsMissing(x) || std::isnan(x)) continue;
    if (v.fContinuous) {
      if (std::isinf(x)) {
        VXStatus s(kClusterInfiniteValue, false);
        s.SetDiscreteDatum(1, i);
        return s;
      }
      out[v.fOffset] = 1.0;
      out[v.fOffset + 1] = x;
      continue;
    }
    if (x == -1.0) continue;
    if (!(x >= 1.0 && x <= v.fNCategories && x == std::floor(x))) {
      VXStatus s(kClusterCategoryOutOfRange, false);
      s.SetDiscreteDatum(1, i);
      const double lim = std::numeric_limits<int>::max();
      s.SetDiscreteDatum(2, static_cast<int>(x > lim ? lim : x < -lim ? -lim : x));
      return s;
    }
    out[v.fOffset + static_cast<int>(x) - 1] = 1.0;
  }
  return VXStatus();
}

void SummaryLayout::Add(double* into, const double* from) const {
  into[0] += from[0];
  for (const Var& v : fVars) {
    double* a = into + v.fOffset;
    const double* b = from + v.fOffset;
    if (!v.fContinuous) {
      for (int k = 0; k < v.fNCategories; ++k) a[k] += b[k];
      continue;
    }
    if (b[0] <= 0.0) continue;
    if (a[0] <= 0.0) {
      std::copy(b, b + 3, a);
      continue;
    }
    const double n = a[0] + b[0];
    const double wa = a[0] / n, wb = b[0] / n;
    const double delta = b[1] - a[1];
    // Means of opposite signs near the largest double differ by more than
    // it; their weighted average is then formed directly.
    const double mean = std::isinf(delta) ? wa * a[1] + wb * b[1] : a[1] + delta * wb;
    double var = wa * a[2] * a[2] + wb * b[2] * b[2] + wa * wb * delta * delta;
    double sd;
    if (var < kHuge) {
      sd = std::sqrt(var);
    } else {
      // Scaled by the largest term so that no square overflows. The spread
      // of the union is at most half its range, so only rounding can take
      // it past the largest double.
      const double h = 0.5 * b[1] - 0.5 * a[1];
      const double s = std::max({a[2], b[2], std::abs(h)});
      const double ra = a[2] / s, rb = b[2] / s, rh = h / s;
      sd = std::min(s * std::sqrt(wa * ra * ra + wb * rb * rb + 4.0 * wa * wb * rh * rh), kHuge);
    }
    a[0] = n;
    a[1] = mean;
    a[2] = sd;
  }
}

double SummaryLayout::ScaledLogVariance(const Var& v, double wa, double sa, double wb, double sb,
                                        double h) {
  const double s = std::max({sa, sb, std::abs(h), v.fFloorSd});
  const double ra = sa / s, rb = sb / s, rh = h / s, rf = v.fFloorSd / s;
  return 2.0 * std::log(s) +
         std::log(wa * ra * ra + wb * rb * rb + 4.0 * wa * wb * rh * rh + rf * rf);
}

template <typename Count>
double SummaryLayout::CategoricalLogLikelihood(const Var& v, Count count) {
  double ll = 0.0, c = 0.0;
  for (int k = 0; k < v.fNCategories; ++k) {
    const double n = count(v.fOffset + k);
    c += n;
    ll += XLogX(n);
  }
  return ll - XLogX(c);
}

double SummaryLayout::LogLikelihood(const double* s) const {
  double ll = 0.0;
  for (const Var& v : fVars) {
    if (!v.fContinuous) {
      ll += CategoricalLogLikelihood(v, [s](int i) { return s[i]; });
      continue;
    }
    const double* a = s + v.fOffset;
    if (a[0] <= 0.0) continue;
    const double sum = a[2] * a[2] + v.fFloor;
    ll -=
        0.5 * a[0] * (sum < kHuge ? std::log(sum) : ScaledLogVariance(v, 1.0, a[2], 0.0, 0.0, 0.0));
  }
  return ll;
}

double SummaryLayout::LogLikelihoodOfUnion(const double* sa, const double* sb) const {
  double ll = 0.0;
  for (const Var& v : fVars) {
    if (!v.fContinuous) {
      ll += CategoricalLogLikelihood(v, [sa, sb](int i) { return sa[i] + sb[i]; });
      continue;
    }
    const double* a = sa + v.fOffset;
    const double* b = sb + v.fOffset;
    const double n = a[0] + b[0];
    if (n <= 0.0) continue;
    // A side without values adds nothing: its weight, mean and spread are
    // zeros (and the weights multiply first, so a zero weight stays zero).
    const double inverse = 1.0 / n;
    const double wa = a[0] * inverse, wb = b[0] * inverse;
    const double d = b[1] - a[1];
    const double sum = wa * a[2] * a[2] + wb * b[2] * b[2] + wa * wb * d * d + v.fFloor;
    if (sum < kHuge) {
      ll -= 0.5 * n * std::log(sum);
    } else {
      const double h = wa > 0.0 && wb > 0.0 ? 0.5 * b[1] - 0.5 * a[1] : 0.0;
      ll -= 0.5 * n * ScaledLogVariance(v, wa, a[2], wb, b[2], h);
    }
  }
  return ll;
}

std::vector<SummaryLayout::ContinuousColumn> SummaryLayout::ContinuousColumns() const {
  std::vector<ContinuousColumn> out;
  for (const Var& v : fVars)
    if (v.fContinuous) out.push_back({v.fOffset, v.fFloor, v.fFloorSd});
  return out;
}

std::vector<SummaryLayout::CategoricalColumn> SummaryLayout::CategoricalColumns() const {
  std::vector<CategoricalColumn> out;
  for (const Var& v : fVars)
    if (!v.fContinuous) out.push_back({v.fOffset, v.fNCategories});
  return out;
}

double SummaryLayout::LogLikelihoodMagnitude(const double* s) const {
  double m = 0.0;
  for (const Var& v : fVars) {
    if (!v.fContinuous) {
      m += CategoricalLogLikelihood(v, [s](int i) { return s[i]; });
      double c = 0.0;
      for (int k = 0; k < v.fNCategories; ++k) c += s[v.fOffset + k];
      m += 2.0 * XLogX(c);
      continue;
    }
    const double* a = s + v.fOffset;
    if (a[0] > 0.0) m += 0.5 * a[0] * std::abs(std::log(a[2] * a[2] + v.fFloor));
  }
  return m;
}

ClusterStats SummaryLayout::ToStats(const double* s) const {
  std::vector<ClusterStats::VarSummary> out(fVars.size());
  std::vector<double> sds(fVars.size(), 0.0);
  for (std::size_t i = 0; i < fVars.size(); ++i) {
    const Var& v = fVars[i];
    ClusterStats::VarSummary& o = out[i];
    o.fContinuous = v.fContinuous;
    if (v.fContinuous) {
      o.fCount = s[v.fOffset];
      if (o.fCount > 0.0) {
        o.fMean = s[v.fOffset + 1];
        sds[i] = s[v.fOffset + 2];
        // A spread beyond about 1e154 has no double variance; it reads as
        // the largest one, its standard deviation staying exact.
        o.fVariance = std::min(sds[i] * sds[i], kHuge);
      }
    } else {
      o.fCategoryCounts.resize(static_cast<std::size_t>(v.fNCategories));
      for (int k = 0; k < v.fNCategories; ++k) {
        o.fCategoryCounts[static_cast<std::size_t>(k)] = AsCount(s[v.fOffset + k]);
        o.fCount += s[v.fOffset + k];
      }
    }
  }
  return ClusterStats(AsCount(s[0]), std::move(out), std::move(sds));
}

}  // namespace VXCluster
