#include "Summary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "vxcommon/VXMissing.h"

namespace VXCluster {

namespace {

double XLogX(double x) { return x > 0.0 ? x * std::log(x) : 0.0; }

}  // namespace

SummaryLayout::SummaryLayout(const ClusterVarList& vars, double varianceFloor) {
  for (int i = 0; i < vars.Size(); ++i) {
    const ClusterVar& v = vars.GetVar(i);
    Var s{v.IsContinuous(), fWidth, v.GetNumCategories(), v.GetLocation(),
          varianceFloor * v.GetScale() * v.GetScale()};
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
    // The missing value, NaN and (for categories) -1 all mean "no value".
    if (VXMV::IsMissing(x) || std::isnan(x)) continue;
    if (v.fContinuous) {
      if (std::isinf(x)) {
        VXStatus s(kClusterInfiniteValue, false);
        s.SetDiscreteDatum(1, i);
        return s;
      }
      const double d = x - v.fLocation;
      out[v.fOffset] = 1.0;
      out[v.fOffset + 1] = d;
      out[v.fOffset + 2] = d * d;
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

template <typename Get>
double SummaryLayout::LogLikelihoodOf(Get get) const {
  double ll = 0.0;
  for (const Var& v : fVars) {
    if (v.fContinuous) {
      const double c = get(v.fOffset);
      if (c <= 0.0) continue;
      const double mean = get(v.fOffset + 1) / c;
      const double var = std::max(0.0, get(v.fOffset + 2) / c - mean * mean);
      ll -= 0.5 * c * std::log(var + v.fFloor);
    } else {
      double c = 0.0;
      for (int k = 0; k < v.fNCategories; ++k) {
        const double n = get(v.fOffset + k);
        c += n;
        ll += XLogX(n);
      }
      ll -= XLogX(c);
    }
  }
  return ll;
}

double SummaryLayout::LogLikelihood(const double* s) const {
  return LogLikelihoodOf([s](int i) { return s[i]; });
}

double SummaryLayout::LogLikelihoodOfUnion(const double* a, const double* b) const {
  return LogLikelihoodOf([a, b](int i) { return a[i] + b[i]; });
}

ClusterStats SummaryLayout::ToStats(const double* s) const {
  std::vector<ClusterStats::VarSummary> out(fVars.size());
  for (std::size_t i = 0; i < fVars.size(); ++i) {
    const Var& v = fVars[i];
    ClusterStats::VarSummary& o = out[i];
    o.fContinuous = v.fContinuous;
    if (v.fContinuous) {
      o.fCount = s[v.fOffset];
      if (o.fCount > 0.0) {
        const double m = s[v.fOffset + 1] / o.fCount;
        o.fMean = v.fLocation + m;
        o.fVariance = std::max(0.0, s[v.fOffset + 2] / o.fCount - m * m);
      }
    } else {
      o.fCategoryCounts.resize(static_cast<std::size_t>(v.fNCategories));
      for (int k = 0; k < v.fNCategories; ++k) {
        o.fCategoryCounts[static_cast<std::size_t>(k)] = static_cast<int>(s[v.fOffset + k]);
        o.fCount += s[v.fOffset + k];
      }
    }
  }
  return ClusterStats(static_cast<int>(s[0]), std::move(out));
}

}  // namespace VXCluster
