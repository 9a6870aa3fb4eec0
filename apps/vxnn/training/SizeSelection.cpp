#include "training/SizeSelection.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "vxcommon/VXMissing.h"

namespace vxnn {

int FoldsFor(int records) {
  if (records < kSelectionMinRecords) return 0;
  return records <= 1000 ? 5 : 3;
}

std::vector<int> FoldOf(const std::vector<int>& strata, int folds, unsigned seed) {
  const std::size_t n = strata.size();
  std::vector<int> fold(n, 0);
  if (folds < 1) return fold;
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // std::shuffle's drawing is left to the standard library; this
  // Fisher-Yates pass on a fixed engine deals the same folds everywhere.
  std::mt19937 engine(seed);
  for (std::size_t i = n; i > 1; --i) {
    const std::size_t j = static_cast<std::size_t>(engine() % i);
    std::swap(order[i - 1], order[j]);
  }
  // Stable: within a stratum the shuffled order stands.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return strata[a] < strata[b]; });
  for (std::size_t k = 0; k < n; ++k) fold[order[k]] = static_cast<int>(k % folds);
  return fold;
}

std::vector<int> MlpUnitGrid() { return {4, 16, 64}; }

std::vector<int> RbfCentreGrid(int foldTrainRecords) {
  std::vector<int> grid = {2};
  for (int k = 4; k <= 256 && 3 * k <= foldTrainRecords; k *= 2) grid.push_back(k);
  return grid;
}

std::vector<double> OverlapGrid(double base) {
  return {base / 4, base / 2, base * 2, base * 4, base * 16, base * 64};
}

int LeastLoss(const std::vector<SizeCandidate>& candidates) {
  int best = -1;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const double loss = candidates[i].fLoss;
    if (!candidates[i].fLeftOut.empty() || VXMV::IsMissing(loss)) continue;
    // Losses are means of percentages: equal ones may differ in the last
    // bits, and such a tie keeps the simpler candidate.
    if (best < 0 || loss < candidates[static_cast<std::size_t>(best)].fLoss - 1e-12)
      best = static_cast<int>(i);
  }
  return best;
}

int ChooseOverRule(const std::vector<SizeCandidate>& candidates, int ruleIndex) {
  const int best = LeastLoss(candidates);
  if (best < 0 || ruleIndex < 0 || best == ruleIndex) return best;
  const SizeCandidate& rule = candidates[static_cast<std::size_t>(ruleIndex)];
  const SizeCandidate& other = candidates[static_cast<std::size_t>(best)];
  if (!rule.fLeftOut.empty() || VXMV::IsMissing(rule.fLoss)) return best;
  const std::size_t folds = std::min(rule.fFoldLosses.size(), other.fFoldLosses.size());
  if (folds < 2) return ruleIndex;
  double mean = 0.0;
  for (std::size_t f = 0; f < folds; ++f) mean += other.fFoldLosses[f] - rule.fFoldLosses[f];
  mean /= static_cast<double>(folds);
  double squares = 0.0;
  for (std::size_t f = 0; f < folds; ++f) {
    const double d = other.fFoldLosses[f] - rule.fFoldLosses[f] - mean;
    squares += d * d;
  }
  const double standardError =
      std::sqrt(squares / static_cast<double>(folds - 1) / static_cast<double>(folds));
  return mean + standardError < 0.0 ? best : ruleIndex;
}

}  // namespace vxnn
