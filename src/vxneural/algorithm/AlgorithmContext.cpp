#include "algorithm/AlgorithmContext.h"

#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/NeuralAlgorithmBase.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/NNetwork.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXApplicInfo4XML;
using VXCommon_1_2::VXStatus;
namespace codes = VXNeural::codes;

AlgorithmContext::~AlgorithmContext() = default;

VXStatus AlgorithmContext::Refusal() const { return VXStatus(codes::kNotAvailable, true); }
VXStatus AlgorithmContext::SaveRefusal() const { return VXStatus(codes::kCannotSave, true); }
VXStatus AlgorithmContext::Refuse() { return fAlgorithm->Store(Refusal()); }
VXStatus AlgorithmContext::RefuseSave() { return fAlgorithm->Store(SaveRefusal()); }
VXStatus AlgorithmContext::Unavailable() {
  return fAlgorithm->Store(VXStatus(codes::kNotAvailable, true));
}

VXStatus AlgorithmContext::RunTraining(bool initialRun, int nTrain, int nTest) {
  return fAlgorithm->RunTraining(initialRun, nTrain, nTest);
}
VXStatus AlgorithmContext::RunUpdate(MultiPassRecordIter& records, int n) {
  return fAlgorithm->RunUpdate(records, n);
}
double AlgorithmContext::RunErrorPass(RecordIterator& records, int n, bool computeAccuracy) {
  return fAlgorithm->RunErrorPass(records, n, computeAccuracy);
}
VXStatus AlgorithmContext::RunOutputStats(MultiPassRecordIter& records, int n,
                                          NNOutputStatistics& stats) {
  return fAlgorithm->RunOutputStats(records, n, stats);
}
VXStatus AlgorithmContext::RunSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                          bool useGivenRanges, const std::vector<double>& mins,
                                          const std::vector<double>& maxs,
                                          std::vector<double>& importance) {
  return fAlgorithm->RunSensitivity(nInputVars, nInputCats, useGivenRanges, mins, maxs, importance);
}
VXStatus AlgorithmContext::RunSearch() { return fAlgorithm->RunArchitectureSearch(); }
VXStatus AlgorithmContext::DoSave(std::ostream& out) { return fAlgorithm->DoSave(out); }
VXStatus AlgorithmContext::DoSaveXML(std::ostream& out) { return fAlgorithm->DoSaveXML(out); }
NNStructImp* AlgorithmContext::BuildStructure() {
  if (fAlgorithm->fNetwork == nullptr || !fAlgorithm->fDataPreparator) {
    Unavailable();
    return nullptr;
  }
  return fAlgorithm->fNetwork->CreateStructure(
      std::as_const(*fAlgorithm->fDataPreparator).GetVarList());
}

VXStatus AlgorithmContext::DoExport(std::ostream& out, const VXApplicInfo4XML* info,
                                    bool statistics) {
  return fAlgorithm->DoExport(out, info, statistics);
}

VXStatus AlgorithmContext::Train(int, int) { return Refuse(); }
VXStatus AlgorithmContext::Update(MultiPassRecordIter&, int) { return Refuse(); }
double AlgorithmContext::GetErrorOnData(RecordIterator&, int) {
  Refuse();
  return VXMV::gMissingValue;
}
VXStatus AlgorithmContext::ComputeSensitivity(int, const std::vector<int>&, bool,
                                              const std::vector<double>&,
                                              const std::vector<double>&, std::vector<double>&) {
  return Refuse();
}
VXStatus AlgorithmContext::ComputeOutputStats(MultiPassRecordIter&, int, NNOutputStatistics&) {
  return Refuse();
}
VXStatus AlgorithmContext::ExportModelXML(std::ostream&, int, const VXApplicInfo4XML*) {
  return Refuse();
}
VXStatus AlgorithmContext::ExportModelStatXML(std::ostream&, int, const VXApplicInfo4XML*) {
  return Refuse();
}
NNStructImp* AlgorithmContext::GetStructure() {
  Unavailable();
  return nullptr;
}
VXStatus AlgorithmContext::SaveState(std::ostream&) { return RefuseSave(); }
VXStatus AlgorithmContext::SaveStateXML(std::ostream&) { return RefuseSave(); }
VXStatus AlgorithmContext::SelectArchitecture() { return Refuse(); }

VXStatus InitContext::Train(int nTrain, int nTest) { return RunTraining(true, nTrain, nTest); }
double InitContext::GetErrorOnData(RecordIterator& records, int n) {
  return RunErrorPass(records, n, true);
}
VXStatus InitContext::ComputeOutputStats(MultiPassRecordIter& records, int n,
                                         NNOutputStatistics& stats) {
  return RunOutputStats(records, n, stats);
}
VXStatus InitContext::SaveState(std::ostream& out) { return DoSave(out); }
VXStatus InitContext::SaveStateXML(std::ostream& out) { return DoSaveXML(out); }
VXStatus InitContext::SelectArchitecture() { return RunSearch(); }

VXStatus TrainedContext::Train(int nTrain, int nTest) { return RunTraining(false, nTrain, nTest); }
VXStatus TrainedContext::Update(MultiPassRecordIter& records, int n) {
  return RunUpdate(records, n);
}
double TrainedContext::GetErrorOnData(RecordIterator& records, int n) {
  return RunErrorPass(records, n, true);
}
VXStatus TrainedContext::ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                            bool useGivenRanges, const std::vector<double>& mins,
                                            const std::vector<double>& maxs,
                                            std::vector<double>& importance) {
  return RunSensitivity(nInputVars, nInputCats, useGivenRanges, mins, maxs, importance);
}
VXStatus TrainedContext::ComputeOutputStats(MultiPassRecordIter& records, int n,
                                            NNOutputStatistics& stats) {
  return RunOutputStats(records, n, stats);
}
VXStatus TrainedContext::SaveState(std::ostream& out) { return DoSave(out); }
VXStatus TrainedContext::SaveStateXML(std::ostream& out) { return DoSaveXML(out); }
NNStructImp* TrainedContext::GetStructure() { return BuildStructure(); }
VXStatus TrainedContext::ExportModelXML(std::ostream& out, int, const VXApplicInfo4XML* info) {
  return DoExport(out, info, false);
}
VXStatus TrainedContext::ExportModelStatXML(std::ostream& out, int, const VXApplicInfo4XML* info) {
  return DoExport(out, info, true);
}

double ExpertContext::GetErrorOnData(RecordIterator& records, int n) {
  return RunErrorPass(records, n, false);
}

VXStatus CancelContext::Refusal() const { return VXStatus(codes::kCancelled, false); }

VXStatus FailedRestartContext::Refusal() const {
  return VXStatus(codes::kFailedConstruction, false);
}
