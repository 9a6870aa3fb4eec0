#include "vxneural/algorithm/MLPExpertReporter.h"

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

MLPExpertReporter::~MLPExpertReporter() = default;

int MLPExpertReporter::DiscreteMeasure(const std::string& key) {
  if (fAlgorithm == nullptr) return -1;
  if (key == "records") {
    const IOptimizationAlgorithm* optimizer = fAlgorithm->GetOptimizer();
    return optimizer != nullptr ? optimizer->GetNRecordsProcessed() : -1;
  }
  if (key == "dataPasses") return fAlgorithm->GetNumberOfDataPasses();
  if (key == "hiddenUnits") return fAlgorithm->GetNumberOfHiddenUnits();
  if (key == "weights") {
    const NNetwork* network = fAlgorithm->GetNetwork();
    return network != nullptr ? network->GetNumWeights() : -1;
  }
  if (key == "whyStop") return fAlgorithm->GetStopReason();
  return -1;
}

double MLPExpertReporter::ScaleMeasure(const std::string& key) {
  if (fAlgorithm == nullptr) return VXMV::gMissingValue;
  if (key == "elapsedTime") return fAlgorithm->GetElapsedTime();
  const IOptimizationAlgorithm* optimizer = fAlgorithm->GetOptimizer();
  if (optimizer == nullptr) return VXMV::gMissingValue;
  if (key == "gradNorm") return optimizer->GetLastGradientNorm();
  if (key == "trainError") return optimizer->GetTrainError();
  if (key == "testError") return optimizer->GetTestError();
  if (key == "relChangeError") return optimizer->GetRelChangeInErr();
  if (key == "errorRatio") return optimizer->GetErrorRatio();
  return VXMV::gMissingValue;
}
