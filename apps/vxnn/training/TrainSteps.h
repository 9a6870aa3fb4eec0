// The steps of a `vxnn train` job, shared by the files of training/ that
// carry them out; commands/ and report/ read Training.h instead. In the
// order TrainModel (TrainJob.cpp) takes them:
//   Settings.cpp         the options made into the library's settings
//   Pipeline.cpp         the rows read, split and made into record sources
//   Fit.cpp              one network trained and measured
//   CrossValidation.cpp  its size chosen on folds when the options leave it
//                        open (SizeSelection.cpp holds the rules)
//   AutoNetwork.cpp      --network auto: every kind trained, one kept
//   Refit.cpp            the kept network trained again on every record
//   Importance.cpp       the kept model's predictor importance
//   Losses.cpp           a model's figures on a set, and the losses that
//                        compare models on the held-out records
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "training/Training.h"
#include "vxneural/network/PassCombiner.h"

namespace vxnn {

// "code N" for a library status, for messages.
std::string Code(const VXCommon_1_2::VXStatus& status);
// value with the given number of decimals, for the summary's texts.
std::string Decimals(double value, int digits);
// Throws Interrupted once the run was cancelled (Ctrl-C, or the host's
// request): every step checks after each long call into the library.
void ThrowIfCancelled(const TrainResult& r);
// The seconds since started, by the steady clock.
double SecondsSince(std::chrono::steady_clock::time_point started);

// --- Pipeline.cpp ---

// How the job reaches its records once the rows are read: the rows'
// opener, which counts every complete pass on the job's clock, the split
// into training and test rows, and whether a source holds its records in
// memory or reads the rows again on every pass.
struct JobRows {
  RowOpener fOpen;
  SplitDraw fSplit;
  bool fInMemory = true;
};

// Reads the rows open() gives for the job: plans the fields, draws the
// split, builds the variable list from the training rows, and sets the
// result's training and test sources with their counts. In a --distributed
// run each source keeps this process's share, and o.fCombiner is cleared
// when the records are too few for every process to hold some. Throws
// InputError for unusable input.
JobRows ReadRecords(const RowOpener& open, TrainOptions& o, bool inMemory, TrainResult& result);

// A source of the usable records of one side: the records themselves when
// held in memory, the rows re-read on every pass otherwise, their reading
// charged to clock.
std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> MakeSource(const RowOpener& open,
                                                              const RecordMaker& maker,
                                                              const SplitDraw& split, RowSide side,
                                                              bool inMemory, PassCounts& counts,
                                                              JobClock& clock);
// Every record of a source, read into memory.
std::vector<VXCommon_1_2::Record> Collect(VXCommon_1_2::MultiPassRecordIter& source);

// This process's ShareOf n records in a --distributed run.
VXNeural::RecordShare OwnShare(long long n, const VXNeural::PassCombiner& combiner);
// Whether every process of a --distributed run would hold some of n
// records: the library cannot train a process on none.
bool Shareable(long long n, const VXNeural::PassCombiner& combiner);
// This process's ShareOf the count records of a source MakeSource made,
// which is what the library's shared trainings expect of it.
std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> ShareOfSource(
    std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> whole, std::size_t count,
    const VXNeural::PassCombiner& combiner);
// The positions of a set of records this process holds: its ShareOf them
// in a --distributed run, all of them otherwise.
std::vector<std::size_t> HeldOf(const std::vector<std::size_t>& at,
                                VXNeural::PassCombiner* combiner);

// Makes the calling thread's trainings and measurements part of a
// --distributed run for the life of the object; nothing without a
// combiner. Set only around what the processes share: a measurement of
// records every process holds whole (the size selection's folds) stays
// each process's own.
class SharedScope {
 public:
  explicit SharedScope(VXNeural::PassCombiner* combiner) : fOn(combiner != nullptr) {
    if (fOn) VXNeural::SetPassCombiner(combiner);
  }
  ~SharedScope() {
    if (fOn) VXNeural::SetPassCombiner(nullptr);
  }
  SharedScope(const SharedScope&) = delete;
  SharedScope& operator=(const SharedScope&) = delete;

 private:
  bool fOn;
};

// --- Fit.cpp ---

// One network trained on the prepared records, with its figures.
struct Fit {
  std::unique_ptr<INeuralAlgorithm> fAlgorithm;
  NetworkKind fKind = NetworkKind::kMLP;
  bool fSelectedArchitecture = false;
  HiddenChoice fHiddenChoice;
  SetFigures fTrain, fTest;
  // A perceptron's data passes at its best test error (PassesAtBestTest),
  // -1 when the run does not tell them.
  int fBestPasses = -1;
  bool fLinear = false;
  // A perceptron trained to the library's stop rules, the test records
  // only measuring it (TrainOptions::fEarlyStopping false).
  bool fToStopRules = false;
  // The options it was trained with (after any size selection): a refit
  // starts from them.
  TrainOptions fOptions;
};

// The candidates of --network auto, simplest first, so that of equal
// held-out figures the simpler model is kept.
enum class Candidate { kLinear, kMLP, kRBF };

const char* CandidateName(Candidate c);

std::unique_ptr<NeuralSettings> SettingsFor(Candidate c, const TrainOptions& o,
                                            const NNVarList& list, int nTrain);

// What a fit is for: the run the summary describes, measured on both
// sets; a refit on every record, not measured (its figures are the
// held-out run's); or one fold of the size selection, measured on its
// held-out fold only.
enum class Purpose { kMeasure, kRefit, kSelect };

// Trains one network on nTrain records of train, checked against test
// when given.
Fit FitOn(Candidate which, const TrainOptions& o, TrainResult& r,
          VXCommon_1_2::MultiPassRecordIter& train, int nTrain,
          VXCommon_1_2::MultiPassRecordIter* test, int nTest, Purpose purpose,
          ProgressBar& progress);

// One network of the given kind on the result's training records, checked
// against test when given: its size chosen first by SelectSize when the
// options leave it open.
Fit FitOne(Candidate which, const TrainOptions& o, TrainResult& r,
           VXCommon_1_2::MultiPassRecordIter* test, ProgressBar& progress);

// --- CrossValidation.cpp ---

// Chooses the size of the network by k-fold cross-validation on the
// training records (see SizeSelection.h), records what was tried in
// r.fSizeSelections, and returns the options that fix the size chosen;
// the options as given when the selection cannot run. A perceptron tries
// MlpUnitGrid; an RBF network tries RbfCentreGrid at its overlap, then
// OverlapGrid at the best count unless --overlap fixed it. The fits of a
// round (every fold of every candidate) run side by side on
// SelectionThreads threads; the outcome is the same for any number.
TrainOptions SelectSize(Candidate which, const TrainOptions& o, TrainResult& r,
                        ProgressBar& progress);

// --- AutoNetwork.cpp ---

// --network auto: every kind of network the options allow, trained and
// measured on the same test records; the one kept (see AutoNetwork.cpp).
Fit FitBest(const TrainOptions& o, TrainResult& r, VXCommon_1_2::MultiPassRecordIter* test,
            ProgressBar& progress);

// --- Refit.cpp ---

// The options that train the held-out run's network again on more
// records: the same shape and seeds, and for the perceptron the data-pass
// limit that repeats the held-out run up to its lowest test error.
TrainOptions RefitOptions(const TrainOptions& o, const Fit& fit, const RefitLimit& limit);

// Trains the kept network fit again on every usable record when it can be
// and the options ask for it (TrainOptions::fRefit); fit then holds the
// refitted model and r.fHeldOutModel the held-out run's. Records in
// r.fRefitSkippedForSize when the default left the refit out.
void RefitKept(Fit& fit, const TrainOptions& o, const JobRows& rows, TrainResult& r,
               ProgressBar& progress);

// --- Importance.cpp ---

// The kept model's predictor importance into r.fImportance, over the
// records it learnt from: every record after a refit, else the training
// records and, when testWatched, the test records it watched.
void MeasureImportance(TrainResult& r, const TrainOptions& o, bool testWatched);

}  // namespace vxnn
