#include "vxneural/algorithm/RBFExpertReporter.h"

#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/RBFAlgorithm.h"
#include "vxneural/network/NNetwork.h"

RBFExpertReporter::~RBFExpertReporter() = default;

int RBFExpertReporter::DiscreteMeasure(const std::string& key) {
  if (fAlgorithm == nullptr) return -1;
  if (key == "hiddenUnits") return fAlgorithm->GetNumberOfHiddenUnits();
  if (key == "records") return fAlgorithm->GetNumberOfRecords();
  if (key == "weights") {
    const NNetwork* network = fAlgorithm->GetNetwork();
    return network != nullptr ? network->GetNumWeights() : -1;
  }
  return -1;
}

double RBFExpertReporter::ScaleMeasure(const std::string& key) {
  if (fAlgorithm == nullptr) return VXMV::gMissingValue;
  if (key == "trainError") return fAlgorithm->GetTrainingError();
  if (key == "testError") return fAlgorithm->GetTestingError();
  if (key == "bic") return fAlgorithm->GetTrainingBIC();
  if (key == "elapsedTime") return fAlgorithm->GetElapsedTime();
  return VXMV::gMissingValue;
}
