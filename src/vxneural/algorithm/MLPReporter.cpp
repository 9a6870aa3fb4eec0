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
  // A percentage of whatever the optimizer holds: an accuracy not yet
  // measured (the missing value) scales to minus infinity, which no
  // percentage can be mistaken for.
  if (key == "accuracy") return fOptimizer->GetAccuracy() * 100.0;
  return VXMV::gMissingValue;
}
