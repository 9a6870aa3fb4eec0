// Scoring one record with a vector kernel (packed weights, all units of a
// layer at once) against the record-by-record layer code and the plain
// reference implementation, for every kernel this machine runs; and the
// packed weights following every way the weights can change.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "mlp_reference.h"
#include "network_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using VXNeural::PassKernel;
using VXNNCommon::ActivationFunction;

// Input rows: dense values, one-of-n groups (mostly zeros, whole pairs of
// zeros among them), an all-zero row, large inputs that saturate TanH and
// take the Sigmoid below its floor, and one input at the missing value.
std::vector<std::vector<double>> InputRows(int inputs) {
  std::vector<std::vector<double>> rows;
  for (const auto& r : MakeRecords(inputs, {}, 6, 3))
    rows.emplace_back(r.GetAll(), r.GetAll() + inputs);
  for (int hot = 0; hot < 3; ++hot) {
    std::vector<double> v(static_cast<std::size_t>(inputs), 0.0);
    for (int i = hot; i < inputs; i += 5) v[static_cast<std::size_t>(i)] = 1.0;
    rows.push_back(v);
  }
  rows.emplace_back(static_cast<std::size_t>(inputs), 0.0);
  std::vector<double> large = rows[0];
  for (double& x : large) x *= 900.0;
  rows.push_back(large);
  std::vector<double> missing = rows[1];
  missing[static_cast<std::size_t>(inputs / 2)] = VXMV::gMissingValue;
  rows.push_back(missing);
  return rows;
}

// Equal within 1e-12 of the larger magnitude (plus 1e-12 absolute), or
// the same infinity or both NaN.
void ExpectSame(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what;
  } else if (std::isinf(want)) {
    EXPECT_EQ(got, want) << what;
  } else {
    EXPECT_NEAR(got, want, 1e-12 * (1.0 + std::fabs(want))) << what;
  }
}

std::vector<double> ScoreWith(PassKernel k, NNetwork& net, const double* x) {
  KernelScope scope(k);
  std::vector<double> out(static_cast<std::size_t>(net.GetNumOutputs()), -7.0);
  VXStatus status(1, false);
  net.Score(status, x, out.data());
  EXPECT_TRUE(status.IsOK());
  return out;
}

class KernelScore : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KernelScore, EqualsTheRecordByRecordForwardPass) {
  const auto& [inputs, hiddenFn, hidden, categories, outputFn] = GetParam();
  auto settings = MakeSettings(inputs, categories, hidden, hiddenFn, outputFn);
  NNetwork net(*settings);
  const std::valarray<double> w = RandomWeights(net.GetNumWeights(), 5, -1.0, 1.0);
  net.SetWeights(w);
  const mlp_reference::Shape shape = ShapeOf(net);
  const auto rows = InputRows(inputs);
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    SCOPED_TRACE(VXNeural::PassKernelName(k));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::vector<double> ref = ScoreWith(PassKernel::kReference, net, rows[r].data());
      const std::vector<double> got = ScoreWith(k, net, rows[r].data());
      ASSERT_EQ(got.size(), ref.size());
      // The plain implementation has no notion of a missing value.
      const bool plain = r + 1 < rows.size();
      const std::vector<double> want =
          plain ? mlp_reference::Forward(shape, w, rows[r].data()) : ref;
      for (std::size_t j = 0; j < ref.size(); ++j) {
        const std::string what = "row " + std::to_string(r) + " unit " + std::to_string(j);
        ExpectSame(got[j], ref[j], what);
        ExpectSame(got[j], want[j], what + " (plain)");
      }
    }
  }
}

// The gradient check's shapes.
INSTANTIATE_TEST_SUITE_P(GradientCheckShapes, KernelScore, GradientCheckShapes(3));

// Layers as wide as and wider than every kernel's widest strip, with ragged
// ends (1 to 7 vectors left over), odd input counts, and Sigmoid outputs.
INSTANTIATE_TEST_SUITE_P(
    WideShapes, KernelScore,
    ::testing::Combine(::testing::Values(1, 64, 77),
                       ::testing::Values(VXNNCommon::kTanH, VXNNCommon::kSigmoid),
                       ::testing::Values(std::vector<int>{32}, std::vector<int>{71, 9}),
                       ::testing::Values(std::vector<int>{10}, std::vector<int>{1, 3}),
                       ::testing::Values(VXNNCommon::kSoftMax, VXNNCommon::kSigmoid)));

// Every way the weights change between two scores; the second score must
// see the new weights, not the packed copy of the old ones.
TEST(KernelScore, FollowsEveryChangeOfTheWeights) {
  auto settings = MakeSettings(6, {3, 1}, {5}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  const struct {
    const char* name;
    std::function<void(NNetwork&)> change;
  } changes[] = {
      {"SetWeights",
       [](NNetwork& n) { n.SetWeights(RandomWeights(n.GetNumWeights(), 9, -2.0, 2.0)); }},
      {"RandomizeWeights",
       [](NNetwork& n) {
         VXRandom rng(4, true);
         n.RandomizeWeights(rng, -2.0, 2.0);
       }},
      {"write through GetWeights", [](NNetwork& n) { n.GetLayer(1)->GetWeights()[3] += 0.75; }},
      {"output weights through GetWeights",
       [](NNetwork& n) { n.GetLayer(2)->GetWeights()[0] -= 1.5; }},
      {"layer SetWeights",
       [](NNetwork& n) {
         std::valarray<double> v(0.25, static_cast<std::size_t>(n.GetLayer(2)->GetNumWeights()));
         n.GetLayer(2)->SetWeights(v, 0);
       }},
      {"ResetAll", [](NNetwork& n) { n.ResetAll(); }},
      {"AddHiddenUnit",
       [](NNetwork& n) {
         VXRandom rng(8, true);
         n.AddHiddenUnit(rng);
       }},
      {"RemoveHiddenUnit", [](NNetwork& n) { n.RemoveHiddenUnit(1); }},
      {"ReadObject of other weights",
       [&settings](NNetwork& n) {
         NNetwork other(*settings);
         other.SetWeights(RandomWeights(other.GetNumWeights(), 13, -1.0, 1.0));
         std::stringstream s;
         other.WriteObject(s);
         n.ReadObject(s);
       }},
  };
  const auto rows = InputRows(6);
  for (PassKernel k : VXNeural::AvailablePassKernels()) {
    if (k == PassKernel::kReference) continue;
    for (const auto& c : changes) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(k)) + ", " + c.name);
      NNetwork net(*settings);
      net.SetWeights(RandomWeights(net.GetNumWeights(), 1, -1.0, 1.0));
      const std::vector<double> before = ScoreWith(k, net, rows[0].data());
      c.change(net);
      const std::vector<double> ref = ScoreWith(PassKernel::kReference, net, rows[0].data());
      ASSERT_NE(ref, before) << "the change must change the scores";
      const std::vector<double> got = ScoreWith(k, net, rows[0].data());
      for (std::size_t j = 0; j < ref.size(); ++j) ExpectSame(got[j], ref[j], std::to_string(j));
    }
  }
}

// Encoding for scoring reads the inputs' linear maps from a copy, in runs
// of neighbouring continuous inputs (here x alone, then z and w); every
// change made through the writable variable list must reach the next
// record, for scoring and for training, and a record too short for a run is
// refused.
TEST(ScoreEncoding, FollowsChangesOfTheEncoders) {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  // The target's field lies between x and z, whose units are neighbours.
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  list.AddContVar("z", "", -2.0, 2.0, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("w", "", -2.0, 2.0, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  MLPSettings settings(list, 10);
  settings.SetStandInputs(VXNNCommon::kMinRange);
  const double m = VXMV::gMissingValue;
  const struct {
    const char* name;
    std::function<void(NNVarList&)> change;
    std::vector<double> units;  // x, z, w, c of the raw record {5, 0, 1, -1, 1}
  } cases[] = {
      {"none", [](NNVarList&) {}, {0.5, 0.75, 0.25, 0, 1, 0}},
      {"user-missing interval on x",
       [](NNVarList& l) { l.SetMissingInterval(0, 4.0, 6.0); },
       {m, 0.75, 0.25, 0, 1, 0}},
      {"user-missing interval on w",
       [](NNVarList& l) { l.SetMissingInterval(3, -1.5, 0.0); },
       {0.5, 0.75, m, 0, 1, 0}},
      {"standardised by mean and deviation",
       [](NNVarList& l) {
         l.SetupContEncoders(VXNNCommon::kMeanStdDev, VXNNCommon::kNoStandardization);
       },
       {0.0, 1.0, -1.0, 0, 1, 0}},
      {"left unchanged",
       [](NNVarList& l) {
         l.SetupContEncoders(VXNNCommon::kNoStandardization, VXNNCommon::kNoStandardization);
       },
       {5.0, 1.0, -1.0, 0, 1, 0}},
  };
  const Record raw(std::vector<double>{5, 0, 1, -1, 1});
  const Record withoutW(std::vector<double>{5, 0, 1});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NNDataPreparator p(list, settings, nullptr, nullptr);
    Record out;
    ASSERT_TRUE(p.EncodeInputs(raw, out).IsOK());
    c.change(p.GetVarList());
    ASSERT_TRUE(p.EncodeInputs(raw, out).IsOK());
    EXPECT_EQ(std::vector<double>(out.GetAll(), out.GetAll() + out.Size()), c.units);
    // Encoding for training reads the replaced encoders too (the input
    // units come first).
    Record full;
    ASSERT_TRUE(p.EncodeRecord(raw, full).IsOK());
    EXPECT_EQ(std::vector<double>(full.GetAll(), full.GetAll() + 6), c.units);
    EXPECT_EQ(p.EncodeInputs(withoutW, out), VXStatus(50018, false));
    EXPECT_EQ(std::vector<double>(out.GetAll(), out.GetAll() + out.Size()),
              std::vector<double>(6, 0.0));
  }
}

}  // namespace
