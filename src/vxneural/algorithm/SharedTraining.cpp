#include "algorithm/SharedTraining.h"

#include <climits>
#include <vector>

#include "algorithm/AlgorithmCodes.h"
#include "data/SourceCheck.h"
#include "network/SharedRun.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/data/NNDataPreparator.h"

namespace VXNeural {
namespace detail {

namespace {

// The records source holds: `known` where it is known, else counted with a
// pass over it. False when the source failed while counted.
bool RecordsIn(VXCommon_1_2::MultiPassRecordIter& source, int known, int& count) {
  if (known < 0) return CountRecords(source, count);
  count = known;
  return true;
}

}  // namespace

KnownRecords PreparedRecords(NNDataPreparator* preparator,
                             const VXCommon_1_2::MultiPassRecordIter* train,
                             const VXCommon_1_2::MultiPassRecordIter* test) {
  KnownRecords known;
  if (!preparator) return known;
  if (train && train == preparator->GetTrainData())
    known.train = preparator->GetNTrainRecordsWritten();
  if (test && test == preparator->GetTestData()) known.test = preparator->GetNTestRecordsWritten();
  return known;
}

SharedTraining::~SharedTraining() {
  if (!fActive) return;
  ShareSource(fTrain, 0, nullptr);
  if (fTest) ShareSource(fTest, 0, nullptr);
  SetRunCombiner(nullptr);
  SetRunCanceled(false);
}

VXCommon_1_2::VXStatus SharedTraining::Begin(bool canceled, NeuralSettings* settings) {
  PassCombiner* combiner = GetPassCombiner();
  if (!combiner || !fTrain || fActive) return VXCommon_1_2::VXStatus();
  // A failed count still takes part in the exchange, as -1: every process
  // must reach it, and all then refuse together.
  int nTrain = 0, nTest = 0;
  const bool trainCounted = RecordsIn(*fTrain, fKnown.train, nTrain);
  const bool testCounted = !fTest || RecordsIn(*fTest, fKnown.test, nTest);
  const std::vector<double> mine{trainCounted ? nTrain : -1.0,
                                 fTest ? (testCounted ? nTest : -1.0) : -2.0, canceled ? 1.0 : 0.0};
  std::vector<double> all;
  std::vector<int> counts;
  const int size = combiner->Size();
  if (!combiner->AllGather(mine, all, counts) || counts.size() != static_cast<std::size_t>(size) ||
      all.size() != 3 * counts.size())
    return VXCommon_1_2::VXStatus(codes::kExchangeFailed, false);
  for (int r = 0; r < size; ++r) {
    const double test = all[3 * static_cast<std::size_t>(r) + 1];
    const double flag = all[3 * static_cast<std::size_t>(r) + 2];
    // Not what a process sends: a flag other than 0 or 1.
    if (flag != 0.0 && flag != 1.0) return VXCommon_1_2::VXStatus(codes::kExchangeFailed, false);
    canceled = canceled || flag != 0.0;
    // Every process has a test source (a count, read below) or none has
    // (-2, no count).
    if (fTest && test == -2.0) return VXCommon_1_2::VXStatus(codes::kSharesDoNotMatch, false);
    if (!fTest && test != -2.0)
      return VXCommon_1_2::VXStatus(test == -1.0 || WholeIn(test, 0.0, INT_MAX)
                                        ? codes::kSharesDoNotMatch
                                        : codes::kExchangeFailed,
                                    false);
  }
  // The counts, the training set's and then the test set's where there is one.
  const ShareCounts sent{all.data(), 3, size, fTest ? 2u : 1u};
  std::vector<long long> totals;
  const int read = WholeSets(sent, totals);
  if (read != 0) return VXCommon_1_2::VXStatus(read, false);
  const long long totalTrain = totals[0], totalTest = fTest ? totals[1] : 0;
  // A process's share may be empty, the whole set not: the codes are those
  // one process holding every record gets for an empty source.
  if (totalTrain == 0) return VXCommon_1_2::VXStatus(codes::kTrainSourceNotGood, false);
  if (fTest && totalTest == 0) return VXCommon_1_2::VXStatus(codes::kTestSourceNotGood, false);
  // One process counts a set's records in an int.
  if (totalTrain > INT_MAX || totalTest > INT_MAX)
    return VXCommon_1_2::VXStatus(codes::kSharesDoNotMatch, false);
  if (!AreTheShares(sent, totals)) return VXCommon_1_2::VXStatus(codes::kSharesDoNotMatch, false);
  const int rank = combiner->Rank();
  fRecords.combiner = combiner;
  fRecords.nTrain = totalTrain;
  fRecords.nTest = totalTest;
  fRecords.train = ShareOf(totalTrain, rank, size);
  fRecords.test = ShareOf(totalTest, rank, size);
  if (settings && fTest) settings->SetNTestRecords(static_cast<int>(totalTest));
  ShareSource(fTrain, fRecords.train.first, combiner);
  if (fTest) ShareSource(fTest, fRecords.test.first, combiner);
  SetRunCombiner(combiner);
  SetRunCanceled(canceled);
  fActive = true;
  return VXCommon_1_2::VXStatus();
}

}  // namespace detail
}  // namespace VXNeural
