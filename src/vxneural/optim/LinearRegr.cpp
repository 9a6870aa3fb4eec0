#include "vxneural/optim/LinearRegr.h"

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"

namespace {
constexpr const char* kClassName = "LinearRegr";
}

LinearRegr::LinearRegr(MLPSettings* settings, NNetwork* network)
    : IOptimizationAlgorithm(settings ? settings->GetCancelPointer() : nullptr),
      fSolver(kClassName, VXNeural::LinearOutputSolver::kNetworkInputs, settings, network) {}

LinearRegr::~LinearRegr() = default;

double LinearRegr::GetTestError() const { return VXMV::gMissingValue; }

VXCommon_1_2::VXStatus LinearRegr::Train(VXCommon_1_2::VXStatus& status,
                                         VXCommon_1_2::MultiPassRecordIter& train,
                                         VXCommon_1_2::MultiPassRecordIter*, int nTrain, int) {
  status = fSolver.TrainPass(train, nTrain, false);
  return status;
}

VXCommon_1_2::VXStatus LinearRegr::Update(VXCommon_1_2::VXStatus& status,
                                          VXCommon_1_2::MultiPassRecordIter&,
                                          VXCommon_1_2::MultiPassRecordIter& newRecords, int nNew,
                                          bool& changed) {
  status = fSolver.Update(newRecords, nNew, changed);
  return status;
}
