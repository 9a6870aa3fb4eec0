// How well a network predicts its targets on a set of encoded records: a
// relative error per continuous target, a misclassification (confusion)
// matrix and a percentage of correct predictions per categorical target,
// the total error and two overall error figures.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"

class NNetwork;
class NNOutputStatistics;

namespace VXNeural {

/// Fills stats from at most maxRecords encoded records (the network's inputs,
/// then its targets) of source, and rewinds the source afterwards. Works on
/// any network, whatever its layers.
///
/// The outputs compared with the targets are the output layer's unit values
/// after the forward pass: for a cross-entropy network the categorical units
/// hold log-probabilities, which only the relative errors and the pooled
/// error relative to the mean model see; the predicted category (the first
/// of the largest units) is the same either way.
///
/// Records shorter than the network's inputs plus outputs are skipped and not
/// counted. The host's cancel object (through the network) is polled before
/// each record; a cancelled pass returns OK, leaves the object at status 0
/// with zeros and missing values, and does not rewind the source.
///
/// The records are read on the calling thread and run forward on the pass
/// threads (vxneural/network/PassThreads.h), each on a copy of the network.
/// Every figure is a sum over the records: the records' terms are added in
/// order within fixed blocks of 96 records, and the blocks' sums in the
/// fixed binary tree over the blocks' places (network/BlockTree.h), so the
/// result is the same bits for any thread count and any cut of the records
/// between processes. The targets' squared deviations from their means are
/// summed after a shift by the first record's targets. Afterwards the
/// network's unit values are those of some record of the pass.
///
/// Shared over processes (vxneural/network/PassCombiner.h): with a combiner
/// set on the calling thread, source holds this process's ShareOf the whole
/// set, in order (possibly none of it), and maxRecords bounds the whole set
/// as it bounds one process's records: every process of the run calls this
/// together, with the same network and maxRecords, and every process gets
/// the statistics one process on one thread computes over the whole set,
/// bit for bit. The processes first exchange their record counts (a
/// source over records in memory tells its count; any other is read once
/// more to count it): code 50020 (error) on every
/// process when the counts are not the shares, 50021 when an exchange
/// fails, and a process's own failure (a source that failed, 50008) is
/// every process's answer. The host's cancel object is asked at the two
/// exchanges only (before and after the pass), never between records, and a
/// cancel on any process cancels all of them: OK, the object left at status
/// 0, the network's cancel latched.
///
/// Code 50008 (error): a record's categorical target has no indicator unit
/// set (every unit 0.0 or NaN); the pass ends and the object is left at
/// status 0, reset. Code 6 (warning): the network has no layers, or its
/// category counts do not fit its output units; the object is rebuilt for
/// those counts and left at status 0, and the source is not read.
VXCommon_1_2::VXStatus ComputeOutputStats(NNetwork& network,
                                          VXCommon_1_2::MultiPassRecordIter& source, int maxRecords,
                                          NNOutputStatistics& stats);

}  // namespace VXNeural

/// A plain value: copies are independent. A new object is Invalid (2); a
/// computation rebuilds it from the network's outputs, marks it Default (0)
/// and marks it Computed (1) only after a complete pass.
///
/// The index k of the matrix accessors counts categorical outputs only (the
/// first categorical target is 0 wherever it stands among the targets).
/// Matrix k is n_k x n_k: entry (i, j) counts records whose target category
/// is i and whose predicted category is j. An index out of range answers 0
/// or an empty vector.
class NNOutputStatistics {
 public:
  /// Empty and Invalid: no outputs, every figure missing.
  NNOutputStatistics();

  /// Invalid (new), Default (rebuilt, not computed) or Computed.
  VXNNCommon::OutStatStatus GetStatus() const { return fStatus; }
  /// True when the status is Computed (a complete pass filled the figures).
  bool StatsOK() const { return fStatus == VXNNCommon::kOutStatComputed; }
  /// Relative errors, the three overall figures and the percents correct to
  /// the missing value, every matrix entry to 0; the status and the sizes
  /// stay as they are.
  void Reset();

  /// Entry (i, j) of matrix k: records of target category i predicted as j.
  int GetMisClassElement(int k, int i, int j) const;
  /// Row i of matrix k: n_k counts.
  std::vector<int> GetMisClassRow(int k, int i) const;
  /// Matrix k as n_k * n_k counts, row by row.
  std::vector<int> GetMisClassMatrixInOneVec(int k) const;
  /// Matrix k as n_k rows of n_k counts.
  std::vector<std::vector<int>> GetMisClassMatrixAsVecOfRows(int k) const;

  /// The number of output variables (targets), continuous and categorical.
  int GetNumOutputVars() const { return fNOutputVars; }
  /// The number of continuous output variables.
  int GetNumContOutputs() const { return fNContOutputs; }
  /// The number of categorical output variables.
  int GetNumCatOutputs() const { return fNCatOutputs; }
  /// Per output variable: its number of categories, 1 for a continuous one.
  const std::vector<int>& GetNumCategories() const { return fNCategories; }
  /// Per categorical output: its number of categories.
  const std::vector<int>& GetNumCatCategories() const { return fNCatCategories; }
  /// Per continuous output: squared error over the squared deviations of the
  /// target from its mean; 1 means no better than predicting the mean. The
  /// missing value when the target never varied.
  const std::vector<double>& GetRelativeErrors() const { return fRelativeErrors; }
  /// The network's error summed over the records.
  double GetTotalError() const { return fTotalError; }
  /// The relative error pooled over every output unit.
  double GetAvgRelativeError() const { return fAvgRelativeError; }
  /// Mean over the categorical outputs of their percent of incorrect
  /// predictions; 0 without categorical outputs.
  double GetAvgPercentIncorrect() const { return fAvgPercentIncorrect; }
  /// Per categorical output: percent of correct predictions.
  const std::vector<double>& GetPercentsCorrect() const { return fPercentsCorrect; }

  /// A readable listing of the status, sizes, figures and matrices, for
  /// diagnostics.
  void Display(std::ostream& out) const;

 private:
  friend VXCommon_1_2::VXStatus VXNeural::ComputeOutputStats(
      NNetwork& network, VXCommon_1_2::MultiPassRecordIter& source, int maxRecords,
      NNOutputStatistics& stats);

  // Sizes everything for outputs with these category counts, resets it and
  // marks it Default.
  void Rebuild(const std::vector<int>& categories);
  bool ValidCell(int k, int i, int j) const;

  VXNNCommon::OutStatStatus fStatus;
  int fNOutputVars;
  int fNContOutputs;
  int fNCatOutputs;
  std::vector<int> fNCategories;
  std::vector<int> fNCatCategories;
  std::vector<double> fRelativeErrors;
  double fTotalError;
  double fAvgRelativeError;
  double fAvgPercentIncorrect;
  std::vector<std::vector<int>> fMisClassMatrices;
  std::vector<double> fPercentsCorrect;
};
