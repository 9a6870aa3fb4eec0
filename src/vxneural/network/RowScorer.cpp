#include "network/RowScorer.h"

#include <algorithm>
#include <sstream>

#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/network/NNetwork.h"

namespace VXNeural {
namespace detail {

RowScorer::RowScorer(const NNetwork& network) : fNOutputs(std::max(network.GetNumOutputs(), 0)) {
  const std::vector<INLayer*>& layers = network.fLayers;
  if (layers.empty()) return;
  const KernelTable* kernel = ActiveKernelTable();
  const int type = network.GetAlgorithmType();
  if (kernel && type == VXNNCommon::kMLP && layers.size() >= 2) {
    fMLP = std::make_unique<MLPBlockPass>();
    fMLP->Begin(*kernel, layers, false);
  } else if (kernel && type == VXNNCommon::kRBF && layers.size() == 3) {
    fRBF = std::make_unique<RBFBlockPass>();
    fRBF->Begin(*kernel, layers);
  } else {
    // The saved form carries every value scoring reads, bit for bit.
    std::stringstream bytes;
    network.WriteObject(bytes);
    auto copy = std::make_unique<NNetwork>();
    try {
      copy->ReadObject(bytes);
      fCopy = std::move(copy);
    } catch (IOException* e) {
      delete e;
    }
  }
}

RowScorer::~RowScorer() = default;

void RowScorer::Score(const double* const* rows, int n, double* const* outRows) {
  if (fMLP || fRBF) {
    for (int r = 0; r < n; ++r) {
      if (fMLP)
        fMLP->UseInputRow(r, rows[r]);
      else
        fRBF->UseInputRow(r, rows[r]);
    }
    if (fMLP)
      fMLP->ForwardScores(n);
    else
      fRBF->Forward(n);
    for (int r = 0; r < n; ++r) {
      const double* o = fMLP ? fMLP->OutputRow(r) : fRBF->OutputRow(r);
      std::copy(o, o + fNOutputs, outRows[r]);
    }
    return;
  }
  for (int r = 0; r < n; ++r) {
    if (fCopy) {
      VXCommon_1_2::VXStatus status;
      fCopy->Score(status, rows[r], outRows[r]);
    } else {
      std::fill_n(outRows[r], fNOutputs, VXMV::gMissingValue);
    }
  }
}

}  // namespace detail
}  // namespace VXNeural
