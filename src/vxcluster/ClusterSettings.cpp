#include "vxcluster/ClusterSettings.h"

#include <cmath>

using VXCommon_1_2::VXStatus;

VXStatus ClusterSettings::Check() const {
  // The smallest useful summary: a root leaf of four entries and its rebuild
  // buffer, each entry a handful of doubles.
  const bool ok[] = {fMemoryBudget >= 1024,
                     fMaxLeafEntries >= 2,
                     fBranchingFactor >= 2 && fBranchingFactor <= 64,
                     std::isfinite(fInitialThreshold) && fInitialThreshold >= 0.0,
                     std::isfinite(fVarianceFloor) && fVarianceFloor > 0.0,
                     std::isfinite(fDistanceRatio) && fDistanceRatio >= 1.0,
                     fThreads >= 1 && fThreads <= kMaxThreads};
  for (int i = 0; i < static_cast<int>(sizeof ok / sizeof ok[0]); ++i) {
    if (ok[i]) continue;
    VXStatus s(VXCluster::kClusterInvalidSettings, false);
    s.SetDiscreteDatum(1, i);
    return s;
  }
  return VXStatus();
}
