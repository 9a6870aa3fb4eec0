// The saved forms of the network, its MLP and RBF layers and the generator:
// layouts field by field against records assembled here, and refusal of
// truncated, corrupted and implausible streams.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "common/stream_faults.h"
#include "network_fixtures.h"
#include "record_fields.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/RBFOutputLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using namespace saved_forms;
using layouts::Bytes;
using record_fields::Close;
using record_fields::ExpectFields;
using record_fields::Open;
using stream_faults::Replaced;
using stream_faults::WithInt32;

TEST(NetworkLayouts, NetworkWithItsLayers) {
  // One input, one TanH hidden unit, two SoftMax outputs: 2 + 4 weights.
  const auto settings = MakeSettings(1, {2}, {1}, VXNNCommon::kTanH, VXNNCommon::kSoftMax);
  NNetwork net(*settings);
  net.SetWeights(std::valarray<double>{0.125, -0.25, 0.5, -1.0, 2.0, -4.0});
  net.SetAccumError(2.5);
  net.SetComputeAverages(true);
  const auto& in = dynamic_cast<const MLPLayer&>(*net.GetLayer(0));
  const std::vector<double> averages(std::begin(net.GetOutputAverages()),
                                     std::end(net.GetOutputAverages()));
  ASSERT_EQ(averages.size(), 2u);
  // One record per layer: type, units, lower units, activation, the initial
  // weight range, the weights when not an input layer, the category counts.
  const auto layer = [](auto& s, int type, int units, int lower, int f, double low, double high,
                        const std::vector<double>& w, const std::vector<int>& categories) {
    Open(s, "MLPLay", "MLPLayer").I(type).I(units).I(lower).I(f).D(low).D(high).Ds(w);
    Close(s.I(static_cast<int>(categories.size())).Is(categories));
  };
  const auto other = MakeSettings(3, {1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  ExpectFields(
      net, [&] { return std::make_unique<NNetwork>(*other); }, "NNet", "NNetwork",
      [&](auto& s) {
        layer(s.I(1).I(2), 0, 1, in.GetNumUnitsLower(), in.GetActivationFunction(),
              in.GetInitWeightLower(), in.GetInitWeightUpper(), {}, {});
        layer(s, 1, 1, 2, VXNNCommon::kTanH, -0.5, 0.5, {0.125, -0.25}, {});
        layer(s, 2, 2, 2, VXNNCommon::kSoftMax, -0.5, 0.5, {0.5, -1.0, 2.0, -4.0}, {2});
        // Inputs, outputs, output variables, their categories, categorical
        // output type, cross entropy, weights, error, averages, the flags.
        s.I(1).I(2).I(1).I(2).I(1).I(1).I(6).D(2.5).Ds(averages).D(net.GetErrorAverages());
        s.I(1).I(0);
      });
}

// Every count differs from its neighbours, so that two fields saved in each
// other's place show. The layers' XML writers also count their two object
// marks.
constexpr int kNormalized = VXNNCommon::kNormalizedRadialBasis;

TEST(NetworkLayouts, RBFLayers) {
  RBFInputLayer in(2);
  // Hidden: units, lower units, activation, centres, the centres' values,
  // held variance vectors (none), one squared width per centre.
  RBFHiddenLayer hidden(3, &in, VXNNCommon::kNormalizedRadialBasis);
  hidden.SetWeights(std::valarray<double>{1, 2, 3, 4, 5, 6, 0.5, 0.25, 2}, 0);
  // Output: units, lower units, the hidden activation, the weights (no bias
  // column under normalised units), the category counts.
  RBFOutputLayer out(2, &hidden, {2});
  out.SetWeights(std::valarray<double>{-1, -2, -3, -4, -5, -6}, 0);
  ExpectFields(
      in, [] { return std::make_unique<RBFInputLayer>(7); }, "RBFInp", "RBFInputLayer",
      [](auto& s) { s.I(2); }, 2);
  ExpectFields(
      hidden, [&] { return std::make_unique<RBFHiddenLayer>(&in); }, "RBFHid", "RBFHiddenLayer",
      [](auto& s) {
        s.I(3).I(2).I(kNormalized).I(3).Ds({1, 2, 3, 4, 5, 6}).I(0).Ds({.5, .25, 2});
      },
      2);
  ExpectFields(
      out, [&] { return std::make_unique<RBFOutputLayer>(&hidden); }, "RBFOut", "RBFOutputLayer",
      [](auto& s) {
        s.I(2).I(3).I(kNormalized).I(6).Ds({-1, -2, -3, -4, -5, -6}).I(1).I(2);
      },
      2);

  // Before the widths are computed the variance vectors are held instead.
  RBFInputLayer one(1);
  RBFHiddenLayer pending(2, &one, VXNNCommon::kRadialBasis);
  pending.SetNumCenters(2) = {{7}, {8}};
  pending.PrepareVarianceVectors() = {{0.5}, {0.75}};
  ExpectFields(
      pending, [&] { return std::make_unique<RBFHiddenLayer>(&one); }, "RBFHid", "RBFHiddenLayer",
      [](auto& s) {
        s.I(2).I(1).I(VXNNCommon::kRadialBasis).I(2).Ds({7, 8}).I(2).Ds({.5, .75});
      },
      2);

  // Counts that do not fit together: more centres than units, an output
  // weight count off the layout rule, an MLP activation.
  RBFHiddenLayer plain(3, &in, VXNNCommon::kRadialBasis);
  plain.SetWeights(std::valarray<double>{1, 2, 0, 0, 3, 2, 1, 2.5, 4}, 0);
  RBFHiddenLayer hiddenTarget(&in);
  RBFOutputLayer outTarget(&plain);
  const int rbf = VXNNCommon::kRadialBasis, mlp = VXNNCommon::kTanH;
  ExpectAllRefused(hiddenTarget, false,
                   {Bytes().Tag("RBFHid").I(1).I(2).I(rbf).I(2).Ds({1, 2, 3, 4}).I(0).Ds({1, 1}).s},
                   {"Error reading RBFHiddenLayer!\n"});
  ExpectAllRefused(outTarget, false,
                   {Bytes().Tag("RBFOut").I(1).I(2).I(rbf).I(2).Ds({1, 2}).I(1).I(1).s,
                    Bytes().Tag("RBFOut").I(1).I(2).I(mlp).I(3).Ds({1, 2, 3}).I(1).I(1).s},
                   {"Error reading RBFOutputLayer!\n"});
}

// An RBF hidden layer's units without a centre are held in memory but not
// stored in the layer's own record, so a damaged count must be refused
// before it sizes anything. The record: units, lower units, Radial Basis,
// centres, their values (all 0.5), one variance per centre, then what
// follows the layer in a saved network (the output layer's weights).
TEST(RBFHiddenLayerBounds, UnbackedCountsAreRefused) {
  const struct {
    const char* what;
    bool linked;  // read by a layer linked to a 2-unit input layer
    int units, lower, centres, trailing;
    bool refused;
  } cases[] = {
      {"every unit placed", true, 3, 2, 3, 0, false},
      {"unplaced units backed by what follows", true, 5, 2, 3, 2, false},
      {"unplaced units beyond what the stream holds", true, 20, 2, 1, 0, true},
      {"a million unplaced units", true, 1 << 20, 2, 0, 8, true},
      {"lower width differs from the linked layer", true, 3, 3, 3, 0, true},
      {"unlinked: unplaced values backed", false, 3, 2, 1, 4, false},
      {"unlinked: wide lower with no centre", false, 2, 1 << 24, 0, 8, true},
  };
  for (const auto& c : cases) {
    Bytes b;
    b.Tag("RBFHid").I(c.units).I(c.lower).I(VXNNCommon::kRadialBasis).I(c.centres);
    b.Ds(std::vector<double>(static_cast<std::size_t>(c.centres * c.lower), 0.5));
    b.I(0).Ds(std::vector<double>(static_cast<std::size_t>(c.centres), 1.0));
    b.Ds(std::vector<double>(static_cast<std::size_t>(c.trailing), 0.0));
    RBFInputLayer input(2);
    RBFHiddenLayer layer(c.linked ? &input : nullptr);
    const auto outcome =
        stream_faults::ReadFrom(b.s, [&](std::istream& s) { layer.ReadObject(s); });
    EXPECT_EQ(outcome.threw, c.refused) << c.what;
    EXPECT_EQ(outcome.err, c.refused ? "Error reading RBFHiddenLayer!\n" : "") << c.what;
    if (!c.refused) {
      EXPECT_EQ(layer.GetNumUnits(), c.units) << c.what;
    }
  }
}

TEST(MLPLayerPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0);
  MLPLayer layer(VXNNCommon::kOutputLayer, 3, &input, VXNNCommon::kSoftMax, {2, 1}, -0.3, 0.7);
  layer.SetWeights({1.5, -2.25, 3.125, 0.1, 0.2, 0.3, -1e-300, 1e300, 4.0}, 0);
  const std::string binary = "Error reading MLPLayer!\n", xml = "Failure reading MLPLayer!\n";
  MLPLayer target(VXNNCommon::kHiddenLayer, 1, &input, VXNNCommon::kTanH, 0, 0);
  ExpectReadersRobust(layer, target, {binary}, {xml});
  const std::string b = Saved(layer, false);
  ExpectAllRefused(target, false,
                   {Replaced(b, "MLPLay", "MLPLaX"),        // tag
                    WithInt32(b, 6, 7),                     // layer type
                    WithInt32(b, 10, -1),                   // units
                    WithInt32(b, 10, 1 << 30),              // units beyond any plausible layer
                    WithInt32(b, 14, 0),                    // no bias column on an output layer
                    WithInt32(b, 14, 1 << 20),              // more weights than the stream holds
                    WithInt32(b, 18, 9),                    // activation
                    WithInt32(b, 110, -3),                  // category count
                    WithInt32(b, 110, 1 << 19),             // categories beyond the stream
                    WithInt32(b, 114, 3),                   // groups do not add up to the units
                    WithInt32(WithInt32(b, 6, 1), 18, 2)},  // SoftMax on a hidden layer
                   {binary});
  ExpectAllRefused(target, true, {Replaced(Saved(layer, true), "MLPLayer", "NNetwork")}, {xml});
}

TEST(NetworkPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  // A trained-looking network: drawn weights, an error, averages and flags.
  const auto settings = MakeSettings(3, {3, 1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity);
  const auto small = MakeSettings(1, {1}, {1}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork net(*settings), target(*small);
  VXRandom rng(99, true);
  net.RandomizeWeights(rng);
  target.RandomizeWeights(rng);
  const auto records = MakeRecords(3, {3, 1}, 20, 2);
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  VXCommon_1_2::VXStatus status;
  int n = 0;
  net.SetComputeAverages(true);
  net.ProcessRecords(status, source, 1000, n, false, true);
  net.SetComputeErrorAverages(true);
  source.Rewind();
  net.ProcessRecords(status, source, 1000, n, false, true);

  const std::vector<std::string> binary = {"Error reading NNetwork!\n",
                                           "Error reading MLPLayer!\n"};
  ExpectReadersRobust(net, target, binary,
                      {"Failure reading NNetwork!\n", "Failure reading MLPLayer!\n"});
  const std::string b = Saved(net, false);
  const std::size_t hidden = 12 + 42, output = hidden + 170, tail = output + 210;
  ExpectAllRefused(target, false,
                   {Replaced(b, "NNet", "NNXt"), WithInt32(b, 4, 5),  // algorithm type
                    WithInt32(b, 8, -1),                              // negative layer count
                    WithInt32(b, 8, 1),                               // fewer layers than saved
                    WithInt32(b, 8, 100000),          // more layers than the stream holds
                    WithInt32(b, tail, 4),            // inputs differ from the input layer
                    WithInt32(b, tail + 4, 3),        // outputs differ from the output layer
                    WithInt32(b, tail + 8, 1 << 19),  // more variables than the stream holds
                    WithInt32(b, tail + 8, 3),        // variables differ from the categories
                    WithInt32(b, tail + 12, 2),       // categories do not add up to the outputs
                    WithInt32(b, tail + 20, 4),       // output type
                    WithInt32(b, tail + 24, 2),       // error function
                    WithInt32(b, tail + 28, 50),      // weight count
                    WithInt32(b, hidden + 10, 3),     // hidden units: the output layer misfits
                    WithInt32(b, output + 6, 1)},     // the output layer saved as hidden
                   binary);
  // MLP layers labelled as an RBF network: the RBF input layer's reader
  // meets an MLP layer's tag.
  ExpectAllRefused(target, false, {WithInt32(b, 4, 2)}, {"Error reading RBFInputLayer!\n"});
  ExpectAllRefused(target, true, {Replaced(Saved(net, true), "NNetwork", "MLPLayer")},
                   {"Failure reading NNetwork!\n"});
}

TEST(RandomPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  const VXRandom a(123, true);
  const std::string binary = "Error reading VXRandom!\n";
  VXRandom b(9, false);
  ExpectReadersRobust(a, b, {binary}, {"Failure reading VXRandom!\n"});
  // A wrong tag, and seeds no writer produces: negative, beyond 32 bits, not a number.
  std::vector<std::string> damaged = {Replaced(Saved(a, false), "VXRa", "VXRb")};
  for (double bad : {-5.0, 4294967296.0, std::numeric_limits<double>::quiet_NaN()}) {
    damaged.push_back(Saved(a, false));
    std::memcpy(&damaged.back()[4], &bad, 8);
  }
  ExpectAllRefused(b, false, damaged, {binary});
}

}  // namespace
