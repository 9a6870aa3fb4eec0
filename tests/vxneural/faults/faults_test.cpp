// Faults the host's environment can throw at the library: a temporary
// directory that cannot be written, a disk that fills while records are
// spilled, record sources (raw or encoded, or a file of encoded records cut
// short under the library) that fail half way through a pass, and a progress
// listener that asks to stop. Each must end in its documented code (50014
// training, 50015 test), never a crash or a hang, in state Inconsistent
// when training, without asking the failed source again in the same pass,
// and leave no temporary file behind.
//
// The tests may run as root, where file modes do not deny writes, so an
// unwritable directory is a path under a regular file, a directory that does
// not exist, or a name maker that gives no name. A full disk is a file-size
// limit in a forked child: with SIGXFSZ ignored, writes past it fail.
//
// And a host may cancel at any moment: for every operation that polls the cancel
// object, an uncancelled run counts its polls P, then for every N in 1..P a
// fresh model is cancelled at the N-th poll. Each time the algorithm must end
// in its documented state with code 1, stay usable as a cancelled algorithm,
// and leave no temporary file of its own behind. Each case runs twice: over
// raw records kept in temporary files (a budget of one record in memory), so
// that every pass reads a file the library must later delete, and over
// encoded records read straight from the test's sources, so that a record
// read after the host said yes shows.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "common/host_doubles.h"
#include "common/pass_settings.h"
#include "common/scratch_dir.h"
#include "vxneural/algorithm/rbf_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/PassThreads.h"

namespace mlpdriver {
namespace {

using scratch_dir::ScratchDir;
constexpr int kTrainNotGood = 50014, kTestNotGood = 50015, kTempFileFailed = 50002;
constexpr int kTrain = 24, kTest = 8;

// Answers yes from its at-th question on (never while at is 0). Also the
// log of the records read: how many had been read when it first said yes,
// and how many were read with no question asked since the record before.
struct CancelAt : VXCommon_1_2::VXQueryCancel {
  bool QueryCancel() override {
    ++fQueries;
    if (fAt == 0 || fQueries < fAt) return false;
    if (fReadsAtYes < 0) fReadsAtYes = fReads;
    return true;
  }
  void Read() {
    fUnpolledReads += fQueries == fQueriesAtLastRead;
    fQueriesAtLastRead = fQueries;
    ++fReads;
  }
  long fAt = 0, fQueries = 0, fReads = 0, fReadsAtYes = -1, fUnpolledReads = 0;
  long fQueriesAtLastRead = -1;
};

// When the passes of a source fail: at record failAt, in pass fromPass and
// (unless once) every pass after it. A pass is what is read between two
// rewinds, counted from 1 when its first record is asked for, so that a
// rewind before any reading starts no pass. A failing pass either turns not
// good with an error status, or keeps saying it is good while handing out
// nothing (its status an error).
struct Plan {
  int failAt, fromPass;
  bool once, claimsGood;
};
constexpr Plan kNever{1000, 1, false, false};

class FailingEncoded : public MultiPassRecordIter {
 public:
  FailingEncoded(std::vector<Record> records, Plan plan, CancelAt* log = nullptr)
      : fRecords(std::move(records)), fPlan(plan), fLog(log) {}
  ~FailingEncoded() override { ExpectLetGo(); }
  bool IsGood() override {
    return fPos < fRecords.size() && (!Met() || (fPlan.claimsGood && fEmptyAnswers < 1000));
  }
  const Record* Next() override {
    fStarted = true;
    if (fPos < fRecords.size() && !Met()) {
      if (fLog != nullptr) fLog->Read();
      return &fRecords[fPos++];
    }
    ++fEmptyAnswers;
    return nullptr;
  }
  int GetStatus() override { return Met() ? kError : fPos < fRecords.size() ? kGood : kEndOfData; }
  int Rewind() override {
    ExpectLetGo();
    fPass += fStarted;
    fStarted = false;
    fPos = fEmptyAnswers = 0;
    return GetStatus();
  }
  // Whether a reader ever met the failure.
  bool Failed() const { return fFailed; }
  // Every pass from the next one on fails at record failAt.
  void FailFromNextPass(int failAt) { fPlan = {failAt, fPass + fStarted, false, false}; }

 private:
  // Failing, noted as met by the reader that asks.
  bool Met() {
    const bool inPlan = fPass == fPlan.fromPass || (!fPlan.once && fPass > fPlan.fromPass);
    fFailed |= inPlan && fPos >= static_cast<std::size_t>(fPlan.failAt);
    return inPlan && fPos >= static_cast<std::size_t>(fPlan.failAt);
  }
  void ExpectLetGo() const { EXPECT_LE(fEmptyAnswers, 1) << "asked again after the failure"; }

  std::vector<Record> fRecords;
  Plan fPlan;
  CancelAt* fLog;  // logs each record handed out, when given
  std::size_t fPos = 0;
  int fPass = 1, fEmptyAnswers = 0;
  bool fStarted = false, fFailed = false;  // fStarted: whether this pass has been read
};

// An operation run on the algorithm (with a source of the test records):
// whether it needs a trained model first, and whether it asks at the gate of
// training and evaluation before anything else, and whether it reports its
// progress.
struct Op {
  bool trainsFirst, gated, reports;
  std::function<VXStatus(INeuralAlgorithm&, FailingEncoded&)> run;
};
const Op kTrainOp{false, true, true,
                  [](INeuralAlgorithm& a, auto&) { return a.Train(kTrain, -1); }};
// Training by a single solve, and RBF training, report nothing.
const Op kSolve{false, true, false, kTrainOp.run};
const Op kSelect{false, false, true,
                 [](INeuralAlgorithm& a, auto&) { return a.SelectArchitecture(); }};
const Op kSensitivity{true, true, true, [](INeuralAlgorithm& a, auto&) {
                        std::vector<double> importance;
                        return a.ComputeSensitivity(importance);
                      }};
const Op kStats{true, true, false, [](INeuralAlgorithm& a, FailingEncoded& raw) {
                  NNOutputStatistics stats;
                  return a.ComputeOutputStats(raw, kTest, stats);
                }};
const Op kError{true, true, false, [](INeuralAlgorithm& a, FailingEncoded& raw) {
                  a.GetErrorOnData(raw, kTest);
                  return a.GetStatus();
                }};
const Op kUpdate{true, true, false,
                 [](INeuralAlgorithm& a, auto& raw) { return a.Update(raw, kTest); }};
const Op kSave{true, false, false, [](INeuralAlgorithm& a, auto&) {
                 std::ostringstream out;
                 return a.SaveState(out);
               }};
const Op kSaveXml{true, false, false, [](INeuralAlgorithm& a, auto&) {
                    std::ostringstream out;
                    return a.SaveStateXML(out);
                  }};

struct Case {
  const char* name;
  bool rbf;
  Targets targets;
  const Op& op;
  std::function<void(NeuralSettings&)> adjust;  // method, type, search
};

// What one run needs to outlive the algorithm it builds. Raw records go
// through the data preparator into temporary files; encoded ones are read
// straight from counting sources, so that the reads after the cancel show.
struct CancelRun {
  scratch_dir::ScratchDir dir;
  CancelAt cancel;
  std::unique_ptr<FailingEncoded> train, test;
  AnyModel m;
  INeuralAlgorithm* a = nullptr;
  int preparatorFiles = 0, stateBefore = 0;

  CancelRun(const Case& c, bool encoded, Plan trainPlan = kNever, Plan testPlan = kNever) {
    m = MakeAny(
        c.rbf, c.targets, kTrain, kTest,
        [&](NeuralSettings& s) {
          if (!c.rbf) static_cast<MLPSettings&>(s).SetMaxNDataPasses(3);
          s.SetCancelPointer(&cancel);
          s.SetTempFileDir(dir.Path());
          s.SetMaxRecordsInMemory(1);
          s.SetComputeSensitivity(true);
          if (c.adjust) c.adjust(s);
        },
        encoded);
    a = m.Algorithm().get();
    if (encoded) {
      train = std::make_unique<FailingEncoded>(m.Records(false), trainPlan, &cancel);
      test = std::make_unique<FailingEncoded>(m.Records(true), testPlan, &cancel);
      a = m.Rebuild(*train, test.get());
    }
    preparatorFiles = dir.Count();
  }

  // Trains first when the operation needs a trained model, then arms the
  // cancel object (when `at` > 0, to answer yes at its at-th question) and
  // runs the operation, reporting to listener when given. Returns its status
  // and the polls it made.
  VXStatus Operate(const Op& op, long at, long& polls,
                   VXCommon_1_2::ProgressListener* listener = nullptr) {
    if (op.trainsFirst) {
      EXPECT_EQ(a->Train(kTrain, -1), VXStatus());
    }
    a->SetProgressListener(listener);
    stateBefore = a->GetAlgorithmStatus();
    const long before = cancel.fQueries;
    if (at > 0) cancel.fAt = before + at;
    FailingEncoded raw(m.Records(true), kNever, &cancel);
    VXStatus s = op.run(*a, raw);
    polls = cancel.fQueries - before;
    return s;
  }
};

// An MLP trained by method m and type t.
auto Using(VXNNCommon::MLPTrainingMethod m, VXNNCommon::TrainingType t) {
  return [m, t](NeuralSettings& s) { static_cast<MLPSettings&>(s).SetTrainingMethodAndType(m, t); };
}
void Linear(NeuralSettings& s) {
  auto& mlp = static_cast<MLPSettings&>(s);
  mlp.SetNumHiddenLayers(0);
  mlp.SetActivFnOutputLayer(VXNNCommon::kIdentity);
  mlp.SetTrainingMethodAndType(VXNNCommon::kLinearRegression, VXNNCommon::kBatch);
}

// Each method trains the model; the cancel tests take them too.
const Case kMethods[] = {
    {"SCG", false, kCategoricalTarget, kTrainOp,
     Using(VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch)},
    {"batch GD", false, kBothTargets, kTrainOp,
     Using(VXNNCommon::kGradientDescent, VXNNCommon::kBatch)},
    {"mini-batch GD", false, kCategoricalTarget, kTrainOp,
     Using(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch)},
    {"online GD", false, kContinuousTarget, kTrainOp,
     Using(VXNNCommon::kGradientDescent, VXNNCommon::kOnline)},
    {"linear regression", false, kContinuousTarget, kSolve, Linear},
    {"RBF, fixed centres", true, kCategoricalTarget, kSolve,
     [](NeuralSettings& s) { s.SetNumHiddenUnits(3, 1); }},
};

TEST(EncodedSourceFailingMidPass, TrainingEndsWithTheSourceCode) {
  // Which passes fail, and the code that must end the run. Training by a
  // single solve (RBF, linear regression) reads two passes of training
  // records and no test records: later failures never reach it. The runs
  // over sources that never fail are the cancel tests' uncancelled runs.
  const struct {
    const char* what;
    Plan train, test;
    int code;
    bool beyondTwoPasses;
  } plans[] = {
      // clang-format off
      {"training turns bad from pass 2", {15, 2, false, false}, kNever, kTrainNotGood, false},
      {"training gives nothing from pass 2", {15, 2, false, true}, kNever, kTrainNotGood, false},
      {"training fails in pass 1 only", {15, 1, true, false}, kNever, kTrainNotGood, false},
      {"training fails in pass 3 only", {1, 3, true, true}, kNever, kTrainNotGood, true},
      {"test turns bad", kNever, {4, 2, false, false}, kTestNotGood, true},
      {"test gives nothing", kNever, {4, 2, false, true}, kTestNotGood, true},
      {"test turns bad from pass 3", kNever, {4, 3, false, false}, kTestNotGood, true},
      // clang-format on
  };
  for (const Case& m : kMethods) {
    for (const auto& p : plans) {
      if (p.beyondTwoPasses && &m.op == &kSolve) continue;
      SCOPED_TRACE(std::string(m.name) + ": " + p.what);
      CancelRun h(m, true, p.train, p.test);
      ASSERT_NE(h.a, nullptr);
      const VXStatus trained = h.a->Train(kTrain, -1);
      ExpectStatus(trained, p.code);
      EXPECT_EQ(h.a->GetAlgorithmStatus(), VXNNCommon::kInconsistent);
      EXPECT_TRUE((p.code == kTrainNotGood ? h.train : h.test)->Failed());
      // The failure is kept: further training does nothing.
      EXPECT_EQ(h.a->Train(kTrain, -1), VXStatus());
      ExpectStatus(h.a->GetStatus(), p.code);
    }
  }
}

// Raw records spilled to a temporary file of encoded records (a budget of
// one record in memory), which is then cut after the algorithm is built:
// at a record boundary (fewer records than were written), inside a record,
// or to nothing. The first pass may still be served from the read-ahead
// block; a later one meets the cut.
TEST(EncodedFileCutShort, TrainingEndsWithTheTrainingCodeAndLeavesNothing) {
  for (const Case& m : kMethods) {
    for (const double kept : {12.0, 12.5, 0.0}) {  // records of the encoded width
      SCOPED_TRACE(std::string(m.name) + ": " + std::to_string(kept));
      ScratchDir scratch;
      auto settings = [&](NeuralSettings& s) {
        s.SetTempFileDir(scratch.Path());
        s.SetMaxRecordsInMemory(1);
        m.adjust(s);
      };
      AnyModel model = MakeAny(m.rbf, m.targets, kTrain, 0, settings);
      std::unique_ptr<INeuralAlgorithm>& a = model.Algorithm();
      ASSERT_NE(a, nullptr);
      ASSERT_EQ(scratch.Count(), 1) << "one file of training records";
      const auto file = std::filesystem::directory_iterator(scratch.Path())->path();
      const auto width = std::filesystem::file_size(file) / kTrain;
      std::filesystem::resize_file(file, static_cast<std::uintmax_t>(kept * width));

      ExpectStatus(a->Train(kTrain, -1), kTrainNotGood);
      EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kInconsistent);
      EXPECT_EQ(scratch.Count(), 1) << "the file stays with its reader";
      a.reset();
      EXPECT_EQ(scratch.Count(), 0);
    }
  }
}

// A trained model measured over records that fail half way: the error, the
// output statistics and the importance of part of the records would pass
// for the whole, so each answers with the source's code instead. The
// training records fail at record 15, the test records at 4; only the
// ranges found over the test records answer with the test code.
TEST(EncodedSourceFailingMidPass, MeasuresAnswerTheSourceCode) {
  enum Measure { kError, kStats, kGivenRanges, kFoundRanges };
  for (const Case& m : {kMethods[0], kMethods[5]}) {
    for (const Measure c : {kError, kStats, kGivenRanges, kFoundRanges}) {
      SCOPED_TRACE(std::string(m.name) + ": measure " + std::to_string(c));
      CancelRun h(m, true);
      ASSERT_NE(h.a, nullptr);
      ASSERT_EQ(h.a->Train(kTrain, kTest), VXStatus());
      (c == kGivenRanges ? h.train : h.test)->FailFromNextPass(c == kGivenRanges ? 15 : 4);
      const int n = h.a->GetSettings()->GetNumInputs();
      const std::size_t given = c == kGivenRanges ? n : 0;
      std::vector<double> importance;
      NNOutputStatistics stats;
      VXStatus s;
      if (c == kError) {
        EXPECT_EQ(h.a->GetErrorOnData(*h.test, kTest), VXMV::gMissingValue);
        s = h.a->GetStatus();
      } else if (c == kStats) {
        s = h.a->ComputeOutputStats(*h.test, kTest, stats);
      } else {
        s = h.a->ComputeSensitivity(n, std::vector<int>(n, 1), given > 0,
                                    std::vector<double>(given, 0), std::vector<double>(given, 1),
                                    importance);
      }
      ExpectStatus(s, c == kFoundRanges ? kTestNotGood : kTrainNotGood);
    }
  }
}

// Hands out one name, whatever it is asked.
struct FixedMaker : VXCommon_1_2::VXTempFileNameMaker {
  std::string GetTempFileName() override { return fName; }
  std::string fName;
};

TEST(UnwritableTemporaryDirectory, PreparingGives50002AndLeavesNothing) {
  const struct {
    const char* what;
    std::string dir;  // under the scratch directory
    bool maker;       // a maker naming files there, instead of the directory
  } cases[] = {{"a directory under a regular file", "plain/sub", false},
               {"a directory that does not exist", "missing", false},
               {"a maker naming a file under a regular file", "plain/sub", true},
               {"a maker that gives no name", "", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch, settingsDir;  // the latter unused by the maker's cases
    std::ofstream(scratch.Path() + "/plain") << "x";
    FixedMaker maker;
    maker.fName = c.dir.empty() ? "" : scratch.Path() + "/" + c.dir + "/f";
    auto m = MakeModel(kCategoricalTarget, 40, 10, 1, [&](MLPSettings& s) {
      s.SetTempFileDir(c.maker ? settingsDir.Path() : scratch.Path() + "/" + c.dir);
      if (c.maker) s.SetTempFileNameMaker(&maker);
      s.SetMaxRecordsInMemory(1);
    });
    EXPECT_EQ(m->algorithm, nullptr);
    ExpectStatus(m->factory.GetStatus(), kTempFileFailed);
    EXPECT_EQ(scratch.Count(), 1) << "only the regular file";
    EXPECT_EQ(settingsDir.Count(), 0);
  }
}

TEST(DiskFullDuringSpill, PreparingGives50002AndRemovesThePartialFile) {
  // 2000 records of 7 units are 112000 bytes: the file fills at 16 KiB. The
  // child's exit code is the number of failed checks.
  ScratchDir scratch;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16384, 16384};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    auto m = MakeModel(kCategoricalTarget, 2000, 0, 1, [&](MLPSettings& s) {
      s.SetTempFileDir(scratch.Path());
      s.SetMaxRecordsInMemory(1);
    });
    _exit((m->algorithm != nullptr) + (m->factory.GetStatus() != VXStatus(kTempFileFailed, false)) +
          (scratch.Count() != 0));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "checks failed in the child";
  EXPECT_EQ(scratch.Count(), 0);
}

TEST(SourceFailingMidPass, PreparingGivesTheSourceCodeAndLeavesNothing) {
  const struct {
    const char* what;
    bool testFails, claimsGood, inFiles;
  } cases[] = {
      {"training source turns bad, records in files", false, false, true},
      {"training source turns bad, records in memory", false, false, false},
      {"training source hands out nothing", false, true, true},
      {"test source turns bad", true, false, true},
      {"test source hands out nothing, records in memory", true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    const std::vector<Record> raw = MakeRecords(40, 1);
    NNVarList list = MakeList(raw, kCategoricalTarget);
    MLPSettings settings(list, 40);
    settings.SetTempFileDir(scratch.Path());
    settings.SetMaxRecordsInMemory(c.inFiles ? 1 : 100000);
    settings.SetNTestRecords(10);
    FailingEncoded train(raw, {c.testFails ? 1000 : 15, 1, false, c.claimsGood});
    FailingEncoded test(MakeRecords(10, 101), {c.testFails ? 4 : 1000, 1, false, c.claimsGood});
    MLPFactory factory;
    std::unique_ptr<INeuralAlgorithm> a(
        factory.CreateNeuralAlgorithm(settings, list, train, &test, nullptr));
    EXPECT_EQ(a, nullptr);
    ExpectStatus(factory.GetStatus(), c.testFails ? kTestNotGood : kTrainNotGood);
    EXPECT_EQ(scratch.Count(), 0);
  }
}

// A test source counted by the factory (the settings give no count) that
// fails while counted: every later pass would stop at the count, before the
// failure, and measure the records before it as if they were all. The
// factories refuse it with 50015, over raw and over encoded records alike;
// the source finds its failure only when asked for the record, so no pass
// after the count would ever see it.
using host_doubles::FailsWhenAsked;

TEST(TestSourceFailingWhileCounted, FactoriesAnswer50015) {
  for (const bool rbf : {false, true})
    for (const bool encoded : {false, true}) {
      SCOPED_TRACE(std::string(rbf ? "RBF" : "MLP") + (encoded ? ", encoded" : ", raw"));
      AnyModel m = MakeAny(rbf, kCategoricalTarget, kTrain, kTest, {}, encoded);
      FailsWhenAsked train(m.Records(false), 1000), test(m.Records(true), 4);
      INeuralAlgorithm* a = nullptr;
      VXStatus status;
      if (encoded) {
        if (rbf)
          m.rbf->settings.SetNTestRecords(0);
        else
          m.mlp->settings.SetNTestRecords(0);
        a = m.Rebuild(train, &test);
        status = rbf ? m.rbf->factory.GetStatus() : m.mlp->factory.GetStatus();
      } else {
        NNVarList list = MakeList(m.Records(false), kCategoricalTarget);
        std::unique_ptr<NeuralSettings> settings;
        if (rbf) {
          auto s = std::make_unique<RBFSettings>(list, kTrain);
          s->SetNumHiddenUnits(3, 1);
          settings = std::move(s);
        } else {
          settings = std::make_unique<MLPSettings>(list, kTrain);
        }
        settings->SetNTestRecords(0);
        RBFFactory rbfFactory;
        MLPFactory mlpFactory;
        m.Algorithm().reset(
            rbf ? rbfFactory.CreateNeuralAlgorithm(static_cast<RBFSettings&>(*settings), list,
                                                   train, &test, nullptr)
                : mlpFactory.CreateNeuralAlgorithm(static_cast<MLPSettings&>(*settings), list,
                                                   train, &test, nullptr));
        a = m.Algorithm().get();
        status = rbf ? rbfFactory.GetStatus() : mlpFactory.GetStatus();
      }
      EXPECT_EQ(a, nullptr);
      ExpectStatus(status, kTestNotGood);
    }
}

// The drivers count a test source themselves when the settings still give
// no count (a source that was empty when the factory counted it, or an
// algorithm built without a factory): the MLP's first training run and the
// RBF search. A failure during that count is the test source's code, as
// in the factories, and no pass measures the records before it as the whole.
TEST(TestSourceFailingWhileCounted, DriversCountingThemselvesAnswer50015) {
  for (const bool rbf : {false, true}) {
    SCOPED_TRACE(rbf ? "RBF search" : "MLP first training run");
    AnyModel m = MakeAny(rbf, kCategoricalTarget, kTrain, kTest, {}, true);
    FailsWhenAsked train(m.Records(false), 1000), test(m.Records(true), 4);
    std::unique_ptr<INeuralAlgorithm> a;
    if (rbf) {
      m.rbf->settings.SetNTestRecords(0);
      m.rbf->settings.SetNHiddenUnitsRange(2, 3);
      a = std::make_unique<RBFAlgorithm>(m.rbf->settings, train, &test);
      ExpectStatus(a->SelectArchitecture(), kTestNotGood);
    } else {
      m.mlp->settings.SetNTestRecords(0);
      a = std::make_unique<MLPAlgorithm>(m.mlp->settings, train, &test);
      ExpectStatus(a->Train(kTrain, -1), kTestNotGood);
    }
    ExpectStatus(a->GetStatus(), kTestNotGood);
    EXPECT_NE(a->GetAlgorithmStatus(), VXNNCommon::kTrained);
  }
}

void SearchByPasses(NeuralSettings& s) {
  auto& rbf = static_cast<RBFSettings&>(s);
  rbf.SetNHiddenUnitsRange(2, 4);
  rbf.SetExpertOneDataPass(false);
}
void SearchInOnePass(NeuralSettings& s) { static_cast<RBFSettings&>(s).SetNHiddenUnitsRange(2, 4); }

// With the passes on one thread and on several: the records are read, and
// the host asked, on the calling thread either way.
class CancelEveryPoll : public testing::TestWithParam<int> {};

TEST_P(CancelEveryPoll, EveryPollOfEveryOperationCancelsCleanly) {
  using namespace VXNNCommon;
  pass_settings::Restore restore;
  ASSERT_TRUE(VXNeural::SetPassThreads(GetParam()));
  constexpr auto kCat = kCategoricalTarget, kCont = kContinuousTarget, kBoth = kBothTargets;
  const Case more[] = {
      {"SCG regression", false, kCont, kTrainOp, Using(kScaledConjugateGradient, kBatch)},
      {"MLP architecture search", false, kCat, kSelect, {}},
      {"MLP sensitivity", false, kBoth, kSensitivity, {}},
      {"MLP output statistics", false, kBoth, kStats, {}},
      {"MLP error on data", false, kCat, kError, {}},
      {"MLP update", false, kCat, kUpdate, {}},
      {"MLP save", false, kCat, kSave, {}},
      {"MLP save XML", false, kCont, kSaveXml, {}},
      {"RBF regression, clustered centres", true, kCont, kSolve, {}},
      {"RBF centre search in one pass", true, kCat, kSelect, SearchInOnePass},
      {"RBF centre search by passes", true, kCont, kSelect, SearchByPasses},
      {"RBF sensitivity", true, kCat, kSensitivity, {}},
      {"RBF output statistics", true, kBoth, kStats, {}},
      {"RBF save", true, kCat, kSave, {}},
  };
  std::vector<const Case*> cases;
  for (const Case& c : kMethods) cases.push_back(&c);
  for (const Case& c : more) cases.push_back(&c);
  for (const Case* pc : cases)
    for (bool encoded : {false, true}) {
      const Case& c = *pc;
      SCOPED_TRACE(std::string(c.name) + (encoded ? ", encoded records" : ", raw records"));
      // The one-argument importance takes its inputs from the variable
      // list, which only raw records have.
      if (encoded && &c.op == &kSensitivity) continue;
      long polls = 0;
      {
        CancelRun whole(c, encoded);
        ASSERT_EQ(whole.preparatorFiles > 0, !encoded) << "raw records live in temporary files";
        ASSERT_EQ(whole.Operate(c.op, 0, polls), VXStatus());
        ASSERT_NE(whole.a->GetAlgorithmStatus(), VXNNCommon::kCancelled);
        ASSERT_GT(polls, 0);
        if (encoded) {
          EXPECT_GT(whole.cancel.fReads, 0);
          EXPECT_EQ(whole.cancel.fUnpolledReads, 0) << "a record read with no poll before it";
        }
        EXPECT_EQ(whole.dir.Count(), whole.preparatorFiles);
      }
      // A progress listener that asks to stop (through the cancel object)
      // ends a reporting operation the same way.
      if (c.op.reports) {
        CancelRun r(c, encoded);
        FunctionListener listener([&](VXCommon_1_2::ProgressReport&) { r.cancel.fAt = 1; });
        long made = 0;
        ExpectStatus(r.Operate(c.op, 0, made, &listener), 1);
        EXPECT_GE(listener.fReports, 1);
        EXPECT_EQ(r.a->GetAlgorithmStatus(), VXNNCommon::kCancelled);
        EXPECT_EQ(r.dir.Count(), r.preparatorFiles);
        r.m.Algorithm().reset();
        EXPECT_EQ(r.dir.Count(), 0);
      }
      for (long at = 1; at <= polls; ++at) {
        SCOPED_TRACE("cancelled at poll " + std::to_string(at) + " of " + std::to_string(polls));
        CancelRun r(c, encoded);
        long made = 0;
        const VXStatus s = r.Operate(c.op, at, made);
        EXPECT_GE(made, at) << "the poll that said yes was asked";
        INeuralAlgorithm& a = *r.a;
        // Training and evaluation ask first at their gate: a yes there does
        // nothing and answers OK, and the algorithm stays as it was until an
        // operation that is not gated (a save) finds the cancel.
        const bool atGate = at == 1 && c.op.gated;
        ExpectStatus(s, atGate ? 0 : 1);
        EXPECT_EQ(a.GetStatus(), atGate ? VXStatus() : s);
        EXPECT_EQ(a.GetAlgorithmStatus(), atGate ? r.stateBefore : VXNNCommon::kCancelled);
        std::ostringstream saved;
        ExpectStatus(a.SaveState(saved), 1);
        EXPECT_EQ(saved.str().empty(), !atGate);
        // A cancelled algorithm answers its counters and display, and nothing
        // else: the gate stays shut and a save is refused with code 1.
        EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
        EXPECT_EQ(a.Train(kTrain, -1), VXStatus());
        const Record& first = r.m.Records(true)[0];
        EXPECT_TRUE(a.Score(a.GetVarList() ? InputsOf(first) : first).IsMissing());
        std::ostringstream shown;
        a.Display(shown);
        EXPECT_NE(shown.str().find("Current algorithm status: Cancelled\n"), std::string::npos);
        ExpectStatus(a.GetStatus(), 1);
        // Only the preparator's own files remain, and they go with it.
        EXPECT_EQ(r.dir.Count(), r.preparatorFiles);
        r.m.Algorithm().reset();
        EXPECT_EQ(r.dir.Count(), 0);
        // Every pass asks before each record: once the host has said yes, no
        // record is read again.
        if (encoded) {
          EXPECT_EQ(r.cancel.fReads, r.cancel.fReadsAtYes);
        }
        if (testing::Test::HasFailure()) return;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, CancelEveryPoll, testing::Values(1, 3),
                         [](const auto& info) { return std::to_string(info.param) + "Threads"; });

}  // namespace
}  // namespace mlpdriver
