// The RBF driver: training with the clustering library's choice or the
// user's number of hidden units (centres and widths worked out by hand for
// two groups of records), the candidate search in both forms.

#include <gmock/gmock.h>

#include "common/alloc_counter.h"
#include "rbf_fixtures.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using namespace mlpdriver;
using alloc_counter::Allocations;

// Two groups of four records ten apart in x and v, which the list declares
// with mean 0 and variance 1 so that they are encoded as they are. Within a
// group x runs 0, 0.2, 0.4, 0.6 (variance 0.05) and v 0, 0.1, 0, 0.1
// (0.0025); the first group has c in its first category three times and
// its second once, the second group always its last; y is the group.
// Here the user's count with the centres and widths of its clusters, then
// the clustering library's own choice on records that form one cluster, and
// where that choice starts the search's range.
TEST(RbfTraining, TakesTheUsersCountOrTheClusteringsChoice) {
  std::vector<Record> records;
  for (int g = 0; g < 2; ++g) {
    for (int i = 0; i < 4; ++i) {
      const double c = g == 1 ? 2 : i == 3;
      records.push_back(Record(
          std::vector<double>{10.0 * g + 0.2 * i, c, 10.0 * g + 0.1 * (i % 2), double(g), 0.0}));
    }
  }
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.6, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddContVar("v", "", 0.0, 10.6, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  VectorRecordIter train(records);
  RBFSettings settings(list, 8);
  settings.SetRandomSeed(7);
  settings.SetNumHiddenUnits(2, 1);
  RBFFactory factory;
  std::unique_ptr<INeuralAlgorithm> a(
      factory.CreateNeuralAlgorithm(settings, list, train, nullptr, nullptr));
  ASSERT_TRUE(a) << factory.GetStatus();
  ASSERT_EQ(a->Train(8, -1), VXStatus());
  const RBFHiddenLayer& hidden = HiddenOf(*a);
  ASSERT_EQ(
      (Ints{a->GetNumberOfHiddenUnits(),
            dynamic_cast<RBFAlgorithm&>(*a).GetRBFSettings().GetNumHiddenUnits(1),
            hidden.GetNumUnits(), hidden.GetNumCenters(), int(hidden.GetVarianceVectors().size())}),
      (Ints{2, 2, 2, 2, 0}));
  // Centres: means of x and v, proportions of c's categories. Squared
  // widths: the mean over the 5 input units of variance x overlap (p (1 - p)
  // for a category), the overlap 0.1 * 5 + 1 = 1.5: (0.05 + 0.0025 + 2 *
  // 0.75 * 0.25) * 1.5 / 5 = 0.12825 for the first group, (0.05 + 0.0025) *
  // 0.3 = 0.01575 for the second.
  EXPECT_EQ(settings.GetOverlapFactor(), 1.5);

  const std::size_t first = hidden.GetCenters()[0][0] < 5.0 ? 0 : 1;
  using testing::DoubleNear, testing::Pointwise;
  EXPECT_THAT(hidden.GetCenters()[first],
              Pointwise(DoubleNear(1e-12), {0.3, 0.75, 0.25, 0.0, 0.05}));
  EXPECT_THAT(hidden.GetCenters()[1 - first],
              Pointwise(DoubleNear(1e-12), {10.3, 0.0, 0.0, 1.0, 10.05}));
  EXPECT_NEAR(hidden.GetAdjustedVariances()[first], 0.12825, 1e-12);
  EXPECT_NEAR(hidden.GetAdjustedVariances()[1 - first], 0.01575, 1e-12);
  // Without a count the clustering library chooses one from 1 up: sixty
  // records in one category of c, spread far less than the clustering's
  // variance floor, are one cluster centred on their means (x: 174 / 60
  // thousandths, v: one thousandth).
  std::vector<Record> close;
  for (int i = 0; i < 60; ++i) {
    close.push_back(Record(std::vector<double>{0.001 * (i % 7), 0, 0.001 * (i % 3), 0, 0}));
  }
  VectorRecordIter group(close);
  RBFSettings automatic(list, 60);
  automatic.SetRandomSeed(7);
  std::unique_ptr<INeuralAlgorithm> one(
      factory.CreateNeuralAlgorithm(automatic, list, group, nullptr, nullptr));
  ASSERT_TRUE(one) << factory.GetStatus();
  ASSERT_EQ(one->Train(60, -1), VXStatus());
  ASSERT_EQ(HiddenOf(*one).GetNumCenters(), 1);
  EXPECT_THAT(HiddenOf(*one).GetCenters()[0],
              Pointwise(DoubleNear(1e-12), {0.0029, 1.0, 0.0, 0.0, 0.001}));
  // The search's range starts at that choice (at most the outputs): with
  // plain units, which one unit can serve, at 1.
  automatic.SetActivFnHiddenLayer(VXNNCommon::kRadialBasis);
  std::unique_ptr<INeuralAlgorithm> searched(
      factory.CreateNeuralAlgorithm(automatic, list, group, nullptr, nullptr));
  ASSERT_TRUE(searched) << factory.GetStatus();
  std::vector<int> sizes;
  FunctionListener listener(
      [&](VXCommon_1_2::ProgressReport& r) { sizes.push_back(r.DiscreteMeasure("hiddenUnits")); });
  searched->SetProgressListener(&listener);
  ASSERT_EQ(searched->SelectArchitecture(), VXStatus());
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes[0], 1);
  // A number the user set is taken as it is (above), but never more
  // clusters than records are asked for: the layer keeps the user's units
  // and uses one per record.
  auto few = MakeRbf(kCategoricalTarget, 3, 0, [](RBFSettings& s) { s.SetNumHiddenUnits(5, 1); });
  ASSERT_EQ(few->algorithm->Train(3, -1), VXStatus());
  EXPECT_EQ((Ints{few->algorithm->GetNumberOfHiddenUnits(), HiddenOf(*few->algorithm).GetNumUnits(),
                  HiddenOf(*few->algorithm).GetNumCenters()}),
            (Ints{5, 5, 3}));
}

// What the listener saw of each candidate, the algorithm's accuracy
// included.
struct Seen {
  int k;
  double trainError, testError, bic, accuracy;
};

// The search with a listener that records each report, then does what
// callBack says (nothing by default); the search's status is returned in
// status.
std::vector<Seen> Search(RbfModel& m, VXStatus* status = nullptr,
                         const std::function<void(VXCommon_1_2::ProgressReport&)>& callBack = {}) {
  std::vector<Seen> seen;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport& r) {
    // The search reports from the initial state.
    EXPECT_EQ(m.algorithm->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
    seen.push_back({r.DiscreteMeasure("hiddenUnits"), r.ScaleMeasure("trainError"),
                    r.ScaleMeasure("testError"), r.ScaleMeasure("bic"),
                    m.algorithm->GetAccuracy()});
    if (callBack) callBack(r);
  });
  m.algorithm->SetProgressListener(&listener);
  const VXStatus searched = m.algorithm->SelectArchitecture();
  if (status != nullptr) {
    *status = searched;
  } else {
    EXPECT_EQ(searched, VXStatus());
  }
  m.algorithm->RemoveProgressListener();
  return seen;
}

// The reports of the candidates: the last report repeats the best when it
// is not the last candidate.
std::size_t Candidates(const std::vector<Seen>& seen) {
  const std::size_t n = seen.size();
  return n >= 2 && seen[n - 1].k != seen[n - 2].k + 1 ? n - 1 : n;
}

// The percentage of records whose first largest output is the unit of
// their category y, from the model's scores.
double ScoredAccuracy(const INeuralAlgorithm& a, const std::vector<Record>& records) {
  int right = 0;
  for (const Record& r : records) {
    Record out;
    EXPECT_EQ(a.Score(r, out), VXStatus());
    right += (out[1] > out[0] ? 1.0 : 0.0) == r[kY];
  }
  return 100.0 * right / records.size();
}

TEST(RbfSearch, BothFormsScoreTheSameCandidatesAndKeepTheBest) {
  // Training without a count takes the clustering library's choice K, in
  // the settings too; the search's range follows the same choice.
  auto trained = MakeRbf(kCategoricalTarget, 100, 0);
  ASSERT_TRUE(trained->algorithm->Train(100, -1).IsOK());
  const int k = trained->algorithm->GetNumberOfHiddenUnits();
  EXPECT_EQ((Ints{trained->Alg().GetRBFSettings().GetNumHiddenUnits(1),
                  HiddenOf(*trained->algorithm).GetNumCenters()}),
            (Ints{k, k}));
  for (bool withTest : {false, true}) {
    SCOPED_TRACE(withTest ? "test data" : "BIC");
    std::vector<Seen> forms[2];
    for (bool onePass : {true, false}) {
      auto m = MakeRbf(kCategoricalTarget, 100, withTest ? 40 : 0,
                       [&](RBFSettings& s) { s.SetExpertOneDataPass(onePass); });
      std::vector<Seen> seen = Search(*m);
      ASSERT_GE(seen.size(), 2u);
      // Pre-clustering, then one pass for all or one per candidate (the
      // last report may repeat the best).
      const int candidates = int(Candidates(seen));
      EXPECT_EQ(m->algorithm->GetNumberOfDataPasses(), 1 + (onePass ? 1 : candidates));
      // Normalised units: the automatic range starts at 2 or more, and it
      // runs to max(2K, outputs, 10).
      EXPECT_GE(seen[0].k, 2);
      EXPECT_EQ(seen[candidates - 1].k, std::max(2 * k, 10));
      std::size_t best = 0;
      for (int i = 0; i < candidates; ++i) {
        const Seen& s = seen[i];
        EXPECT_EQ(s.k, seen[0].k + i);
        if (withTest) {
          EXPECT_EQ(s.bic, kMissing);
        } else {
          // N nOut ln(2E / (N nOut)) + k (nIn + nOut + 1) ln N.
          const double n = 100, nOut = 2;
          EXPECT_NEAR(
              s.bic,
              n * nOut * std::log(2 * s.trainError / (n * nOut)) + s.k * (5 + 2 + 1) * std::log(n),
              1e-9 * std::abs(s.bic));
        }
        const double score = withTest ? s.testError : s.bic;
        if (score < (withTest ? seen[best].testError : seen[best].bic)) best = i;
      }
      INeuralAlgorithm& a = *m->algorithm;
      EXPECT_EQ((Ints{a.GetAlgorithmStatus(), a.GetStopReason(), a.GetNumberOfHiddenUnits(),
                      HiddenOf(a).GetNumCenters(), m->Alg().GetNumberOfRecords()}),
                (Ints{VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, seen[best].k,
                      seen[best].k, withTest ? 140 : 100}));
      EXPECT_EQ(a.GetTrainingError(), seen[best].trainError);
      EXPECT_EQ(a.GetTestingError(), seen[best].testError);
      EXPECT_EQ(a.GetTrainingBIC(), seen[best].bic);
      EXPECT_EQ(m->Alg().GetNetwork()->GetAccumError(), seen[best].trainError);
      // With test data each candidate's error pass measured its accuracy,
      // and the kept one answers its own: the share of the test records its
      // scores place in their category.
      if (withTest) {
        EXPECT_GT(a.GetAccuracy(), 0.0);
        EXPECT_EQ(a.GetAccuracy(), seen[best].accuracy);
        EXPECT_NEAR(a.GetAccuracy(), ScoredAccuracy(a, m->testRecords), 1e-9);
      }
      // The kept network is the one scored: its error on the training
      // records is the kept training error.
      VectorRecordIter train(m->trainRecords);
      EXPECT_NEAR(a.GetErrorOnData(train, 100), a.GetTrainingError(), 1e-9 * a.GetTrainingError());
      forms[onePass ? 0 : 1] = std::vector<Seen>(seen.begin(), seen.begin() + candidates);
    }
    ASSERT_EQ(forms[0].size(), forms[1].size());
    for (std::size_t i = 0; i < forms[0].size(); ++i) {
      EXPECT_EQ(forms[0][i].k, forms[1][i].k);
      EXPECT_NEAR(forms[0][i].trainError, forms[1][i].trainError, 1e-9 * forms[0][i].trainError);
      EXPECT_NEAR(forms[0][i].testError, forms[1][i].testError,
                  1e-9 * std::abs(forms[0][i].testError));
    }
  }
}

// A listener may call back into the algorithm during the search, which
// stays in its initial state: scoring, error passes and saves work on the
// candidate being reported and leave the search's result as it is without
// them; Train and SelectArchitecture are refused with code 6 (warning).
// What a refused call leaves does not stop the one-pass search, which
// reports every candidate and, the warning still stored at its end, fails
// with 50001; the search with a pass per candidate stops at it.
TEST(RbfSearch, AListenerCallingBackLeavesTheCandidatesAlone) {
  enum CallBack { kMeasures, kSaves, kTrains };
  struct Case {
    const char* name;
    bool onePass;
    CallBack callBack;
  };
  for (const Case& c :
       {Case{"measures", true, kMeasures}, Case{"saves", true, kSaves},
        Case{"trains", true, kTrains}, Case{"measures, pass each", false, kMeasures},
        Case{"trains, pass each", false, kTrains}}) {
    SCOPED_TRACE(c.name);
    auto make = [&] {
      return MakeRbf(kCategoricalTarget, 100, 40,
                     [&](RBFSettings& s) { s.SetExpertOneDataPass(c.onePass); });
    };
    auto plain = make();
    const std::vector<Seen> expected = Search(*plain);
    auto m = make();
    INeuralAlgorithm& a = *m->algorithm;
    std::string saved;
    VXStatus status;
    const std::vector<Seen> seen = Search(*m, &status, [&](VXCommon_1_2::ProgressReport& r) {
      switch (c.callBack) {
        case kMeasures: {
          // The candidate's error on the training records is its training
          // error.
          VectorRecordIter train(m->trainRecords);
          const double error = a.GetErrorOnData(train, 100);
          EXPECT_NEAR(error, r.ScaleMeasure("trainError"), 1e-9 * error);
          EXPECT_NE(a.Score(m->testRecords[0]).GetOutputAt(0), nullptr);
          EXPECT_EQ(a.GetStatus(), VXStatus());
          break;
        }
        case kSaves:
          saved = Save(a, false);
          break;
        case kTrains:
          ExpectStatus(a.Train(100, -1), 6);
          ExpectStatus(a.SelectArchitecture(), 6);
          break;
      }
    });
    if (c.callBack == kTrains) {
      ExpectStatus(status, 50001);
      EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
      ASSERT_EQ(seen.size(), c.onePass ? Candidates(expected) : 1u);
      for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].k, expected[i].k);
      continue;
    }
    EXPECT_EQ(status, VXStatus());
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ((Doubles{double(seen[i].k), seen[i].trainError, seen[i].testError}),
                (Doubles{double(expected[i].k), expected[i].trainError, expected[i].testError}));
    }
    const INeuralAlgorithm& p = *plain->algorithm;
    EXPECT_EQ((Doubles{double(a.GetAlgorithmStatus()), double(a.GetNumberOfHiddenUnits()),
                       a.GetTrainingError(), a.GetTestingError(), a.GetAccuracy(),
                       m->Alg().GetNetwork()->GetAccumError()}),
              (Doubles{double(p.GetAlgorithmStatus()), double(p.GetNumberOfHiddenUnits()),
                       p.GetTrainingError(), p.GetTestingError(), p.GetAccuracy(),
                       plain->Alg().GetNetwork()->GetAccumError()}));
    EXPECT_EQ(WeightsOf(m->Alg().GetNetwork()), WeightsOf(plain->Alg().GetNetwork()));
    if (c.callBack == kSaves) {
      // The last save holds the candidate of the last report (the best one
      // again when it was not the last), untrained.
      auto restored = RestoreModel(saved, false, *m);
      ASSERT_TRUE(restored->algorithm) << restored->status;
      EXPECT_EQ((Ints{restored->algorithm->GetAlgorithmStatus(),
                      HiddenOf(*restored->algorithm).GetNumCenters()}),
                (Ints{VXNNCommon::kNotStarted, seen.back().k}));
    }
  }
}

// Scoring raw records through the algorithms allocates nothing per record:
// encoding, forward pass and output list reuse what the first record set
// up, on every path (a scored record, a missing input, a code outside its
// categories), for MLP and RBF models with both kinds of targets.
TEST(ScoreAllocation, RawRecordsAreScoredWithoutAllocating) {
  std::vector<Record> records;
  for (const Record& r : MakeRecords(40, 9)) records.push_back(InputsOf(r));
  records[3][kX] = kMissing;  // refused with 50018
  records[5][kC] = 7.0;       // refused with 50003
  for (bool rbf : {false, true}) {
    SCOPED_TRACE(rbf ? "RBF" : "MLP");
    AnyModel m = MakeAny(rbf, kBothTargets, 60, 0, {});
    ASSERT_TRUE(m.Algorithm());
    INeuralAlgorithm& a = *m.Algorithm();
    ASSERT_TRUE(a.Train(60, 0).IsOK());
    // The first call may size the scratch records.
    a.Score(records[0]);
    Record out;
    a.Score(records[0], out);
    std::vector<int> codes;
    codes.reserve(records.size());
    int scored = 0;
    EXPECT_EQ(Allocations([&] {
                for (const Record& r : records) {
                  const NNOutputList& list = a.Score(r);
                  scored += list.GetOutputAt(0) != nullptr;
                  codes.push_back(a.Score(r, out).GetErrorCode());
                }
              }),
              0);
    EXPECT_EQ(scored, 38);
    EXPECT_EQ(codes[3], 50018);
    EXPECT_EQ(codes[5], 50003);
    EXPECT_EQ(codes[4], 0);
  }
}

}  // namespace

namespace {

// What a trained RBF model gives: its centres, widths and the outputs of
// every record.
std::vector<double> Fingerprint(mlpdriver::RbfModel& m) {
  using namespace mlpdriver;
  const RBFHiddenLayer& hidden = HiddenOf(*m.algorithm);
  std::vector<double> all;
  for (const auto& c : hidden.GetCenters()) all.insert(all.end(), c.begin(), c.end());
  const auto& widths = hidden.GetAdjustedVariances();
  all.insert(all.end(), std::begin(widths), std::end(widths));
  for (const Record& r : m.trainRecords) {
    Record out;
    EXPECT_EQ(m.algorithm->Score(InputsOf(r), out), VXStatus());
    all.insert(all.end(), out.GetAll(), out.GetAll() + out.Size());
  }
  return all;
}

}  // namespace

// Another overlap from the clusters the last run kept trains the network a
// fresh run at that overlap trains, bit for bit, for either target; without
// kept clusters, or for a factor that is no positive number, nothing moves.
TEST(RbfRetrain, AnotherOverlapFromTheKeptClustersIsTheFreshRun) {
  using namespace mlpdriver;
  for (const Targets targets : {kCategoricalTarget, kContinuousTarget}) {
    auto sized = [](double overlap) {
      return [overlap](RBFSettings& s) {
        s.SetNumHiddenUnits(6, 1);
        if (overlap > 0) s.SetOverlapFactor(overlap);
      };
    };
    auto kept = MakeRbf(targets, 120, 0, sized(0.0));
    kept->Alg().SetKeepClusters(true);
    ASSERT_EQ(kept->algorithm->Train(120, -1), VXStatus());
    for (const double overlap : {0.25, 4.0, 1.5, 64.0}) {
      SCOPED_TRACE(overlap);
      ASSERT_EQ(kept->Alg().RetrainAtOverlap(overlap), VXStatus());
      EXPECT_EQ(kept->Alg().GetRBFSettings().GetOverlapFactor(), overlap);
      EXPECT_EQ(kept->algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
      auto fresh = MakeRbf(targets, 120, 0, sized(overlap));
      ASSERT_EQ(fresh->algorithm->Train(120, -1), VXStatus());
      EXPECT_EQ(Fingerprint(*kept), Fingerprint(*fresh));
      EXPECT_EQ(kept->algorithm->GetTrainingError(), fresh->algorithm->GetTrainingError());
    }
    const std::vector<double> before = Fingerprint(*kept);
    for (const double bad : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
      EXPECT_EQ(kept->Alg().RetrainAtOverlap(bad).GetErrorCode(), 6);
      EXPECT_EQ(Fingerprint(*kept), before);
    }
    auto plain = MakeRbf(targets, 120, 0, sized(0.0));
    ASSERT_EQ(plain->algorithm->Train(120, -1), VXStatus());
    EXPECT_EQ(plain->Alg().RetrainAtOverlap(2.0).GetErrorCode(), 6);
  }
}
