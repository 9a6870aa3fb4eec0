#include "vxcluster/ClusterStats.h"

#include <cmath>

#include "vxcommon/VXMissing.h"

const ClusterStats::VarSummary* ClusterStats::Var(int v) const {
  if (v < 0 || v >= GetNumVars()) return nullptr;
  return &fVars[static_cast<std::size_t>(v)];
}

double ClusterStats::GetMeanOfContVar(int v) const {
  const VarSummary* s = Var(v);
  return s && s->fContinuous && s->fCount > 0.0 ? s->fMean : VXMV::gMissingValue;
}

double ClusterStats::GetVarianceOfContVar(int v) const {
  const VarSummary* s = Var(v);
  return s && s->fContinuous && s->fCount > 0.0 ? s->fVariance : VXMV::gMissingValue;
}

double ClusterStats::GetStdDevOfContVar(int v) const {
  const VarSummary* s = Var(v);
  if (!s || !s->fContinuous || s->fCount <= 0.0) return VXMV::gMissingValue;
  const std::size_t i = static_cast<std::size_t>(v);
  return i < fStdDevs.size() ? fStdDevs[i] : std::sqrt(s->fVariance);
}

const std::vector<int>& ClusterStats::GetCountsOfCatVar(int v) const {
  static const std::vector<int> kNone;
  const VarSummary* s = Var(v);
  return s && !s->fContinuous ? s->fCategoryCounts : kNone;
}

double ClusterStats::GetValidCount(int v) const {
  const VarSummary* s = Var(v);
  return s ? s->fCount : 0.0;
}
