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
