// Whole training runs with each pass kernel: the same model as the
// record-by-record reference up to the drift that reordered additions
// cause, and the same model bit for bit when a run is repeated with the
// same kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;
using VXNeural::PassKernel;

// Records of three inputs and a three-class target (the nearest of three
// directions), one-of-n encoded.
std::vector<Record> ClassRecords(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    const double x[3] = {u(gen), u(gen), u(gen)};
    const double s[3] = {x[0] + 0.3 * x[1], x[1] - x[2], x[2] - 0.5 * x[0]};
    const int hot = s[0] > s[1] ? (s[0] > s[2] ? 0 : 2) : (s[1] > s[2] ? 1 : 2);
    records.emplace_back(std::vector<double>{x[0], x[1], x[2], hot == 0 ? 1.0 : 0.0,
                                             hot == 1 ? 1.0 : 0.0, hot == 2 ? 1.0 : 0.0});
  }
  return records;
}

struct Outcome {
  std::valarray<double> weights;
  double error = 0.0;
  int passes = 0;
};

Outcome Train(PassKernel kernel, Problem problem) {
  const PassKernel before = VXNeural::GetPassKernel();
  EXPECT_TRUE(VXNeural::SetPassKernel(kernel));
  Trainee<ScaledConjGrad> t(std::move(problem));
  t.settings->SetMaxNDataPasses(60);
  EXPECT_TRUE(t.Run().IsOK());
  VXNeural::SetPassKernel(before);
  return {WeightsOf(*t.net), t.opt->GetTrainError(), t.opt->GetNDataPasses()};
}

TEST(KernelTraining, SameModelAsTheReferenceAndRepeatable) {
  const struct {
    const char* name;
    std::function<Problem()> make;
  } problems[] = {
      {"regression 2-7-1",
       [] {
         return Problem(
             2, {1}, {7}, VXNNCommon::kIdentity,
             SampledRecords(250, 5, [](double a, double b) { return std::sin(2 * a) * b; }), 3);
       }},
      {"classes 3-6-4-3",
       [] {
         return Problem(3, {3}, {6, 4}, VXNNCommon::kSoftMax, ClassRecords(230, 8), 4);
       }},
  };
  for (const auto& p : problems) {
    SCOPED_TRACE(p.name);
    const Outcome ref = Train(PassKernel::kReference, p.make());
    // Training moved the weights well away from where it started.
    ASSERT_GT(Norm(ref.weights - p.make().initial), 0.5);
    for (PassKernel k : VXNeural::AvailablePassKernels()) {
      if (k == PassKernel::kReference) continue;
      SCOPED_TRACE(VXNeural::PassKernelName(k));
      const Outcome first = Train(k, p.make());
      const Outcome again = Train(k, p.make());
      ExpectWeightsNear(again.weights, first.weights, 0.0);
      EXPECT_EQ(again.error, first.error);
      EXPECT_EQ(first.passes, ref.passes);
      // Sixty passes of conjugate directions amplify last-bit differences
      // to about 1e-8 here; a wrong sum anywhere would give another model.
      EXPECT_NEAR(first.error, ref.error, 1e-6 * ref.error);
      ExpectWeightsNear(first.weights, ref.weights, 1e-6 * Norm(ref.weights));
    }
  }
}

}  // namespace
