#include "vxneural/evaluation/NNSensitivity.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <ctime>
#include <memory>
#include <utility>

#include "data/SourceCheck.h"
#include "evaluation/EvaluationCodes.h"
#include "evaluation/FirstLayerProber.h"
#include "evaluation/PassNetworks.h"
#include "evaluation/SharedEvaluation.h"
#include "network/PassWorkers.h"
#include "network/TreeExchange.h"
#include "network/kernels/KernelTable.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/evaluation/NNSensReporter.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::ProgressListener;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;

NNSensReporter::~NNSensReporter() = default;

int NNSensReporter::DiscreteMeasure(const std::string& name) {
  if (name == "records") return fNetwork->GetSensRecordsProcessed();
  return -1;
}

double NNSensReporter::ScaleMeasure(const std::string& name) {
  if (name == "elapsedTime") return fNetwork->GetSensElapsedTime();
  return VXMV::gMissingValue;
}

namespace VXNeural {

namespace {

std::size_t Index(int i) { return static_cast<std::size_t>(i); }

// Reports come at the first record, then once this many seconds have
// passed, or more than this many records have been processed, since the
// previous one.
constexpr double kReportSeconds = 8.5;
constexpr int kReportRecords = 899;
constexpr int kContinuousProbes = 5;
// Records are read in chunks of about this many multiply-adds of probing
// (a few milliseconds): enough to keep every thread busy between two
// hand-overs, few enough that the progress reports and a cancel request
// still come promptly. The chunk's length changes no result.
constexpr double kChunkWork = 1 << 24;
constexpr int kMostChunkRecords = 512;

int Probes(int categories) { return categories == 1 ? kContinuousProbes : categories; }

// Probes records one at a time on a network of its own: a probe writes the
// layers' unit values, so each thread needs its own network (the caller's
// for the first, a copy for the others). A record's contributions depend
// on nothing but the record and the weights, so any prober gives the same
// bits for it.
class RecordProber {
 public:
  RecordProber(NNetwork& network, const std::vector<int>& categories, const std::vector<double>& lo,
               const std::vector<double>& hi, SensitivityMethod method)
      : fNetwork(network),
        fProber(network),
        fUpdate(method == SensitivityMethod::kFirstLayerUpdate && fProber.Usable()),
        fOutputLayer(*network.GetLayer(network.GetNumLayers())),
        fCategories(categories),
        fLo(lo),
        fHi(hi),
        fNOutputs(fOutputLayer.GetNumUnits()),
        fInputs(Index(network.GetNumInputs())) {
    int probes = 1;
    for (int n : categories) probes = std::max(probes, Probes(n));
    fOutputs.assign(Index(probes) * Index(fNOutputs), 0.0);
  }

  // Every variable's contribution for the record whose input columns start
  // at x, into contribution[v]. False when a categorical variable has no
  // active column: that variable and the ones after it get 0.
  bool Contributions(const double* x, double* contribution) {
    std::copy(x, x + fInputs.size(), fInputs.begin());
    if (fUpdate) fProber.SetBase(fInputs.data());
    std::size_t column = 0;
    std::size_t continuous = 0;
    for (std::size_t v = 0; v < fCategories.size(); ++v) {
      const int k = fCategories[v];
      const int c = static_cast<int>(column);
      if (k == 1) {
        const double lo = fLo[continuous];
        const double step = (fHi[continuous] - lo) / (kContinuousProbes - 1);
        for (int p = 0; p < kContinuousProbes; ++p) {
          const FirstLayerProber::Change change{c, lo + p * step};
          Evaluate(p, &change, 1);
        }
        ++continuous;
      } else {
        const double* group = &fInputs[column];
        int active = -1;
        for (int j = 0; j < k && active < 0; ++j)
          if (group[j] != 0.0) active = j;
        if (active < 0) {
          std::fill(contribution + v, contribution + fCategories.size(), 0.0);
          return false;
        }
        // The active column off and column p on: for p = active, the active
        // column at 1.
        for (int p = 0; p < k; ++p) {
          const FirstLayerProber::Change changes[2] = {{c + active, 0.0}, {c + p, 1.0}};
          if (p == active)
            Evaluate(p, changes + 1, 1);
          else
            Evaluate(p, changes, 2);
        }
        // Any value but 0 marks the active column; the record goes on with
        // it at 1.
        if (group[active] != 1.0) {
          const FirstLayerProber::Change one{c + active, 1.0};
          fInputs[column + Index(active)] = 1.0;
          if (fUpdate) fProber.Move(one);
        }
      }
      contribution[v] = LargestDistance(Probes(k));
      column += Index(k);
    }
    return true;
  }

 private:
  // The outputs of the record with the changes applied, into buffer probe.
  void Evaluate(int probe, const FirstLayerProber::Change* changes, int n) {
    double* out = fOutputs.data() + Index(probe * fNOutputs);
    if (fUpdate) {
      fProber.Probe(changes, n, out);
      return;
    }
    double kept[2] = {0.0, 0.0};
    for (int i = 0; i < n; ++i) {
      double& x = fInputs[Index(changes[i].column)];
      kept[i] = x;
      x = changes[i].value;
    }
    fNetwork.ResetUnitValues();
    fNetwork.ForwardPass(fInputs.data(), true);
    const double* o = fOutputLayer.GetUnitValues();
    std::copy(o, o + fNOutputs, out);
    for (int i = n - 1; i >= 0; --i) fInputs[Index(changes[i].column)] = kept[i];
  }

  double LargestDistance(int probes) const {
    double largest = 0.0;
    for (int p = 0; p < probes; ++p) {
      const double* a = fOutputs.data() + Index(p * fNOutputs);
      for (int q = p + 1; q < probes; ++q) {
        const double* b = fOutputs.data() + Index(q * fNOutputs);
        double sum = 0.0;
        for (int u = 0; u < fNOutputs; ++u) sum += (a[u] - b[u]) * (a[u] - b[u]);
        largest = std::max(largest, std::sqrt(sum));
      }
    }
    return largest;
  }

  NNetwork& fNetwork;
  FirstLayerProber fProber;
  const bool fUpdate;
  INLayer& fOutputLayer;
  const std::vector<int>& fCategories;
  const std::vector<double>& fLo;
  const std::vector<double>& fHi;
  const int fNOutputs;
  // The record being probed: a copy of its input columns.
  std::vector<double> fInputs;
  // One output vector per probe point, for the largest number of points.
  std::vector<double> fOutputs;
};

// One computation: the probe layout, the ranges, the probers (one per
// thread) and the progress bookkeeping.
//
// The calling thread reads a chunk of records (asking the host's cancel
// object before each), the pass threads probe them into one row of
// contributions per record, and the calling thread adds the rows in record
// order into the sums of their blocks: the result is the same bits for any
// number of threads.
class SensitivityRun {
 public:
  SensitivityRun(NNetwork& network, const std::vector<int>& categories, SensitivityMethod method)
      : fNetwork(network),
        fMethod(method),
        fCategories(categories),
        fWidth(Index(network.GetNumInputs())),
        fNetworks(network),
        fStart(std::clock()) {
    const NeuralSettings* settings = network.GetSettings();
    fListener = settings ? settings->GetProgressListener() : nullptr;
    // The reference kernel's passes stay on the calling thread.
    fThreads = detail::ActiveKernelTable() ? GetPassThreads() : 1;
    double probes = 0.0;
    for (int n : categories) probes += Probes(n);
    const double work = std::max(1.0, probes * std::max(1, network.GetNumWeights()));
    fChunk = static_cast<int>(std::min<double>(kMostChunkRecords, kChunkWork / work));
    fChunk = std::max(fChunk, fThreads);
  }

  // Range of each continuous input from the records (missing values
  // ignored). False when cancelled.
  bool FindRanges(MultiPassRecordIter& source, long long maxRecords) {
    const int width = fNetwork.GetNumInputs();
    long long n = 0;
    bool cancelled = false;
    while (n < maxRecords && source.IsGood()) {
      if (fNetwork.IsCanceled()) {
        cancelled = true;
        break;
      }
      const Record* record = source.Next();
      if (record == nullptr) break;
      if (record->Size() < width) continue;
      ++n;
      const double* x = record->GetAll();
      int column = 0;
      std::size_t c = 0;
      for (int k : fCategories) {
        if (k == 1) {
          const double v = x[column];
          if (!VXMV::IsMissing(v) && !std::isnan(v)) {
            fLo[c] = std::min(fLo[c], v);
            fHi[c] = std::max(fHi[c], v);
          }
          ++c;
        }
        column += k;
      }
    }
    if (!cancelled && detail::SourceFailed(source)) fSourceFailed = true;
    source.Rewind();
    return !cancelled;
  }
  // Whether a source failed part way through FindRanges (a shortened range
  // would be silently wrong).
  bool SourceFailed() const { return fSourceFailed; }

  const std::vector<double>& Lo() const { return fLo; }
  const std::vector<double>& Hi() const { return fHi; }
  // Takes in another process's smallest and largest values.
  void Widen(const double* lo, const double* hi) {
    for (std::size_t c = 0; c < fLo.size(); ++c) {
      fLo[c] = std::min(fLo[c], lo[c]);
      fHi[c] = std::max(fHi[c], hi[c]);
    }
  }

  void SetRanges(std::vector<double> lo, std::vector<double> hi) {
    fLo = std::move(lo);
    fHi = std::move(hi);
  }
  void StartRangeSearch(std::size_t nContinuous) {
    fLo.assign(nContinuous, DBL_MAX);
    fHi.assign(nContinuous, -DBL_MAX);
  }
  // A continuous input without any value has nothing to sweep.
  void CloseRanges() {
    for (std::size_t c = 0; c < fLo.size(); ++c)
      if (fLo[c] > fHi[c]) fLo[c] = fHi[c] = 0.0;
  }

  // Outcome of reading one source.
  enum Outcome { kDone, kCancelled, kNoActiveCategory, kSourceFailed };

  // Probes the records of source (at most maxRecords) whose places in the
  // whole sequence start at `first`: each record's contributions, and a
  // count, go into the sums of its block of `tree`.
  Outcome Probe(MultiPassRecordIter& source, long long maxRecords, long long first,
                detail::BlockTree& tree) {
    const std::size_t nVars = fCategories.size();
    fRecords.resize(Index(fChunk) * fWidth);
    fPlaces.resize(Index(fChunk));
    fContributions.resize(Index(fChunk) * nVars);
    fComplete.resize(Index(fChunk));
    detail::BlockSums sums(tree, nVars + 1, first);
    long long n = 0;
    long long place = first;
    Outcome outcome = kDone;
    bool more = true;
    while (more && outcome == kDone) {
      int got = 0;
      while (got < fChunk && n < maxRecords && source.IsGood()) {
        if (fNetwork.IsCanceled()) {
          outcome = kCancelled;
          break;
        }
        const Record* record = source.Next();
        if (record == nullptr) break;
        const long long at = place++;
        if (record->Size() < static_cast<int>(fWidth)) continue;
        ++n;
        std::copy(record->GetAll(), record->GetAll() + fWidth, &fRecords[Index(got) * fWidth]);
        fPlaces[Index(got)] = at;
        ++got;
      }
      more = got == fChunk;
      ProbeChunk(got);
      for (int r = 0; r < got; ++r) {
        const double* c = &fContributions[Index(r) * nVars];
        double* s = sums.At(fPlaces[Index(r)]);
        for (std::size_t v = 0; v < nVars; ++v) s[v] += c[v];
        // The records after it were read but are not counted.
        if (!fComplete[Index(r)]) {
          outcome = kNoActiveCategory;
          break;
        }
        s[nVars] += 1.0;
        ++fProcessed;
        fNetwork.SetSensRecordsProcessed(fProcessed);
        fNetwork.SetSensElapsedTime(Elapsed());
        MaybeReport();
      }
    }
    sums.Finish();
    // Asked before the rewind, which may clear a host source's failure.
    if (outcome == kDone && detail::SourceFailed(source)) outcome = kSourceFailed;
    source.Rewind();
    return outcome;
  }

  int Processed() const { return fProcessed; }

  void FinalReport() {
    if (fListener && fProcessed > fReportedAt) Report();
  }

 private:
  // Contributions of the first n records of the chunk, each record taken
  // by whichever thread is free.
  void ProbeChunk(int n) {
    if (n < 1) return;
    const int workers = Probers(std::min(fThreads, n));
    std::atomic<int> next{0};
    const std::size_t nVars = fCategories.size();
    detail::RunWorkers(workers, [&](int w) {
      RecordProber& prober = *fProbers[Index(w)];
      for (int r = next.fetch_add(1); r < n; r = next.fetch_add(1))
        fComplete[Index(r)] =
            prober.Contributions(&fRecords[Index(r) * fWidth], &fContributions[Index(r) * nVars]);
    });
  }

  // Makes up to `wanted` probers, one per network of fNetworks; returns
  // how many there are (fewer when a copy cannot be made).
  int Probers(int wanted) {
    const int networks = std::min(wanted, fNetworks.Ensure(wanted));
    while (static_cast<int>(fProbers.size()) < networks) {
      NNetwork& network = fNetworks.At(static_cast<int>(fProbers.size()));
      fProbers.push_back(std::make_unique<RecordProber>(network, fCategories, fLo, fHi, fMethod));
    }
    return std::min(wanted, static_cast<int>(fProbers.size()));
  }

  double Elapsed() const {
    const double milliseconds =
        static_cast<double>(std::clock() - fStart) * 1000.0 / CLOCKS_PER_SEC;
    return milliseconds / 1000.0;
  }

  void MaybeReport() {
    if (!fListener) return;
    if (fProcessed == 1 || fNetwork.GetSensElapsedTime() - fReportedTime >= kReportSeconds ||
        fProcessed - fReportedAt > kReportRecords)
      Report();
  }

  void Report() {
    fReportedAt = fProcessed;
    fReportedTime = fNetwork.GetSensElapsedTime();
    NNSensReporter reporter(fNetwork);
    fListener->Report(reporter);
  }

  NNetwork& fNetwork;
  const SensitivityMethod fMethod;
  const std::vector<int>& fCategories;
  const std::size_t fWidth;
  int fThreads = 1;
  int fChunk = 1;
  std::vector<double> fLo;
  std::vector<double> fHi;
  detail::PassNetworks fNetworks;
  std::vector<std::unique_ptr<RecordProber>> fProbers;
  // The chunk: input columns of each record, its place in the whole
  // sequence, its contributions and whether every categorical input had an
  // active column (a byte per record: threads write neighbouring ones at
  // once).
  std::vector<double> fRecords;
  std::vector<long long> fPlaces;
  std::vector<double> fContributions;
  std::vector<unsigned char> fComplete;
  ProgressListener* fListener = nullptr;
  std::clock_t fStart;
  int fProcessed = 0;
  bool fSourceFailed = false;
  int fReportedAt = 0;
  double fReportedTime = 0.0;
};

// Probes one source into tree and, in a shared computation, puts the
// processes' trees together. `canceled`: the computation was cancelled
// (on any process), which is no error.
VXStatus ProbeSource(SensitivityRun& run, NNetwork& network, PassCombiner* combiner,
                     MultiPassRecordIter& source, long long limit, long long first,
                     detail::BlockTree& tree, int32_t sourceFailedCode, bool& canceled) {
  const SensitivityRun::Outcome outcome = run.Probe(source, limit, first, tree);
  const int32_t failure = outcome == SensitivityRun::kSourceFailed       ? sourceFailedCode
                          : outcome == SensitivityRun::kNoActiveCategory ? codes::kNoActiveCategory
                                                                         : 0;
  canceled = outcome == SensitivityRun::kCancelled;
  if (!combiner) return failure != 0 ? VXStatus(failure, false) : VXStatus();
  int exchanged = 0;
  const detail::Agreement agreed =
      detail::ExchangePass(*combiner, tree, network, failure, exchanged);
  if (exchanged != 0) return VXStatus(exchanged, false);
  canceled = agreed.canceled;
  if (canceled) {
    network.IsCanceled();
    return VXStatus();
  }
  return agreed.failure != 0 ? VXStatus(agreed.failure, false) : VXStatus();
}

}  // namespace

VXStatus ComputeSensitivity(NNetwork& network, MultiPassRecordIter& train,
                            MultiPassRecordIter* test, int nTrain, int nTest, int nInputVars,
                            const std::vector<int>& nInputCats, bool useGivenRanges,
                            const std::vector<double>& mins, const std::vector<double>& maxs,
                            std::vector<double>& importance, SensitivityMethod method) {
  INLayer* outputLayer = network.GetLayer(network.GetNumLayers());
  if (outputLayer == nullptr) return VXStatus(codes::kNotAvailable, true);

  // The arguments must describe exactly the network's input columns: the
  // probes write into them.
  if (nInputVars < 0 || nInputCats.size() != Index(nInputVars))
    return VXStatus(codes::kSensitivityArgumentsDiffer, false);
  long columns = 0;
  std::size_t nContinuous = 0;
  for (int k : nInputCats) {
    if (k < 1) return VXStatus(codes::kSensitivityArgumentsDiffer, false);
    columns += k;
    if (k == 1) ++nContinuous;
  }
  if (columns != network.GetNumInputs()) return VXStatus(codes::kSensitivityArgumentsDiffer, false);
  if (useGivenRanges && (mins.size() < nContinuous || maxs.size() < nContinuous))
    return VXStatus(codes::kSensitivityArgumentsDiffer, false);

  network.ResetDerivatives();
  network.SetSensRecordsProcessed(0);
  network.SetSensElapsedTime(0.0);
  importance.assign(Index(nInputVars), 0.0);
  SensitivityRun run(network, nInputCats, method);

  // In a shared computation each source holds this process's share of its
  // whole set, and nTrain and nTest bound the whole sets, as they bound one
  // process's records.
  detail::SharedRunScope scope;
  PassCombiner* combiner = GetPassCombiner();
  long long trainFirst = 0, testFirst = 0;
  if (combiner) {
    detail::Shares shares;
    const VXStatus begun =
        detail::ExchangeShares(*combiner, network, detail::CountShares({&train, test}), 0, shares);
    if (shares.canceled) network.IsCanceled();
    if (!begun.IsOK() || shares.canceled) return begun;
    trainFirst = shares.mine[0].first;
    testFirst = test ? shares.mine[1].first : 0;
  }
  const long long trainLimit = std::max(0LL, static_cast<long long>(nTrain) - trainFirst);
  const long long testLimit = std::max(0LL, static_cast<long long>(nTest) - testFirst);

  if (useGivenRanges) {
    const auto n = static_cast<std::ptrdiff_t>(nContinuous);
    run.SetRanges(std::vector<double>(mins.begin(), mins.begin() + n),
                  std::vector<double>(maxs.begin(), maxs.begin() + n));
  } else {
    run.StartRangeSearch(nContinuous);
    if (nContinuous > 0) {
      int32_t failure = 0;
      bool found = run.FindRanges(train, trainLimit);
      if (found && run.SourceFailed()) failure = codes::kTrainSourceNotGood;
      if (found && failure == 0 && test) {
        found = run.FindRanges(*test, testLimit);
        if (found && run.SourceFailed()) failure = codes::kTestSourceNotGood;
      }
      if (combiner) {
        // The smallest and largest values of every process: exact, in any
        // order.
        std::vector<double> head = detail::ExchangeHead(network, failure);
        head.insert(head.end(), run.Lo().begin(), run.Lo().end());
        head.insert(head.end(), run.Hi().begin(), run.Hi().end());
        detail::BlockTree none;
        none.Reset(0, 0);
        std::vector<double> heads;
        const int exchanged = detail::ExchangeTree(*combiner, none, head, heads);
        if (exchanged != 0) return VXStatus(exchanged, false);
        const detail::Agreement agreed = detail::Agree(heads, head.size());
        if (agreed.canceled) {
          network.IsCanceled();
          return VXStatus();
        }
        failure = agreed.failure;
        found = true;
        for (std::size_t at = 0; at < heads.size(); at += head.size())
          run.Widen(&heads[at + 2], &heads[at + 2 + nContinuous]);
      }
      if (!found) return VXStatus();
      if (failure != 0) return VXStatus(failure, false);
    }
    run.CloseRanges();
  }

  // The contributions are summed block by block in a fixed tree over the
  // blocks' places, the training records' tree and then the test records',
  // so any cut of the records between processes gives the same bits.
  const std::size_t nVars = Index(nInputVars);
  detail::BlockTree trainTree, testTree;
  trainTree.Reset(nVars + 1, 0);
  testTree.Reset(nVars + 1, 0);
  bool canceled = false;
  VXStatus status = ProbeSource(run, network, combiner, train, trainLimit, trainFirst, trainTree,
                                codes::kTrainSourceNotGood, canceled);
  if (status.IsOK() && !canceled && test)
    status = ProbeSource(run, network, combiner, *test, testLimit, testFirst, testTree,
                         codes::kTestSourceNotGood, canceled);
  // A stop leaves the sums of the records probed so far, unscaled.
  std::vector<double> sums(nVars + 1), testSums(nVars + 1);
  trainTree.Total(sums.data());
  testTree.Total(testSums.data());
  for (std::size_t v = 0; v <= nVars; ++v) sums[v] += testSums[v];
  std::copy(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(nVars), importance.begin());
  if (canceled) return VXStatus();
  const bool probedToEnd = status.IsOK() || status.GetErrorCode() == codes::kNoActiveCategory;
  if (!probedToEnd) return status;
  run.FinalReport();
  if (!status.IsOK()) return status;

  const double processed = sums[nVars];
  if (processed > 0) {
    double sum = 0.0;
    for (double& v : importance) {
      v /= processed;
      sum += v;
    }
    if (sum > 0.0)
      for (double& v : importance) v /= sum;
  }
  return VXStatus();
}

}  // namespace VXNeural
