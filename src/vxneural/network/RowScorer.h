// Scoring many encoded records at once, from a const network: the blocked
// passes' matrix products with buffers and packed weights of the scorer's
// own, so that several scorers can work on one network at the same time
// while nothing changes its weights.
#pragma once

#include <cstddef>
#include <memory>

#include "network/BlockPass.h"

class NNetwork;

namespace VXNeural {
namespace detail {

class RowScorer {
 public:
  static constexpr int kBlock = MLPBlockPass::kBlock;

  // Takes the kernel the passes use now and packs the network's weights
  // for it, once for all the blocks to come. With the reference kernel
  // (or a network the blocked passes do not cover) the records go one by
  // one through a private copy of the network, whose layers keep each
  // record's unit values where the shared ones would be overwritten by
  // another thread.
  explicit RowScorer(const NNetwork& network);
  RowScorer(const RowScorer&) = delete;
  RowScorer& operator=(const RowScorer&) = delete;
  ~RowScorer();

  // Scores n <= kBlock encoded records, record r's input units at rows[r],
  // into outRows[r][0 .. outputs): the values the network's Score gives,
  // bit for bit under the reference kernel; under the others each unit's
  // sum is added up in another order than Score adds it (a register tile
  // of the block's rows rather than one record's row), so the outputs
  // agree within a few units in the last place.
  void Score(const double* const* rows, int n, double* const* outRows);

 private:
  int fNOutputs = 0;
  std::unique_ptr<MLPBlockPass> fMLP;
  std::unique_ptr<RBFBlockPass> fRBF;
  std::unique_ptr<NNetwork> fCopy;
};

}  // namespace detail
}  // namespace VXNeural
