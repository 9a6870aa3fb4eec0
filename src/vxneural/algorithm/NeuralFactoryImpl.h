// The definitions of NeuralFactory, included by the one source file of each
// factory, which instantiates it for its settings and algorithm. Each
// instantiation needs, found by argument-dependent lookup:
//   std::uint64_t StoredWeightsAtLeast(const Settings&) - a lower bound on
//     the weights a saved network of these settings holds;
//   const char* SettingsClassName(const Settings&) - for read failures.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <vector>

#include "algorithm/AlgorithmCodes.h"
#include "data/SourceCheck.h"
#include "persist/BinaryIO.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/NeuralFactory.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/variables/NNVarList.h"
#include "vxneural/variables/VXVarAdapter.h"

template <class Settings, class Algorithm>
NeuralFactory<Settings, Algorithm>::~NeuralFactory() {
  ReleaseKept();
}

template <class Settings, class Algorithm>
void NeuralFactory<Settings, Algorithm>::ReleaseKept() {
  delete fRestoredVarList;
  fRestoredVarList = nullptr;
  delete fRestoredSettings;
  fRestoredSettings = nullptr;
}

namespace VXNeural {
namespace detail {

// A process of a data-parallel run may hold none of a set's records: its
// share is empty when the set has fewer blocks than there are processes.
// Refusing it here would stop that process alone while the others wait for
// it at the training's first exchange; whether the whole set is empty is
// settled there, where every process learns the others' counts and all
// refuse alike. A source that failed is refused all the same.
inline bool SourceUsable(VXCommon_1_2::MultiPassRecordIter& source) {
  if (source.IsGood()) return true;
  return GetPassCombiner() != nullptr &&
         source.GetStatus() == VXCommon_1_2::RecordIterator::kEndOfData;
}

}  // namespace detail
}  // namespace VXNeural

template <class Settings, class Algorithm>
bool NeuralFactory<Settings, Algorithm>::SourcesGood(VXCommon_1_2::MultiPassRecordIter& train,
                                                     VXCommon_1_2::MultiPassRecordIter* test) {
  if (!VXNeural::detail::SourceUsable(train)) {
    fStatus = VXCommon_1_2::VXStatus(VXNeural::codes::kTrainSourceNotGood, false);
    return false;
  }
  if (test != nullptr && !VXNeural::detail::SourceUsable(*test)) {
    fStatus = VXCommon_1_2::VXStatus(VXNeural::codes::kTestSourceNotGood, false);
    return false;
  }
  return true;
}

template <class Settings, class Algorithm>
bool NeuralFactory<Settings, Algorithm>::StreamGood(std::istream& in) {
  if (in.good()) return true;
  fStatus = VXCommon_1_2::VXStatus(VXNeural::codes::kStreamNotGood, false);
  return false;
}

template <class Settings, class Algorithm>
bool NeuralFactory<Settings, Algorithm>::CountTestRecords(Settings& settings,
                                                          VXCommon_1_2::MultiPassRecordIter* test) {
  if (test == nullptr || settings.GetNTestRecords() >= 1) return true;
  int count = 0;
  if (!VXNeural::detail::CountRecords(*test, count)) {
    fStatus = VXCommon_1_2::VXStatus(VXNeural::codes::kTestSourceNotGood, false);
    return false;
  }
  settings.SetNTestRecords(count);
  return true;
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::Hand(INeuralAlgorithm* algorithm) {
  fStatus = algorithm->GetStatus();
  if (!fStatus.IsError()) return algorithm;
  delete algorithm;
  return nullptr;
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::CreateNeuralAlgorithm(
    Settings& settings, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  fStatus = VXCommon_1_2::VXStatus();
  if (!SourcesGood(train, test)) return nullptr;
  if (settings.GetNTrainRecords() <= 0) {
    fStatus = VXCommon_1_2::VXStatus(VXNeural::codes::kNoTrainingRecords, false);
    return nullptr;
  }
  if (!CountTestRecords(settings, test)) return nullptr;
  settings.SetHasVarList(false);
  return Hand(new Algorithm(settings, train, test));
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::CreateNeuralAlgorithm(
    Settings& settings, NNVarList& varList, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test, const std::valarray<double>* weights) {
  using VXCommon_1_2::VXStatus;
  namespace codes = VXNeural::codes;
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
  if (!CountTestRecords(settings, test)) return nullptr;
  settings.SetHasVarList(true);
  auto preparator = std::make_unique<NNDataPreparator>(varList, settings, &train, test);
  fStatus = preparator->Prepare(settings);
  if (fStatus.IsError()) return nullptr;
  if (weights != nullptr) return Hand(new Algorithm(settings, preparator.release(), *weights));
  return Hand(new Algorithm(settings, preparator.release()));
}

// The correction the host-list form applies to continuous statistics: the
// settings' own for an MLP, none for an RBF network.
inline double HostListCorrection(const NeuralSettings&) { return 0.0; }
inline double HostListCorrection(const MLPSettings& settings) { return settings.GetCorrection(); }

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::CreateNeuralAlgorithm(
    Settings& settings, const VXCommon_1_2::VXVarList& hostList,
    VXCommon_1_2::MultiPassRecordIter& train, VXCommon_1_2::MultiPassRecordIter* test,
    const std::valarray<double>* weights) {
  bool converted = false;
  NNVarList list = ConvertedHostVarList(hostList, HostListCorrection(settings), &converted);
  if (!converted) return nullptr;
  return CreateNeuralAlgorithm(settings, list, train, test, weights);
}

template <class Settings, class Algorithm>
bool NeuralFactory<Settings, Algorithm>::ReadHead(std::istream& in, bool xml) {
  ReleaseKept();
  const int failure =
      xml ? VXNeural::codes::kXMLRestoreFailed : VXNeural::codes::kBinaryRestoreFailed;
  // A document that does not begin as a saved model is not read further:
  // the answer is null with the status left as it was (OK), and no
  // settings are read from what may be another document altogether; what
  // an earlier first step kept is no longer wanted either.
  if (xml && !VXXML_1_2::ParseStartXML(in)) return false;
  auto settings = std::make_unique<Settings>();
  std::unique_ptr<NNVarList> varList;
  try {
    if (xml) {
      settings->ReadObjectXML(in);
    } else {
      settings->ReadObject(in);
    }
    // A saved model holds every weight of its network after the settings,
    // so settings whose network could not fit in what remains of the stream
    // are damaged. Refusing them here keeps a corrupted size from sizing
    // anything.
    const std::size_t perWeight = xml ? VXXML_1_2::kMinValueBytes : sizeof(double);
    if (StoredWeightsAtLeast(*settings) > VXNeural::detail::StreamRemaining(in) / perWeight) {
      VXNeural::detail::ThrowReadError("Error reading ", SettingsClassName(*settings));
    }
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
    fStatus = VXCommon_1_2::VXStatus(failure, false);
    return false;
  }
  fRestoredSettings = settings.release();
  fRestoredVarList = varList.release();
  return true;
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::RestoreBody(
    std::istream& in, bool xml, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  const std::unique_ptr<Settings> settings(fRestoredSettings);
  const std::unique_ptr<NNVarList> varList(fRestoredVarList);
  fRestoredSettings = nullptr;
  fRestoredVarList = nullptr;
  if (!settings->GetHasVarList()) {
    if (xml)
      return Hand(
          new Algorithm(typename Algorithm::XMLStream{}, in, *settings, nullptr, train, test));
    return Hand(new Algorithm(in, *settings, nullptr, train, test));
  }
  auto preparator = std::make_unique<NNDataPreparator>(*varList, *settings, &train, test);
  fStatus = preparator->Prepare(*settings);
  if (fStatus.IsError()) return nullptr;
  VXCommon_1_2::MultiPassRecordIter* encodedTrain = preparator->GetTrainData();
  VXCommon_1_2::MultiPassRecordIter* encodedTest = preparator->GetTestData();
  if (xml) {
    return Hand(new Algorithm(typename Algorithm::XMLStream{}, in, *settings, preparator.release(),
                              *encodedTrain, encodedTest));
  }
  return Hand(new Algorithm(in, *settings, preparator.release(), *encodedTrain, encodedTest));
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::RestoreInOneStep(
    std::istream& in, bool xml, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  fStatus = VXCommon_1_2::VXStatus();
  // The XML form leaves the sources to the algorithm's own checks.
  if (!xml && !SourcesGood(train, test)) return nullptr;
  if (!StreamGood(in) || !ReadHead(in, xml)) return nullptr;
  return RestoreBody(in, xml, train, test);
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::RestoreNeuralAlgorithmFromBinary(
    std::istream& in, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  return RestoreInOneStep(in, false, train, test);
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::RestoreNeuralAlgorithmFromXML(
    std::istream& in, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  return RestoreInOneStep(in, true, train, test);
}

template <class Settings, class Algorithm>
const NNVarList* NeuralFactory<Settings, Algorithm>::StartRestoring(std::istream& in, bool xml) {
  fStatus = VXCommon_1_2::VXStatus();
  if (!StreamGood(in) || !ReadHead(in, xml)) return nullptr;
  return fRestoredVarList;
}

template <class Settings, class Algorithm>
const NNVarList* NeuralFactory<Settings, Algorithm>::RestoreNNVarListFromBinary(std::istream& in) {
  return StartRestoring(in, false);
}

template <class Settings, class Algorithm>
const NNVarList* NeuralFactory<Settings, Algorithm>::RestoreNNVarListFromXML(std::istream& in) {
  return StartRestoring(in, true);
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::FinishRestoringAlgorithmFromBinary(
    std::istream& in, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  return FinishRestoring(in, false, train, test);
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::FinishRestoringAlgorithmFromXML(
    std::istream& in, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  return FinishRestoring(in, true, train, test);
}

template <class Settings, class Algorithm>
INeuralAlgorithm* NeuralFactory<Settings, Algorithm>::FinishRestoring(
    std::istream& in, bool xml, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test) {
  fStatus = VXCommon_1_2::VXStatus();
  if (!SourcesGood(train, test) || !StreamGood(in)) return nullptr;
  if (fRestoredSettings == nullptr ||
      (fRestoredSettings->GetHasVarList() && fRestoredVarList == nullptr)) {
    ReleaseKept();
    fStatus = VXCommon_1_2::VXStatus(VXNeural::codes::kRestoreNotStarted, false);
    return nullptr;
  }
  return RestoreBody(in, xml, train, test);
}
