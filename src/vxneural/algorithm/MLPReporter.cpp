#include "vxneural/algorithm/MLPReporter.h"

#include "vxcommon/VXMissing.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

MLPReporter::~MLPReporter() = default;

int MLPReporter::DiscreteMeasure(const std::string& key) {
  if (fOptimizer == nullptr) return -1;
  if (key == "records") return fOptimizer->GetNRecordsProcessed();
  if (key == "dataPasses") return fOptimizer->GetNDataPasses();
  return -1;
}

double MLPReporter::ScaleMeasure(const std::string& key) {
  if (fOptimizer == nullptr) return VXMV::gMissingValue;
  if (key == "gradNorm") return fOptimizer->GetLastGradientNorm();
  if (key == "trainError") return fOptimizer->GetTrainError();
  if (key == "testError") return fOptimizer->GetTestError();
  if (key == "relChangeError") return fOptimizer->GetRelChangeInErr();
  if (key == "errorRatio") return fOptimizer->GetErrorRatio();
  if (key == "elapsedTime") return fOptimizer->GetElapsedTime();
  if (key == "accuracy") {
    // A value not yet known reaches the host as the missing value, like
    // every other measure; scaling it would turn it into minus infinity,
    // which a host testing for the missing value would take for a number.
    const double accuracy = fOptimizer->GetAccuracy();
    return VXMV::IsMissing(accuracy) ? VXMV::gMissingValue : accuracy * 100.0;
  }
  return VXMV::gMissingValue;
}
