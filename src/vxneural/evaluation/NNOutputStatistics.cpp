#include "vxneural/evaluation/NNOutputStatistics.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <ostream>
#include <vector>

#include "data/SourceCheck.h"
#include "evaluation/EvaluationCodes.h"
#include "evaluation/PassNetworks.h"
#include "evaluation/SharedEvaluation.h"
#include "network/PassWorkers.h"
#include "network/TreeExchange.h"
#include "network/kernels/KernelTable.h"
#include "persist/Display.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;

namespace {

std::size_t Index(int i) { return static_cast<std::size_t>(i); }

}  // namespace

NNOutputStatistics::NNOutputStatistics()
    : fStatus(VXNNCommon::kOutStatInvalid),
      fNOutputVars(0),
      fNContOutputs(0),
      fNCatOutputs(0),
      fTotalError(VXMV::gMissingValue),
      fAvgRelativeError(VXMV::gMissingValue),
      fAvgPercentIncorrect(VXMV::gMissingValue) {}

void NNOutputStatistics::Reset() {
  for (double& e : fRelativeErrors) e = VXMV::gMissingValue;
  fTotalError = VXMV::gMissingValue;
  fAvgRelativeError = VXMV::gMissingValue;
  fAvgPercentIncorrect = VXMV::gMissingValue;
  for (std::vector<int>& m : fMisClassMatrices)
    for (int& count : m) count = 0;
  for (double& p : fPercentsCorrect) p = VXMV::gMissingValue;
}

void NNOutputStatistics::Rebuild(const std::vector<int>& categories) {
  fNCategories.clear();
  fNCatCategories.clear();
  fRelativeErrors.clear();
  fMisClassMatrices.clear();
  fPercentsCorrect.clear();
  fNOutputVars = static_cast<int>(categories.size());
  fNContOutputs = 0;
  fNCatOutputs = 0;
  for (int n : categories) {
    fNCategories.push_back(n);
    if (n == 1) {
      ++fNContOutputs;
      fRelativeErrors.push_back(0.0);
    } else {
      ++fNCatOutputs;
      fNCatCategories.push_back(n);
      fMisClassMatrices.emplace_back(n > 0 ? Index(n) * Index(n) : 0, 0);
      fPercentsCorrect.push_back(0.0);
    }
  }
  Reset();
  fStatus = VXNNCommon::kOutStatDefault;
}

bool NNOutputStatistics::ValidCell(int k, int i, int j) const {
  if (k < 0 || k >= static_cast<int>(fNCatCategories.size())) return false;
  const int n = fNCatCategories[Index(k)];
  return i >= 0 && i < n && j >= 0 && j < n;
}

int NNOutputStatistics::GetMisClassElement(int k, int i, int j) const {
  if (!ValidCell(k, i, j)) return 0;
  return fMisClassMatrices[Index(k)][Index(fNCatCategories[Index(k)] * i + j)];
}

std::vector<int> NNOutputStatistics::GetMisClassRow(int k, int i) const {
  if (!ValidCell(k, i, 0)) return {};
  const std::vector<int>& m = fMisClassMatrices[Index(k)];
  const std::size_t n = Index(fNCatCategories[Index(k)]);
  return std::vector<int>(m.begin() + static_cast<std::ptrdiff_t>(n * Index(i)),
                          m.begin() + static_cast<std::ptrdiff_t>(n * Index(i + 1)));
}

std::vector<int> NNOutputStatistics::GetMisClassMatrixInOneVec(int k) const {
  if (k < 0 || k >= static_cast<int>(fMisClassMatrices.size())) return {};
  return fMisClassMatrices[Index(k)];
}

std::vector<std::vector<int>> NNOutputStatistics::GetMisClassMatrixAsVecOfRows(int k) const {
  std::vector<std::vector<int>> rows;
  if (k < 0 || k >= static_cast<int>(fNCatCategories.size())) return rows;
  for (int i = 0; i < fNCatCategories[Index(k)]; ++i) rows.push_back(GetMisClassRow(k, i));
  return rows;
}

void NNOutputStatistics::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNOutputStatistics display\n";
  ShowValue(out, "Status = ", VXNNCommon::DisplayText(fStatus));
  ShowValue(out, "Number of output variables = ", fNOutputVars);
  ShowValue(out, "Number of output continuous variables = ", fNContOutputs);
  ShowValue(out, "Number of output categorical variables = ", fNCatOutputs);
  if (fNCatCategories.size() == 1)
    ShowValue(out, "Number of categories of the categorical variable = ", fNCatCategories[0]);
  else if (fNCatCategories.size() > 1)
    ShowVector(out, "Vector of numbers of categories of categorical variables", fNCatCategories);
  ShowVector(out, "Vector of relative errors of continuous output variables", fRelativeErrors);
  ShowValue(out, "Total error = ", fTotalError);
  ShowValue(out, "Average overall error (relative to the mean model) = ", fAvgRelativeError);
  ShowValue(out, "Average overall error (average percent of incorrect predictions) = ",
            fAvgPercentIncorrect);
  for (std::size_t k = 0; k < fNCatCategories.size(); ++k) {
    out << "Output categorical variable index = " << k
        << ", number of categories = " << fNCatCategories[k] << '\n';
    out << "MisClassification Matrix\n";
    for (const std::vector<int>& row : GetMisClassMatrixAsVecOfRows(static_cast<int>(k))) {
      for (std::size_t j = 0; j < row.size(); ++j) out << (j ? " " : "") << row[j];
      out << '\n';
    }
  }
  ShowVector(out, "Vector of percents of correct predictions", fPercentsCorrect);
  out << "End of NNOutputStatistics display\n";
}

namespace VXNeural {

namespace {

// The target category of a one-of-n group: the first unit that is neither
// 0.0 nor NaN; -1 when there is none.
int TargetCategory(const double* t, int n) {
  for (int j = 0; j < n; ++j)
    if (t[j] != 0.0 && !std::isnan(t[j])) return j;
  return -1;
}

// The first of the largest outputs; -1 when every value is -DBL_MAX (or
// less) or NaN.
int PredictedCategory(const double* o, int n) {
  int best = -1;
  double largest = -DBL_MAX;
  for (int j = 0; j < n; ++j) {
    if (o[j] > largest) {
      largest = o[j];
      best = j;
    }
  }
  return best;
}

// Records are read in chunks of about this many multiply-adds of forward
// passes, a millisecond or so: enough to keep every thread busy between
// two hand-overs. The chunk's length changes no result.
constexpr double kChunkWork = 1 << 22;
constexpr int kMostChunkRecords = 1024;

// The forward passes of a chunk of records on the pass threads, each
// thread on a network of its own: per record its outputs and its error.
// The caller adds them up in record order, so the figures are the same
// bits for any number of threads.
class ForwardChunk {
 public:
  ForwardChunk(NNetwork& network, int width, int outputs)
      : fNetworks(network), fWidth(Index(width)), fNOutputs(Index(outputs)) {
    // The reference kernel's passes stay on the calling thread.
    fThreads = detail::ActiveKernelTable() ? GetPassThreads() : 1;
    const double work = std::max(1, network.GetNumWeights());
    fChunk = static_cast<int>(std::min<double>(kMostChunkRecords, kChunkWork / work));
    fChunk = std::max(fChunk, fThreads);
    fRecords.resize(Index(fChunk) * fWidth);
    fPlaces.resize(Index(fChunk));
    fOutputs.resize(Index(fChunk) * fNOutputs);
    fErrors.resize(Index(fChunk));
  }

  int Capacity() const { return fChunk; }
  double* Record(int r) { return &fRecords[Index(r) * fWidth]; }
  long long& Place(int r) { return fPlaces[Index(r)]; }
  const double* Outputs(int r) const { return &fOutputs[Index(r) * fNOutputs]; }
  double Error(int r) const { return fErrors[Index(r)]; }

  // Forward passes of the first n records held.
  void Run(int n, int nInputs) {
    if (n < 1) return;
    const int workers = std::min(std::min(fThreads, n), fNetworks.Ensure(std::min(fThreads, n)));
    std::atomic<int> next{0};
    detail::RunWorkers(workers, [&](int w) {
      NNetwork& network = fNetworks.At(w);
      const INLayer& output = *network.GetLayer(network.GetNumLayers());
      for (int r = next.fetch_add(1); r < n; r = next.fetch_add(1)) {
        const double* values = Record(r);
        network.ResetUnitValues();
        network.ForwardPass(values, true);
        fErrors[Index(r)] = network.RecordError(values + nInputs);
        const double* o = output.GetUnitValues();
        std::copy(o, o + fNOutputs, &fOutputs[Index(r) * fNOutputs]);
      }
    });
  }

 private:
  detail::PassNetworks fNetworks;
  const std::size_t fWidth, fNOutputs;
  int fThreads = 1;
  int fChunk = 1;
  std::vector<double> fRecords, fOutputs, fErrors;
  std::vector<long long> fPlaces;
};

// Reads one pass's records on the calling thread: at most `limit` records
// of at least `width` values (shorter ones are passed over but keep their
// place), the cancel object asked before each through the network.
class PassReader {
 public:
  PassReader(MultiPassRecordIter& source, NNetwork& network, int width, long long limit,
             long long first)
      : fSource(source), fNetwork(network), fWidth(width), fLimit(limit), fPlace(first) {}

  // The next record and its place in the whole sequence; null at the end.
  const double* Next(long long& place) {
    while (fRead < fLimit && fSource.IsGood()) {
      if (fNetwork.IsCanceled()) return nullptr;
      const Record* record = fSource.Next();
      if (record == nullptr) return nullptr;
      place = fPlace++;
      if (record->Size() < fWidth) continue;
      ++fRead;
      return record->GetAll();
    }
    return nullptr;
  }

 private:
  MultiPassRecordIter& fSource;
  NNetwork& fNetwork;
  const int fWidth;
  const long long fLimit;
  long long fPlace;
  long long fRead = 0;
};

// Where each figure sits among a block's sums. Counts are held as doubles:
// they stay exact far beyond any number of records a pass can read.
//
// The targets' squared deviations from their mean are not a sum over the
// records; their sums after a shift by the whole sequence's first targets
// are: with d = t - shift, the deviations sum to sum(d^2) - sum(d)^2 / c.
// The shift keeps the two terms close to the deviations' own size (so
// little cancels); indicator units shift by 0 or 1 and stay exact.
struct SumsLayout {
  SumsLayout(std::size_t outputs, std::size_t categorical, std::size_t cells)
      : squaredError(2),
        shifted(squaredError + outputs),
        shiftedSquares(shifted + outputs),
        misclassified(shiftedSquares + outputs),
        cell(misclassified + categorical),
        width(cell + cells) {}
  static constexpr std::size_t kError = 0, kCount = 1;
  const std::size_t squaredError, shifted, shiftedSquares, misclassified, cell, width;
};

// What each process adds to the exchange of the counts: whether it holds
// a full record, then the first one's targets.
std::size_t ShiftExtraSize(int nOutputs) { return Index(nOutputs) + 1; }

// Counts a shared pass's source and finds its first record of at least
// `width` values: its targets are the shift when this process holds the
// start of the sequence. A source that tells its count (RecordsKnownTo) is
// read from its first record up to that record only. -1 when the source
// failed on the way.
long long CountWithFirst(MultiPassRecordIter& source, int width, int nInputs,
                         std::vector<double>& first) {
  const long long known = detail::RecordsKnownTo(&source);
  if (known >= 0) source.Rewind();
  long long count = 0;
  first.clear();
  while (source.IsGood() && (known < 0 || first.empty())) {
    const Record* record = source.Next();
    if (record == nullptr) break;
    ++count;
    if (first.empty() && record->Size() >= width)
      first.assign(record->GetAll() + nInputs, record->GetAll() + width);
  }
  const bool failed = detail::SourceFailed(source);
  source.Rewind();
  if (failed) return -1;
  return known >= 0 ? known : count;
}

// The failure of a pass that read its source to the end (or its limit):
// a source that failed half way would pass figures over part of the
// records for the whole (asked before the rewind, which may clear a host
// source's failure).
int32_t PassFailure(MultiPassRecordIter& source, bool invalidTarget) {
  if (detail::SourceFailed(source)) return codes::kTrainSourceNotGood;
  return invalidTarget ? codes::kNoActiveCategory : 0;
}

// Ends one pass: in a shared pass the processes put their trees together
// and agree on a cancel and a failure. The returned status is the pass's
// outcome; `canceled` tells the caller to stop quietly.
VXStatus ClosePass(PassCombiner* combiner, NNetwork& network, detail::BlockTree& tree,
                   int32_t failure, bool& canceled) {
  canceled = false;
  if (!combiner) {
    canceled = network.IsCanceled();
    return failure != 0 && !canceled ? VXStatus(failure, false) : VXStatus();
  }
  int exchanged = 0;
  const detail::Agreement agreed =
      detail::ExchangePass(*combiner, tree, network, failure, exchanged);
  if (exchanged != 0) return VXStatus(exchanged, false);
  canceled = agreed.canceled;
  if (canceled) network.IsCanceled();  // latches the run's cancel
  return agreed.failure != 0 && !canceled ? VXStatus(agreed.failure, false) : VXStatus();
}

}  // namespace

namespace detail {

VXStatus RefuseSharedOutputStats(NNetwork& network, const VXStatus& failure) {
  PassCombiner* combiner = GetPassCombiner();
  if (!combiner) return failure;
  SharedRunScope scope;
  Shares shares;
  const VXStatus exchanged =
      ExchangeShares(*combiner, network, {-1}, failure.GetErrorCode(), shares,
                     std::vector<double>(ShiftExtraSize(network.GetNumOutputs()), 0.0));
  return exchanged.GetErrorCode() == codes::kExchangeFailed ? exchanged : failure;
}

}  // namespace detail

VXStatus ComputeOutputStats(NNetwork& network, MultiPassRecordIter& source, int maxRecords,
                            NNOutputStatistics& stats) {
  network.ResetDerivatives();
  stats.Rebuild(network.GetNumOutputCategories());
  INLayer* outputLayer = network.GetLayer(network.GetNumLayers());
  if (outputLayer == nullptr) return VXStatus(codes::kNotAvailable, true);

  const int nInputs = network.GetNumInputs();
  const int nOutputs = network.GetNumOutputs();
  const std::vector<int>& categories = stats.fNCategories;
  // The category counts may not describe more units than the network has.
  int described = 0;
  std::size_t cells = 0;
  for (int n : categories) {
    if (n < 1) return VXStatus(codes::kNotAvailable, true);
    described += n;
    if (n > 1) cells += Index(n) * Index(n);
  }
  if (described > nOutputs || outputLayer->GetNumUnits() < nOutputs)
    return VXStatus(codes::kNotAvailable, true);

  // In a shared pass the source holds this process's share, and maxRecords
  // bounds the whole sequence, as it bounds one process's records.
  detail::SharedRunScope run;
  PassCombiner* combiner = GetPassCombiner();
  const int width = nInputs + nOutputs;
  long long first = 0;
  std::vector<double> shift;
  if (combiner) {
    detail::Shares shares;
    std::vector<double> firstTargets;
    const long long count = CountWithFirst(source, width, nInputs, firstTargets);
    // Each process tells whether it holds a full record and its first
    // one's targets; the first process in rank order that does holds the
    // sequence's first record.
    std::vector<double> extra(ShiftExtraSize(nOutputs), 0.0);
    if (!firstTargets.empty()) {
      extra[0] = 1.0;
      std::copy(firstTargets.begin(), firstTargets.end(), extra.begin() + 1);
    }
    const VXStatus begun = detail::ExchangeShares(*combiner, network, {count}, 0, shares, extra);
    if (shares.canceled) network.IsCanceled();
    if (!begun.IsOK() || shares.canceled) {
      stats.Reset();
      return begun;
    }
    first = shares.mine[0].first;
    for (std::size_t at = 0; at < shares.extras.size() && shift.empty(); at += extra.size())
      if (shares.extras[at] != 0.0)
        shift.assign(shares.extras.begin() + static_cast<std::ptrdiff_t>(at + 1),
                     shares.extras.begin() + static_cast<std::ptrdiff_t>(at + extra.size()));
  }
  const long long limit = std::max(0LL, static_cast<long long>(maxRecords) - first);

  // Every figure is a sum over the records, formed block by block and
  // added up in the fixed tree over the blocks' places, so any cut of the
  // records between processes, and any number of threads, gives the same
  // bits.
  const SumsLayout at(Index(nOutputs), Index(stats.fNCatOutputs), cells);
  detail::BlockTree tree;
  detail::BlockSums sums(tree, at.width, first);
  ForwardChunk chunk(network, width, nOutputs);
  PassReader reader(source, network, width, limit, first);
  bool invalidTarget = false;
  bool more = true;
  while (more && !invalidTarget) {
    int got = 0;
    for (const double* values;
         got < chunk.Capacity() && (values = reader.Next(chunk.Place(got))) != nullptr;)
      std::copy(values, values + width, chunk.Record(got++));
    more = got == chunk.Capacity();
    chunk.Run(got, nInputs);
    for (int r = 0; r < got && !invalidTarget; ++r) {
      double* s = sums.At(chunk.Place(r));
      const double* targets = chunk.Record(r) + nInputs;
      const double* outputs = chunk.Outputs(r);
      if (shift.empty()) shift.assign(targets, targets + nOutputs);
      s[SumsLayout::kError] += chunk.Error(r);
      s[SumsLayout::kCount] += 1.0;
      for (std::size_t u = 0; u < Index(nOutputs); ++u) {
        const double e = targets[u] - outputs[u];
        const double d = targets[u] - shift[u];
        s[at.squaredError + u] += e * e;
        s[at.shifted + u] += d;
        s[at.shiftedSquares + u] += d * d;
      }
      int offset = 0;
      std::size_t k = 0, cell = at.cell;
      for (int n : categories) {
        if (n > 1) {
          const int target = TargetCategory(targets + offset, n);
          if (target < 0) {
            invalidTarget = true;
            break;
          }
          const int predicted = PredictedCategory(outputs + offset, n);
          if (predicted != target) s[at.misclassified + k] += 1.0;
          if (predicted >= 0) s[cell + Index(target * n + predicted)] += 1.0;
          cell += Index(n) * Index(n);
          ++k;
        }
        offset += n;
      }
    }
  }
  sums.Finish();
  bool canceled = false;
  // A cancelled pass leaves the source where it stopped.
  const int32_t failure = network.IsCanceled() ? 0 : PassFailure(source, invalidTarget);
  if (!network.IsCanceled()) source.Rewind();
  VXStatus status = ClosePass(combiner, network, tree, failure, canceled);
  if (canceled || !status.IsOK()) {
    stats.Reset();
    return status;
  }
  std::vector<double> total(at.width);
  tree.Total(total.data());
  const double count = total[SumsLayout::kCount];

  std::vector<double> squaredDeviation(Index(nOutputs), 0.0);
  if (count > 0)
    for (std::size_t u = 0; u < squaredDeviation.size(); ++u) {
      const double d = total[at.shifted + u];
      const double deviation = total[at.shiftedSquares + u] - d * d / count;
      // Rounding may leave a constant target a hair below 0; a NaN target
      // leaves NaN, which no figure takes for a deviation.
      squaredDeviation[u] = deviation < 0.0 ? 0.0 : deviation;
    }

  double pooledError = 0.0;
  double pooledDeviation = 0.0;
  for (std::size_t u = 0; u < Index(nOutputs); ++u) {
    pooledError += total[at.squaredError + u];
    pooledDeviation += squaredDeviation[u];
  }
  int offset = 0;
  std::size_t continuous = 0;
  std::size_t categorical = 0;
  std::size_t cell = at.cell;
  double percentIncorrectSum = 0.0;
  for (int n : categories) {
    if (n == 1) {
      const std::size_t u = Index(offset);
      if (squaredDeviation[u] > 0.0)
        stats.fRelativeErrors[continuous] = total[at.squaredError + u] / squaredDeviation[u];
      ++continuous;
    } else {
      const double incorrect =
          count > 0 ? 100.0 * (total[at.misclassified + categorical] / count) : 0.0;
      stats.fPercentsCorrect[categorical] = 100.0 - incorrect;
      percentIncorrectSum += incorrect;
      std::vector<int>& matrix = stats.fMisClassMatrices[categorical];
      for (std::size_t i = 0; i < matrix.size(); ++i) matrix[i] = static_cast<int>(total[cell + i]);
      cell += matrix.size();
      ++categorical;
    }
    offset += n;
  }
  stats.fTotalError = total[SumsLayout::kError];
  if (pooledDeviation > 0.0) stats.fAvgRelativeError = pooledError / pooledDeviation;
  stats.fAvgPercentIncorrect =
      stats.fNCatOutputs > 0 ? percentIncorrectSum / stats.fNCatOutputs : 0.0;
  stats.fStatus = VXNNCommon::kOutStatComputed;
  return VXStatus();
}

}  // namespace VXNeural
