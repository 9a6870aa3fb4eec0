#include "vxcluster/ClusterVarList.h"

#include <algorithm>
#include <cmath>

using VXCommon_1_2::VXStatus;

ClusterVarList::ClusterVarList(int expectedSize) {
  if (expectedSize > 0) fVars.reserve(static_cast<std::size_t>(expectedSize));
}

VXStatus ClusterVarList::Refuse() {
  VXStatus s(VXCluster::kClusterInvalidVarList, false);
  s.SetDiscreteDatum(1, Size());
  if (fStatus.IsOK()) fStatus = s;
  return s;
}

VXStatus ClusterVarList::AddContVar(double location, double scale) {
  if (!std::isfinite(location) || !std::isfinite(scale) || scale <= 0.0) return Refuse();
  ClusterVar v;
  v.fMeasureLevel = ClusterVar::kContinuous;
  v.fLocation = location;
  v.fScale = scale;
  fVars.push_back(v);
  return VXStatus();
}

VXStatus ClusterVarList::AddCatVar(int nCategories, ClusterVar::MeasureLevel level) {
  if (nCategories < 1 ||
      (level != ClusterVar::kNumericCategorical && level != ClusterVar::kStringCategorical))
    return Refuse();
  ClusterVar v;
  v.fMeasureLevel = level;
  v.fNCategories = nCategories;
  fVars.push_back(v);
  return VXStatus();
}

int ClusterVarList::GetNumContVars() const {
  return static_cast<int>(std::count_if(fVars.begin(), fVars.end(),
                                        [](const ClusterVar& v) { return v.IsContinuous(); }));
}
