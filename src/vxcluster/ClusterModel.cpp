#include "vxcluster/ClusterModel.h"

#include "vxcommon/VXMissing.h"

using VXCommon_1_2::VXStatus;

// First cut: the interface only; every clustering call is refused until the
// summary tree lands.
class ClusterModel::Impl {
 public:
  VXStatus fStatus;
  std::vector<ClusterStats*> fResults;
};

ClusterModel::ClusterModel(ClusterSettings settings, ClusterVarList& vars)
    : fImpl(std::make_unique<Impl>()) {
  if (!vars.IsValid())
    fImpl->fStatus = VXStatus(VXCluster::kClusterInvalidVarList, false);
  else
    fImpl->fStatus = settings.Check();
}
ClusterModel::~ClusterModel() = default;
VXStatus ClusterModel::GetStatus() const { return fImpl->fStatus; }
VXStatus ClusterModel::PreCluster(VXCluster::RecordIterator&) {
  return fImpl->fStatus.IsError() ? fImpl->fStatus
                                  : VXStatus(VXCluster::kClusterEmptySource, false);
}
VXStatus ClusterModel::Cluster(int) { return VXStatus(VXCluster::kClusterNotPreClustered, false); }
VXStatus ClusterModel::AutoCluster(int, int) {
  return VXStatus(VXCluster::kClusterNotPreClustered, false);
}
int ClusterModel::GetNumOfClusters() const { return 0; }
ClusterModel::ResultIterator ClusterModel::BeginResultClusters() const {
  return fImpl->fResults.begin();
}
ClusterModel::ResultIterator ClusterModel::EndResultClusters() const {
  return fImpl->fResults.end();
}
long long ClusterModel::GetNumRecords() const { return 0; }
int ClusterModel::GetNumLeafEntries() const { return 0; }
int ClusterModel::GetNumRebuilds() const { return 0; }
double ClusterModel::GetThreshold() const { return 0.0; }
double ClusterModel::GetBIC() const { return VXMV::gMissingValue; }
