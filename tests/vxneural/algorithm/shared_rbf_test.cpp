// An RBF training spread over processes: the pre-clustering taken in turns
// and the output solver's sums exchanged give every process the model one
// process holding all the records trains, byte for byte (but for the
// processor times). The processes are threads here
// (tests/common/in_process_combiner.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cancel_after.h"
#include "common/in_process_combiner.h"
#include "common/pass_settings.h"
#include "common/saved_times.h"
#include "rbf_fixtures.h"
#include "vxneural/network/PassCombiner.h"

namespace {

using namespace mlpdriver;

struct Case {
  const char* name;
  std::function<void(NeuralSettings&)> adjust;
  bool testSet = true;
  // After training, the widths again at this overlap (0: not).
  double retrain = 0.0;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases{
      {"chosen units", [](NeuralSettings& s) { s.SetNumHiddenUnits(12, 1); }},
      {"automatic units", {}},
      {"automatic units without a test set", {}, false},
      {"retrained at another overlap", [](NeuralSettings& s) { s.SetNumHiddenUnits(9, 1); }, true,
       2.5},
      // The last of three shares holds 124 records: the count of clusters
      // asked for must come from the whole set's count.
      {"more units than a share's records", [](NeuralSettings& s) { s.SetNumHiddenUnits(130, 1); }},
  };
  return cases;
}

// Several blocks and a partial last one, on every process of three.
constexpr int kTrain = 700, kTest = 300;

int TestCount(const Case& c) { return c.testSet ? kTest : 0; }

std::vector<Record> Part(const std::vector<Record>& all, VXNeural::RecordShare share) {
  return {all.begin() + share.first, all.begin() + share.end};
}

std::string Trained(INeuralAlgorithm& a, const Case& c) {
  auto& rbf = dynamic_cast<RBFAlgorithm&>(a);
  rbf.SetKeepClusters(c.retrain > 0.0);
  VXStatus status = a.Train(kTrain, TestCount(c));
  if (status.IsOK() && c.retrain > 0.0) status = rbf.RetrainAtOverlap(c.retrain);
  if (!status.IsOK()) return "code " + std::to_string(status.GetErrorCode());
  return saved_times::SavedWithoutTimes(a);
}

AnyModel ModelFor(const Case& c, VXCommon_1_2::VXQueryCancel* cancel = nullptr) {
  return MakeAny(
      true, kBothTargets, kTrain, TestCount(c),
      [&](NeuralSettings& s) {
        if (c.adjust) c.adjust(s);
        if (cancel) s.SetCancelPointer(cancel);
      },
      true);
}

std::string TrainShare(const Case& c, in_process::Combiner& combiner, VXNeural::RecordShare train,
                       VXNeural::RecordShare test, VXCommon_1_2::VXQueryCancel* cancel = nullptr) {
  AnyModel m = ModelFor(c, cancel);
  const std::vector<Record> trainPart = Part(m.Records(false), train),
                            testPart = Part(m.Records(true), test);
  VectorRecordIter trainSource(trainPart), testSource(testPart);
  INeuralAlgorithm* a = m.Rebuild(trainSource, c.testSet ? &testSource : nullptr);
  if (!a) return "not built";
  VXNeural::SetPassCombiner(&combiner);
  std::string saved = Trained(*a, c);
  VXNeural::SetPassCombiner(nullptr);
  return saved;
}

std::vector<std::string> OverProcesses(const Case& c, int size,
                                       VXCommon_1_2::VXQueryCancel* cancelOnRank1 = nullptr) {
  std::vector<std::string> saved(static_cast<std::size_t>(size));
  in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
    saved[static_cast<std::size_t>(rank)] = TrainShare(
        c, combiner, VXNeural::ShareOf(kTrain, rank, size),
        VXNeural::ShareOf(TestCount(c), rank, size), rank == 1 ? cancelOnRank1 : nullptr);
  });
  return saved;
}

TEST(SharedRBFTraining, EveryProcessTrainsTheOneProcessModel) {
  pass_settings::Restore restore;
  for (const Case& c : Cases()) {
    AnyModel whole = ModelFor(c);
    const std::string expected = Trained(*whole.Algorithm(), c);
    ASSERT_GT(expected.size(), 100u) << c.name << ": " << expected;
    for (int size : {1, 2, 3}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(size) + " processes");
      const std::vector<std::string> saved = OverProcesses(c, size);
      for (int r = 0; r < size; ++r)
        EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == expected)
            << "rank " << r << ": " << saved[static_cast<std::size_t>(r)].substr(0, 40);
    }
  }
}

// The same with the pass threads at 2 and 3 on every process: blocks are
// placed by the whole sequence, not by who formed them.
TEST(SharedRBFTraining, PassThreadsChangeNothing) {
  pass_settings::Restore restore;
  const Case& c = Cases()[0];
  AnyModel whole = ModelFor(c);
  const std::string expected = Trained(*whole.Algorithm(), c);
  for (int threads : {2, 3}) {
    VXNeural::SetPassThreads(threads);
    const std::vector<std::string> saved = OverProcesses(c, 2);
    EXPECT_TRUE(saved[0] == expected && saved[1] == expected) << threads << " threads";
  }
}

// What every process must end with alike: a refusal, a cancel.
TEST(SharedRBFTraining, RefusalsAndCancelsEndEveryProcessAlike) {
  pass_settings::Restore restore;
  {
    SCOPED_TRACE("cancel before the start and at the solver's exchange");
    for (int asked : {0, 1}) {
      CancelAfter cancel(asked);
      EXPECT_EQ(OverProcesses(Cases()[0], 3, &cancel), std::vector<std::string>(3, "code 1"))
          << asked;
    }
  }
  {
    SCOPED_TRACE("shares that leave a gap");
    std::vector<std::string> saved(2);
    in_process::RunProcesses(2, [&](int rank, in_process::Combiner& combiner) {
      const VXNeural::RecordShare train =
          rank == 0 ? VXNeural::RecordShare{0, 192} : VXNeural::RecordShare{288, kTrain};
      saved[static_cast<std::size_t>(rank)] =
          TrainShare(Cases()[0], combiner, train, VXNeural::ShareOf(kTest, rank, 2));
    });
    EXPECT_EQ(saved, (std::vector<std::string>(2, "code 50020")));
  }
  {
    SCOPED_TRACE("the reference kernel, which has no blocks");
    VXNeural::SetPassKernel(VXNeural::PassKernel::kReference);
    EXPECT_EQ(OverProcesses(Cases()[0], 2), (std::vector<std::string>(2, "code 50020")));
  }
}

// The host's cancel object is asked at the same points on every process:
// once when the training starts and once at the solver pass's exchange
// (the pre-clustering's turns ask nothing: a cancel there is the start's).
TEST(SharedRBFTraining, TheHostIsAskedAtTheExchangesOnly) {
  struct Counting : VXCommon_1_2::VXQueryCancel {
    bool QueryCancel() override {
      ++asked;
      return false;
    }
    int asked = 0;
  };
  pass_settings::Restore restore;
  std::vector<Counting> counting(3);
  std::vector<std::string> saved(3);
  in_process::RunProcesses(3, [&](int rank, in_process::Combiner& combiner) {
    saved[static_cast<std::size_t>(rank)] =
        TrainShare(Cases()[0], combiner, VXNeural::ShareOf(kTrain, rank, 3),
                   VXNeural::ShareOf(kTest, rank, 3), &counting[static_cast<std::size_t>(rank)]);
  });
  for (int r = 0; r < 3; ++r) {
    EXPECT_GT(saved[static_cast<std::size_t>(r)].size(), 100u);
    EXPECT_EQ(counting[static_cast<std::size_t>(r)].asked, 2) << "rank " << r;
  }
}

// The search of the number of hidden units, spread over processes, keeps
// on every process the candidate and model one process keeps: with a test
// set (scored by test error) and without (by BIC), one pass for every
// candidate or a pass each.
TEST(SharedRBFTraining, TheSearchKeepsTheOneProcessModel) {
  pass_settings::Restore restore;
  struct Search {
    const char* name;
    bool testSet;
    bool onePass;
  };
  for (const Search& search :
       {Search{"one pass, test error", true, true}, Search{"a pass each, test error", true, false},
        Search{"one pass, BIC", false, true}, Search{"a pass each, BIC", false, false}}) {
    const Case c{search.name,
                 [&](NeuralSettings& s) {
                   auto& r = dynamic_cast<RBFSettings&>(s);
                   r.SetNHiddenUnitsRange(3, 9);
                   r.SetExpertOneDataPass(search.onePass);
                 },
                 search.testSet};
    auto searched = [&](INeuralAlgorithm& a) {
      const VXStatus status = a.SelectArchitecture();
      if (!status.IsOK()) return "code " + std::to_string(status.GetErrorCode());
      return saved_times::SavedWithoutTimes(a);
    };
    AnyModel whole = ModelFor(c);
    const std::string expected = searched(*whole.Algorithm());
    ASSERT_GT(expected.size(), 100u) << c.name << ": " << expected;
    for (int size : {2, 3}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(size) + " processes");
      std::vector<std::string> saved(static_cast<std::size_t>(size));
      in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
        AnyModel m = ModelFor(c);
        const std::vector<Record> trainPart =
                                      Part(m.Records(false), VXNeural::ShareOf(kTrain, rank, size)),
                                  testPart = Part(m.Records(true),
                                                  VXNeural::ShareOf(TestCount(c), rank, size));
        VectorRecordIter trainSource(trainPart), testSource(testPart);
        INeuralAlgorithm* a = m.Rebuild(trainSource, c.testSet ? &testSource : nullptr);
        VXNeural::SetPassCombiner(&combiner);
        saved[static_cast<std::size_t>(rank)] = a ? searched(*a) : "not built";
        VXNeural::SetPassCombiner(nullptr);
      });
      for (int r = 0; r < size; ++r)
        EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == expected)
            << "rank " << r << ": " << saved[static_cast<std::size_t>(r)].substr(0, 40);
    }
  }
}

}  // namespace
