// The blocked pass of a multi-layer perceptron: a block of records goes
// through the network as matrices (records x units), the layer products
// done by a register-tiled kernel (kernels/KernelTable.h). The weights are
// repacked once per pass so that every product reads them with unit
// stride and they stay in cache while the block's records stream by.
//
// Semantics are those of the record-by-record operations (forward pass,
// back-propagation, gradient accumulation): the same sums up to the order of
// the additions. The network keeps the per-record bookkeeping (errors,
// accuracy, averages) in record order itself, from OutputRow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "network/kernels/AlignedBuffer.h"
#include "network/kernels/KernelTable.h"

class INLayer;

namespace VXNeural {
namespace detail {

class MLPBlockPass {
 public:
  // Records per block: enough rows for the register tiles to reuse each
  // loaded weight many times, few enough for a block of every layer's
  // values to stay in the first- or second-level cache.
  static constexpr int kBlock = 96;

  // Starts a pass over the network whose layers are given (input layer
  // first, all MLPLayer), with the kernel given: sizes the buffers (once per
  // shape) and packs the current weights. Allocates only when the shape
  // grew since the last pass.
  void Begin(const KernelTable& kernel, const std::vector<INLayer*>& layers, bool logOutputs);
  // Sizes the buffers for these layers without starting a pass, so that
  // the passes themselves allocate nothing.
  void Reserve(const std::vector<INLayer*>& layers);
  // Where record r of the block finds its input values: either the pass's
  // own row, which InputRow returns for the network to copy them into (when
  // the record source may reuse its record), or the source's, which
  // UseInputRow takes, to be read in place until the block has gone
  // through Backward (and, for the last block, End). The targets are
  // always copied.
  double* InputRow(int r) {
    double* row = &fValues[0][static_cast<std::size_t>(r) * fLd[0]];
    fInputRows[static_cast<std::size_t>(r)] = row;
    return row;
  }
  void UseInputRow(int r, const double* values) {
    fInputRows[static_cast<std::size_t>(r)] = values;
  }
  double* TargetRow(int r) { return &fTargets[static_cast<std::size_t>(r) * fNOutputs]; }
  // Forward pass of the first n rows; the output layer's values of row r
  // are then at OutputRow(r) (log-probabilities under cross entropy).
  void Forward(int n);
  const double* OutputRow(int r) const {
    return &fValues[fNLayers][static_cast<std::size_t>(r) * fLd[fNLayers]];
  }
  // The forward pass of scoring, after Begin without log outputs: the first
  // n rows' outputs (probabilities under SoftMax) at OutputRow. Each unit's
  // activation is the one ScoreRecord applies, so that the two differ only
  // in the order each unit's sum is added up in.
  void ForwardScores(int n);
  // Back-propagation of the first n rows against their targets: the
  // block's gradient, and its alone, in the pass's own buffers.
  void Backward(int n);
  // The number of gradient values CopyBlockGradient writes: per layer
  // above the inputs, per unit, its bias's then its weights', as the
  // layers hold their accumulated gradients.
  std::size_t GradientValues() const;
  // Writes the gradient of the block that last went through Backward, in
  // that layout.
  void CopyBlockGradient(double* out) const;
  // Scores one encoded record (its first input values at x) into the
  // output units' probabilities or values, out[0 .. outputs), as the
  // network's record-by-record Score does, with the layers given. Reuses
  // the packed weights and packs them again only when a layer's weight
  // stamp moved since they were packed (or the shape changed). The layers'
  // own unit values are left as they were. Allocates nothing unless the
  // shape grew.
  void ScoreRecord(const KernelTable& kernel, const std::vector<INLayer*>& layers, const double* x,
                   double* out);
  // Ends a pass: adds the blocks' summed gradients, in CopyBlockGradient's
  // layout, to the layers' accumulated gradients.
  void AddGradientTo(const std::vector<INLayer*>& layers, const double* sum) const;
  // Leaves in each layer the unit values of row `last` of the block that
  // went through this pass last, as a record-by-record pass would.
  void LeaveUnitValues(const std::vector<INLayer*>& layers, int last) const;

 private:
  using Buffer = AlignedBuffer;
  // Copies the current weights into the packed forms and notes the
  // layers' weight stamps.
  void Pack(const std::vector<INLayer*>& layers);
  void SoftMax(int n);
  void InputGradient(int n, const double* d, std::ptrdiff_t ld);
  // Where the first n rows of layer l's values lie: the block's input rows
  // for the input layer.
  const double* const* RowsOf(int l, int n);
  // The activation of layer l over `count` sums z into y: one padded row
  // (fLd[l] values) or several one after the other; the padding columns
  // hold sums of 0.
  void Activate(int l, const double* z, double* y, int count) const;
  // Probabilities of one row of output sums c into y (fLd values).
  void LessGroupMaxima(const double* c, double* p) const;
  void ScoreSoftMax(const double* c, double* y) const;
  // ScoreSoftMax of the first n rows of the output sums into their values.
  void ScoreSoftMaxRows(int n);
  const KernelTable* fKernel = nullptr;
  bool fLogOutputs = false;
  int fNLayers = 0;
  int fNOutputs = 0;
  std::vector<int> fUnits;        // per layer, input layer first
  std::vector<int> fLd;           // padded row lengths of the unit buffers
  std::vector<int> fActivation;   // per layer
  std::vector<int> fCategories;   // SoftMax groups of the output layer
  std::vector<Buffer> fValues;    // per layer: kBlock x fLd unit values
  std::vector<Buffer> fSums;      // per layer: kBlock x fLd combinations
  std::vector<Buffer> fDeltas;    // per layer: kBlock x fLd deltas
  std::vector<Buffer> fWeightsT;  // per layer: lower x fLd, W transposed
  std::vector<Buffer> fBias;      // per layer: fLd biases, then zeros
  std::vector<Buffer> fWeightsN;  // per layer: units x fLd[lower], W less bias
  std::vector<Buffer> fGrad;      // per layer: units x fLd[lower]
  std::vector<Buffer> fGradBias;  // per layer: fLd
  Buffer fTargets;                // kBlock x outputs
  Buffer fInputTail;              // kBlock x kPad: inputs past the last whole vector
  std::array<const double*, kBlock> fInputRows{};  // the block's input values
  std::array<const double*, kBlock> fRows{};       // rows of a layer's values
  std::vector<std::uint64_t> fStamps;              // per layer: weight stamp when packed
};

// The blocked forward pass of an RBF network (input, hidden, output
// layers). Squared distances are summed from the differences, term by term
// as the hidden layer sums them (kernels/KernelTable.h, radialRows), so that
// they agree with the record-by-record pass bit for bit however far the
// records lie from the origin; the exponentials and the normalising sums
// are the kernel's own, within a few units in the last place. The output
// layer is a matrix product. The network keeps the per-record bookkeeping
// itself, as for MLPBlockPass.
class RBFBlockPass {
 public:
  static constexpr int kBlock = MLPBlockPass::kBlock;

  void Reserve(const std::vector<INLayer*>& layers);
  // Sizes (when the shape grew) and packs the centres, variances and
  // output weights of the network's three layers.
  void Begin(const KernelTable& kernel, const std::vector<INLayer*>& layers);
  // As MLPBlockPass's.
  double* InputRow(int r) {
    double* row = &fX[static_cast<std::size_t>(r) * fLdIn];
    fInputRows[static_cast<std::size_t>(r)] = row;
    return row;
  }
  void UseInputRow(int r, const double* values) {
    fInputRows[static_cast<std::size_t>(r)] = values;
  }
  double* TargetRow(int r) { return &fTargets[static_cast<std::size_t>(r) * fNOutputs]; }
  void Forward(int n);
  const double* OutputRow(int r) const { return &fY[static_cast<std::size_t>(r) * fLdOut]; }
  // Leaves the unit values of row `last` of the last block in the layers.
  void LeaveUnitValues(const std::vector<INLayer*>& layers, int last) const;

 private:
  using Buffer = AlignedBuffer;
  const KernelTable* fKernel = nullptr;
  int fNInputs = 0, fNHidden = 0, fNOutputs = 0, fUsed = 0;
  int fLdIn = 0, fLdHidden = 0, fLdOut = 0;
  bool fNormalized = false;
  Buffer fX, fTargets, fH, fY;  // per block
  std::array<const double*, kBlock> fInputRows{};
  std::array<const double*, kBlock> fHRows{};
  Buffer fCentersT;   // inputs x fLdHidden
  Buffer fVariances;  // fLdHidden: a_j, then 1 in the padding
  Buffer fWeightsT;   // hidden x fLdOut
  Buffer fWeightsN;   // outputs x fLdHidden, the weights row by row
  Buffer fBias;       // fLdOut
};

// One block of records on its way through a pass: where each record's
// values lie (in the source, or copied into values when the source reuses
// its record), and the errors the pass found for them.
struct BlockSlot {
  static constexpr int kBlock = MLPBlockPass::kBlock;
  AlignedBuffer values;  // kBlock records' values, when copied
  std::array<const double*, kBlock> rows{};
  std::array<double, kBlock> errors{};
  int n = 0;            // records in the block
  long long index = 0;  // the block's place in the pass
  // The buffer for kBlock copied records of `width` values.
  double* Values(int width) {
    const std::size_t count = static_cast<std::size_t>(kBlock) * width;
    if (values.size() < count) values.assign(count, 0.0);
    return values.data();
  }
};

// The blocks of a threaded pass: those free to be read into, and those
// read and waiting to go through the network, oldest first. Kept from pass
// to pass, so that a pass allocates nothing once the count has been seen.
class BlockSlots {
 public:
  // The blocks a pass on `threads` threads keeps in flight: enough that no
  // thread waits for the reader, and no more, as each holds a block of
  // copied records.
  static std::size_t CountFor(int threads) {
    return threads <= 1 ? 1 : 2 * static_cast<std::size_t>(threads) + 2;
  }
  // Makes room for `count` blocks of records `width` values wide, so that
  // passes with no more allocate nothing.
  void Reserve(std::size_t count, int width) {
    Reset(count);
    for (std::size_t i = 0; i < count; ++i) fSlots[i]->Values(width);
  }
  // Makes `count` blocks, all free.
  void Reset(std::size_t count) {
    while (fSlots.size() < count) fSlots.push_back(std::make_unique<BlockSlot>());
    fFree.clear();
    for (std::size_t i = count; i-- > 0;) fFree.push_back(i);
    fWaiting.assign(count, 0);
    fHead = fCount = 0;
  }
  BlockSlot& operator[](std::size_t i) { return *fSlots[i]; }
  bool HasFree() const { return !fFree.empty(); }
  std::size_t TakeFree() {
    const std::size_t i = fFree.back();
    fFree.pop_back();
    return i;
  }
  void PutFree(std::size_t i) { fFree.push_back(i); }
  bool HasWaiting() const { return fCount > 0; }
  void PutWaiting(std::size_t i) { fWaiting[(fHead + fCount++) % fWaiting.size()] = i; }
  std::size_t TakeWaiting() {
    const std::size_t i = fWaiting[fHead];
    fHead = (fHead + 1) % fWaiting.size();
    --fCount;
    return i;
  }

 private:
  std::vector<std::unique_ptr<BlockSlot>> fSlots;
  std::vector<std::size_t> fFree;
  std::vector<std::size_t> fWaiting;  // a ring of fCount from fHead
  std::size_t fHead = 0, fCount = 0;
};

}  // namespace detail
}  // namespace VXNeural
