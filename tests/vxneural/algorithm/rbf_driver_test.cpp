// The RBF driver: its state table, training with the clustering library's
// choice or the user's number of hidden units (centres and widths checked
// against a clustering run of the test's own), the candidate search in
// both forms, the adapter's category walk, cancellation, the reporter.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/text_checks.h"
#include "rbf_fixtures.h"
#include "state_table.h"
#include "vxcluster/ClusterModel.h"
#include "vxneural/algorithm/NNClusterAdapter.h"
#include "vxneural/algorithm/RBFExpertReporter.h"

namespace {

using namespace mlpdriver;

TEST(RbfStateTable, EveryStateAnswersEveryOperationAsTheTableSays) {
  auto m = MakeRbf(kCategoricalTarget, 80, 20);
  ASSERT_TRUE(m->algorithm);
  ExpectStateTable(m->Alg(), m->trainRecords,
                   EncodeByHand(m->trainRecords, m->trainRecords, kCategoricalTarget));
}

TEST(RbfStates, FromInitToTrainedAndOnThroughUpdates) {
  auto m = MakeRbf(kCategoricalTarget, 80, 20);
  INeuralAlgorithm& a = *m->algorithm;
  RBFAlgorithm& rbf = m->Alg();
  // (5 inputs + 2 output units + 1) / 2 hidden units to start with.
  EXPECT_EQ((Doubles{double(a.GetAlgorithmStatus()), double(a.GetStopReason()),
                     double(a.GetNumberOfDataPasses()), double(rbf.GetNumberOfRecords()),
                     double(a.GetNumberOfHiddenUnits()), a.GetTrainingError(), a.GetTestingError(),
                     a.GetTrainingBIC(), a.GetElapsedTime()}),
            (Doubles{0, 0, 0, 0, 4, kMissing, kMissing, kMissing, 0}));
  EXPECT_EQ(a.GetAlgorithmType(), VXNNCommon::kRBF);
  EXPECT_NE(a.GetComponentVersion().find("radial basis function component, version 1.0"),
            std::string::npos);
  EXPECT_EQ(a.GetStopRules(), nullptr);

  VectorRecordIter updates(MakeRecords(10, 50));
  ExpectStatus(a.Update(updates, 10), 6);
  ASSERT_EQ(a.Train(60, -1), VXStatus());
  // One pass to pre-cluster, one to solve over the first 60 records.
  EXPECT_EQ((Ints{a.GetAlgorithmStatus(), a.GetStopReason(), a.GetNumberOfDataPasses(),
                  rbf.GetNumberOfRecords()}),
            (Ints{VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, 2, 60}));
  ExpectStatus(a.SelectArchitecture(), 6);
  // The solved error is the network's own sum over the records solved on.
  VectorRecordIter first60(
      std::vector<Record>(m->trainRecords.begin(), m->trainRecords.begin() + 60));
  const double trainError = a.GetTrainingError();
  EXPECT_NEAR(a.GetErrorOnData(first60, 60), trainError, 1e-9 * trainError);

  const std::vector<double> centres = HiddenOf(a).GetCenters()[0];
  ASSERT_EQ(a.Update(updates, 10), VXStatus());
  EXPECT_EQ(rbf.GetNumberOfRecords(), 70);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_EQ(HiddenOf(a).GetCenters()[0], centres) << "updates never move centres";
  // A further run clusters and solves again, and counts on.
  ASSERT_EQ(a.Train(80, -1), VXStatus());
  EXPECT_EQ(a.GetNumberOfDataPasses(), 4);
}

// The clustering records of encoded records, as the driver must build
// them for a list x, c (3 categories), v, y (2): categories from 1.
class ClusteringRecords : public VXCluster::RecordIterator {
 public:
  explicit ClusteringRecords(const std::vector<Record>& encoded) {
    for (const Record& e : encoded) {
      const double c = e[1] == 1.0 ? 1 : e[2] == 1.0 ? 2 : 3;
      fRecords.push_back(Record(std::vector<double>{e[0], c, e[4], e[5] == 1.0 ? 1.0 : 2.0}));
    }
  }
  bool IsGood() override { return fPos < fRecords.size(); }
  Record* Next() override { return IsGood() ? &fRecords[fPos++] : nullptr; }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }

 private:
  std::vector<Record> fRecords;
  std::size_t fPos = 0;
};

// The clustering library's own clusters of the records of a
// categorical-target model, their number chosen between 1 and most.
std::unique_ptr<ClusterModel> LibraryClusters(const std::vector<Record>& raw, int most) {
  ClusterVarList vars;
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(3, ClusterVar::kNumericCategorical);
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(2, ClusterVar::kNumericCategorical);
  auto model = std::make_unique<ClusterModel>(ClusterSettings(), vars);
  ClusteringRecords records(EncodeByHand(raw, raw, kCategoricalTarget));
  EXPECT_FALSE(model->PreCluster(records).IsError());
  EXPECT_FALSE(model->AutoCluster(1, most).IsError());
  return model;
}

TEST(RbfTraining, DefaultSettingsTakeTheLibrarysClustersAsCentresAndWidths) {
  auto m = MakeRbf(kCategoricalTarget, 120, 0);
  ASSERT_EQ(m->algorithm->Train(120, -1), VXStatus());
  // The same clustering, run here on records encoded by hand.
  const std::unique_ptr<ClusterModel> clusters = LibraryClusters(m->trainRecords, 2 * (5 + 2));
  const ClusterModel& model = *clusters;
  const int k = model.GetNumOfClusters();
  ASSERT_GE(k, 1);
  EXPECT_EQ(m->algorithm->GetNumberOfHiddenUnits(), k);
  EXPECT_EQ(m->Alg().GetRBFSettings().GetNumHiddenUnits(1), k);
  const RBFHiddenLayer& hidden = HiddenOf(*m->algorithm);
  ASSERT_EQ(hidden.GetNumUnits(), k);
  ASSERT_EQ(hidden.GetNumCenters(), k);
  ASSERT_TRUE(hidden.GetVarianceVectors().empty());

  // Centres: means of x and v, proportions of c's categories. Squared
  // widths: the mean over the 5 input units of variance x overlap (p (1 - p)
  // for a category), a zero mean replaced by the least non-zero one.
  const double overlap = 0.1 * 5 + 1.0;
  EXPECT_EQ(m->Alg().GetRBFSettings().GetOverlapFactor(), overlap);
  std::vector<double> means;
  int j = 0;
  for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it, ++j) {
    const ClusterStats& s = **it;
    std::vector<double> centre{s.GetMeanOfContVar(0)};
    std::vector<double> variance{s.GetVarianceOfContVar(0)};
    for (int u = 0; u < 3; ++u) {
      const double p = double(s.GetCountsOfCatVar(1)[u]) / s.GetCaseCount();
      centre.push_back(p);
      variance.push_back(p * (1 - p));
    }
    centre.push_back(s.GetMeanOfContVar(2));
    variance.push_back(s.GetVarianceOfContVar(2));
    for (std::size_t i = 0; i < 5; ++i)
      EXPECT_NEAR(hidden.GetCenters()[j][i], centre[i], 1e-12) << "centre " << j << "," << i;
    double sum = 0.0;
    for (double v : variance) sum += std::max(0.0, v * overlap);
    means.push_back(sum / 5);
  }
  double least = DBL_MAX;
  for (double v : means)
    if (v > 0) least = std::min(least, v);
  for (int u = 0; u < k; ++u) {
    const double expected = means[u] > 0 ? means[u] : least;
    EXPECT_NEAR(hidden.GetAdjustedVariances()[u], expected, 1e-12 * expected) << u;
  }
}

TEST(RbfTraining, AUserSetNumberOfHiddenUnitsIsKeptUpToTheRecords) {
  const struct { int asked, records, expected; } cases[] = {{4, 80, 4}, {1, 40, 1}, {50, 30, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked);
    auto m = MakeRbf(kBothTargets, c.records, 0,
                     [&](RBFSettings& s) { s.SetNumHiddenUnits(c.asked, 1); });
    ASSERT_EQ(m->algorithm->Train(c.records, -1), VXStatus());
    EXPECT_EQ(m->algorithm->GetNumberOfHiddenUnits(), c.expected);
    EXPECT_EQ(HiddenOf(*m->algorithm).GetNumCenters(), c.expected);
    EXPECT_EQ(m->Alg().GetRBFSettings().GetNumHiddenUnits(1), c.expected);
  }
}

// What the listener saw of each candidate.
struct Seen {
  int k;
  double trainError, testError, bic;
};

std::vector<Seen> Search(RbfModel& m) {
  std::vector<Seen> seen;
  FunctionListener listener([&](VXCommon_1_2::ProgressReport& r) {
    // The algorithm is busy while it reports.
    EXPECT_EQ(m.algorithm->GetAlgorithmStatus(), VXNNCommon::kExpert);
    seen.push_back({r.DiscreteMeasure("hiddenUnits"), r.ScaleMeasure("trainError"),
                    r.ScaleMeasure("testError"), r.ScaleMeasure("bic")});
  });
  m.algorithm->SetProgressListener(&listener);
  EXPECT_EQ(m.algorithm->SelectArchitecture(), VXStatus());
  m.algorithm->RemoveProgressListener();
  return seen;
}

TEST(RbfSearch, BothFormsScoreTheSameCandidatesAndKeepTheBest) {
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
      const int candidates =
          seen.back().k == seen[seen.size() - 2].k + 1 ? int(seen.size()) : int(seen.size()) - 1;
      EXPECT_EQ(m->algorithm->GetNumberOfDataPasses(), 1 + (onePass ? 1 : candidates));
      // Normalised units: the automatic range starts at 2 or more, and it
      // runs to max(2K, outputs, 10), K the library's own choice.
      EXPECT_GE(seen[0].k, 2);
      const int k = LibraryClusters(m->trainRecords, 2 * (5 + 2))->GetNumOfClusters();
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

TEST(RbfSearch, TheRangeStartsAtOneOutputForPlainUnitsAndAtTwoForNormalisedOnes) {
  const struct {
    VXNNCommon::ActivationFunction activation;
    int first;
  } cases[] = {{VXNNCommon::kRadialBasis, 1}, {VXNNCommon::kNormalizedRadialBasis, 2}};
  for (const auto& c : cases) {
    auto m = MakeRbf(kContinuousTarget, 60, 0,
                     [&](RBFSettings& s) { s.SetActivFnHiddenLayer(c.activation); });
    const std::vector<Seen> seen = Search(*m);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].k, c.first) << c.activation;
  }
}

TEST(RbfSearch, PerfectFitsGetTheLeastBICAndTiesKeepTheSmallerCandidate) {
  // A target that is 0 on every record is fitted exactly by every
  // candidate: E = 0, BIC -DBL_MAX for all, the first stays the best.
  for (bool onePass : {true, false}) {
    std::vector<Record> encoded =
        EncodeByHand(MakeRecords(50, 1), MakeRecords(50, 1), kContinuousTarget);
    for (Record& r : encoded) r[5] = 0.0;
    RBFSettings settings(5, {1}, 50);
    settings.SetExpertOneDataPass(onePass);
    VectorRecordIter train(encoded);
    RBFFactory factory;
    std::unique_ptr<INeuralAlgorithm> a(factory.CreateNeuralAlgorithm(settings, train, nullptr));
    ASSERT_TRUE(a);
    RbfModel m;
    m.algorithm = std::move(a);
    const std::vector<Seen> seen = Search(m);
    ASSERT_GE(seen.size(), 2u);
    for (const Seen& s : seen) {
      EXPECT_EQ(s.trainError, 0.0);
      EXPECT_EQ(s.bic, -DBL_MAX);
    }
    EXPECT_EQ(m.algorithm->GetNumberOfHiddenUnits(), seen[0].k);
    EXPECT_EQ(m.algorithm->GetTrainingBIC(), -DBL_MAX);
    // The best is not the last tried: one more report for it.
    EXPECT_EQ(seen.back().k, seen[0].k);
  }
}

TEST(RbfSearch, TheRangeEndsWhereTheRecordsRunOutOfDistinctClusters) {
  // Six distinct records, ten times each: no seventh cluster can form.
  std::vector<Record> encoded;
  const std::vector<Record> six = MakeRecords(6, 4);
  for (int copy = 0; copy < 10; ++copy)
    for (const Record& r : EncodeByHand(six, six, kContinuousTarget)) encoded.push_back(r);
  for (bool onePass : {true, false}) {
    RBFSettings settings(5, {1}, 60);
    settings.SetExpertOneDataPass(onePass);
    VectorRecordIter train(encoded);
    RBFFactory factory;
    RbfModel m;
    m.algorithm.reset(factory.CreateNeuralAlgorithm(settings, train, nullptr));
    ASSERT_TRUE(m.algorithm);
    std::vector<Seen> seen = Search(m);
    ASSERT_FALSE(seen.empty());
    int last = 0;
    for (const Seen& s : seen) last = std::max(last, s.k);
    EXPECT_EQ(last, 6) << onePass;
    EXPECT_EQ(m.algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  }
}

// Encoded records handed to the clustering library as they are: every
// column a continuous variable (a model without a variable list).
class PassThrough : public VXCluster::RecordIterator {
 public:
  explicit PassThrough(std::vector<Record> records) : fRecords(std::move(records)) {}
  bool IsGood() override { return fPos < fRecords.size(); }
  Record* Next() override { return IsGood() ? &fRecords[fPos++] : nullptr; }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }

 private:
  std::vector<Record> fRecords;
  std::size_t fPos = 0;
};

TEST(RbfSearch, AFewClearClustersStillGiveTenCandidates) {
  // Two tight groups of 40 records: the library chooses few clusters, and
  // the range still runs to max(2K, outputs, 10).
  std::vector<Record> encoded;
  for (int i = 0; i < 80; ++i) {
    const double centre = i % 2 == 0 ? -2.0 : 2.0, jitter = 0.01 * (i % 7);
    encoded.push_back(Record(std::vector<double>{centre + jitter, centre - jitter, centre, jitter,
                                                 centre * jitter, centre / 2}));
  }
  ClusterVarList vars;
  for (int v = 0; v < 6; ++v) vars.AddContVar(0.0, 1.0);
  ClusterModel model(ClusterSettings(), vars);
  PassThrough records(encoded);
  ASSERT_FALSE(model.PreCluster(records).IsError());
  ASSERT_FALSE(model.AutoCluster(1, 2 * (5 + 1)).IsError());
  const int k = model.GetNumOfClusters();
  ASSERT_LT(2 * k, 10);
  RBFSettings settings(5, {1}, 80);
  VectorRecordIter train(encoded);
  RBFFactory factory;
  RbfModel m;
  m.algorithm.reset(factory.CreateNeuralAlgorithm(settings, train, nullptr));
  ASSERT_TRUE(m.algorithm);
  int last = 0;
  for (const Seen& s : Search(m)) last = std::max(last, s.k);
  EXPECT_EQ(last, 10);
}

// A source that claims to be good but has nothing to give.
class EmptyButGood : public VXCommon_1_2::MultiPassRecordIter {
 public:
  bool IsGood() override { return true; }
  const Record* Next() override { return nullptr; }
  int GetStatus() override { return kGood; }
  int Rewind() override { return kGood; }
};

TEST(RbfClusterAdapter, CategoriesAreNumberedFromOneAndMinusOneWhenNoIndicatorIsOne) {
  // Widths: continuous, 3 categories, continuous, 2 categories.
  const std::vector<int> widths{1, 3, 1, 2};
  const struct {
    std::vector<double> encoded, expected;
  } cases[] = {
      {{0.5, 1, 0, 0, -2, 0, 1}, {0.5, 1, -2, 2}},
      {{0, 0, 0, 1, 3, 1, 0}, {0, 3, 3, 1}},
      {{7, 0, 0, 0, 1, 0, 0}, {7, -1, 1, -1}},
      {{1, 0.999, 0, 0, 1, 1, 1}, {1, -1, 1, 1}},  // not exactly 1; the first of two
  };
  std::vector<Record> records;
  for (const auto& c : cases) records.push_back(Record(c.encoded));
  VectorRecordIter source(records);
  NNClusterAdapter adapter(&source, widths);
  for (const auto& c : cases) {
    ASSERT_TRUE(adapter.IsGood());
    const Record* r = adapter.Next();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::vector<double>(r->GetAll(), r->GetAll() + r->Size()), c.expected);
  }
  EXPECT_EQ(adapter.Next(), nullptr);
  EXPECT_EQ((Ints{adapter.GetStatus(), adapter.GetCount()}), (Ints{1, 4}));

  // Errors: a good source without records, a short record, no widths, a
  // source not good at the start, a request to stop.
  EmptyButGood empty;
  VectorRecordIter shortRecord(std::vector<Record>{Record(std::vector<double>{1, 0, 1})});
  VectorRecordIter none(std::vector<Record>{});
  VectorRecordIter one(std::vector<Record>{Record(cases[0].encoded)});
  NNClusterAdapter adapters[] = {
      {&empty, widths}, {&shortRecord, widths}, {&one, {}}, {&none, widths}, {&one, widths, [] {
                                                                                return true;
                                                                              }}};
  for (NNClusterAdapter& a : adapters) {
    EXPECT_EQ(a.Next(), nullptr);
    EXPECT_EQ((Ints{a.GetStatus(), a.GetCount()}), (Ints{2, 0}));
  }
}

TEST(RbfCancel, ACancelDuringClusteringOrSearchEndsInTheCancelState) {
  const struct {
    const char* what;
    bool search, onePass;
  } cases[] = {{"training", false, true},
               {"one-pass search", true, true},
               {"search by passes", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CountdownCancel cancel;
    auto m = MakeRbf(kCategoricalTarget, 120, 30, [&](RBFSettings& s) {
      s.SetCancelPointer(&cancel);
      s.SetExpertOneDataPass(c.onePass);
    });
    FunctionListener listener([&](VXCommon_1_2::ProgressReport&) { cancel.Arm(); });
    m->algorithm->SetProgressListener(&listener);
    VXStatus s;
    if (c.search) {
      // Stopped at the first candidate's report.
      s = m->algorithm->SelectArchitecture();
      EXPECT_EQ(listener.fReports, 1);
    } else {
      // Stopped a few records into the pre-clustering.
      cancel.Arm(5);
      s = m->algorithm->Train(120, -1);
      // Asked on entry, before the run, and before each of the first four
      // records; the solve was never reached.
      EXPECT_EQ(cancel.fQueries, 6);
      EXPECT_EQ(m->algorithm->GetNumberOfDataPasses(), 1);
    }
    ExpectStatus(s, 1);
    EXPECT_EQ(m->algorithm->GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(m->Alg().GetNetwork(), nullptr);
    EXPECT_EQ(m->Alg().GetOptimizer(), nullptr);
    // The gate: nothing more is done, the code stays.
    EXPECT_EQ(m->algorithm->Train(120, -1), VXStatus());
    ExpectStatus(m->algorithm->GetStatus(), 1);
  }
}

TEST(RbfDisplay, ShowsTheRBFCountersInOrder) {
  auto m = MakeRbf(kBothTargets, 60, 0);
  ASSERT_EQ(m->algorithm->Train(60, -1), VXStatus());
  const std::string shown = text_checks::Shown(*m->algorithm);
  std::size_t at = 0;
  for (const std::string line :
       {"Start of RBFAlgorithm display\n", "Start of RBFSettings display",
        "End of RBFSettings display", "Current algorithm status: Trained\n", "fOutList:\n",
        "Stop reason: Stopped Computed\n", "Number of data passes = 2\n",
        "Number of records = 60\n",
        "Number of units in first hidden layer = ", "Total elapsed time = ", "Training error ",
        "Testing error ", "BIC ", "Random number generator:\n", "The optimizer:\n",
        "Start of RBFLinReg display", "End of RBFAlgorithm display\n"}) {
    const std::size_t found = shown.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found + line.size();
  }
  EXPECT_EQ(at, shown.size());
}

TEST(RbfReporter, AnswersItsKeysFromTheAlgorithm) {
  auto m = MakeRbf(kBothTargets, 60, 0);
  ASSERT_EQ(m->algorithm->Train(60, -1), VXStatus());
  RBFAlgorithm& a = m->Alg();
  RBFExpertReporter r(&a), none(nullptr);
  EXPECT_EQ((Ints{r.DiscreteMeasure("hiddenUnits"), r.DiscreteMeasure("records"),
                  r.DiscreteMeasure("weights"), r.DiscreteMeasure("dataPasses"),
                  r.DiscreteMeasure("Records"), none.DiscreteMeasure("records")}),
            (Ints{a.GetNumberOfHiddenUnits(), 60, a.GetNetwork()->GetNumWeights(), -1, -1, -1}));
  EXPECT_EQ(
      (Doubles{r.ScaleMeasure("trainError"), r.ScaleMeasure("testError"), r.ScaleMeasure("bic"),
               r.ScaleMeasure("elapsedTime"), r.ScaleMeasure("gradNorm"),
               none.ScaleMeasure("bic")}),
      (Doubles{a.GetTrainingError(), kMissing, kMissing, a.GetElapsedTime(), kMissing, kMissing}));
}

}  // namespace
