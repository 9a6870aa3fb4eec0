// The model does not depend on the number of threads the passes use: the
// same training with 1, 2, 3 and 8 threads saves the same bytes, under
// every pass kernel, for every training method, with the encoded records
// in memory and in temporary files.
#include <algorithm>
#include <sstream>
#include <string>

#include "common/pass_settings.h"
#include "common/saved_times.h"
#include "common/scratch_dir.h"
#include "rbf_fixtures.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"

namespace {

using namespace mlpdriver;
using VXNeural::PassKernel;

struct Method {
  const char* name;
  bool rbf;
  Targets targets;
  std::function<void(NeuralSettings&)> adjust;
};

void PrintTo(const Method& m, std::ostream* os) { *os << m.name; }

void Gd(NeuralSettings& s, VXNNCommon::TrainingType type) {
  auto& m = dynamic_cast<MLPSettings&>(s);
  m.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, type);
}

const std::vector<Method>& Methods() {
  static const std::vector<Method> methods{
      {"ScaledConjugateGradient", false, kBothTargets, {}},
      {"ScgTwoHiddenLayers", false, kCategoricalTarget,
       [](NeuralSettings& s) {
         auto& m = dynamic_cast<MLPSettings&>(s);
         m.SetNumHiddenLayers(2);
         m.SetNumHiddenUnits(9, 1);
         m.SetNumHiddenUnits(4, 2);
       }},
      {"GradientDescentBatch", false, kCategoricalTarget,
       [](NeuralSettings& s) { Gd(s, VXNNCommon::kBatch); }},
      {"GradientDescentMiniBatch", false, kContinuousTarget,
       [](NeuralSettings& s) {
         Gd(s, VXNNCommon::kMiniBatch);
         dynamic_cast<MLPSettings&>(s).SetMiniBatchSize(150);
       }},
      {"GradientDescentOnline", false, kCategoricalTarget,
       [](NeuralSettings& s) { Gd(s, VXNNCommon::kOnline); }},
      {"RbfNormalized", true, kBothTargets, {}},
      {"RbfPlain", true, kCategoricalTarget,
       [](NeuralSettings& s) { s.SetActivFnHiddenLayer(VXNNCommon::kRadialBasis); }},
  };
  return methods;
}

// Trains the method's model on 500 records (six blocks, the last one
// partial) with 120 test records, and returns its saved binary form with
// the processor times, which differ from run to run, zeroed.
std::string TrainedBytes(const Method& method, bool spilled, const std::string& dir) {
  AnyModel m = MakeAny(method.rbf, method.targets, 500, 120, [&](NeuralSettings& s) {
    if (method.adjust) method.adjust(s);
    s.SetComputeSensitivity(true);
    if (spilled) {
      s.SetTempFileDir(dir);
      s.SetMaxRecordsInMemory(1);
    }
  });
  INeuralAlgorithm* a = m.Algorithm().get();
  EXPECT_NE(a, nullptr);
  if (!a) return {};
  EXPECT_TRUE(a->Train(500, 120).IsOK());
  return saved_times::SavedWithoutTimes(*a);
}

// Where two saved forms part, for a failure message that can be acted on.
std::string FirstDifference(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t at = 0;
  while (at < n && a[at] == b[at]) ++at;
  std::ostringstream out;
  out << "sizes " << a.size() << " and " << b.size() << ", first difference at byte " << at;
  if (at < n) {
    const std::size_t from = at >= 24 ? at - 24 : 0;
    out << ", preceded by \"";
    for (std::size_t i = from; i < at; ++i) out << (a[i] >= 32 && a[i] < 127 ? a[i] : '.');
    out << '"';
  }
  return out.str();
}

class ThreadCount : public ::testing::TestWithParam<Method> {};

TEST_P(ThreadCount, SavesTheSameBytesForAnyCount) {
  pass_settings::Restore restore;
  scratch_dir::ScratchDir dir;
  for (PassKernel kernel : VXNeural::AvailablePassKernels()) {
    ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
    for (bool spilled : {false, true}) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(kernel)) +
                   (spilled ? ", in files" : ", in memory"));
      ASSERT_TRUE(VXNeural::SetPassThreads(1));
      const std::string one = TrainedBytes(GetParam(), spilled, dir.Path());
      ASSERT_GT(one.size(), 100u);
      for (int threads : {2, 3, 8}) {
        ASSERT_TRUE(VXNeural::SetPassThreads(threads));
        const std::string many = TrainedBytes(GetParam(), spilled, dir.Path());
        // EXPECT_EQ on the strings would print kilobytes of bytes.
        EXPECT_TRUE(many == one) << threads << " threads; " << FirstDifference(one, many);
      }
      EXPECT_EQ(dir.Count(), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, ThreadCount, ::testing::ValuesIn(Methods()),
                         [](const auto& info) { return std::string(info.param.name); });

// The comparison above hides the optimizer's time and nothing else: two
// saves that differ in that time alone compare equal, and a model trained
// on fewer records still shows.
TEST(SavedWithoutTimes, HidesTheOptimizersTimeOnly) {
  AnyModel m = MakeAny(false, kCategoricalTarget, 200, 0, {});
  auto* a = dynamic_cast<MLPAlgorithm*>(m.Algorithm().get());
  ASSERT_NE(a, nullptr);
  ASSERT_TRUE(a->Train(200, 0).IsOK());
  a->GetOptimizer()->SetElapsedTime(0.001);
  const std::string first = saved_times::SavedWithoutTimes(*a);
  ASSERT_GT(first.size(), 100u);
  a->GetOptimizer()->SetElapsedTime(7.25);
  EXPECT_TRUE(saved_times::SavedWithoutTimes(*a) == first);
  AnyModel other = MakeAny(false, kCategoricalTarget, 200, 0, {});
  ASSERT_TRUE(other.Algorithm()->Train(150, 0).IsOK());
  EXPECT_FALSE(saved_times::SavedWithoutTimes(*other.Algorithm()) == first);
}

TEST(PassThreads, TakesCountsInRangeOnly) {
  pass_settings::Restore restore;
  const struct {
    int threads;
    bool taken;
  } cases[] = {{1, true},  {2, true},   {VXNeural::kMaxPassThreads, true},
               {0, false}, {-1, false}, {VXNeural::kMaxPassThreads + 1, false}};
  ASSERT_TRUE(VXNeural::SetPassThreads(3));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.threads);
    const int before = VXNeural::GetPassThreads();
    EXPECT_EQ(VXNeural::SetPassThreads(c.threads), c.taken);
    EXPECT_EQ(VXNeural::GetPassThreads(), c.taken ? c.threads : before);
  }
  EXPECT_GE(VXNeural::UsableCores(), 1);
}

}  // namespace
