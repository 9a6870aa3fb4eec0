// `vxnn train` spread over processes (--distributed), the processes played
// by threads of this one (tests/common/in_process_combiner.h): every
// process, holding only its share of the records, trains the model one
// process trains on the whole file, byte for byte but for the processor
// times it saves.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestHost.h"
#include "cli/Cli.h"
#include "commands/Commands.h"
#include "common/in_process_combiner.h"
#include "common/saved_times.h"

namespace {

// The process counts of the heavy cases. Under the sanitizers, where a
// training runs ten to twenty times slower, only three processes: uneven
// shares, a middle process and the most exchanges, which is where the
// instrumented build's memory and race checks have something to find; the
// other counts run in the plain build and under mpirun.
// The data are also copied twice rather than three times there (still
// enough that each of three processes holds some of every set), and the
// cross-validated RBF network takes two folds instead of five.
#ifdef VXNN_INSTRUMENTED
const std::vector<int> kProcessCounts{3};
const std::vector<int> kRbfProcessCounts{3};
const int kCopies = 2;
const std::optional<int> kRbfFolds = 2;
#else
const std::vector<int> kProcessCounts{1, 2, 3};
const std::vector<int> kRbfProcessCounts{2, 3};
const int kCopies = 3;
const std::optional<int> kRbfFolds;  // the host's own count
#endif

// The diabetes data kCopies times over, each copy's continuous values moved
// a little so that no two rows repeat, with gaps in two columns: enough
// records that three processes each hold some of every set (96-record
// blocks), and a categorical input.
vxnn::CsvTable Gappy() {
  const vxnn::CsvTable base = testhost::Shipped("diabetes.csv");
  vxnn::CsvTable t;
  t.fHeader = base.fHeader;
  for (int copy = 0; copy < kCopies; ++copy)
    for (std::vector<std::string> row : base.fRows) {
      row[0] = std::to_string(std::stoi(row[0]) + copy);
      row[2] = std::to_string(std::stod(row[2]) + 0.25 * copy);
      t.fRows.push_back(row);
    }
  for (std::size_t i = 0; i < t.fRows.size(); ++i) {
    if (i % 17 == 3) t.fRows[i][2].clear();
    if (i % 23 == 5) t.fRows[i][4].clear();
  }
  return t;
}

struct Case {
  const char* name;
  std::function<void(vxnn::TrainOptions&)> adjust;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases{
      // Early stopping on the test records, then the refit on every record.
      {"held out, refit", {}},
      {"no test records", [](vxnn::TrainOptions& o) { o.fTestFraction = 0.0; }},
      {"trained to the stop rules, importance on a sample",
       [](vxnn::TrainOptions& o) {
         o.fEarlyStopping = false;
         o.fRefit = false;
         o.fImportance = true;
         o.fImportanceSample = 300;
       }},
      // The library keeps its encoded records in temporary files.
      {"spilled", [](vxnn::TrainOptions& o) { o.fMemoryBudget = 100; }},
      // The linear model, the perceptron and the RBF network compared, and
      // the first process's choice kept by all.
      {"network auto",
       [](vxnn::TrainOptions& o) {
         o.fAutoNetwork = true;
         o.fHiddenUnits.clear();
         o.fMaxDataPasses.reset();
         o.fSizeSelection = vxnn::SizeSelectionMode::kRule;
       }},
      // Every fold fitted shared where its sets can be shared.
      {"size selection",
       [](vxnn::TrainOptions& o) {
         o.fHiddenUnits.clear();
         o.fFolds = 2;
         o.fRefit = false;
       }},
  };
  return cases;
}

vxnn::TrainOptions Options(const Case& c) {
  vxnn::TrainOptions o = testhost::ForTarget("progression");
  o.fDescribe.fCategorical = {"sex"};
  o.fHiddenUnits = {5};
  o.fMaxDataPasses = 30;
  if (c.adjust) c.adjust(o);
  return o;
}

std::unique_ptr<vxnn::TrainResult> TrainOn(const vxnn::CsvTable& t, const vxnn::TrainOptions& o,
                                           bool inMemory) {
  std::ostringstream quiet;
  vxnn::ProgressBar progress(quiet, false);
  return vxnn::TrainModel(vxnn::TableOpener(t, "t.csv"), o, progress, inMemory);
}

long long Held(VXCommon_1_2::MultiPassRecordIter* source) {
  if (!source) return 0;
  long long n = 0;
  source->Rewind();
  while (source->Next()) ++n;
  source->Rewind();
  return n;
}

// What one process ended with: its saved model (processor times zeroed) or
// its error, and the training and test records it held.
struct Outcome {
  std::string fSaved;
  long long fTrainHeld = 0, fTestHeld = 0;
  std::size_t fTrain = 0, fTest = 0;  // the whole sets' usable records
  std::size_t fImportanceRecords = 0;
};

std::vector<Outcome> TrainShared(const vxnn::CsvTable& t, const vxnn::TrainOptions& o,
                                 bool inMemory, int size) {
  std::vector<Outcome> outcomes(static_cast<std::size_t>(size));
  in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
    vxnn::TrainOptions mine = o;
    mine.fCombiner = &combiner;
    Outcome& out = outcomes[static_cast<std::size_t>(rank)];
    try {
      const std::unique_ptr<vxnn::TrainResult> r = TrainOn(t, mine, inMemory);
      out.fSaved = saved_times::SavedWithoutTimes(*r->fAlgorithm);
      out.fTrainHeld = Held(r->fTrainSource.get());
      out.fTestHeld = Held(r->fTestSource.get());
      out.fTrain = r->fTrainCounts.fKept;
      out.fTest = r->fTestCounts.fKept;
      out.fImportanceRecords = r->fImportanceRecords;
    } catch (const std::exception& e) {
      out.fSaved = e.what();
    }
  });
  return outcomes;
}

TEST(DistributedTraining, EveryProcessSavesTheOneProcessModelFromItsShare) {
  const vxnn::CsvTable t = Gappy();
  for (const Case& c : Cases()) {
    const vxnn::TrainOptions o = Options(c);
    for (bool inMemory : {true, false}) {
      const std::unique_ptr<vxnn::TrainResult> alone = TrainOn(t, o, inMemory);
      const std::string expected = saved_times::SavedWithoutTimes(*alone->fAlgorithm);
      ASSERT_GT(expected.size(), 100u) << c.name;
      for (int size : kProcessCounts) {
        SCOPED_TRACE(std::string(c.name) + (inMemory ? ", in memory, " : ", streamed, ") +
                     std::to_string(size) + " processes");
        const std::vector<Outcome> outcomes = TrainShared(t, o, inMemory, size);
        for (int r = 0; r < size; ++r) {
          const Outcome& out = outcomes[static_cast<std::size_t>(r)];
          EXPECT_TRUE(out.fSaved == expected) << "rank " << r << ": " << out.fSaved.substr(0, 60);
          const VXNeural::RecordShare train =
              VXNeural::ShareOf(static_cast<long long>(out.fTrain), r, size);
          const VXNeural::RecordShare test =
              VXNeural::ShareOf(static_cast<long long>(out.fTest), r, size);
          EXPECT_EQ(out.fTrainHeld, train.end - train.first) << "rank " << r;
          EXPECT_EQ(out.fTestHeld, test.end - test.first) << "rank " << r;
          EXPECT_GT(out.fTrainHeld, 0) << "rank " << r;
          // The importance's sample, gathered from every process's share.
          EXPECT_EQ(out.fImportanceRecords, alone->fImportanceRecords) << "rank " << r;
        }
      }
    }
  }
}

// The RBF network: the pre-clustering taken in turns, the solver's sums
// and the overlap selection's retrains shared.
TEST(DistributedTraining, RbfSavesTheOneProcessModel) {
  const vxnn::CsvTable t = Gappy();
  auto rbf = [](vxnn::TrainOptions& o) { o.fNetwork = vxnn::NetworkKind::kRBF; };
  for (const Case& c : std::vector<Case>{{"rbf, centres by rule", rbf},
                                         // Cross-validated centres and overlaps: the
                                         // folds' retrains at other overlaps shared.
                                         {"rbf, centres and overlap by cross-validation", rbf}}) {
    vxnn::TrainOptions o = Options(c);
    o.fMaxDataPasses.reset();
    o.fHiddenUnits.clear();
    if (std::string(c.name) == "rbf, centres by rule")
      o.fSizeSelection = vxnn::SizeSelectionMode::kRule;
    else
      o.fFolds = kRbfFolds;
    const std::string expected = saved_times::SavedWithoutTimes(*TrainOn(t, o, false)->fAlgorithm);
    for (int size : kRbfProcessCounts) {
      const std::vector<Outcome> outcomes = TrainShared(t, o, false, size);
      for (int r = 0; r < size; ++r)
        EXPECT_TRUE(outcomes[static_cast<std::size_t>(r)].fSaved == expected)
            << c.name << ", rank " << r << " of " << size;
    }
  }
}

// Too few records for every process to hold some: each trains on all of
// them alone, and still saves the one-process model.
TEST(DistributedTraining, TooFewRecordsToShareTrainEveryProcessAlone) {
  vxnn::CsvTable t = testhost::Shipped("diabetes.csv");
  t.fRows.resize(200);  // 140 training records, 60 test records: 1 block
  const vxnn::TrainOptions o = Options(Cases()[0]);
  const std::string expected = saved_times::SavedWithoutTimes(*TrainOn(t, o, false)->fAlgorithm);
  const std::vector<Outcome> outcomes = TrainShared(t, o, false, 2);
  for (const Outcome& out : outcomes) {
    EXPECT_TRUE(out.fSaved == expected) << out.fSaved.substr(0, 60);
    EXPECT_EQ(out.fTrainHeld, 140);
    EXPECT_EQ(out.fTestHeld, 60);
  }
}

// Only the first process writes: the others save no model and print no
// summary.
TEST(DistributedTraining, OnlyTheFirstProcessWrites) {
  const testhost::Scratch scratch;
  testhost::Spit(scratch.fDir / "d.csv", testhost::CsvText(Gappy()));
  std::vector<std::string> said(2);
  in_process::RunProcesses(2, [&](int rank, in_process::Combiner& combiner) {
    vxnn::TrainCommand c;
    c.fData = (scratch.fDir / "d.csv").string();
    c.fTrain = Options(Cases()[0]);
    c.fTrain.fCombiner = &combiner;
    c.fModelPath = (scratch.fDir / ("m" + std::to_string(rank))).string();
    c.fSummaryJson = c.fModelPath + ".json";
    c.fProgress = false;
    std::ostringstream out, err;
    vxnn::RunTrain(c, out, err);
    said[static_cast<std::size_t>(rank)] = out.str() + err.str();
  });
  EXPECT_TRUE(std::filesystem::exists(scratch.fDir / "m0"));
  EXPECT_TRUE(std::filesystem::exists(scratch.fDir / "m0.json"));
  EXPECT_FALSE(std::filesystem::exists(scratch.fDir / "m1"));
  EXPECT_FALSE(std::filesystem::exists(scratch.fDir / "m1.json"));
  EXPECT_EQ(testhost::Count(said[0], "Model saved to"), 1);
}

// `vxnn score` over 1, 2 and 3 processes: the first writes every row, in
// the file's order, as one process writes them, with the same counts.
TEST(DistributedScoring, TheFirstProcessWritesTheOneProcessOutput) {
  const testhost::Scratch scratch;
  const vxnn::CsvTable t = Gappy();
  testhost::Spit(scratch.fDir / "d.csv", testhost::CsvText(t));
  // Enough rows for several pieces, and a last piece of a few rows.
  vxnn::CsvTable many = t;
  while (many.fRows.size() < 4 * vxnn::kScoreChunkRows + 100)
    many.fRows.insert(many.fRows.end(), t.fRows.begin(), t.fRows.end());
  testhost::Spit(scratch.fDir / "many.csv", testhost::CsvText(many));
  const std::unique_ptr<vxnn::TrainResult> trained = TrainOn(t, Options(Cases()[0]), true);
  const std::string model = (scratch.fDir / "m").string();
  std::ostringstream ignored;
  vxnn::SaveModel(*trained->fAlgorithm, model, vxnn::ModelFormat::kBinary, ignored);

  vxnn::ScoreCommand c;
  c.fModel = model;
  c.fData = (scratch.fDir / "many.csv").string();
  std::ostringstream out, err;
  ASSERT_EQ(vxnn::RunScore(c, out, err), 0);
  const std::string one = out.str() + err.str();
  ASSERT_GT(std::count(one.begin(), one.end(), '\n'), 16000);
  for (int size : {1, 2, 3}) {
    std::vector<std::string> written(static_cast<std::size_t>(size));
    in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
      vxnn::ScoreCommand mine = c;
      mine.fCombiner = &combiner;
      std::ostringstream o, e;
      vxnn::RunScore(mine, o, e);
      written[static_cast<std::size_t>(rank)] = o.str() + e.str();
    });
    EXPECT_TRUE(written[0] == one) << size << " processes";
  }
}

// The command line's side of --distributed: without MPI, or with a
// command that has no distributed form, one line and exit code 2 before
// anything starts; a group that does not start, one line and 1.
struct FakeGroup : vxnn::ProcessGroup {
  explicit FakeGroup(std::vector<int>& aborts) : fAborts(aborts) {}
  VXNeural::PassCombiner& Combiner() override { return fCombiner; }
  void Abort(int code) override { fAborts.push_back(code); }
  in_process::Exchange fExchange{1};
  in_process::Combiner fCombiner{fExchange, 0};
  std::vector<int>& fAborts;
};

int RunWith(const std::string& line, const vxnn::ProcessGroupStarter& start, std::string& out,
            std::string& err) {
  std::vector<std::string> args = testhost::Args(line);
  args.insert(args.begin(), "vxnn");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream o, e;
  const int code = vxnn::RunCli(static_cast<int>(argv.size()), argv.data(), o, e, start);
  out = o.str();
  err = e.str();
  return code;
}

TEST(DistributedCommandLine, RefusalsAndFailuresAreOneLine) {
  std::vector<int> aborts;
  int started = 0;
  const vxnn::ProcessGroupStarter fake = [&](std::string&) {
    ++started;
    return std::make_unique<FakeGroup>(aborts);
  };
  const vxnn::ProcessGroupStarter failing = [&](std::string& why) {
    ++started;
    why = "no MPI here";
    return std::unique_ptr<vxnn::ProcessGroup>();
  };
  const std::string iris = "train data/iris.csv --target species --no-save --distributed";
  struct Row {
    std::string line;
    const vxnn::ProcessGroupStarter* start;
    int code, starts;
    std::vector<int> aborts;
    std::string err;
  };
  const vxnn::ProcessGroupStarter none;
  const std::vector<Row> rows{
      {iris,
       &none,
       2,
       0,
       {},
       "vxnn: error: --distributed needs vxnn built with MPI (the CMake option VXNN_MPI, with "
       "OpenMPI installed)\n"},
      {"--distributed eval m.model data/iris.csv",
       &fake,
       2,
       0,
       {},
       "vxnn: error: --distributed applies to train and score\n"},
      {iris, &failing, 1, 1, {}, "vxnn: error: --distributed: no MPI here\n"},
      // A failure on the first process: said once, and the run ended. (A
      // number out of its range never gets here: the command line refuses
      // it before any process starts.)
      {iris + " --hidden-units 3,2,1",
       &fake,
       1,
       1,
       {1},
       "vxnn: error: --hidden-units: at most 2 hidden layers\n"},
      {iris + " --select-architecture",
       &fake,
       1,
       1,
       {1},
       "vxnn: error: --select-architecture does not run with --distributed; give "
       "--hidden-units, or let the size selection choose\n"},
  };
  for (const Row& row : rows) {
    aborts.clear();
    started = 0;
    std::string out, err;
    EXPECT_EQ(RunWith(row.line, *row.start, out, err), row.code) << row.line;
    EXPECT_EQ(err, row.err) << row.line;
    EXPECT_EQ(started, row.starts) << row.line;
    EXPECT_EQ(aborts, row.aborts) << row.line;
  }
}

// One process of one: the command runs as without --distributed.
TEST(DistributedCommandLine, OneProcessTrainsAndWrites) {
  std::vector<int> aborts;
  const testhost::Scratch scratch;
  const std::string model = (scratch.fDir / "m.model").string();
  std::string out, err;
  ASSERT_EQ(RunWith(
                "train data/iris.csv --target species --hidden-units 4 --no-progress "
                "--max-data-passes 10 --model " +
                    model + " --distributed",
                [&](std::string&) { return std::make_unique<FakeGroup>(aborts); }, out, err),
            0)
      << err;
  EXPECT_TRUE(aborts.empty());
  EXPECT_EQ(testhost::Count(out, "Model saved to " + model), 1);
  EXPECT_TRUE(std::filesystem::exists(model));
}

}  // namespace
