// A host may cancel at any moment: for every operation that polls the cancel
// object, an uncancelled run counts its polls P, then for every N in 1..P a
// fresh model is cancelled at the N-th poll. Each time the algorithm must end
// in its documented state with code 1, stay usable as a cancelled algorithm,
// and leave no temporary file of its own behind. Each case runs twice: over
// raw records kept in temporary files (a budget of one record in memory), so
// that every pass reads a file the library must later delete, and over
// encoded records read straight from the test's sources, so that a record
// read after the host said yes shows.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/scratch_dir.h"
#include "vxneural/algorithm/rbf_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"

namespace mlpdriver {
namespace {

constexpr int kTrain = 24, kTest = 8;
// Above this many polls the values of N are taken with a stride; the
// smallest cases are always stepped through whole.
constexpr int kMaxRuns = 1000;

enum class Op { kTrain, kSelect, kSensitivity, kStats, kError, kUpdate, kSave, kSaveXml };

struct Case {
  const char* name;
  bool rbf;
  Targets targets;
  Op op;
  std::function<void(NeuralSettings&)> adjust;  // method, type, search
};

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

// Records already encoded, logging every record handed out.
struct CountingRecords : VectorRecordIter {
  CountingRecords(std::vector<Record> records, CancelAt* log)
      : VectorRecordIter(std::move(records)), fLog(log) {}
  const Record* Next() override {
    const Record* r = VectorRecordIter::Next();
    if (r != nullptr) fLog->Read();
    return r;
  }
  CancelAt* fLog;
};

// What one run needs to outlive the algorithm it builds. Raw records go
// through the data preparator into temporary files; encoded ones are read
// straight from counting sources, so that the reads after the cancel show.
struct CancelRun {
  scratch_dir::ScratchDir dir;
  CancelAt cancel;
  std::unique_ptr<Model> mlp;
  std::unique_ptr<RbfModel> rbf;
  INeuralAlgorithm* a = nullptr;
  int preparatorFiles = 0;
  int stateBefore = 0;

  CancelRun(const Case& c, bool encoded) {
    auto common = [&](NeuralSettings& s) {
      s.SetCancelPointer(&cancel);
      s.SetTempFileDir(dir.Path());
      s.SetMaxRecordsInMemory(1);
      s.SetComputeSensitivity(true);
      if (c.adjust) c.adjust(s);
    };
    if (c.rbf) {
      rbf = MakeRbf(
          c.targets, kTrain, kTest, [&](RBFSettings& s) { common(s); }, encoded);
      a = Counted(*rbf, encoded);
    } else {
      mlp = MakeModel(
          c.targets, kTrain, kTest, 1,
          [&](MLPSettings& s) {
            s.SetMaxNDataPasses(3);
            common(s);
          },
          encoded);
      a = Counted(*mlp, encoded);
    }
    preparatorFiles = dir.Count();
  }
  // The model's algorithm, rebuilt over counting sources when encoded.
  template <class M>
  INeuralAlgorithm* Counted(M& m, bool encoded) {
    if (!encoded) return m.algorithm.get();
    m.algorithm.reset();
    m.train = std::make_unique<CountingRecords>(m.trainRecords, &cancel);
    m.test = std::make_unique<CountingRecords>(m.testRecords, &cancel);
    m.algorithm.reset(m.factory.CreateNeuralAlgorithm(m.settings, *m.train, m.test.get()));
    return m.algorithm.get();
  }
  const std::vector<Record>& Records() const { return rbf ? rbf->testRecords : mlp->testRecords; }

  // Trains first when the operation needs a trained model, then arms the
  // cancel object (when `at` > 0, to answer yes at its at-th question) and
  // runs the operation. Returns its status and the polls it made.
  VXStatus Operate(Op op, long at, long& polls) {
    if (op != Op::kTrain && op != Op::kSelect) {
      EXPECT_EQ(a->Train(kTrain, -1), VXStatus());
    }
    stateBefore = a->GetAlgorithmStatus();
    const long before = cancel.fQueries;
    if (at > 0) cancel.fAt = before + at;
    VXStatus s = Perform(op);
    polls = cancel.fQueries - before;
    return s;
  }

 private:
  VXStatus Perform(Op op) {
    CountingRecords raw(Records(), &cancel);
    std::ostringstream out;
    NNOutputStatistics stats;
    std::vector<double> importance;
    switch (op) {
      case Op::kTrain:
        return a->Train(kTrain, -1);
      case Op::kSelect:
        return a->SelectArchitecture();
      case Op::kSensitivity:
        return a->ComputeSensitivity(importance);
      case Op::kStats:
        return a->ComputeOutputStats(raw, kTest, stats);
      case Op::kError:
        a->GetErrorOnData(raw, kTest);
        return a->GetStatus();
      case Op::kUpdate:
        return a->Update(raw, kTest);
      case Op::kSave:
        return a->SaveState(out);
      case Op::kSaveXml:
        return a->SaveStateXML(out);
    }
    return VXStatus();
  }
};

auto Method(VXNNCommon::MLPTrainingMethod m, VXNNCommon::TrainingType t) {
  return [m, t](NeuralSettings& s) { static_cast<MLPSettings&>(s).SetTrainingMethodAndType(m, t); };
}
void Linear(NeuralSettings& s) {
  auto& mlp = static_cast<MLPSettings&>(s);
  mlp.SetNumHiddenLayers(0);
  mlp.SetActivFnOutputLayer(VXNNCommon::kIdentity);
  mlp.SetTrainingMethodAndType(VXNNCommon::kLinearRegression, VXNNCommon::kBatch);
}
void FixedCentres(NeuralSettings& s) { s.SetNumHiddenUnits(3, 1); }
void SearchByPasses(NeuralSettings& s) {
  auto& rbf = static_cast<RBFSettings&>(s);
  rbf.SetNHiddenUnitsRange(2, 4);
  rbf.SetExpertOneDataPass(false);
}
void SearchInOnePass(NeuralSettings& s) { static_cast<RBFSettings&>(s).SetNHiddenUnitsRange(2, 4); }

// The values of N tried for P polls: all of them, or a stride that keeps
// the first and last two.
std::vector<long> PollsToTry(long polls) {
  std::vector<long> at;
  const long stride = polls <= kMaxRuns ? 1 : (polls + kMaxRuns - 1) / kMaxRuns;
  for (long n = 1; n <= polls; n += stride) at.push_back(n);
  for (long n = std::max(1L, polls - 1); n <= polls; ++n)
    if (at.back() < n) at.push_back(n);
  return at;
}

TEST(CancelEveryPoll, EveryPollOfEveryOperationCancelsCleanly) {
  using VXNNCommon::kBatch;
  using VXNNCommon::kGradientDescent;
  using VXNNCommon::kMiniBatch;
  using VXNNCommon::kOnline;
  using VXNNCommon::kScaledConjugateGradient;
  const Case cases[] = {
      {"MLP SCG classification", false, kCategoricalTarget, Op::kTrain,
       Method(kScaledConjugateGradient, kBatch)},
      {"MLP SCG regression", false, kContinuousTarget, Op::kTrain,
       Method(kScaledConjugateGradient, kBatch)},
      {"MLP batch GD", false, kBothTargets, Op::kTrain, Method(kGradientDescent, kBatch)},
      {"MLP mini-batch GD", false, kCategoricalTarget, Op::kTrain,
       Method(kGradientDescent, kMiniBatch)},
      {"MLP online GD", false, kContinuousTarget, Op::kTrain, Method(kGradientDescent, kOnline)},
      {"MLP linear regression", false, kContinuousTarget, Op::kTrain, Linear},
      {"MLP architecture search", false, kCategoricalTarget, Op::kSelect, {}},
      {"MLP sensitivity", false, kBothTargets, Op::kSensitivity, {}},
      {"MLP output statistics", false, kBothTargets, Op::kStats, {}},
      {"MLP error on data", false, kCategoricalTarget, Op::kError, {}},
      {"MLP update", false, kCategoricalTarget, Op::kUpdate, {}},
      {"MLP save", false, kCategoricalTarget, Op::kSave, {}},
      {"MLP save XML", false, kContinuousTarget, Op::kSaveXml, {}},
      {"RBF classification, fixed centres", true, kCategoricalTarget, Op::kTrain, FixedCentres},
      {"RBF regression, clustered centres", true, kContinuousTarget, Op::kTrain, {}},
      {"RBF centre search in one pass", true, kCategoricalTarget, Op::kSelect, SearchInOnePass},
      {"RBF centre search by passes", true, kContinuousTarget, Op::kSelect, SearchByPasses},
      {"RBF sensitivity", true, kCategoricalTarget, Op::kSensitivity, {}},
      {"RBF output statistics", true, kBothTargets, Op::kStats, {}},
      {"RBF save", true, kCategoricalTarget, Op::kSave, {}},
  };
  for (const Case& c : cases)
    for (bool encoded : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (encoded ? ", encoded records" : ", raw records"));
      // The one-argument importance takes its inputs from the variable
      // list, which only raw records have.
      if (encoded && c.op == Op::kSensitivity) continue;
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
      for (long at : PollsToTry(polls)) {
        SCOPED_TRACE("cancelled at poll " + std::to_string(at) + " of " + std::to_string(polls));
        CancelRun r(c, encoded);
        long made = 0;
        const VXStatus s = r.Operate(c.op, at, made);
        EXPECT_GE(made, at) << "the poll that said yes was asked";
        INeuralAlgorithm& a = *r.a;
        // Training and evaluation ask first at their gate: a yes there does
        // nothing and answers OK, and the algorithm stays as it was until an
        // operation that is not gated (a save) finds the cancel.
        const bool atGate =
            at == 1 && c.op != Op::kSelect && c.op != Op::kSave && c.op != Op::kSaveXml;
        if (atGate) {
          EXPECT_EQ(s, VXStatus());
          EXPECT_EQ(a.GetStatus(), VXStatus());
          EXPECT_EQ(a.GetAlgorithmStatus(), r.stateBefore);
        } else {
          ExpectStatus(s, 1);
          EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
        }
        std::ostringstream saved;
        ExpectStatus(a.SaveState(saved), 1);
        EXPECT_EQ(saved.str().empty(), !atGate);
        // A cancelled algorithm answers its counters and display, and nothing
        // else: the gate stays shut and a save is refused with code 1.
        EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
        EXPECT_EQ(a.Train(kTrain, -1), VXStatus());
        EXPECT_TRUE(a.Score(r.Records()[0]).IsMissing());
        std::ostringstream shown;
        a.Display(shown);
        EXPECT_NE(shown.str().find("Current algorithm status: Cancelled\n"), std::string::npos);
        ExpectStatus(a.GetStatus(), 1);
        // Only the preparator's own files remain, and they go with it.
        EXPECT_EQ(r.dir.Count(), r.preparatorFiles);
        (r.rbf ? r.rbf->algorithm : r.mlp->algorithm).reset();
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

}  // namespace
}  // namespace mlpdriver
