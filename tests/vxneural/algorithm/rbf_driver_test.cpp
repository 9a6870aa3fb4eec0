// The RBF driver: its state table, training with the clustering library's
// choice or the user's number of hidden units (centres and widths checked
// against a clustering run of the test's own), the candidate search in
// both forms.

#include <array>

#include "common/alloc_counter.h"
#include "rbf_fixtures.h"
#include "vxcluster/ClusterModel.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using namespace mlpdriver;
using alloc_counter::Allocations;

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

TEST(RbfTraining, TakesTheLibrarysClustersOrTheUsersCountAsCentresAndWidths) {
  auto m = MakeRbf(kCategoricalTarget, 120, 0);
  ASSERT_EQ(m->algorithm->Train(120, -1), VXStatus());
  // The same clustering, run here on records encoded by hand.
  const std::unique_ptr<ClusterModel> clusters = LibraryClusters(m->trainRecords, 2 * (5 + 2));
  const ClusterModel& model = *clusters;
  const int k = model.GetNumOfClusters();
  ASSERT_GE(k, 1);
  const RBFHiddenLayer& hidden = HiddenOf(*m->algorithm);
  ASSERT_EQ(
      (Ints{m->algorithm->GetNumberOfHiddenUnits(), m->Alg().GetRBFSettings().GetNumHiddenUnits(1),
            hidden.GetNumUnits(), hidden.GetNumCenters(), int(hidden.GetVarianceVectors().size())}),
      (Ints{k, k, k, k, 0}));

  // Centres: means of x and v, proportions of c's categories. Squared
  // widths: the mean over the 5 input units of variance x overlap (p (1 - p)
  // for a category); the layer's own tests take a zero mean.
  const double overlap = 0.1 * 5 + 1.0;
  EXPECT_EQ(m->Alg().GetRBFSettings().GetOverlapFactor(), overlap);
  int j = 0;
  for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it, ++j) {
    const ClusterStats& s = **it;
    std::vector<double> centre{s.GetMeanOfContVar(0)};
    double sum = s.GetVarianceOfContVar(0) + s.GetVarianceOfContVar(2);
    for (int u = 0; u < 3; ++u) {
      const double p = double(s.GetCountsOfCatVar(1)[u]) / s.GetCaseCount();
      centre.push_back(p);
      sum += p * (1 - p);
    }
    centre.push_back(s.GetMeanOfContVar(2));
    ExpectNear(hidden.GetCenters()[j], centre, 1e-12);
    ASSERT_GT(sum, 0.0);
    EXPECT_NEAR(hidden.GetAdjustedVariances()[j], sum * overlap / 5, 1e-12 * sum) << j;
  }
  // A number the user set is taken as it is, but never above the records.
  for (const auto& [records, units, want] : {std::array<int, 3>{120, 4, 4}, {3, 5, 3}}) {
    auto user = MakeRbf(kCategoricalTarget, records, 0,
                        [&](RBFSettings& s) { s.SetNumHiddenUnits(units, 1); });
    ASSERT_EQ(user->algorithm->Train(records, -1), VXStatus());
    EXPECT_EQ((Ints{user->algorithm->GetNumberOfHiddenUnits(),
                    HiddenOf(*user->algorithm).GetNumCenters()}),
              (Ints{want, want}))
        << records << " records";
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

// Scoring raw records through the algorithms allocates nothing per record:
// encoding, forward pass and output list reuse what the first record set
// up, on every path (a scored record, a missing input, a code outside its
// categories), for MLP and RBF models with both kinds of targets.
TEST(ScoreAllocation, RawRecordsAreScoredWithoutAllocating) {
  std::unique_ptr<Model> mlp = MakeModel(kBothTargets, 60, 0);
  std::unique_ptr<RbfModel> rbf = MakeRbf(kBothTargets, 60, 0);
  ASSERT_TRUE(mlp->algorithm && rbf->algorithm);
  ASSERT_TRUE(mlp->algorithm->Train(60, 0).IsOK());
  ASSERT_TRUE(rbf->algorithm->Train(60, 0).IsOK());

  std::vector<Record> records = MakeRecords(40, 9);
  records[3][kX] = kMissing;  // refused with 50018
  records[5][kC] = 7.0;       // refused with 50003
  struct Case {
    const char* name;
    INeuralAlgorithm* algorithm;
  } const cases[] = {{"MLP", mlp->algorithm.get()}, {"RBF", rbf->algorithm.get()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The first call may size the scratch records.
    c.algorithm->Score(records[0]);
    Record out;
    c.algorithm->Score(records[0], out);
    std::vector<int> codes;
    codes.reserve(records.size());
    int scored = 0;
    EXPECT_EQ(Allocations([&] {
                for (const Record& r : records) {
                  const NNOutputList& list = c.algorithm->Score(r);
                  scored += list.GetOutputAt(0) != nullptr;
                  codes.push_back(c.algorithm->Score(r, out).GetErrorCode());
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
