// The size selection's fits: every candidate size trained on the folds of
// the usable records and measured on the fold held out. The rules it
// follows (folds, candidate grids, the choice) are in SizeSelection.h.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "training/TrainSteps.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/RBFAlgorithm.h"
#include "vxneural/network/PassThreads.h"

namespace vxnn {

using VXCommon_1_2::Record;

namespace {

// Some of the records of a vector held elsewhere, in the order of their
// positions: the folds of the size selection share one copy of the
// records rather than each holding its own.
class IndexedRecordIter : public VXCommon_1_2::MultiPassRecordIter,
                          public VXCommon_1_2::RecordRowSource {
 public:
  IndexedRecordIter(const std::vector<Record>& records, const std::vector<std::size_t>& at)
      : fRecords(records), fAt(at) {}
  bool IsGood() override { return fNext < fAt.size(); }
  const Record* Next() override { return fNext < fAt.size() ? &fRecords[fAt[fNext++]] : nullptr; }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    fNext = 0;
    return GetStatus();
  }
  // The records stay where they are, so a block is handed out in place.
  int NextRows(const double** rows, int max, int width) override {
    int n = 0;
    while (n < max && fNext < fAt.size()) {
      const Record& record = fRecords[fAt[fNext++]];
      if (record.Size() >= width) rows[n++] = record.GetAll();
    }
    return n;
  }
  int Count() const { return static_cast<int>(fAt.size()); }

 private:
  const std::vector<Record>& fRecords;
  const std::vector<std::size_t>& fAt;
  std::size_t fNext = 0;
};

// The stratum of each record: the code of the first target when it is
// categorical, so that every fold holds each class in proportion; one
// stratum otherwise.
std::vector<int> StrataOf(const std::vector<Record>& records, const NNVarList& list) {
  std::vector<int> strata(records.size(), 0);
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    if (list.GetVarAt(v)->GetMeasureLevel() == INNVariable::kContinuous) return strata;
    std::map<double, int> codes;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const double value = records[i][v];
      strata[i] = codes.emplace(value, static_cast<int>(codes.size())).first->second;
    }
    return strata;
  }
  return strata;
}

SizeCandidate Sized(int units, double overlap, bool toStopRules = false) {
  SizeCandidate c;
  c.fUnits = units;
  c.fOverlap = overlap;
  c.fToStopRules = toStopRules;
  return c;
}

unsigned SelectionThreads(const TrainOptions& o) {
  // A combiner serves the one thread it was set on: a --distributed run's
  // fits follow each other, each shared by every process.
  if (o.fCombiner) return 1;
  if (o.fSelectionThreads > 0) return static_cast<unsigned>(o.fSelectionThreads);
  return static_cast<unsigned>(VXNeural::GetPassThreads());
}

// The options that fit one candidate size.
TrainOptions CandidateOptions(const TrainOptions& o, Candidate which, const SizeCandidate& c) {
  TrainOptions t = o;
  t.fHiddenUnits = {c.fUnits};
  if (which == Candidate::kRBF) t.fOverlap = c.fOverlap;
  // An early-stopped candidate stops on its held-out fold, as the kept run
  // will on the test records; the other trains to the stop rules.
  t.fEarlyStopping = !c.fToStopRules;
  t.fTestErrorDecides = !c.fToStopRules;
  t.fImportance = false;
  return t;
}

}  // namespace

TrainOptions SelectSize(Candidate which, const TrainOptions& o, TrainResult& r,
                        ProgressBar& progress) {
  const bool rbf = which == Candidate::kRBF;
  SizeSelection sel;
  sel.fNetwork = CandidateName(which);
  // The folds are drawn from every usable record, training and test
  // share: on a few hundred records the selection needs all the data it
  // can get. The test share still decides when to stop and which kind of
  // network to keep, but its figures then come from records that helped
  // choose the size; the summary says which records the folds used.
  const int n = static_cast<int>(r.fTrainCounts.fKept + r.fTestCounts.fKept);
  sel.fRecords = n;
  const int folds = o.fFolds ? std::min(*o.fFolds, n) : FoldsFor(n);
  const long values = static_cast<long>(n) * static_cast<long>(r.fList->Size());
  if (folds < 2 || n < kSelectionMinRecords) {
    sel.fSkipped = std::to_string(n) + " records are too few to cross-validate";
  } else if (values > kSelectionMaxValues) {
    sel.fSkipped = std::to_string(n) + " records are too many to hold for the folds";
  } else if (o.fSizeSelection == SizeSelectionMode::kAuto && n > kSelectionAutoMaxRecords) {
    sel.fSkipped = std::to_string(n) + " records are more than the " +
                   std::to_string(kSelectionAutoMaxRecords) +
                   " it cross-validates unasked (--size-selection cv does)";
  }
  if (!sel.fSkipped.empty()) {
    r.fSizeSelections.push_back(sel);
    return o;
  }
  sel.fFolds = folds;
  // Timed only when it runs: the summary leaves a skipped selection out.
  const JobClock::Scope selecting = r.fTimes.Enter(Phase::kSelection);

  // A --distributed run's sources hold shares: every process reads the
  // whole sets for the folds (few records, or the selection would not
  // run), so that each can cut every fold as one process does, hand its
  // shared fits its ShareOf each fold, and measure the folds alone.
  std::vector<Record> records =
      o.fCombiner ? r.fWholeSide(RowSide::kTrain) : Collect(*r.fTrainSource);
  if (r.fTestSource && r.fTestCounts.fKept > 0) {
    std::vector<Record> test = o.fCombiner ? r.fWholeSide(RowSide::kTest) : Collect(*r.fTestSource);
    records.insert(records.end(), std::make_move_iterator(test.begin()),
                   std::make_move_iterator(test.end()));
  }
  const std::vector<int> strata = StrataOf(records, *r.fList);
  const std::vector<int> foldOf = FoldOf(strata, folds, o.fPartitionSeed);
  // Read with their positions from here on.
  std::vector<std::vector<std::size_t>> inFold(static_cast<std::size_t>(folds)),
      outFold(static_cast<std::size_t>(folds));
  for (std::size_t i = 0; i < records.size(); ++i)
    for (int f = 0; f < folds; ++f)
      (foldOf[i] == f ? inFold : outFold)[static_cast<std::size_t>(f)].push_back(i);

  // Early stopping is judged as the kept model will be trained: within a
  // fold's training records a third is held out to stop on, the passes
  // found are refitted on all of them, and the fold measures the result.
  // Stopping on the measured fold itself would flatter it against a
  // network trained to the stop rules.
  std::vector<std::vector<std::size_t>> innerTrain(inFold.size()), innerStop(inFold.size());
  if (!rbf) {
    for (std::size_t f = 0; f < inFold.size(); ++f) {
      // Numbered in the order the fold's records meet them, as StrataOf
      // numbers a set of records.
      std::vector<int> outStrata;
      std::map<int, int> codes;
      for (std::size_t i : outFold[f])
        outStrata.push_back(codes.emplace(strata[i], static_cast<int>(codes.size())).first->second);
      const std::vector<int> inner =
          FoldOf(outStrata, 3, o.fPartitionSeed + static_cast<unsigned>(f));
      for (std::size_t k = 0; k < outFold[f].size(); ++k)
        (inner[k] == 0 ? innerStop : innerTrain)[f].push_back(outFold[f][k]);
    }
  }
  auto fitFold = [&](const TrainOptions& given, std::size_t f, ProgressBar& own) {
    const bool inner = !rbf && given.fEarlyStopping.value_or(true);
    // Every process holds every record here: a fold too small for each
    // process to hold some of each of its sets is fitted by every process
    // alone, which gives the same fit.
    TrainOptions t = given;
    if (t.fCombiner &&
        !(Shareable(static_cast<long long>(outFold[f].size()), *t.fCombiner) &&
          (!inner || (Shareable(static_cast<long long>(innerTrain[f].size()), *t.fCombiner) &&
                      Shareable(static_cast<long long>(innerStop[f].size()), *t.fCombiner)))))
      t.fCombiner = nullptr;
    const std::vector<std::size_t> allAt = HeldOf(outFold[f], t.fCombiner);
    const int nAll = static_cast<int>(outFold[f].size());
    IndexedRecordIter all(records, allAt);
    if (!inner) return FitOn(which, t, r, all, nAll, nullptr, 0, Purpose::kSelect, own);
    const std::vector<std::size_t> trainAt = HeldOf(innerTrain[f], t.fCombiner),
                                   stopAt = HeldOf(innerStop[f], t.fCombiner);
    IndexedRecordIter train(records, trainAt), stop(records, stopAt);
    const Fit held = FitOn(which, t, r, train, static_cast<int>(innerTrain[f].size()), &stop,
                           static_cast<int>(innerStop[f].size()), Purpose::kSelect, own);
    const RefitLimit limit = RefitLimitFor(
        static_cast<const MLPSettings&>(*held.fAlgorithm->GetSettings()), held.fBestPasses);
    return FitOn(which, RefitOptions(t, held, limit), r, all, nAll, nullptr, 0, Purpose::kRefit,
                 own);
  };
  // The folds' fits report through the bar of the whole run, one at a
  // time, as the selection's, whatever step of a fold reports: a host's
  // observer is called from the threads.
  std::mutex reporting;
  progress.Begin("cross-validating", 0, 0.0, false);
  const ProgressBar::Observer forward = [&](const std::string&,
                                            VXCommon_1_2::ProgressReport& report) {
    const std::lock_guard<std::mutex> lock(reporting);
    progress.Report(report);
  };
  // One fit's outcome on one fold: its loss, or why the data were refused.
  struct Cell {
    double fLoss = VXMV::gMissingValue;
    std::string fLeftOut;
    double fSeconds = 0.0;
  };
  const std::size_t nFolds = inFold.size();
  // Runs task(0 .. count - 1) on as many threads as the options allow, as
  // threads come free. Each task reads only the shared records and writes
  // only its own cells, so that the outcome does not depend on the number
  // of threads. A failure other than a refusal of the data cancels the
  // other fits and is thrown once all have ended.
  auto runTasks = [&](std::size_t count, const std::function<void(std::size_t)>& task) {
    std::vector<std::exception_ptr> failures(count);
    std::atomic<std::size_t> next{0};
    const unsigned threads = std::min<std::size_t>(SelectionThreads(o), count);
    auto work = [&] {
      // With the fits side by side on every thread, each fit's passes stay
      // on its own thread.
      if (threads > 1) VXNeural::SetPassThreadsOnThisThread(1);
      for (std::size_t i; (i = next.fetch_add(1)) < count;) {
        try {
          task(i);
        } catch (...) {
          failures[i] = std::current_exception();
          r.fCancel.Cancel();  // the other fits end at their next poll
        }
      }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    VXNeural::SetPassThreadsOnThisThread(0);
    for (std::thread& t : pool) t.join();
    for (const std::exception_ptr& failure : failures)
      if (failure) std::rethrow_exception(failure);
  };
  // Judged by what the user is shown, the share misclassified or the
  // relative error: early-stopped and fully trained networks are compared
  // on the same footing.
  auto lossOn = [&](INeuralAlgorithm& a, std::size_t f) {
    IndexedRecordIter test(records, inFold[f]);
    return HeldOutLoss(Evaluate(a, test, test.Count()).fStats);
  };
  // The candidates of a round from their cells (candidate by candidate,
  // fold after fold), each candidate's losses summed in fold order.
  auto collect = [&](const std::vector<SizeCandidate>& round, const std::vector<Cell>& cells) {
    for (std::size_t c = 0; c < round.size(); ++c) {
      SizeCandidate candidate = round[c];
      double sum = 0.0;
      for (std::size_t f = 0; f < nFolds; ++f) {
        const Cell& cell = cells[c * nFolds + f];
        candidate.fSeconds += cell.fSeconds;
        if (!cell.fLeftOut.empty()) {
          candidate.fLeftOut = cell.fLeftOut;
          break;
        }
        if (VXMV::IsMissing(cell.fLoss)) {
          sum = VXMV::gMissingValue;
          break;
        }
        sum += cell.fLoss;
        candidate.fFoldLosses.push_back(cell.fLoss);
      }
      candidate.fLoss = VXMV::IsMissing(sum) ? sum : sum / folds;
      sel.fCandidates.push_back(candidate);
    }
  };
  // Every fold of every candidate of a round is a fit of its own.
  auto measureRound = [&](const std::vector<SizeCandidate>& round) {
    std::vector<Cell> cells(round.size() * nFolds);
    runTasks(cells.size(), [&](std::size_t i) {
      Cell& cell = cells[i];
      const std::size_t f = i % nFolds;
      const auto started = std::chrono::steady_clock::now();
      try {
        std::ostringstream quiet;
        ProgressBar own(quiet, false);
        own.SetObserver(forward);
        const Fit fit = fitFold(CandidateOptions(o, which, round[i / nFolds]), f, own);
        cell.fLoss = lossOn(*fit.fAlgorithm, f);
      } catch (const InputError& e) {
        cell.fLeftOut = e.what();
      }
      cell.fSeconds = SecondsSince(started);
    });
    collect(round, cells);
  };
  // An RBF network's overlaps at one centre count: the clusters do not
  // depend on the overlap, so each fold clusters once, at the first
  // overlap, and the others only scale the widths and solve the output
  // weights again (RBFAlgorithm::RetrainAtOverlap), which trains the same
  // network a fresh fit would.
  auto measureOverlaps = [&](int units, const std::vector<double>& overlaps) {
    std::vector<SizeCandidate> round;
    for (double overlap : overlaps) round.push_back(Sized(units, overlap));
    std::vector<Cell> cells(round.size() * nFolds);
    runTasks(nFolds, [&](std::size_t f) {
      auto started = std::chrono::steady_clock::now();
      auto seconds = [&started] {
        const auto now = std::chrono::steady_clock::now();
        const double s = std::chrono::duration<double>(now - started).count();
        started = now;
        return s;
      };
      std::ostringstream quiet;
      ProgressBar own(quiet, false);
      own.SetObserver(forward);
      TrainOptions first = CandidateOptions(o, which, round[0]);
      first.fKeepClusters = true;
      Fit fit;
      try {
        fit = fitFold(first, f, own);
        cells[f].fLoss = lossOn(*fit.fAlgorithm, f);
      } catch (const InputError& e) {
        for (std::size_t c = 0; c < round.size(); ++c) cells[c * nFolds + f].fLeftOut = e.what();
        return;
      }
      cells[f].fSeconds = seconds();
      auto& a = dynamic_cast<RBFAlgorithm&>(*fit.fAlgorithm);
      // The retrain solves the output weights over the fold's records: shared
      // when the fold's fit was, so that every process keeps the same weights.
      VXNeural::PassCombiner* sharedFit =
          o.fCombiner && Shareable(static_cast<long long>(outFold[f].size()), *o.fCombiner)
              ? o.fCombiner
              : nullptr;
      for (std::size_t c = 1; c < round.size(); ++c) {
        Cell& cell = cells[c * nFolds + f];
        try {
          bool retrained = false;
          {
            const SharedScope shared(sharedFit);
            retrained = a.RetrainAtOverlap(round[c].fOverlap).IsOK();
          }
          if (retrained) {
            cell.fLoss = lossOn(a, f);
          } else {
            const Fit again = fitFold(CandidateOptions(o, which, round[c]), f, own);
            cell.fLoss = lossOn(*again.fAlgorithm, f);
          }
        } catch (const InputError& e) {
          cell.fLeftOut = e.what();
        }
        ThrowIfCancelled(r);
        cell.fSeconds = seconds();
      }
    });
    collect(round, cells);
  };
  auto measure = [&](const SizeCandidate& c) { measureRound({c}); };

  const int foldTrain = n - (n + folds - 1) / folds;
  int ruleIndex = -1;  // the rule's size, trained the better way
  // The size the rules give without a selection, which the others must beat.
  TrainOptions ruled = o;
  ruled.fSizeSelection = SizeSelectionMode::kRule;
  if (rbf) {
    const double base =
        o.fOverlap ? *o.fOverlap : MakeRBFSettings(o, *r.fList, n).GetOverlapFactor();
    // The size rule's count competes too: it follows the width of the
    // encoded inputs, which on wide data can place more centres than the
    // grid's third of the records, and sometimes that is what the data want.
    std::vector<int> counts = RbfCentreGrid(foldTrain);
    sel.fRuleUnits =
        std::min(MakeRBFSettings(ruled, *r.fList, static_cast<int>(r.fTrainCounts.fKept))
                     .GetNumHiddenUnits(1),
                 foldTrain);
    counts.push_back(sel.fRuleUnits);
    std::sort(counts.begin(), counts.end());
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    std::vector<SizeCandidate> round;
    for (int k : counts) round.push_back(Sized(k, base));
    measureRound(round);
    const int best = LeastLoss(sel.fCandidates);
    if (best >= 0 && !o.fOverlap) {
      const int k = sel.fCandidates[static_cast<std::size_t>(best)].fUnits;
      if (o.fReuseClusters) {
        measureOverlaps(k, OverlapGrid(base));
      } else {
        round.clear();
        for (double overlap : OverlapGrid(base)) round.push_back(Sized(k, overlap));
        measureRound(round);
      }
      // Wider basis functions may want another number of them: when the
      // overlap moved, the counts next to the chosen one are tried at it,
      // on in the direction that keeps lowering the loss (a climb of a few
      // fits, where the whole grid again would cost as much as the first
      // round on large data).
      const SizeCandidate chosen =
          sel.fCandidates[static_cast<std::size_t>(LeastLoss(sel.fCandidates))];
      if (chosen.fOverlap != base) {
        const auto at = std::find(counts.begin(), counts.end(), k) - counts.begin();
        for (const int step : {1, -1}) {
          double bestLoss = chosen.fLoss;
          bool moved = false;
          for (auto i = at + step; i >= 0 && i < static_cast<long>(counts.size()); i += step) {
            measure(Sized(counts[static_cast<std::size_t>(i)], chosen.fOverlap));
            const SizeCandidate& tried = sel.fCandidates.back();
            if (!tried.fLeftOut.empty() || VXMV::IsMissing(tried.fLoss) ||
                !(tried.fLoss < bestLoss))
              break;
            bestLoss = tried.fLoss;
            moved = true;
          }
          if (moved) break;
        }
      }
    }
  } else {
    // First how to train, at the size the rules give: stopped early on the
    // held-out fold, or to the stop rules. Then the other sizes, trained
    // the better way; the rule's size stays the default to beat.
    sel.fRuleUnits =
        MakeSettings(ruled, *r.fList, static_cast<int>(r.fTrainCounts.fKept)).GetNumHiddenUnits(1);
    std::vector<SizeCandidate> ways;
    if (o.fEarlyStopping.value_or(true)) ways.push_back(Sized(sel.fRuleUnits, 0.0, false));
    if (!o.fEarlyStopping.value_or(false)) ways.push_back(Sized(sel.fRuleUnits, 0.0, true));
    measureRound(ways);
    const int way = LeastLoss(sel.fCandidates);
    const bool toStopRules =
        way >= 0 ? sel.fCandidates[static_cast<std::size_t>(way)].fToStopRules : false;
    ruleIndex = way;
    std::vector<SizeCandidate> sizes;
    for (int h : MlpUnitGrid())
      if (h != sel.fRuleUnits) sizes.push_back(Sized(h, 0.0, toStopRules));
    measureRound(sizes);
  }
  progress.Finish();
  const int least = LeastLoss(sel.fCandidates);
  const int best = ChooseOverRule(sel.fCandidates, ruleIndex);
  if (best < 0) {
    sel.fSkipped = "no candidate size could be measured on the folds";
    sel.fCandidates.clear();
    r.fSizeSelections.push_back(sel);
    return o;
  }
  SizeCandidate& kept = sel.fCandidates[static_cast<std::size_t>(best)];
  kept.fKept = true;
  bool tied = false;
  for (const SizeCandidate& c : sel.fCandidates)
    tied = tied || (&c != &kept && c.fLeftOut.empty() && std::fabs(c.fLoss - kept.fLoss) <= 1e-12);
  const std::string overFolds = " over the " + std::to_string(sel.fFolds) + " folds";
  if (best == ruleIndex && least != ruleIndex)
    sel.fKeptBecause =
        "the size rule's " + std::to_string(sel.fRuleUnits) + " units: the lowest mean loss, " +
        Decimals(sel.fCandidates[static_cast<std::size_t>(least)].fLoss, 4) + " at " +
        std::to_string(sel.fCandidates[static_cast<std::size_t>(least)].fUnits) +
        ", is not below the rule's " + Decimals(kept.fLoss, 4) +
        " by more than its standard error" + overFolds;
  else
    sel.fKeptBecause = std::string(rbf ? "the centre count and overlap" : "the size") +
                       " with the lowest mean held-out loss" + overFolds + ", " +
                       Decimals(kept.fLoss, 4) +
                       (best != ruleIndex && ruleIndex >= 0
                            ? ", below the size rule's " + std::to_string(sel.fRuleUnits) +
                                  " units by more than its standard error"
                            : "") +
                       (tied ? "; of equal losses the smaller network" : "");
  r.fSizeSelections.push_back(sel);
  TrainOptions chosen = o;
  chosen.fHiddenUnits = {kept.fUnits};
  if (rbf) chosen.fOverlap = kept.fOverlap;
  if (!rbf) {
    chosen.fEarlyStopping = !kept.fToStopRules;
    chosen.fTestErrorDecides = o.fTestErrorDecides && !kept.fToStopRules;
  }
  return chosen;
}

}  // namespace vxnn
