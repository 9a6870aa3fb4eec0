// NNetwork saved forms: refusal of truncated and corrupted streams (the
// layouts and what they read back: layout_test.cpp).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "network_fixtures.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using namespace saved_forms;
using stream_faults::WithInt32;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

const std::vector<std::string> kBinaryMessages = {"Error reading NNetwork!\n",
                                                  "Error reading MLPLayer!\n"};
const std::vector<std::string> kXmlMessages = {"Failure reading NNetwork!\n",
                                               "Failure reading MLPLayer!\n"};

// A trained-looking network: drawn weights, an error, averages and flags.
class SavedNetwork : public ::testing::Test {
 protected:
  SavedNetwork()
      : settings(MakeSettings(3, {3, 1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity)),
        small(MakeSettings(1, {1}, {1}, VXNNCommon::kTanH, VXNNCommon::kIdentity)),
        net(*settings),
        target(*small),
        records(MakeRecords(3, {3, 1}, 20, 2)) {
    VXRandom rng(99, true);
    net.RandomizeWeights(rng);
    target.RandomizeWeights(rng);
    auto source = VectorRecordIter::Borrow(records);
    VXStatus status;
    int n = 0;
    net.SetComputeAverages(true);
    net.ProcessRecords(status, source, 1000, n, false, true);
    net.SetComputeErrorAverages(true);
    source.Rewind();
    net.ProcessRecords(status, source, 1000, n, false, true);
  }

  std::unique_ptr<MLPSettings> settings, small;
  NNetwork net, target;
  std::vector<VXCommon_1_2::Record> records;
};

TEST_F(SavedNetwork, DamagedStreamsAreRefusedAndChangeNothing) {
  ExpectReadersRobust(net, target, kBinaryMessages, kXmlMessages);
  const std::string b = Saved(net, false);
  const std::size_t hidden = 12 + 42, output = hidden + 170, tail = output + 210;
  ExpectAllRefused(
      target, false,
      {stream_faults::Replaced(b, "NNet", "NNXt"), WithInt32(b, 4, 5),  // algorithm type
       WithInt32(b, 8, -1),                                             // negative layer count
       WithInt32(b, 8, 1),                                              // fewer layers than saved
       WithInt32(b, 8, 100000),          // more layers than the stream holds
       WithInt32(b, tail, 4),            // inputs differ from the input layer
       WithInt32(b, tail + 4, 3),        // outputs differ from the output layer
       WithInt32(b, tail + 8, 1 << 19),  // more variables than the stream holds
       WithInt32(b, tail + 8, 3),        // variables differ from the categories
       WithInt32(b, tail + 12, 2),       // categories do not add up to the outputs
       WithInt32(b, tail + 20, 4),       // output type
       WithInt32(b, tail + 24, 2),       // error function
       WithInt32(b, tail + 28, 50),      // weight count
       // The hidden layer's units: the output layer no longer fits on it.
       WithInt32(b, hidden + 10, 3),
       // The output layer saved as hidden.
       WithInt32(b, output + 6, 1)},
      kBinaryMessages);
  // MLP layers labelled as an RBF network: the RBF input layer's reader
  // meets an MLP layer's tag.
  ExpectAllRefused(target, false, {WithInt32(b, 4, 2)}, {"Error reading RBFInputLayer!\n"});
  ExpectAllRefused(target, true,
                   {stream_faults::Replaced(Saved(net, true), "NNetwork", "MLPLayer")},
                   {"Failure reading NNetwork!\n"});
}

}  // namespace
