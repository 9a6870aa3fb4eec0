#include "vxneural/algorithm/MLPFactory.h"

#include <algorithm>
#include <cstdint>
#include <istream>
#include <memory>
#include <vector>

#include "algorithm/AlgorithmCodes.h"
#include "persist/BinaryIO.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/variables/NNVarList.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::VXStatus;
namespace codes = VXNeural::codes;

MLPFactory::~MLPFactory() { ReleaseKept(); }

void MLPFactory::ReleaseKept() {
  delete fRestoredVarList;
  fRestoredVarList = nullptr;
  delete fRestoredSettings;
  fRestoredSettings = nullptr;
}

bool MLPFactory::SourcesGood(MultiPassRecordIter& train, MultiPassRecordIter* test) {
  if (!train.IsGood()) {
    fStatus = VXStatus(codes::kTrainSourceNotGood, false);
    return false;
  }
  if (test != nullptr && !test->IsGood()) {
    fStatus = VXStatus(codes::kTestSourceNotGood, false);
    return false;
  }
  return true;
}

void MLPFactory::CountTestRecords(MLPSettings& settings, MultiPassRecordIter* test) {
  if (test == nullptr || settings.GetNTestRecords() >= 1) return;
  int count = 0;
  while (test->IsGood() && test->Next() != nullptr) ++count;
  test->Rewind();
  settings.SetNTestRecords(count);
}

INeuralAlgorithm* MLPFactory::Hand(INeuralAlgorithm* algorithm) {
  fStatus = algorithm->GetStatus();
  if (!fStatus.IsError()) return algorithm;
  delete algorithm;
  return nullptr;
}

INeuralAlgorithm* MLPFactory::CreateNeuralAlgorithm(MLPSettings& settings,
                                                    MultiPassRecordIter& train,
                                                    MultiPassRecordIter* test) {
  fStatus = VXStatus();
  if (!SourcesGood(train, test)) return nullptr;
  if (settings.GetNTrainRecords() <= 0) {
    fStatus = VXStatus(codes::kNoTrainingRecords, false);
    return nullptr;
  }
  CountTestRecords(settings, test);
  settings.SetHasVarList(false);
  return Hand(new MLPAlgorithm(settings, train, test));
}

INeuralAlgorithm* MLPFactory::CreateNeuralAlgorithm(MLPSettings& settings, NNVarList& varList,
                                                    MultiPassRecordIter& train,
                                                    MultiPassRecordIter* test,
                                                    const std::valarray<double>* weights) {
  fStatus = VXStatus();
  if (!SourcesGood(train, test)) return nullptr;
  if (settings.GetNTrainRecords() <= 0) {
    fStatus = VXStatus(codes::kNoTrainingRecords, false);
    return nullptr;
  }
  std::vector<int> constantVars;
  std::vector<int> invalidVars;
  if (!varList.IsValidList(constantVars, invalidVars)) {
    fStatus = VXStatus(codes::kInvalidVarList, false);
    return nullptr;
  }
  if (settings.GetNumInputs() != varList.GetNumInputs()) {
    fStatus = VXStatus(codes::kInputCountDiffers, false);
    return nullptr;
  }
  if (varList.GetNOutputCats() != settings.GetNumOutCategories()) {
    fStatus = VXStatus(codes::kOutputCategoriesDiffer, false);
    return nullptr;
  }
  CountTestRecords(settings, test);
  settings.SetHasVarList(true);
  auto preparator = std::make_unique<NNDataPreparator>(varList, settings, &train, test);
  fStatus = preparator->Prepare(settings);
  if (fStatus.IsError()) return nullptr;
  if (weights != nullptr) return Hand(new MLPAlgorithm(settings, preparator.release(), *weights));
  return Hand(new MLPAlgorithm(settings, preparator.release()));
}

namespace {

// Weights of the network the settings describe, counted without overflow.
std::uint64_t ImpliedWeights(const MLPSettings& settings) {
  std::uint64_t total = 0;
  std::uint64_t lower = static_cast<std::uint64_t>(std::max(settings.GetNumInputs(), 0));
  for (int layer = 1; layer <= settings.GetNumHiddenLayers(); ++layer) {
    const std::uint64_t units =
        static_cast<std::uint64_t>(std::max(settings.GetNumHiddenUnits(layer), 0));
    total += (lower + 1) * units;
    lower = units;
  }
  return total + (lower + 1) * static_cast<std::uint64_t>(std::max(settings.GetNumOutUnits(), 0));
}

// A saved model holds every weight of its network after the settings, so
// settings whose network could not fit in what remains of the stream are
// damaged. Refusing them here keeps a corrupted size from sizing anything.
void CheckNetworkFits(const MLPSettings& settings, std::istream& in, bool xml) {
  const std::size_t perWeight = xml ? VXXML_1_2::kMinValueBytes : sizeof(double);
  if (ImpliedWeights(settings) > VXNeural::detail::StreamRemaining(in) / perWeight)
    VXNeural::detail::ThrowReadError("Error reading ", "MLPSettings");
}

}  // namespace

bool MLPFactory::ReadHead(std::istream& in, bool xml) {
  ReleaseKept();
  auto settings = std::make_unique<MLPSettings>();
  std::unique_ptr<NNVarList> varList;
  try {
    if (xml) {
      settings->ReadObjectXML(in);
    } else {
      settings->ReadObject(in);
    }
    CheckNetworkFits(*settings, in, xml);
    if (settings->GetHasVarList()) {
      varList = std::make_unique<NNVarList>();
      if (xml) {
        varList->ReadObjectXML(in);
      } else {
        varList->ReadObject(in);
      }
    }
  } catch (VXNeural::IOException* e) {
    delete e;
    fStatus = VXStatus(xml ? codes::kXMLRestoreFailed : codes::kBinaryRestoreFailed, false);
    return false;
  }
  fRestoredSettings = settings.release();
  fRestoredVarList = varList.release();
  return true;
}

INeuralAlgorithm* MLPFactory::RestoreBody(std::istream& in, bool xml, MultiPassRecordIter& train,
                                          MultiPassRecordIter* test) {
  const std::unique_ptr<MLPSettings> settings(fRestoredSettings);
  const std::unique_ptr<NNVarList> varList(fRestoredVarList);
  fRestoredSettings = nullptr;
  fRestoredVarList = nullptr;
  if (!settings->GetHasVarList()) {
    if (xml)
      return Hand(new MLPAlgorithm(MLPAlgorithm::XMLStream{}, in, *settings, nullptr, train, test));
    return Hand(new MLPAlgorithm(in, *settings, nullptr, train, test));
  }
  auto preparator = std::make_unique<NNDataPreparator>(*varList, *settings, &train, test);
  fStatus = preparator->Prepare(*settings);
  if (fStatus.IsError()) return nullptr;
  MultiPassRecordIter* encodedTrain = preparator->GetTrainData();
  MultiPassRecordIter* encodedTest = preparator->GetTestData();
  if (xml) {
    return Hand(new MLPAlgorithm(MLPAlgorithm::XMLStream{}, in, *settings, preparator.release(),
                                 *encodedTrain, encodedTest));
  }
  return Hand(new MLPAlgorithm(in, *settings, preparator.release(), *encodedTrain, encodedTest));
}

INeuralAlgorithm* MLPFactory::RestoreNeuralAlgorithmFromBinary(std::istream& in,
                                                               MultiPassRecordIter& train,
                                                               MultiPassRecordIter* test) {
  fStatus = VXStatus();
  if (!SourcesGood(train, test)) return nullptr;
  if (!in.good()) {
    fStatus = VXStatus(codes::kStreamNotGood, false);
    return nullptr;
  }
  if (!ReadHead(in, false)) return nullptr;
  return RestoreBody(in, false, train, test);
}

INeuralAlgorithm* MLPFactory::RestoreNeuralAlgorithmFromXML(std::istream& in,
                                                            MultiPassRecordIter& train,
                                                            MultiPassRecordIter* test) {
  fStatus = VXStatus();
  if (!in.good()) {
    fStatus = VXStatus(codes::kStreamNotGood, false);
    return nullptr;
  }
  // A document that does not begin as a saved model is not read further:
  // the answer is null with the status left as it was (OK), and no
  // settings are read from what may be another document altogether.
  if (!VXXML_1_2::ParseStartXML(in)) return nullptr;
  if (!ReadHead(in, true)) return nullptr;
  return RestoreBody(in, true, train, test);
}

const NNVarList* MLPFactory::RestoreNNVarListFromBinary(std::istream& in) {
  fStatus = VXStatus();
  if (!in.good()) {
    fStatus = VXStatus(codes::kStreamNotGood, false);
    return nullptr;
  }
  if (!ReadHead(in, false)) return nullptr;
  return fRestoredVarList;
}

const NNVarList* MLPFactory::RestoreNNVarListFromXML(std::istream& in) {
  fStatus = VXStatus();
  if (!in.good()) {
    fStatus = VXStatus(codes::kStreamNotGood, false);
    return nullptr;
  }
  if (!VXXML_1_2::ParseStartXML(in)) {
    // As in the one-step restore: null, the status left OK; what an
    // earlier first step kept is no longer wanted.
    ReleaseKept();
    return nullptr;
  }
  if (!ReadHead(in, true)) return nullptr;
  return fRestoredVarList;
}

INeuralAlgorithm* MLPFactory::FinishRestoringAlgorithmFromBinary(std::istream& in,
                                                                 MultiPassRecordIter& train,
                                                                 MultiPassRecordIter* test) {
  return FinishRestoring(in, false, train, test);
}

INeuralAlgorithm* MLPFactory::FinishRestoringAlgorithmFromXML(std::istream& in,
                                                              MultiPassRecordIter& train,
                                                              MultiPassRecordIter* test) {
  return FinishRestoring(in, true, train, test);
}

INeuralAlgorithm* MLPFactory::FinishRestoring(std::istream& in, bool xml,
                                              MultiPassRecordIter& train,
                                              MultiPassRecordIter* test) {
  fStatus = VXStatus();
  if (!SourcesGood(train, test)) return nullptr;
  if (!in.good()) {
    fStatus = VXStatus(codes::kStreamNotGood, false);
    return nullptr;
  }
  if (fRestoredSettings == nullptr ||
      (fRestoredSettings->GetHasVarList() && fRestoredVarList == nullptr)) {
    ReleaseKept();
    fStatus = VXStatus(codes::kRestoreNotStarted, false);
    return nullptr;
  }
  return RestoreBody(in, xml, train, test);
}
