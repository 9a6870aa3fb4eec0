#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <limits>
#include <sstream>
#include <thread>

#include "cli/Version.h"
#include "commands/Commands.h"
#include "commands/Demo.h"
#include "report/HtmlReport.h"
#include "vxneural/network/PassThreads.h"

namespace vxnn {

namespace {

// Bounds as people write them: 0, 1, 0.5, 100.
std::string Number(double x) {
  std::ostringstream text;
  text << x;
  return text.str();
}
constexpr double kNoBound = std::numeric_limits<double>::infinity();

// A number's range that does not depend on the data, checked while the
// command line parses (exit code 2, before any file is read) in a line that
// states the rule and the value given ("--importance-sample: must be at
// least 0, not -1"). A value that is not a number passes here and is
// refused by its conversion to the option's type. --help shows the range
// after the option's type as an interval, as it shows a fixed list:
// "--threads INT:[1, 256]".
// The training settings check most of these ranges again, for hosts that
// fill TrainOptions themselves; a range that depends on the data
// (--mini-batch-size) is left to them.
CLI::Validator NumberRange(double low, bool lowOpen, double high, bool highOpen,
                           const std::string& rule) {
  return CLI::Validator(
      [=](std::string& value) -> std::string {
        double x = 0.0;
        if (!CLI::detail::lexical_cast(value, x)) return "";
        const bool in = (lowOpen ? x > low : x >= low) && (highOpen ? x < high : x <= high);
        return in ? "" : rule + ", not " + value;
      },
      std::string(lowOpen ? "(" : "[") + Number(low) + ", " +
          (high == kNoBound ? std::string("inf)") : Number(high) + (highOpen ? ")" : "]")));
}
CLI::Validator AtLeast(double low) {
  return NumberRange(low, false, kNoBound, false, "must be at least " + Number(low));
}
CLI::Validator Above(double low) {
  return NumberRange(low, true, kNoBound, false, "must be above " + Number(low));
}
// Above low and finite.
CLI::Validator FiniteAbove(double low) {
  return NumberRange(low, true, kNoBound, true, "must be finite and above " + Number(low));
}
CLI::Validator Between(double low, double high) {
  return NumberRange(low, false, high, false,
                     "must lie between " + Number(low) + " and " + Number(high));
}
// An interval with its ends written as [ or ( and ] or ).
CLI::Validator Interval(double low, bool lowOpen, double high, bool highOpen) {
  return NumberRange(low, lowOpen, high, highOpen,
                     std::string("must lie in ") + (lowOpen ? "(" : "[") + Number(low) + ", " +
                         Number(high) + (highOpen ? ")" : "]"));
}

// One value per occurrence, so that a positional argument after the option
// is not taken as a second value; every occurrence is kept.
CLI::Option* Repeatable(CLI::Option* option) {
  return option->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

// --missing-inputs, shared by train, score and eval.
void AddMissingInputs(CLI::App* app, std::string& scratch) {
  app->add_option("--missing-inputs", scratch,
                  "impute (default): a missing input takes the training mean, or the most "
                  "frequent training category; drop: the record is left out")
      ->check(CLI::IsMember({"impute", "drop"}));
}

MissingInputs MissingInputsOf(const std::string& scratch) {
  return scratch == "drop" ? MissingInputs::kDrop : MissingInputs::kImpute;
}

// --unknown-categories, shared by score, eval and report. Impute by default:
// a category the training file never held tells the model nothing, exactly
// as a missing input does, and a user scoring a file wants a prediction for
// every record rather than holes for a level added after training; the
// count on standard error and in the summaries says how many were filled in.
void AddUnknownCategories(CLI::App* app, std::string& scratch) {
  app->add_option("--unknown-categories", scratch,
                  "impute (default): an input holding a category the model does not know, or "
                  "text in a numeric column, takes the most frequent training category or the "
                  "training mean, as a missing one does; drop: the record "
                  "is left out")
      ->check(CLI::IsMember({"impute", "drop"}));
}

UnknownCategories UnknownCategoriesOf(const std::string& scratch) {
  return scratch == "drop" ? UnknownCategories::kDrop : UnknownCategories::kImpute;
}

// --importance-records, shared by report and export.
void AddImportanceRecords(CLI::App* app, long& limit) {
  app->add_option("--importance-records", limit,
                  "Compute the predictor importance over the first N complete records of the "
                  "data file (default " +
                      std::to_string(kImportanceRecords) + "; 0: all of them)")
      ->check(AtLeast(0));
}

// What `train` reads in another form than TrainOptions holds it: words that
// become enumerations, flags that say "no", COLUMN=VALUE pairs and -o,
// turned into the options by FinishTrainOptions. Every other option binds
// straight to its TrainOptions field; an optional one stays unset unless
// given, keeping the library's default. A new option is therefore added in
// two places: its TrainOptions field and its line in AddTrainOptions.
struct TrainScratch {
  std::vector<std::string> fMissing;
  std::string fMissingInputs = "impute";
  std::string fFormat = "binary";
  std::string fNetwork = "mlp";
  bool fNoSave = false, fNoImportance = false, fNoProgress = false, fNoRefit = false;
  bool fRefit = false;
  std::string fSizeSelection = "auto";
  std::string fEarlyStopping = "auto";
  std::string fOutput;  // -o
};

void AddTrainOptions(CLI::App* train, TrainCommand& c, TrainScratch& s) {
  TrainOptions& o = c.fTrain;
  train->add_option("data", c.fData, "CSV file with a header row")->required();
  Repeatable(
      train->add_option("--target", o.fDescribe.fTargets, "Column to predict (repeat for several)"))
      ->required();
  Repeatable(
      train->add_option("--continuous", o.fDescribe.fContinuous, "Treat a column as continuous"));
  Repeatable(train->add_option("--categorical", o.fDescribe.fCategorical,
                               "Treat a column as categorical"));
  Repeatable(train->add_option("--ignore", o.fDescribe.fIgnore, "Leave a column out"));
  Repeatable(
      train->add_option("--missing", s.fMissing, "COLUMN=VALUE: a value that counts as missing"));
  train
      ->add_option("--max-levels", o.fDescribe.fMaxCategoricalLevels,
                   "A whole-number target with at most this many values is categorical "
                   "(default 10); numeric inputs are continuous unless --categorical")
      ->check(AtLeast(0));
  AddMissingInputs(train, s.fMissingInputs);

  train
      ->add_option("--test-fraction", o.fTestFraction,
                   "Fraction of the records held out for testing (default 0.3)")
      ->check(Interval(0, false, 1, true));
  train->add_option("--partition-seed", o.fPartitionSeed,
                    "Seed of the training/test split (default 12345)");
  train->add_flag("--no-refit", s.fNoRefit,
                  "Keep the network trained on the training share (by default, below " +
                      std::to_string(kRefitAutoMaxRecords) +
                      " training records, it is trained again on every record: a perceptron "
                      "for the passes the test records chose)");
  train->add_flag("--refit", s.fRefit, "Train again on every record however many there are");

  train->add_option("--model", c.fModelPath,
                    "Where to save the model (default <data>.model; -: standard output)");
  // -o as for score and report, where it names the file written.
  train->add_option("-o", s.fOutput, "Same as --model");
  train->add_flag("--no-save", s.fNoSave, "Do not save the model");
  train->add_option("--format", s.fFormat, "Saved form: binary (default) or xml")
      ->check(CLI::IsMember({"binary", "xml"}));
  train->add_flag("--json", c.fJson, "Print the summary as JSON");
  train->add_option("--summary-json", c.fSummaryJson,
                    "Also write the JSON summary to FILE (-: standard output)");
  train->add_option("--report", c.fReport,
                    "Also write the report page (HTML) to FILE (-: standard output)");
  train->add_flag("--no-progress", s.fNoProgress, "No progress bar");
  train->add_flag("--no-importance", s.fNoImportance, "Skip the predictor importance");
  train
      ->add_option("--importance-sample", c.fTrain.fImportanceSample,
                   "Compute the predictor importance from a sample of at most N of the model's "
                   "records, drawn with a fixed seed (default " +
                       std::to_string(kImportanceSample) +
                       ", which keeps it well under a tenth of the training's time; 0: every "
                       "record). The summary says when it came from a sample")
      ->check(AtLeast(0));

  train
      ->add_option("--network", s.fNetwork,
                   "mlp (multi-layer perceptron, default), rbf (radial basis function "
                   "network), or auto: the linear model, the perceptron and the RBF network "
                   "compared on the test records, the best kept")
      ->check(CLI::IsMember({"mlp", "rbf", "auto"}));
  train
      ->add_option("--method", o.fMethod,
                   "scg (scaled conjugate gradient, default) or gd (gradient descent)")
      ->check(CLI::IsMember(kMethodValues));
  train->add_option("--training-type", o.fTrainingType, "batch (default), minibatch or online")
      ->check(CLI::IsMember(kTrainingTypeValues));
  train->add_option("--mini-batch-size", o.fMiniBatchSize, "Records per mini-batch");
  train->add_option("--hidden-layers", o.fHiddenLayers, "0, 1 (default) or 2")
      ->check(Between(0, 2));
  Repeatable(
      train->add_option("--hidden-units", o.fHiddenUnits,
                        "Units per hidden layer, e.g. 8 or 8,4 (rbf: the number of centres)"))
      ->delimiter(',')
      ->check(AtLeast(1));
  train
      ->add_option("--hidden-activation", o.fHiddenActivation,
                   "mlp: tanh (default) or sigmoid; rbf: normalized-radial-basis (default) or "
                   "radial-basis")
      ->check(CLI::IsMember(kHiddenActivationValues));
  train
      ->add_option("--input-scaling", o.fInputScaling,
                   "standard (mean 0, sd 1) or range (-1..1) for continuous inputs (default: range "
                   "for a perceptron with " +
                       std::to_string(kHostRangeScalingInputs) +
                       " input units or more, else standard)")
      ->check(CLI::IsMember(kInputScalingValues));
  train
      ->add_option("--output-activation", o.fOutputActivation,
                   "softmax, identity, tanh or sigmoid (default: softmax when every target is "
                   "categorical, else identity)")
      ->check(CLI::IsMember(kOutputActivationValues));
  train->add_option("--seed", o.fSeed, "Seed of the initial weights (default 12345)");
  train->add_option("--sampling-seed", o.fSamplingSeed,
                    "Seed of the samples drawn for initialisation (default 12345)");
  train
      ->add_option("--learning-rate", o.fLearningRate,
                   "Initial learning rate of gradient descent (default 0.4)")
      ->check(Above(0));
  train
      ->add_option("--min-learning-rate", o.fMinLearningRate,
                   "Lowest learning rate of gradient descent (default 0.001)")
      ->check(Above(0));
  train->add_option("--momentum", o.fMomentum, "Momentum of gradient descent (default 0.9)")
      ->check(Interval(0, false, 1, true));
  train
      ->add_option("--weight-range", o.fWeightRange,
                   "Architecture search draws initial weights from [-R, R] (default 0.5)")
      ->check(Above(0));

  train
      ->add_option("--max-data-passes", o.fMaxDataPasses,
                   "Stop after this many passes (default max(100, 2 x weights + 1))")
      ->check(AtLeast(1));
  train->add_option("--max-time", o.fMaxTime, "Stop after this many seconds (default 600)")
      ->check(Above(0));
  train
      ->add_option("--error-change", o.fErrorChange,
                   "Stop when the relative change of the error falls below this (default 1e-4)")
      ->check(AtLeast(0));
  train
      ->add_option("--error-ratio", o.fErrorRatio,
                   "Stop when the error ratio falls below this (default 0.001)")
      ->check(AtLeast(0));
  train
      ->add_option("--gradient-norm", o.fGradientNorm,
                   "Stop when the gradient norm falls below this (default 1e-6)")
      ->check(AtLeast(0));
  train
      ->add_option("--stop-accuracy", o.fStopAccuracy,
                   "Stop when the training accuracy reaches this percentage (default 100)")
      ->check(Interval(0, true, 100, false));
  train
      ->add_option("--steps-without-improvement", o.fStepsWithoutImprovement,
                   "With test records: stop after this many steps without a better test error "
                   "(default 5)")
      ->check(AtLeast(1));
  train->add_flag("--check-training-error", o.fCheckTrainingError,
                  "With test records: also watch the training error when deciding to stop");

  train->add_flag("--select-architecture", o.fSelectArchitecture,
                  "Search the number of hidden units before training (rbf: fit every candidate "
                  "number of centres and keep the best by test error, or by BIC without test "
                  "records)");
  train
      ->add_option("--min-hidden-units", o.fMinHiddenUnits,
                   "Smallest hidden layer the search tries (default 1; rbf: also bounds the "
                   "clustering's own choice)")
      ->check(AtLeast(1));
  train
      ->add_option("--max-hidden-units", o.fMaxHiddenUnits,
                   "Largest hidden layer the search tries (default 50; rbf: chosen from the data)")
      ->check(AtLeast(1));
  train
      ->add_option("--size-selection", s.fSizeSelection,
                   "auto (default): unless the options fix the size, choose the hidden units "
                   "(rbf: the centres and their overlap) by cross-validation on up to " +
                       std::to_string(kSelectionAutoMaxRecords) +
                       " records; cv: at any count; rule: the size rules alone")
      ->check(CLI::IsMember({"auto", "cv", "rule"}));
  train
      ->add_option("--early-stopping", s.fEarlyStopping,
                   "mlp with test records: on (stop at the lowest test error), off (train to "
                   "the stop rules; the test records only measure), or auto (default: the "
                   "size selection tries both; on when it does not run)")
      ->check(CLI::IsMember({"auto", "on", "off"}));
  train
      ->add_option("--folds", o.fFolds,
                   "Folds of the size selection (default 5 up to 1000 records, else 3)")
      ->check(Between(2, 20));
  train
      ->add_option("--overlap", o.fOverlap,
                   "rbf: factor on the variance of each cluster that gives its centre's width "
                   "(default 1 + 0.1 x input units)")
      ->check(FiniteAbove(0));
  train->add_flag("--search-pass-per-candidate", o.fSearchPassPerCandidate,
                  "rbf search: one data pass per candidate instead of one pass for all");
  train
      ->add_option("--max-selection-time", o.fMaxSelectionTime,
                   "Seconds allowed for the search (default 600)")
      ->check(Above(0));
  train
      ->add_option("--memory-budget", o.fMemoryBudget,
                   "Encoded records kept in memory; more go to temporary files (default 1000)")
      ->check(AtLeast(1));
  train->add_option("--temp-dir", o.fTempDir, "Directory for temporary files");
}

void FinishTrainOptions(TrainCommand& c, const TrainScratch& s) {
  for (const std::string& m : s.fMissing) {
    const std::size_t eq = m.find('=');
    if (eq == std::string::npos || eq == 0)
      throw InputError("--missing needs COLUMN=VALUE, not \"" + m + "\"");
    c.fTrain.fDescribe.fMissing[m.substr(0, eq)].push_back(m.substr(eq + 1));
  }
  if (!s.fOutput.empty()) {
    if (!c.fModelPath.empty() && c.fModelPath != s.fOutput)
      throw InputError("-o and --model give different model paths (\"" + s.fOutput + "\" and \"" +
                       c.fModelPath + "\"); give one");
    c.fModelPath = s.fOutput;
  }
  c.fTrain.fMissingInputs = MissingInputsOf(s.fMissingInputs);
  c.fFormat = s.fFormat == "xml" ? ModelFormat::kXML : ModelFormat::kBinary;
  c.fTrain.fNetwork = s.fNetwork == "rbf" ? NetworkKind::kRBF : NetworkKind::kMLP;
  c.fTrain.fAutoNetwork = s.fNetwork == "auto";
  c.fSave = !s.fNoSave;
  c.fProgress = !s.fNoProgress;
  c.fTrain.fImportance = !s.fNoImportance;
  if (s.fNoRefit && s.fRefit) throw InputError("--refit and --no-refit contradict each other");
  if (s.fNoRefit) c.fTrain.fRefit = false;
  if (s.fRefit) c.fTrain.fRefit = true;
  c.fTrain.fSizeSelection = s.fSizeSelection == "cv"     ? SizeSelectionMode::kCV
                            : s.fSizeSelection == "rule" ? SizeSelectionMode::kRule
                                                         : SizeSelectionMode::kAuto;
  if (s.fEarlyStopping != "auto") c.fTrain.fEarlyStopping = s.fEarlyStopping == "on";
}

// The exit code and the error line's text for what a command threw.
int Describe(const std::exception_ptr& failure, std::string& message) {
  try {
    std::rethrow_exception(failure);
  } catch (const Interrupted&) {
    message = "interrupted; nothing was saved";
    return 130;
  } catch (const InputError& e) {
    message = e.what();
    return 1;
  } catch (const std::bad_alloc&) {
    message = "out of memory";
    return 1;
  } catch (const std::exception& e) {
    message = e.what();
    return 1;
  }
}

// How long a process other than the first waits before it reports its own
// failure and ends the run. Most failures (a bad option, a malformed row,
// a refusal by the library) meet every process at the same point; the
// first process then reports and ends the run within this time, so that
// the error is said once. A failure of one process alone (its copy of the
// file missing) is reported by that process after the wait, since the
// first process cannot know of it.
constexpr std::chrono::milliseconds kPeerReportDelay{1500};

// A --distributed command on this process of the run: only the first
// process writes (files, summary, progress); a failure anywhere ends every
// process with one error line and a nonzero exit code.
int RunDistributed(
    const ProcessGroupStarter& start,
    const std::function<int(std::ostream&, std::ostream&, VXNeural::PassCombiner&)>& command,
    std::ostream& out, std::ostream& err) {
  std::string why;
  const std::unique_ptr<ProcessGroup> group = start(why);
  if (!group) {
    err << "vxnn: error: --distributed: " << why << "\n";
    return 1;
  }
  const int rank = group->Combiner().Rank();
  std::ostream quiet(nullptr);  // the other processes' writes go nowhere
  std::exception_ptr failure;
  int code = 0;
  try {
    code = command(rank == 0 ? out : quiet, rank == 0 ? err : quiet, group->Combiner());
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure) return code;
  std::string message;
  code = Describe(failure, message);
  if (rank != 0) std::this_thread::sleep_for(kPeerReportDelay);
  err << "vxnn: error: " << (rank != 0 ? "process " + std::to_string(rank) + ": " : "") << message
      << "\n";
  err.flush();
  group->Abort(code);
  return code;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err,
           const ProcessGroupStarter& startProcesses) {
  CLI::App app{"vxnn: neural-network models from CSV files"};
  app.require_subcommand(1);
  // Before or after the command's name: `vxnn --threads 2 train ...` or
  // `vxnn train ... --threads 2`.
  app.fallthrough();
  int threads = 0;
  app.add_option("--threads", threads,
                 "Threads for the passes over records, the size selection's fits and scoring "
                 "(default: every core this process may use, " +
                     std::to_string(VXNeural::UsableCores()) +
                     " here). The results are the same for any number")
      ->check(Between(1, VXNeural::kMaxPassThreads));
  app.set_version_flag(
      "--version", [] { return VersionText(); },
      "Print the program's release, the library components' versions and the arithmetic kernel "
      "the passes use here (with the ones this build can run), then exit");
  bool distributed = false;
  app.add_flag("--distributed", distributed,
               "train, score: spread the work over the processes of an MPI run started by "
               "scripts/mpirun.sh; the model and the output are those of one process");

  TrainCommand train;
  TrainScratch scratch;
  CLI::App* trainCmd = app.add_subcommand("train", "Train a model on a CSV file and save it");
  AddTrainOptions(trainCmd, train, scratch);

  ScoreCommand score;
  CLI::App* scoreCmd =
      app.add_subcommand("score", "Write the records of a CSV file with the model's predictions");
  scoreCmd->add_option("model", score.fModel, "Saved model (binary or XML)")->required();
  scoreCmd->add_option("data", score.fData, "CSV file with the model's input columns")->required();
  scoreCmd->add_option("--output,-o", score.fOutput, "Write to FILE instead of standard output");
  std::string scoreMissing = "impute", scoreUnknown = "impute";
  AddMissingInputs(scoreCmd, scoreMissing);
  AddUnknownCategories(scoreCmd, scoreUnknown);

  EvalCommand eval;
  CLI::App* evalCmd = app.add_subcommand("eval", "Measure a model on a CSV file with its targets");
  evalCmd->add_option("model", eval.fModel, "Saved model (binary or XML)")->required();
  evalCmd->add_option("data", eval.fData, "CSV file with the input and target columns")->required();
  evalCmd->add_flag("--json", eval.fJson, "Print JSON");
  std::string evalMissing = "impute", evalUnknown = "impute";
  AddMissingInputs(evalCmd, evalMissing);
  AddUnknownCategories(evalCmd, evalUnknown);

  std::string inspectModel;
  bool inspectJson = false;
  CLI::App* inspectCmd = app.add_subcommand("inspect", "Describe a saved model");
  inspectCmd->add_option("model", inspectModel, "Saved model (binary or XML)")->required();
  inspectCmd->add_flag("--json", inspectJson, "Print JSON");
  bool inspectWeights = false;
  inspectCmd->add_flag("--weights", inspectWeights,
                       "Also list every unit's weights (RBF hidden units: centre and width)");

  ExportCommand exportModel;
  CLI::App* exportCmd = app.add_subcommand("export", "Write a saved model as a PMML document");
  exportCmd->add_option("model", exportModel.fModel, "Saved model (binary or XML)")->required();
  exportCmd
      ->add_option("--pmml", exportModel.fPmml,
                   "Write the PMML document to FILE (-: standard output)")
      ->required();
  exportCmd->add_option("--stats", exportModel.fStats,
                        "Also write the statistics document to FILE (-: standard output)");
  exportCmd->add_option("--data", exportModel.fData,
                        "CSV file with the model's input and target columns: the predictor "
                        "importance in the PMML document is computed from its records (without "
                        "it the document has none)");
  AddImportanceRecords(exportCmd, exportModel.fImportanceRecords);

  ReportCommand report;
  CLI::App* reportCmd =
      app.add_subcommand("report", "Write a page (HTML) showing a model measured on a CSV file");
  reportCmd->add_option("model", report.fModel, "Saved model (binary or XML)")->required();
  reportCmd->add_option("data", report.fData, "CSV file with the input and target columns")
      ->required();
  reportCmd
      ->add_option("--output,-o", report.fOutput, "Write the page to FILE (-: standard output)")
      ->required();
  std::string reportMissing = "impute", reportUnknown = "impute";
  AddMissingInputs(reportCmd, reportMissing);
  AddUnknownCategories(reportCmd, reportUnknown);
  AddImportanceRecords(reportCmd, report.fImportanceRecords);

  CLI::App* demoCmd = app.add_subcommand(
      "demo", "Train, evaluate, save, reload and score on the embedded iris data");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    out << e.what();
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "vxnn: error: " << e.what() << " (see vxnn --help)\n";
    return 2;
  }

  // The library's own default is the caller's thread alone (and what the
  // environment variable VXNN_THREADS says); a command-line user wants
  // every core unless told otherwise.
  if (threads > 0)
    VXNeural::SetPassThreads(threads);
  else if (!std::getenv("VXNN_THREADS"))
    VXNeural::SetPassThreads(VXNeural::UsableCores());

  if (distributed) {
    if (!startProcesses) {
      err << "vxnn: error: --distributed needs vxnn built with MPI (the CMake option VXNN_MPI, "
             "with OpenMPI installed)\n";
      return 2;
    }
    if (!trainCmd->parsed() && !scoreCmd->parsed()) {
      err << "vxnn: error: --distributed applies to train and score\n";
      return 2;
    }
  }
  // The command given, writing to o and e; it throws what the commands
  // throw. combiner: the exchange of a --distributed run, else null.
  auto command = [&](std::ostream& o, std::ostream& e, VXNeural::PassCombiner* combiner) {
    if (trainCmd->parsed()) {
      FinishTrainOptions(train, scratch);
      train.fTrain.fCombiner = combiner;
      return RunTrain(train, o, e);
    }
    if (scoreCmd->parsed()) {
      score.fMissingInputs = MissingInputsOf(scoreMissing);
      score.fUnknownCategories = UnknownCategoriesOf(scoreUnknown);
      score.fCombiner = combiner;
      return RunScore(score, o, e);
    }
    if (evalCmd->parsed()) {
      eval.fMissingInputs = MissingInputsOf(evalMissing);
      eval.fUnknownCategories = UnknownCategoriesOf(evalUnknown);
      return RunEval(eval, o, e);
    }
    if (inspectCmd->parsed()) return RunInspect(inspectModel, inspectJson, inspectWeights, o);
    if (exportCmd->parsed()) return RunExport(exportModel, o, e);
    if (reportCmd->parsed()) {
      report.fMissingInputs = MissingInputsOf(reportMissing);
      report.fUnknownCategories = UnknownCategoriesOf(reportUnknown);
      return RunReport(report, o, e);
    }
    if (demoCmd->parsed()) return RunDemo(o, e);
    return 0;
  };
  if (distributed)
    return RunDistributed(
        startProcesses,
        [&](std::ostream& o, std::ostream& e, VXNeural::PassCombiner& combiner) {
          return command(o, e, &combiner);
        },
        out, err);
  try {
    return command(out, err, nullptr);
  } catch (...) {
    std::string message;
    const int code = Describe(std::current_exception(), message);
    err << "vxnn: error: " << message << "\n";
    return code;
  }
}

}  // namespace vxnn
