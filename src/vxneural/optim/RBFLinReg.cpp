#include "vxneural/optim/RBFLinReg.h"

#include "vxneural/network/NNetwork.h"

namespace {
constexpr const char* kClassName = "RBFLinReg";
}

RBFLinReg::RBFLinReg()
    : fSolver(kClassName, VXNeural::LinearOutputSolver::kHiddenActivations, nullptr, nullptr) {}

RBFLinReg::RBFLinReg(const NeuralSettings* settings, NNetwork* network)
    : fSolver(kClassName, VXNeural::LinearOutputSolver::kHiddenActivations, settings, network) {}

RBFLinReg::RBFLinReg(const RBFLinReg& other) = default;

RBFLinReg& RBFLinReg::operator=(const RBFLinReg& other) = default;

RBFLinReg::~RBFLinReg() = default;

void RBFLinReg::AddRecord(const VXCommon_1_2::Record& record) {
  const NNetwork* network = fSolver.GetNetwork();
  // A record without every input and target is skipped, as a pass does.
  if (network == nullptr || record.Size() < network->GetNumInputs() + network->GetNumOutputs())
    return;
  fSolver.AddRecord(record.GetAll());
}

int RBFLinReg::AddRecords(const std::vector<RBFLinReg*>& solvers,
                          VXCommon_1_2::MultiPassRecordIter& source, int limit,
                          const std::function<bool()>& stop, const std::function<bool()>& askHost) {
  std::vector<VXNeural::LinearOutputSolver*> engines;
  engines.reserve(solvers.size());
  for (RBFLinReg* s : solvers)
    if (s != nullptr) engines.push_back(&s->fSolver);
  return VXNeural::LinearOutputSolver::AddRecords(engines, source, limit, stop, askHost);
}
