// The progress reports a host's listener receives: during MLP training with
// each optimizer, during the MLP architecture search and during the RBF
// centre search. Each report is asked every key any reporter knows (and one
// that none knows); a key of its own table answers what the host sees of
// the algorithm at that moment, every other key -1 or the missing value.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

#include "rbf_fixtures.h"
#include "vxneural/algorithm/MLPExpertReporter.h"
#include "vxneural/algorithm/MLPReporter.h"
#include "vxneural/algorithm/RBFExpertReporter.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"

namespace mlpdriver {
namespace {

const char* const kDiscreteKeys[] = {"records", "dataPasses", "hiddenUnits", "weights",
                                     "whyStop", "bic",        "Records",     "nonsense"};
const char* const kScaleKeys[] = {"gradNorm",   "trainError",  "testError", "relChangeError",
                                  "errorRatio", "elapsedTime", "accuracy",  "bic",
                                  "records",    "TrainError",  "nonsense"};

// What a key of the report's table answers, read from the algorithm the
// way a host can read it during the call.
using Truth = std::map<std::string, std::function<double(const INeuralAlgorithm&)>>;

const IOptimizationAlgorithm& OptimizerOf(const INeuralAlgorithm& a) {
  return *dynamic_cast<const MLPAlgorithm&>(a).GetOptimizer();
}

const Truth kTrainingDiscrete = {
    {"records", [](auto& a) { return OptimizerOf(a).GetNRecordsProcessed(); }},
    {"dataPasses", [](auto& a) { return OptimizerOf(a).GetNDataPasses(); }}};
const Truth kTrainingScale = {
    {"gradNorm", [](auto& a) { return OptimizerOf(a).GetLastGradientNorm(); }},
    {"trainError", [](auto& a) { return OptimizerOf(a).GetTrainError(); }},
    {"testError", [](auto& a) { return OptimizerOf(a).GetTestError(); }},
    {"relChangeError", [](auto& a) { return OptimizerOf(a).GetRelChangeInErr(); }},
    {"errorRatio", [](auto& a) { return OptimizerOf(a).GetErrorRatio(); }},
    {"elapsedTime", [](auto& a) { return OptimizerOf(a).GetElapsedTime(); }},
    {"accuracy", [](auto& a) { return 100.0 * OptimizerOf(a).GetAccuracy(); }}};

double NetworkWeights(const INeuralAlgorithm& a) {
  const NNetwork* network = a.GetAlgorithmType() == VXNNCommon::kMLP
                                ? dynamic_cast<const MLPAlgorithm&>(a).GetNetwork()
                                : dynamic_cast<const RBFAlgorithm&>(a).GetNetwork();
  return network ? network->GetNumWeights() : -1;
}

const Truth kSearchDiscrete = {
    {"records", [](auto& a) { return OptimizerOf(a).GetNRecordsProcessed(); }},
    {"dataPasses", [](auto& a) { return a.GetNumberOfDataPasses(); }},
    {"hiddenUnits", [](auto& a) { return a.GetNumberOfHiddenUnits(); }},
    {"weights", NetworkWeights},
    {"whyStop", [](auto& a) { return a.GetStopReason(); }}};
const Truth kSearchScale = [] {
  Truth t = kTrainingScale;
  t.erase("accuracy");
  t["elapsedTime"] = [](auto& a) { return a.GetElapsedTime(); };
  return t;
}();

const Truth kCentresDiscrete = {
    {"hiddenUnits", [](auto& a) { return a.GetNumberOfHiddenUnits(); }},
    {"records", [](auto& a) { return dynamic_cast<const RBFAlgorithm&>(a).GetNumberOfRecords(); }},
    {"weights", NetworkWeights}};
const Truth kCentresScale = {{"trainError", [](auto& a) { return a.GetTrainingError(); }},
                             {"testError", [](auto& a) { return a.GetTestingError(); }},
                             {"bic", [](auto& a) { return a.GetTrainingBIC(); }},
                             {"elapsedTime", [](auto& a) { return a.GetElapsedTime(); }}};

// Builds a model with the listener in its settings, hands the algorithm to
// the host (algorithm) and runs it.
using Run = std::function<std::unique_ptr<INeuralAlgorithm>(VXCommon_1_2::ProgressListener&,
                                                            const INeuralAlgorithm*& algorithm)>;

struct Scenario {
  const char* name;
  const std::type_info& reporter;
  const Truth& discrete;
  const Truth& scale;
  Run run;
};

Run Training(VXNNCommon::MLPTrainingMethod method, VXNNCommon::TrainingType type) {
  return [=](VXCommon_1_2::ProgressListener& listener, const INeuralAlgorithm*& algorithm) {
    auto m = MakeModel(kCategoricalTarget, 80, 20, 1, [&](MLPSettings& s) {
      s.SetTrainingMethodAndType(method, type);
      s.SetProgressListener(&listener);
    });
    algorithm = m->algorithm.get();
    EXPECT_EQ(m->algorithm->Train(80, 20), VXStatus());
    return std::move(m->algorithm);
  };
}

TEST(ProgressReports, EveryReporterAnswersItsKeysAsTheHostSeesThem) {
  const Scenario scenarios[] = {
      {"scaled conjugate gradient", typeid(MLPReporter), kTrainingDiscrete, kTrainingScale,
       Training(VXNNCommon::kScaledConjugateGradient, VXNNCommon::kBatch)},
      {"batch gradient descent", typeid(MLPReporter), kTrainingDiscrete, kTrainingScale,
       Training(VXNNCommon::kGradientDescent, VXNNCommon::kBatch)},
      {"mini-batch gradient descent", typeid(MLPReporter), kTrainingDiscrete, kTrainingScale,
       Training(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch)},
      {"online gradient descent", typeid(MLPReporter), kTrainingDiscrete, kTrainingScale,
       Training(VXNNCommon::kGradientDescent, VXNNCommon::kOnline)},
      {"architecture search", typeid(MLPExpertReporter), kSearchDiscrete, kSearchScale,
       [](VXCommon_1_2::ProgressListener& listener, const INeuralAlgorithm*& algorithm) {
         auto m = MakeModel(kCategoricalTarget, 80, 20, 1,
                            [&](MLPSettings& s) { s.SetProgressListener(&listener); });
         algorithm = m->algorithm.get();
         EXPECT_EQ(m->algorithm->SelectArchitecture(), VXStatus());
         return std::move(m->algorithm);
       }},
      {"centre search", typeid(RBFExpertReporter), kCentresDiscrete, kCentresScale,
       [](VXCommon_1_2::ProgressListener& listener, const INeuralAlgorithm*& algorithm) {
         auto m = MakeRbf(kCategoricalTarget, 80, 20,
                          [&](RBFSettings& s) { s.SetProgressListener(&listener); });
         algorithm = m->algorithm.get();
         EXPECT_EQ(m->algorithm->SelectArchitecture(), VXStatus());
         return std::move(m->algorithm);
       }},
  };
  for (const Scenario& sc : scenarios) {
    SCOPED_TRACE(sc.name);
    const INeuralAlgorithm* algorithm = nullptr;
    std::vector<int> passes, hidden;
    host_doubles::FunctionListener listener([&](VXCommon_1_2::ProgressReport& report) {
      ASSERT_EQ(typeid(report), sc.reporter);
      // The host holds the algorithm from the factory's answer on; the
      // reports come later, from its work.
      ASSERT_NE(algorithm, nullptr);
      for (const char* key : kDiscreteKeys) {
        SCOPED_TRACE(key);
        const auto truth = sc.discrete.find(key);
        EXPECT_EQ(report.DiscreteMeasure(key),
                  truth == sc.discrete.end() ? -1 : static_cast<int>(truth->second(*algorithm)));
      }
      for (const char* key : kScaleKeys) {
        SCOPED_TRACE(key);
        const auto truth = sc.scale.find(key);
        EXPECT_EQ(report.ScaleMeasure(key),
                  truth == sc.scale.end() ? kMissing : truth->second(*algorithm));
      }
      passes.push_back(report.DiscreteMeasure("dataPasses"));
      hidden.push_back(report.DiscreteMeasure("hiddenUnits"));
      const double accuracy = report.ScaleMeasure("accuracy");
      if (accuracy != kMissing) {
        EXPECT_GE(accuracy, 0.0);
        EXPECT_LE(accuracy, 100.0);
      }
      // Weights of a network over 5 inputs and 2 outputs: an MLP's
      // (inputs + 1) h + (h + 1) 2, an RBF's centres, widths and output
      // rows over normalised units, 5k + k + 2k.
      const int weights = report.DiscreteMeasure("weights"), h = hidden.back();
      if (weights != -1) {
        EXPECT_EQ(weights, sc.reporter == typeid(RBFExpertReporter) ? 8 * h : 6 * h + 2 * (h + 1));
      }
    });
    const std::unique_ptr<INeuralAlgorithm> done = sc.run(listener, algorithm);
    ASSERT_NE(done, nullptr);
    EXPECT_GT(listener.fReports, 0);
    if (sc.reporter == typeid(MLPExpertReporter)) {
      // Once before the search and once after the committed size; the
      // search's own training runs report nothing.
      EXPECT_EQ(listener.fReports, 2);
    }
    if (sc.reporter == typeid(MLPReporter)) {
      EXPECT_TRUE(std::is_sorted(passes.begin(), passes.end()));
    }
  }
}

}  // namespace
}  // namespace mlpdriver
