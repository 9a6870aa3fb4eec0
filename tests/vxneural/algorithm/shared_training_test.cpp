// A training spread over processes, each holding its share of the
// training and test records, trains on every process the model one process
// holding all of them trains: the same saved bytes (but for the processor
// times), for 1, 2 and 3 processes, with the methods whose passes are
// shared. The processes are threads here (tests/common/in_process_combiner.h).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "algorithm/SharedTraining.h"
#include "common/cancel_after.h"
#include "common/damaging_combiner.h"
#include "common/in_process_combiner.h"
#include "common/pass_settings.h"
#include "common/saved_times.h"
#include "common/scratch_dir.h"
#include "network/SharedRun.h"
#include "rbf_fixtures.h"
#include "shared_prepared.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/PassCombiner.h"

namespace {

using namespace mlpdriver;

struct Method {
  const char* name;
  std::function<void(NeuralSettings&)> adjust;
  // Without one the sample's test part comes from the training records.
  bool testSet = true;
};

const std::vector<Method>& Methods() {
  static const std::vector<Method> methods{
      {"scaled conjugate gradient", {}},
      {"scaled conjugate gradient without a test set", {}, false},
      {"batch gradient descent",
       [](NeuralSettings& s) {
         dynamic_cast<MLPSettings&>(s).SetTrainingMethodAndType(VXNNCommon::kGradientDescent,
                                                                VXNNCommon::kBatch);
       }},
  };
  return methods;
}

constexpr int kTrain = 500, kTest = 300;

int TestCount(const Method& method) { return method.testSet ? kTest : 0; }

AnyModel ModelFor(const Method& method) {
  return MakeAny(false, kBothTargets, kTrain, TestCount(method), method.adjust, true);
}

// The records of a share.
std::vector<Record> Part(const std::vector<Record>& all, VXNeural::RecordShare share) {
  return {all.begin() + share.first, all.begin() + share.end};
}

// Trains process `rank`'s model over the given shares of nTrain training
// and nTest test records (the method's without a test set: none); its saved
// form, or the error code as text.
std::string TrainShare(const Method& method, in_process::Combiner& combiner,
                       VXNeural::RecordShare train, VXNeural::RecordShare test,
                       VXCommon_1_2::VXQueryCancel* cancel = nullptr, int nTrain = kTrain,
                       int nTest = kTest) {
  if (!method.testSet) nTest = 0;
  AnyModel m = MakeAny(
      false, kBothTargets, nTrain, nTest,
      [&](NeuralSettings& s) {
        if (method.adjust) method.adjust(s);
        if (cancel) s.SetCancelPointer(cancel);
      },
      true);
  const std::vector<Record> trainPart = Part(m.Records(false), train),
                            testPart = Part(m.Records(true), test);
  VectorRecordIter trainSource(trainPart), testSource(testPart);
  VXNeural::SetPassCombiner(&combiner);
  INeuralAlgorithm* a = m.Rebuild(trainSource, method.testSet ? &testSource : nullptr);
  const VXStatus status = a ? a->Train(nTrain, nTest) : VXStatus();
  VXNeural::SetPassCombiner(nullptr);
  if (!a) return "not built";
  if (!status.IsOK()) return "code " + std::to_string(status.GetErrorCode());
  return saved_times::SavedWithoutTimes(*a);
}

TEST(SharedTraining, EveryProcessTrainsTheOneProcessModel) {
  pass_settings::Restore restore;
  for (const Method& method : Methods()) {
    AnyModel whole = ModelFor(method);
    ASSERT_TRUE(whole.Algorithm()->Train(kTrain, TestCount(method)).IsOK());
    const std::string expected = saved_times::SavedWithoutTimes(*whole.Algorithm());
    ASSERT_GT(expected.size(), 100u);
    for (int size : {1, 2, 3}) {
      SCOPED_TRACE(std::string(method.name) + ", " + std::to_string(size) + " processes");
      std::vector<std::string> saved(static_cast<std::size_t>(size));
      in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
        saved[static_cast<std::size_t>(rank)] =
            TrainShare(method, combiner, VXNeural::ShareOf(kTrain, rank, size),
                       VXNeural::ShareOf(TestCount(method), rank, size));
      });
      for (int r = 0; r < size; ++r)
        EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == expected)
            << "rank " << r << ": " << saved[static_cast<std::size_t>(r)].substr(0, 40);
    }
  }
}

// Through a variable list, in memory and spilled to temporary files: every
// process's preparator encodes its share of the raw records.
TEST(SharedTraining, PreparedSharesTrainTheOneProcessModel) {
  pass_settings::Restore restore;
  scratch_dir::ScratchDir dir;
  for (const shared_prepared::Layout& layout : shared_prepared::Layouts()) {
    const std::string expected =
        shared_prepared::TrainPrepared(layout, nullptr, kTrain, kTest, dir.Path());
    ASSERT_GT(expected.size(), 100u) << layout.name << ": " << expected;
    for (int size : {1, 2, 3}) {
      SCOPED_TRACE(std::string(layout.name) + ", " + std::to_string(size) + " processes");
      std::vector<std::string> saved(static_cast<std::size_t>(size));
      in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
        saved[static_cast<std::size_t>(rank)] =
            shared_prepared::TrainPrepared(layout, &combiner, kTrain, kTest, dir.Path());
      });
      for (int r = 0; r < size; ++r)
        EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == expected)
            << "rank " << r << ": " << saved[static_cast<std::size_t>(r)].substr(0, 40);
    }
    EXPECT_EQ(dir.Count(), 0) << layout.name;
  }
}

// Sets of fewer blocks than processes leave some processes without a share
// of them: 150 training records (two blocks) and 60 test records (one) over
// three processes. Those processes still train the one-process model. An
// empty whole set is refused on every process with the code one process
// holding it gets.
TEST(SharedTraining, EmptySharesTrainTheOneProcessModel) {
  pass_settings::Restore restore;
  scratch_dir::ScratchDir dir;
  constexpr int kFewTrain = 150, kFewTest = 60;
  for (const shared_prepared::Layout& layout : shared_prepared::Layouts()) {
    SCOPED_TRACE(layout.name);
    const std::string expected =
        shared_prepared::TrainPrepared(layout, nullptr, kFewTrain, kFewTest, dir.Path());
    ASSERT_GT(expected.size(), 100u) << expected;
    struct Case {
      int heldTrain, heldTest;
      std::string one;  // what one process holding the sets gets
    };
    for (const Case& c : {Case{kFewTrain, kFewTest, expected}, Case{0, kFewTest, "code 50014"},
                          Case{kFewTrain, 0, "code 50015"}}) {
      if (c.heldTrain == 0 || c.heldTest == 0) {
        EXPECT_EQ(shared_prepared::TrainPrepared(layout, nullptr, kFewTrain, kFewTest, dir.Path(),
                                                 c.heldTrain, c.heldTest),
                  "not built, " + c.one);
      }
      std::vector<std::string> saved(3);
      in_process::RunProcesses(3, [&](int rank, in_process::Combiner& combiner) {
        saved[static_cast<std::size_t>(rank)] = shared_prepared::TrainPrepared(
            layout, &combiner, kFewTrain, kFewTest, dir.Path(), c.heldTrain, c.heldTest);
      });
      for (int r = 0; r < 3; ++r)
        EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == c.one)
            << "holding " << c.heldTrain << " and " << c.heldTest << ", rank " << r << ": "
            << saved[static_cast<std::size_t>(r)].substr(0, 40);
    }
    EXPECT_EQ(dir.Count(), 0);
  }
}

// The same from encoded records, which the factory hands the algorithm as
// they are: two processes of three hold no training records, two no test
// records.
TEST(SharedTraining, EmptyEncodedSharesTrainTheOneProcessModel) {
  pass_settings::Restore restore;
  constexpr int kFewTrain = 150, kFewTest = 60;
  const Method& method = Methods()[0];
  AnyModel whole = MakeAny(false, kBothTargets, kFewTrain, kFewTest, {}, true);
  ASSERT_TRUE(whole.Algorithm()->Train(kFewTrain, kFewTest).IsOK());
  const std::string expected = saved_times::SavedWithoutTimes(*whole.Algorithm());
  std::vector<std::string> saved(3);
  in_process::RunProcesses(3, [&](int rank, in_process::Combiner& combiner) {
    saved[static_cast<std::size_t>(rank)] =
        TrainShare(method, combiner, VXNeural::ShareOf(kFewTrain, rank, 3),
                   VXNeural::ShareOf(kFewTest, rank, 3), nullptr, kFewTrain, kFewTest);
  });
  for (int r = 0; r < 3; ++r)
    EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == expected)
        << "rank " << r << ": " << saved[static_cast<std::size_t>(r)].substr(0, 40);
}

// Records that are not the processes' shares (one block too few on the
// first, one too many on the second) stop every process with 50020 before
// any pass.
TEST(SharedTraining, SharesThatDoNotMatchStopEveryProcess) {
  pass_settings::Restore restore;
  std::vector<std::string> saved(2);
  in_process::RunProcesses(2, [&](int rank, in_process::Combiner& combiner) {
    const VXNeural::RecordShare train =
        rank == 0 ? VXNeural::RecordShare{0, 192} : VXNeural::RecordShare{192, kTrain};
    saved[static_cast<std::size_t>(rank)] =
        TrainShare(Methods()[0], combiner, train, VXNeural::ShareOf(kTest, rank, 2));
  });
  EXPECT_EQ(saved[0], "code 50020");
  EXPECT_EQ(saved[1], "code 50020");
}

// Online and mini-batch descent update the weights within a pass, which
// processes cannot share: every process refuses them with 50020.
TEST(SharedTraining, RefusesDescentThatUpdatesWithinAPass) {
  pass_settings::Restore restore;
  for (VXNNCommon::TrainingType type : {VXNNCommon::kOnline, VXNNCommon::kMiniBatch}) {
    const Method method{"descent", [type](NeuralSettings& s) {
                          dynamic_cast<MLPSettings&>(s).SetTrainingMethodAndType(
                              VXNNCommon::kGradientDescent, type);
                        }};
    std::vector<std::string> saved(2);
    in_process::RunProcesses(2, [&](int rank, in_process::Combiner& combiner) {
      saved[static_cast<std::size_t>(rank)] = TrainShare(
          method, combiner, VXNeural::ShareOf(kTrain, rank, 2), VXNeural::ShareOf(kTest, rank, 2));
    });
    EXPECT_EQ(saved, (std::vector<std::string>{"code 50020", "code 50020"})) << type;
  }
}

// A host's cancel on one process cancels the training on every process, at
// the end of a pass: none goes on alone and leaves the others waiting.

TEST(SharedTraining, ACancelOnOneProcessCancelsAll) {
  pass_settings::Restore restore;
  for (int asked : {0, 3, 12}) {
    std::vector<std::string> saved(3);
    in_process::RunProcesses(3, [&](int rank, in_process::Combiner& combiner) {
      CancelAfter cancel(asked);
      saved[static_cast<std::size_t>(rank)] =
          TrainShare(Methods()[0], combiner, VXNeural::ShareOf(kTrain, rank, 3),
                     VXNeural::ShareOf(kTest, rank, 3), rank == 1 ? &cancel : nullptr);
    });
    EXPECT_EQ(saved, (std::vector<std::string>(3, "code 1"))) << "cancel after " << asked;
  }
}

// A source that counts the records it hands out and its rewinds.
class CountingSource : public VectorRecordIter {
 public:
  using VectorRecordIter::VectorRecordIter;
  const Record* Next() override {
    ++nexts;
    return VectorRecordIter::Next();
  }
  int Rewind() override {
    ++rewinds;
    return VectorRecordIter::Rewind();
  }
  int nexts = 0, rewinds = 0;
};

// The start of a shared training reads a source to count its records only
// when the count is not known (a spilled set would be read through its file
// once more): a known count is what the processes exchange, unread.
TEST(SharedTraining, CountsOnlyTheRecordsItDoesNotKnow) {
  using VXNeural::detail::KnownRecords;
  constexpr int kUnknown = VXNeural::detail::kUnknownRecords;
  const std::vector<Record> train(200, Record(3)), test(60, Record(3));
  struct Case {
    KnownRecords known;
    std::vector<long long> whole;  // the sets' records the processes agree on
    std::vector<int> reads;        // training nexts and rewinds, then the test's
  };
  const std::vector<Case> cases{
      {{kUnknown, kUnknown}, {200, 60}, {200, 1, 60, 1}},
      {{200, kUnknown}, {200, 60}, {0, 0, 60, 1}},
      {{kUnknown, 60}, {200, 60}, {200, 1, 0, 0}},
      {{200, 60}, {200, 60}, {0, 0, 0, 0}},
      // A known count is taken as it is.
      {{150, 40}, {150, 40}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    in_process::RunProcesses(1, [&](int, in_process::Combiner& combiner) {
      CountingSource trainSource(train), testSource(test);
      VXNeural::SetPassCombiner(&combiner);
      VXNeural::detail::SharedTraining shared(&trainSource, &testSource, c.known);
      const VXStatus status = shared.Begin(false);
      VXNeural::SetPassCombiner(nullptr);
      const VXNeural::detail::SharedRecords* records = shared.Records();
      std::vector<long long> whole;
      if (records) whole = {records->nTrain, records->nTest};
      EXPECT_TRUE(status.IsOK());
      EXPECT_EQ(whole, c.whole) << c.known.train << ", " << c.known.test;
      EXPECT_EQ((std::vector<int>{trainSource.nexts, trainSource.rewinds, testSource.nexts,
                                  testSource.rewinds}),
                c.reads)
          << c.known.train << ", " << c.known.test;
    });
  }
}

// The start's message, [training records, test records, cancel], damaged
// on the way: 50021, never a conversion of a value no process sends. A
// failed count (-1) is the processes' shares not matching.
TEST(SharedTraining, RefusesADamagedStart) {
  const std::vector<Record> train(200, Record(3)), test(60, Record(3));
  const struct {
    std::size_t at;
    double value;
    int code;
  } cases[] = {
      {0, 200, 0},
      {0, -1, 50020},
      {0, std::numeric_limits<double>::quiet_NaN(), 50021},
      {0, 1e300, 50021},
      {0, 199.5, 50021},
      {1, -3, 50021},
      {1, std::numeric_limits<double>::infinity(), 50021},
      {2, 0.5, 50021},
  };
  for (const auto& c : cases) {
    damaging_combiner::Combiner combiner(damaging_combiner::Replace(c.at, c.value));
    VectorRecordIter trainSource(train), testSource(test);
    VXNeural::SetPassCombiner(&combiner);
    VXNeural::detail::SharedTraining shared(&trainSource, &testSource, {200, 60});
    const VXStatus status = shared.Begin(false);
    VXNeural::SetPassCombiner(nullptr);
    EXPECT_EQ(status.GetErrorCode(), c.code) << c.at << ": " << c.value;
  }
}

// The exchange of the initial weights' sample, [failures, training and
// test sample counts, the records], damaged on the way: the training ends
// with 50021, and no count sizes a read of records that did not arrive
// (counts that add up to the message's length included).
TEST(SharedTraining, RefusesADamagedSample) {
  using damaging_combiner::Damage;
  // The sample's exchange is the second, after the start's; the records
  // are 8 units wide.
  auto sample = [](const Damage& damage) -> Damage {
    return [damage](std::vector<double>& m, int& count) {
      EXPECT_EQ(m.size(), 4 + (m[2] + m[3]) * 8);
      damage(m, count);
    };
  };
  const struct {
    const char* name;
    Damage damage;
    int code;
  } cases[] = {
      {"undamaged", damaging_combiner::Replace(0, 0.0), 0},
      {"a negative count, the other one more",
       [](std::vector<double>& m, int&) {
         m[3] += m[2] + 1;
         m[2] = -1;
       },
       50021},
      {"a count not a number", damaging_combiner::Replace(2, std::nan("")), 50021},
      {"a huge count", damaging_combiner::Replace(3, 1e300), 50021},
      {"a count not whole", damaging_combiner::Replace(2, 1.5), 50021},
      {"more than arrived", damaging_combiner::Replace(0, 0.0, 8), 50021},
      {"a record more than the counts cover",
       [](std::vector<double>& m, int&) { m.insert(m.end(), 8, 0.0); }, 50021},
  };
  for (const auto& c : cases) {
    AnyModel m = ModelFor(Methods()[0]);
    damaging_combiner::Combiner combiner(sample(c.damage), 2);
    VXNeural::SetPassCombiner(&combiner);
    const VXStatus status = m.Algorithm()->Train(kTrain, kTest);
    VXNeural::SetPassCombiner(nullptr);
    EXPECT_EQ(status.GetErrorCode(), c.code) << c.name;
  }
}

// What a training over a variable list knows: the records its preparator
// encoded into its own sources, in memory or in files; nothing of others.
TEST(SharedTraining, KnowsTheRecordsItsPreparatorEncoded) {
  scratch_dir::ScratchDir dir;
  for (bool spilled : {false, true}) {
    SCOPED_TRACE(spilled ? "spilled" : "in memory");
    std::unique_ptr<Model> m = MakeModel(kBothTargets, 230, 70);
    if (spilled) {
      m->settings.SetTempFileDir(dir.Path());
      m->settings.SetMaxRecordsInMemory(1);
    }
    NNDataPreparator preparator(m->list, m->settings, m->train.get(), m->test.get());
    ASSERT_TRUE(preparator.Prepare(m->settings).IsOK());
    auto known = [](const VXNeural::detail::KnownRecords& k) {
      return std::vector<int>{k.train, k.test};
    };
    EXPECT_EQ(known(VXNeural::detail::PreparedRecords(&preparator, preparator.GetTrainData(),
                                                      preparator.GetTestData())),
              (std::vector<int>{230, 70}));
    EXPECT_EQ(known(VXNeural::detail::PreparedRecords(&preparator, m->train.get(), nullptr)),
              (std::vector<int>{-1, -1}));
    EXPECT_EQ(known(VXNeural::detail::PreparedRecords(nullptr, preparator.GetTrainData(),
                                                      preparator.GetTestData())),
              (std::vector<int>{-1, -1}));
  }
}

// A time limit must stop every process after the same pass: the processes
// read the largest of their clocks; outside a run a process reads its own.
TEST(SharedTraining, ProcessesAgreeOnTheLargestReading) {
  std::vector<double> agreed(3);
  in_process::RunProcesses(3, [&](int rank, in_process::Combiner& combiner) {
    VXNeural::detail::SetRunCombiner(&combiner);
    agreed[static_cast<std::size_t>(rank)] =
        VXNeural::detail::AgreedSeconds(rank == 1 ? 7.5 : 0.25 * rank);
    VXNeural::detail::SetRunCombiner(nullptr);
  });
  EXPECT_EQ(agreed, (std::vector<double>{7.5, 7.5, 7.5}));
  EXPECT_EQ(VXNeural::detail::AgreedSeconds(0.125), 0.125);
}

}  // namespace
