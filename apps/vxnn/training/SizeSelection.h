// How `vxnn train` chooses the size of a network from the data: the number
// of hidden units of a perceptron, the number of centres and their overlap
// of an RBF network, each candidate measured by k-fold cross-validation on
// every usable record of the file. The rules here (folds, candidate grids, the choice)
// are pure functions of counts and losses, so that they can be checked
// without training anything; CrossValidation.cpp fits the candidates.
#pragma once

#include <string>
#include <vector>

namespace vxnn {

// One size tried.
struct SizeCandidate {
  int fUnits = 0;         // hidden units, or centres
  double fOverlap = 0.0;  // rbf: the overlap factor tried; 0 for a perceptron
  // mlp: trained to the library's stop rules rather than stopped early on
  // the held-out fold.
  bool fToStopRules = false;
  // The mean over the folds of the held-out loss (HeldOutLoss: share
  // misclassified, or relative error), the missing value when a fold could
  // not be measured.
  double fLoss = 0.0;
  std::vector<double> fFoldLosses;  // one per fold, in fold order
  double fSeconds = 0.0;
  std::string fLeftOut;  // why it could not be fitted; empty when it was
  bool fKept = false;
};

// What the selection of one network did, for the summary.
struct SizeSelection {
  std::string fNetwork;  // "mlp" or "rbf"
  int fFolds = 0;
  int fRecords = 0;  // the records the folds were drawn from, training and test
  std::vector<SizeCandidate> fCandidates;
  std::string fKeptBecause;
  // The size the rules give, among the candidates; 0 when none is preferred.
  int fRuleUnits = 0;
  // Why no selection ran although the options left the size open (too few
  // records, or too many to hold in memory); empty otherwise.
  std::string fSkipped;
};

// When the size is chosen from the data (--size-selection).
enum class SizeSelectionMode { kAuto, kCV, kRule };

// Above this many usable records kAuto keeps the size rules: the folds
// would cost many times the training itself, on data large enough that
// the rules' sizes are near what the folds would choose.
constexpr int kSelectionAutoMaxRecords = 20000;

// Fewer records than this leave too little in each fold to tell sizes
// apart: the size rules apply instead.
constexpr int kSelectionMinRecords = 20;
// The selection holds the usable records in memory once (the folds are
// lists of their indices), this many values (records x fields, 32 MB) at
// most; beyond it the size rules apply whatever the mode.
constexpr long kSelectionMaxValues = 4000000;

// The folds for n usable records: 5 up to 1000 records, where every
// record counts and each fit is cheap; 3 above, where the held-out folds
// are large enough and the fits cost more. 0 below kSelectionMinRecords.
int FoldsFor(int records);

// The fold of each record. Records are shuffled with the seed, then each
// stratum (a categorical target's category; one stratum for a continuous
// target) is dealt to the folds in turn, continuing where the previous
// stratum stopped, so that every fold holds each category in proportion
// and fold sizes differ by at most one.
std::vector<int> FoldOf(const std::vector<int>& strata, int folds, unsigned seed);

// The hidden-layer sizes a perceptron tries besides the size rule's: few,
// a factor of four apart, since each costs a fit per fold and sizes close
// together differ by less than the noise of training from random weights.
std::vector<int> MlpUnitGrid();

// The centre counts tried for an RBF network: powers of two from 2 while
// at most a third of the fold's training records (each centre's variance
// needs records of its own) and at most 256, and never fewer than 2 (a
// normalised layer needs two).
std::vector<int> RbfCentreGrid(int foldTrainRecords);

// The overlap factors tried at the chosen centre count, around base (the
// one the counts were compared at): base / 4, base / 2, base x 2, base x 4,
// and far wider, base x 16 and base x 64: with many inputs the clusters'
// variances along each axis are small beside the distances between
// records, and the basis functions need widths many times theirs to reach
// beyond their own centre.
std::vector<double> OverlapGrid(double base);

// The candidate of least loss; on a tie the earlier (for a perceptron the
// size rule's, tried first; for an RBF network the smaller count, as its
// counts run from small to large). A missing loss never wins; -1 when
// every loss is missing.
int LeastLoss(const std::vector<SizeCandidate>& candidates);

// The candidate kept when the size rule's candidate (ruleIndex) is the
// default: the one of least mean loss replaces it only when its loss is
// lower on the same folds by more than the standard error of that
// difference (the fold-by-fold differences' standard deviation over the
// square root of the folds). A perceptron's fold losses carry the noise of
// its training from random weights, and a size that wins on that noise
// alone is no better than the rule's. LeastLoss when ruleIndex is -1 or
// the rule's candidate could not be measured; -1 when none could.
int ChooseOverRule(const std::vector<SizeCandidate>& candidates, int ruleIndex);

}  // namespace vxnn
