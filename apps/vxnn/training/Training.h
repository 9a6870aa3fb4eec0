// `vxnn train`: from a CSV table and the user's options to a trained model
// with its figures on the training and test sets.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "data/CsvTable.h"
#include "data/Dataset.h"
#include "data/Partition.h"
#include "data/Records.h"
#include "data/RowRecords.h"
#include "data/RowSource.h"
#include "model/Factories.h"
#include "training/JobClock.h"
#include "training/SizeSelection.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

// The predictor importance of a trained model probes every input of every
// record it reads, some hundred forward passes a record: on large data it
// is computed from a sample of this many of the model's records, drawn
// with a fixed seed (SamplePositions), which keeps it well under a tenth
// of the training's time while the ranking of the inputs stays that of
// every record (bench/README.md).
constexpr long kImportanceSample = 20000;
// The refit's default stops at this many training records. A refit
// trains again on 1 / (1 - test fraction) times the records for the
// passes the held-out run chose, which costs as much as the first
// training; it pays on small files, where each record counts (the pixel
// data's 0.995 became 0.997), and bought nothing measurable beyond a few
// tens of thousands of records (0.0008 of held-out accuracy on 210,000
// generated records, inside one split's noise), as the size selection's
// cross-validation stops at the same count.
constexpr int kRefitAutoMaxRecords = 20000;
constexpr std::uint64_t kImportanceSeed = 20261207;

// The positions of a sample of n of total records, in increasing order:
// each record in turn is taken with the chance that the places still to
// fill give it (selection sampling), from a generator of fixed arithmetic,
// so that a seed gives the same sample on every platform. Every position
// when n >= total.
std::vector<std::size_t> SamplePositions(std::size_t total, std::size_t n, std::uint64_t seed);

// The values of the training options that take one of a fixed list, as the
// command line spells them. The command line refuses any other value while
// it parses (exit code 2); MakeSettings and MakeRBFSettings refuse one from
// any other host with an InputError. Whether a listed value suits the
// network and the other options (sigmoid hidden units on an RBF network,
// say) is decided when the settings are built.
inline const std::vector<std::string> kMethodValues{"scg", "gd"};
inline const std::vector<std::string> kTrainingTypeValues{"batch", "minibatch", "online"};
inline const std::vector<std::string> kHiddenActivationValues{"tanh", "sigmoid", "radial-basis",
                                                              "normalized-radial-basis"};
inline const std::vector<std::string> kOutputActivationValues{"softmax", "identity", "tanh",
                                                              "sigmoid"};
inline const std::vector<std::string> kInputScalingValues{"standard", "range"};

// Every training setting the command line offers. An unset optional keeps
// the library's default.
struct TrainOptions {
  DescribeOptions fDescribe;
  MissingInputs fMissingInputs = MissingInputs::kImpute;
  double fTestFraction = 0.3;
  unsigned fPartitionSeed = 12345;
  NetworkKind fNetwork = NetworkKind::kMLP;

  std::optional<std::string> fMethod;        // scg | gd
  std::optional<std::string> fTrainingType;  // batch | minibatch | online
  std::optional<int> fMiniBatchSize;
  std::optional<int> fHiddenLayers;
  std::vector<int> fHiddenUnits;  // per layer
  // mlp: tanh | sigmoid; rbf: radial-basis | normalized-radial-basis
  std::optional<std::string> fHiddenActivation;
  // mlp: how continuous inputs are scaled for the network, "standard" (mean
  // 0, standard deviation 1) or "range" (-1..1); unset: HostInputScaling.
  std::optional<std::string> fInputScaling;
  std::optional<std::string> fOutputActivation;  // softmax | identity | tanh | sigmoid
  std::optional<unsigned> fSeed;
  std::optional<unsigned> fSamplingSeed;
  std::optional<double> fLearningRate;
  std::optional<double> fMinLearningRate;
  std::optional<double> fMomentum;
  std::optional<double> fWeightRange;  // initial weights in [-r, r]

  std::optional<int> fMaxDataPasses;
  std::optional<double> fMaxTime;
  std::optional<double> fErrorChange;
  std::optional<double> fErrorRatio;
  std::optional<double> fGradientNorm;
  std::optional<double> fStopAccuracy;
  std::optional<int> fStepsWithoutImprovement;
  bool fCheckTrainingError = false;

  bool fSelectArchitecture = false;
  std::optional<int> fMinHiddenUnits;
  std::optional<int> fMaxHiddenUnits;
  std::optional<double> fMaxSelectionTime;
  std::optional<double> fOverlap;        // rbf: widths of the centres
  bool fSearchPassPerCandidate = false;  // rbf search: one data pass per candidate

  std::optional<long> fMemoryBudget;
  std::string fTempDir;  // empty: the system's temporary directory
  bool fImportance = true;
  // The predictor importance from a sample of at most this many of the
  // model's records (see kImportanceSample); 0: from every record.
  long fImportanceSample = kImportanceSample;
  // Train the linear model, the perceptron and the RBF network, and keep
  // the one with the best figures on the test records (fNetwork is then
  // not used).
  bool fAutoNetwork = false;
  // Once the held-out records have chosen the model (its number of data
  // passes, and with --network auto its kind), train it again on every
  // usable record, training and held-out, and keep that one. Applies to
  // the perceptron (for the passes chosen), the RBF network (with its
  // centre count and overlap; the centres are placed again) and the linear
  // model, and only with held-out records. Unset: only while the training
  // share has fewer than kRefitAutoMaxRecords records.
  std::optional<bool> fRefit;
  // Unless the options fix the size, choose a perceptron's hidden units,
  // or an RBF network's centres and overlap, by cross-validation
  // (SizeSelection.h): kAuto up to kSelectionAutoMaxRecords records,
  // kCV at any count the memory cap allows, kRule never.
  SizeSelectionMode fSizeSelection = SizeSelectionMode::kAuto;
  // With test records a perceptron stops at its lowest test error (true),
  // or trains to the library's stop rules while the test records only
  // measure it (false). Unset: the size selection tries both, and without
  // a selection the perceptron stops early.
  std::optional<bool> fEarlyStopping;
  std::optional<int> fFolds;  // unset: FoldsFor
  // Threads that fit the size selection's folds side by side; 0: as many
  // as the passes use (--threads). The selection chooses the same for any
  // number.
  int fSelectionThreads = 0;
  // Set by TrainModel, not by the user: the end of the run is decided by
  // the test records (or, in a refit, by the passes they chose), so the
  // stop rules that judge the fit to the training records alone, the
  // accuracy target and the error ratio, are off unless the options set
  // them, and the run waits kHostStepsWithoutImprovement iterations for a
  // better test error.
  bool fTestErrorDecides = false;
  // Set by the size selection, not by the user: an RBF network keeps its
  // clusters after training, to be trained again at other overlaps.
  bool fKeepClusters = false;
  // Whether the RBF selection's overlaps retrain from each fold's kept
  // clusters (true) or cluster afresh for every overlap: the same
  // candidates and losses, the second slower; kept for comparison.
  bool fReuseClusters = true;
  // A host's own request to cancel this run, besides Ctrl-C (see
  // InterruptCancel); it must outlive TrainModel. Null: Ctrl-C only.
  const std::atomic<bool>* fCancelRequest = nullptr;
  // --distributed: the exchange of the processes that train together, each
  // reading the whole file but holding only its share of the records
  // (TrainModel); every process ends with the model one process trains.
  // Null: this process alone.
  VXNeural::PassCombiner* fCombiner = nullptr;
};

// Settings for a list and a number of training records, with the options
// applied. Throws InputError for a value out of range or a combination the
// library would refuse (for instance scaled conjugate gradient with
// mini-batches, or SoftMax outputs with a continuous target).
// Unless the options set the hidden layers, a perceptron whose targets are
// all categorical gets HostClassifierUnits hidden units (more when the
// library's own rule gives more); with a continuous target the library's
// rule stands. With fTestErrorDecides, the stop rules the user left alone
// follow the host's early-stopping defaults (see TrainOptions).
MLPSettings MakeSettings(const TrainOptions& options, const NNVarList& list, int nTrainRecords);
// The seed handed to the library for a seed the user gave. The library's
// portable generator multiplies its state modulo 2^31 - 1, so a state of 0
// (seed 0, the seed people type first, or a multiple of the modulus) stays
// 0: every initial weight would be the same and the hidden units would
// never tell apart. Such seeds become kPortableModulus - 1; every other
// seed is handed on as it is.
unsigned LibrarySeed(unsigned seed);
constexpr unsigned kPortableModulus = 2147483647u;
// Four times the input and output units, between 32 and 100.
int HostClassifierUnits(int inputUnits, int outputUnits);
constexpr int kHostClassifierMinUnits = 32, kHostClassifierMaxUnits = 100;
// How a perceptron's continuous inputs are scaled unless --input-scaling
// says: to mean 0 and standard deviation 1, or, from kHostRangeScalingInputs
// input units up, to -1..1.
VXNNCommon::Standardization HostInputScaling(int inputUnits);
constexpr int kHostRangeScalingInputs = 32;
// The early-stopping defaults: a run checked against test records waits
// this many iterations for a better test error (the library waits 5).
constexpr int kHostStepsWithoutImprovement = 10;
// An accuracy limit (percent) no run reaches: the accuracy stop is off.
constexpr double kNoAccuracyStop = 1000.0;
// The linear model: no hidden layer, linear outputs, solved in one pass by
// least squares. Refuses every option about hidden layers, centres or the
// iterative optimizer, none of which it has.
MLPSettings MakeLinearSettings(const TrainOptions& options, const NNVarList& list,
                               int nTrainRecords);
// The same for a radial basis function network. Options that only steer
// the perceptron's optimizer (method, learning rate, stop rules, ...) are
// refused rather than ignored, so that a command line never says more than
// the model does.
// Unless the options say otherwise, an RBF network gets HostRBFCentres
// centres and kHostOverlapTimes the library's default overlap factor.
RBFSettings MakeRBFSettings(const TrainOptions& options, const NNVarList& list, int nTrainRecords);
constexpr double kHostOverlapTimes = 4.0;
// Twice the settings' input and output units.
int HostRBFCentres(const RBFSettings& settings);

// How the number of hidden units (centres, for an RBF network) was decided.
struct HiddenChoice {
  enum How {
    kDefault,          // the library's default size
    kUserSet,          // --hidden-units
    kSearch,           // the perceptron's architecture search, between fLow and fHigh
    kClustering,       // the clustering's own choice between fLow and fHigh
    kSizeRule,         // RBF default: twice the input and output units (at most the records)
    kClassifier,       // MLP default with only categorical targets: HostClassifierUnits
    kBIC,              // the RBF candidate search, by BIC among fLow..fHigh
    kTestError,        // the RBF candidate search, by test error among fLow..fHigh
    kCrossValidation,  // this program's selection, among fLow..fHigh
  };
  How fHow = kDefault;
  int fLow = 0, fHigh = 0;
};
// "chosen by the clustering between 1 and 14" and the like.
std::string HiddenChoiceText(const HiddenChoice& choice);
// "default", "user-set", "search", "clustering", "size rule", "classifier rule", "bic",
// "test error".
const char* HiddenChoiceKey(HiddenChoice::How how);

// The data passes made when a run's test error was lowest (the earliest,
// on a tie, as the library keeps the earliest best), or -1 when no step
// measured a test error. A run that ends at a best it found earlier reports
// those weights once more on its last pass; when that last report is the
// only one with the lowest test error (lastIsRestored: the run stopped
// because the test error stopped improving, so its last step was no best),
// the best were the starting weights, which gradient descent never
// reports, and the answer is 0.
int PassesAtBestTest(const std::vector<TrainingStep>& steps, bool lastIsRestored);

// How the refit is told to stop. The library tests its data-pass limit at
// the end of an iteration (an epoch for mini-batches and online updates),
// so a run goes past the limit by what its last iteration read, and a
// refit, which has no test records, makes passes the held-out run did not
// (mini-batch and online training measure the training error after every
// epoch instead). The host therefore sets the library's limit from the
// method's pass pattern so that the refit repeats the held-out run's
// iterations up to its best test error and never makes more passes than
// fMostPasses, the figure the summary states.
struct RefitLimit {
  int fLibraryLimit = 0;  // the stop rule's data-pass limit for the refit
  // The most data passes the refit can make, counted as the library's
  // driver counts them: the pass that draws the initialisation sample too.
  int fMostPasses = 0;
};
// passesAtBest: PassesAtBestTest of the held-out run that these settings
// trained (0 or 1: the starting weights were best, and the refit makes the
// fewest iterations a run can make, one).
RefitLimit RefitLimitFor(const MLPSettings& heldOut, int passesAtBest);
// The driver's pass that draws the initialisation sample, counted before
// the optimizer's own.
constexpr int kSamplingPasses = 1;

// The output statistics of one record set.
struct SetFigures {
  int fRecords = 0;
  NNOutputStatistics fStats;
};

// The held-out loss of a model: the mean over its targets of the share
// misclassified (categorical) or of the relative error (continuous); 0 is
// perfect. The missing value when a target's figure cannot be computed.
double HeldOutLoss(const NNOutputStatistics& stats);

// The held-out loss of the simplest prediction, the floor every network
// --network auto keeps must beat: for a categorical target the share of
// test records outside the training records' most frequent category, for a
// continuous one 1 (the relative error of the test records' own mean).
// train and test are any model's figures on the two sets: only their
// actual categories are read. The missing value without test figures.
double BaselineLoss(const NNOutputStatistics& train, const NNOutputStatistics& test);

// One network --network auto trained (or left out), with its test figures.
struct NetworkTried {
  std::string fName;     // "linear", "mlp" or "rbf"
  std::string fLeftOut;  // why it was not trained; empty when it was
  double fSeconds = 0.0;
  int fHiddenUnits = 0;
  SetFigures fTest;
  double fLoss = 0.0;  // HeldOutLoss of fTest
  bool fKept = false;
};

struct TrainResult {
  // Where the job's wall time went, from the start of TrainModel; declared
  // first so that it outlives the sources that charge their reading to it.
  // The command that saves the model times the saving too, and stops the
  // clock before any summary is written.
  JobClock fTimes;
  // The options the run was given, as given (the summaries read the test
  // fraction, the partition seed and the handling of missing inputs from
  // here). Their two pointers, fCancelRequest and fCombiner, are not for
  // use once TrainModel has returned.
  TrainOptions fOptions;
  std::string fSource;
  std::size_t fRecordsRead = 0;
  std::size_t fTrainRows = 0, fTestRows = 0;  // rows on each side of the split
  // Every field's kind and why.
  std::vector<FieldPlan> fFields;
  // Records of each set that were left out, by reason, and inputs imputed.
  std::vector<std::pair<CellProblem, int>> fTrainLeftOut, fTestLeftOut;
  PassCounts fTrainCounts, fTestCounts;
  std::vector<std::string> fUnusedConstant;  // constant inputs, not used
  std::unique_ptr<NNVarList> fList;
  std::unique_ptr<RecordMaker> fMaker;  // reads rows for the sources below

  // The sources and the call-back objects outlive the algorithm, which
  // keeps pointers to them. A source holds its records in memory or
  // re-reads the file on every pass (see TrainModel).
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> fTrainSource, fTestSource;
  // The refit's default left it out: the training share had
  // kRefitAutoMaxRecords records or more.
  bool fRefitSkippedForSize = false;
  // --distributed: every usable record of a side, read whole (the sources
  // above hold this process's share); set and used during TrainModel only.
  std::function<std::vector<VXCommon_1_2::Record>(RowSide)> fWholeSide;
  // Both sides together, for the refit (see TrainOptions::fRefit).
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> fAllSource;
  InterruptCancel fCancel;
  std::unique_ptr<VXCommon_1_2::VXDefaultTempFileNameMaker> fTempNames;
  std::unique_ptr<INeuralAlgorithm> fAlgorithm;
  NetworkKind fKind = NetworkKind::kMLP;
  bool fSelectedArchitecture = false;
  HiddenChoice fHiddenChoice;
  double fWallSeconds = 0.0;
  // --network auto: every network compared, in the order tried; empty
  // otherwise.
  std::vector<NetworkTried> fNetworksTried;
  // The size selection of each network trained (two with --network auto),
  // in the order run; empty when the options fixed the size.
  std::vector<SizeSelection> fSizeSelections;
  // --network auto without test records, which has nothing to compare on
  // and trains the perceptron.
  bool fAutoWithoutTest = false;
  // --network auto: BaselineLoss on the test records, and why the kept
  // network was kept.
  double fBaselineLoss = 0.0;
  std::string fKeptBecause;

  // When the kept model was refitted on every record (TrainOptions::fRefit):
  // the model of the held-out run, which every figure of this result
  // (training and test) and the stop reason describe; null otherwise.
  std::unique_ptr<INeuralAlgorithm> fHeldOutModel;
  int fRefitRecords = 0;
  // RefitLimitFor's fMostPasses; 0 for the linear model, solved in one pass.
  int fRefitPassLimit = 0;
  // The model the figures describe: the held-out run's when refitted.
  INeuralAlgorithm& MeasuredModel() const { return fHeldOutModel ? *fHeldOutModel : *fAlgorithm; }

  SetFigures fTrain, fTest;  // fTest.fRecords == 0 without a test set
  // Per input variable of the list, in list order; empty when not asked.
  std::vector<double> fImportance;
  // The records the importance was computed from, and the model's records
  // it could have been: fewer when it came from a sample.
  std::size_t fImportanceRecords = 0, fImportanceOf = 0;
};

// Reads the rows through rows(): one pass to decide the fields' kinds,
// one over the training rows for the variable list, one per side to count
// the usable records, then the passes the library asks for (and for a
// refit, one more counting pass over both sides and its own). With inMemory
// the usable records are held after the counting pass; otherwise every
// pass re-reads the rows, so a file of any size trains in a fixed amount
// of memory (the library spills its encoded records to temporary files
// beyond its memory budget). Both give the same model. Throws InputError
// for unusable input and Interrupted when the user pressed Ctrl-C.
std::unique_ptr<TrainResult> TrainModel(const RowOpener& rows, const TrainOptions& options,
                                        ProgressBar& progress, bool inMemory);
// A table already in memory.
std::unique_ptr<TrainResult> TrainModel(const CsvTable& table, const std::string& sourceName,
                                        const TrainOptions& options, ProgressBar& progress);

// Whether the library keeps a run's encoded training records in a temporary
// file, read again on every data pass, rather than in memory: it does from
// its memory budget of records up.
bool TrainsFromTemporaryFile(const INeuralAlgorithm& algorithm);

// The figures of a model on count records of a raw record source (which
// is rewound). Throws InputError when the library refuses or the source
// fails.
SetFigures Evaluate(INeuralAlgorithm& algorithm, VXCommon_1_2::MultiPassRecordIter& records,
                    int count);
// Throws the input error a source over rows met, if any.
void ThrowIfSourceFailed(VXCommon_1_2::MultiPassRecordIter* source);

}  // namespace vxnn
