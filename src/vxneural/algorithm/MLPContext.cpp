#include "algorithm/MLPContext.h"

#include "algorithm/AlgorithmCodes.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPAlgorithm.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXApplicInfo4XML;
using VXCommon_1_2::VXStatus;
namespace codes = VXNeural::codes;

MLPContext::~MLPContext() = default;

VXStatus MLPContext::Refusal() const { return VXStatus(codes::kNotAvailable, true); }
VXStatus MLPContext::SaveRefusal() const { return VXStatus(codes::kCannotSave, true); }
VXStatus MLPContext::Refuse() { return fAlgorithm->Store(Refusal()); }
VXStatus MLPContext::RefuseSave() { return fAlgorithm->Store(SaveRefusal()); }
VXStatus MLPContext::Unavailable() {
  return fAlgorithm->Store(VXStatus(codes::kNotAvailable, true));
}

VXStatus MLPContext::Train(int, int) { return Refuse(); }
VXStatus MLPContext::Update(MultiPassRecordIter&, int) { return Refuse(); }
double MLPContext::GetErrorOnData(RecordIterator&, int) {
  Refuse();
  return VXMV::gMissingValue;
}
VXStatus MLPContext::ComputeSensitivity(int, const std::vector<int>&, bool,
                                        const std::vector<double>&, const std::vector<double>&,
                                        std::vector<double>&) {
  return Refuse();
}
VXStatus MLPContext::ComputeOutputStats(MultiPassRecordIter&, int, NNOutputStatistics&) {
  return Refuse();
}
VXStatus MLPContext::ExportModelXML(std::ostream&, int, const VXApplicInfo4XML*) {
  return Refuse();
}
VXStatus MLPContext::ExportModelStatXML(std::ostream&, int, const VXApplicInfo4XML*) {
  return Refuse();
}
NNStructImp* MLPContext::GetStructure() {
  Unavailable();
  return nullptr;
}
VXStatus MLPContext::SaveState(std::ostream&) { return RefuseSave(); }
VXStatus MLPContext::SaveStateXML(std::ostream&) { return RefuseSave(); }
VXStatus MLPContext::SelectArchitecture() { return Refuse(); }

VXStatus MLPInitContext::Train(int nTrain, int nTest) {
  return fAlgorithm->RunTraining(true, nTrain, nTest);
}
double MLPInitContext::GetErrorOnData(RecordIterator& records, int n) {
  return fAlgorithm->RunErrorPass(records, n, true);
}
VXStatus MLPInitContext::ComputeOutputStats(MultiPassRecordIter& records, int n,
                                            NNOutputStatistics& stats) {
  return fAlgorithm->RunOutputStats(records, n, stats);
}
VXStatus MLPInitContext::SaveState(std::ostream& out) { return fAlgorithm->DoSave(out); }
VXStatus MLPInitContext::SaveStateXML(std::ostream& out) { return fAlgorithm->DoSaveXML(out); }
VXStatus MLPInitContext::SelectArchitecture() { return fAlgorithm->RunArchitectureSearch(); }

VXStatus MLPTrainedContext::Train(int nTrain, int nTest) {
  return fAlgorithm->RunTraining(false, nTrain, nTest);
}
VXStatus MLPTrainedContext::Update(MultiPassRecordIter& records, int n) {
  return fAlgorithm->RunUpdate(records, n);
}
double MLPTrainedContext::GetErrorOnData(RecordIterator& records, int n) {
  return fAlgorithm->RunErrorPass(records, n, true);
}
VXStatus MLPTrainedContext::ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                               bool useGivenRanges, const std::vector<double>& mins,
                                               const std::vector<double>& maxs,
                                               std::vector<double>& importance) {
  return fAlgorithm->RunSensitivity(nInputVars, nInputCats, useGivenRanges, mins, maxs, importance);
}
VXStatus MLPTrainedContext::ComputeOutputStats(MultiPassRecordIter& records, int n,
                                               NNOutputStatistics& stats) {
  return fAlgorithm->RunOutputStats(records, n, stats);
}
VXStatus MLPTrainedContext::SaveState(std::ostream& out) { return fAlgorithm->DoSave(out); }
VXStatus MLPTrainedContext::SaveStateXML(std::ostream& out) { return fAlgorithm->DoSaveXML(out); }

double MLPExpertContext::GetErrorOnData(RecordIterator& records, int n) {
  return fAlgorithm->RunErrorPass(records, n, false);
}

VXStatus MLPCancelContext::Refusal() const { return VXStatus(codes::kCancelled, false); }

VXStatus MLPFailedRestartContext::Refusal() const {
  return VXStatus(codes::kFailedConstruction, false);
}
