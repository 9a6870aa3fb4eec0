// Outputs of a network for records that differ from one base record in a
// few input columns, found by updating the first layer's sums rather than
// running the whole network again.
#pragma once

#include <vector>

class INLayer;
class NNetwork;
class RBFHiddenLayer;

namespace VXNeural {
namespace detail {
struct KernelTable;
}

// Only the first layer above the inputs sees the input columns. Changing
// column c from u to v moves an MLP unit's combination by w_jc * (v - u),
// and an RBF unit's scaled squared distance by ((v - m_jc)^2 - (u - m_jc)^2)
// / a_j. With the base record's sums kept, a probe costs one update per
// first-layer unit plus the layers above, instead of the whole first layer
// (inputs x units multiply-adds).
//
// The sums agree with a fresh computation up to rounding of the update.
// The first layer's tanh is the pass kernel's (PassKernel.h), a vector of
// units at a time, within a few units in the last place of the library's
// tanh: a probe costs little more than its tanh, which the scalar function
// made the whole of its cost. The reference kernel keeps the scalar one.
//
// A base value that is not a modest finite number (the missing value, an
// infinity, a NaN) would lose every digit of the other terms when taken out
// again, so a probe that changes such a column sums the changed record
// afresh.
class FirstLayerProber {
 public:
  struct Change {
    int column;
    double value;
  };

  // Works on network as it is when SetBase is called; Usable is false for a
  // network of a kind it does not know (the caller then runs the network).
  explicit FirstLayerProber(NNetwork& network);

  bool Usable() const { return fKind != kNone; }
  // Keeps a copy of the record's input columns and its first-layer sums.
  void SetBase(const double* inputs);
  // The output layer's unit values (as a forward pass leaves them) for the
  // base record with the changes applied, copied into outputs.
  // The changes name distinct columns.
  void Probe(const Change* changes, int nChanges, double* outputs);
  // Makes the change part of the base record.
  void Move(const Change& change);

 private:
  enum Kind { kNone, kMLP, kRBF };
  // First-layer sums of the record x: combinations (MLP) or scaled squared
  // distances (RBF), in the order a forward pass adds them.
  void Sums(const double* x, double* sums) const;
  // The sums of the base record with the changes, into sums.
  void ChangedSums(const Change* changes, int nChanges, double* sums);
  // The first layer's unit values from the sums, then the layers above.
  void FinishForward(const double* sums, double* outputs);
  double Term(int unit, int column, double value) const;
  static bool Unsafe(double v);

  NNetwork& fNetwork;
  // The kernel chosen when the prober was made; null for the reference.
  const detail::KernelTable* fKernel;
  Kind fKind = kNone;
  INLayer* fFirst = nullptr;
  RBFHiddenLayer* fRBF = nullptr;
  int fNInputs = 0;
  int fNUnits = 0;
  int fNOutputs = 0;
  bool fLogOutputs = false;
  std::vector<int> fSoftMaxGroups;
  std::vector<double> fVariances;
  std::vector<double> fBase;
  std::vector<bool> fUnsafe;
  std::vector<double> fBaseSums;
  std::vector<double> fSums;
  std::vector<double> fScratch;
};

}  // namespace VXNeural
