// NNetwork saved forms: round trips, layout, and refusal of truncated and
// corrupted streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "network_fixtures.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace network_fixtures;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// A trained-looking network: drawn weights, an error, averages and flags.
class SavedNetwork : public ::testing::Test {
 protected:
  SavedNetwork()
      : settings(MakeSettings(3, {3, 1}, {4}, VXNNCommon::kSigmoid, VXNNCommon::kIdentity)),
        net(*settings),
        records(MakeRecords(3, {3, 1}, 20, 2)) {
    VXRandom rng(99, true);
    net.RandomizeWeights(rng);
    auto source = VectorRecordIter::Borrow(records);
    VXStatus status;
    int n = 0;
    net.SetComputeAverages(true);
    net.ProcessRecords(status, source, 1000, n, false, true);
    net.SetComputeErrorAverages(true);
    source.Rewind();
    net.ProcessRecords(status, source, 1000, n, false, true);
  }

  void ExpectSameNetwork(NNetwork& back) {
    EXPECT_EQ(back.GetAlgorithmType(), net.GetAlgorithmType());
    EXPECT_EQ(back.GetNumLayers(), net.GetNumLayers());
    EXPECT_EQ(back.GetNumInputs(), net.GetNumInputs());
    EXPECT_EQ(back.GetNumOutputs(), net.GetNumOutputs());
    EXPECT_EQ(back.GetNumOutputCategories(), net.GetNumOutputCategories());
    EXPECT_EQ(back.GetOutputType(), net.GetOutputType());
    EXPECT_EQ(back.GetErrorFunction(), net.GetErrorFunction());
    EXPECT_EQ(back.GetNumWeights(), net.GetNumWeights());
    EXPECT_EQ(back.GetAccumError(), net.GetAccumError());
    EXPECT_EQ(back.GetErrorAverages(), net.GetErrorAverages());
    EXPECT_EQ(back.GetComputeAverages(), net.GetComputeAverages());
    EXPECT_EQ(back.GetComputeErrorAverages(), net.GetComputeErrorAverages());
    ASSERT_EQ(back.GetOutputAverages().size(), net.GetOutputAverages().size());
    for (std::size_t k = 0; k < net.GetOutputAverages().size(); ++k)
      EXPECT_EQ(back.GetOutputAverages()[k], net.GetOutputAverages()[k]);
    std::valarray<double> a, b;
    net.GetWeights(a);
    back.GetWeights(b);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i], b[i]);
    for (int l = 1; l <= back.GetNumLayers(); ++l) {
      const auto* layer = dynamic_cast<const MLPLayer*>(back.GetLayer(l));
      ASSERT_TRUE(layer);
      EXPECT_EQ(layer->GetLowerLayer(), back.GetLayer(l - 1));
    }
    EXPECT_EQ(back.GetAccuracy(), 0.0);
    VXStatus status;
    std::vector<double> x(4), y(4);
    for (const auto& r : records) {
      net.Score(status, r.GetAll(), x.data());
      back.Score(status, r.GetAll(), y.data());
      EXPECT_EQ(x, y);
    }
  }

  std::unique_ptr<MLPSettings> settings;
  NNetwork net;
  std::vector<VXCommon_1_2::Record> records;
};

TEST_F(SavedNetwork, BinaryRoundTrip) {
  ASSERT_NE(net.GetAccuracy(), 0.0);
  std::stringstream s;
  const int bytes = net.WriteObject(s);
  EXPECT_EQ(bytes, static_cast<int>(s.str().size()));
  const std::string b = s.str();
  EXPECT_EQ(b.substr(0, 12), std::string("NNet\x01\0\0\0\x02\0\0\0", 12));
  EXPECT_EQ(b.substr(12, 6), "MLPLay");
  // Layers of 42, 38 + 8 * 16 + 4 and 38 + 8 * 20 + 4 + 8 bytes, then the counts.
  const std::size_t tail = 12 + 42 + 170 + 210;
  EXPECT_EQ(b.substr(tail, 12), std::string("\x03\0\0\0\x04\0\0\0\x02\0\0\0", 12));
  EXPECT_EQ(b.size(), tail + 12 + 8 + 12 + 8 + 32 + 8 + 8);

  auto other = MakeSettings(1, {1}, {}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork back(*other);  // its layers are replaced
  EXPECT_EQ(back.ReadObject(s), bytes);
  ExpectSameNetwork(back);
}

TEST_F(SavedNetwork, XmlRoundTrip) {
  std::stringstream s;
  const int values = net.WriteObjectXML(s);
  // 2 + layers (7, 6 + 16 + 1, 6 + 20 + 1 + 2) + 3 + 2 + 3 + 1 + 4 + 3.
  EXPECT_EQ(values, 2 + 7 + 23 + 29 + 3 + 2 + 3 + 1 + 4 + 3);
  NNetwork back;
  EXPECT_EQ(back.ReadObjectXML(s), values);
  ExpectSameNetwork(back);
}

TEST(NetworkPersist, EmptyNetworkRoundTrips) {
  NNetwork empty;
  std::stringstream bin, xml;
  empty.WriteObject(bin);
  empty.WriteObjectXML(xml);
  auto settings = MakeSettings(2, {1}, {1}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork a(*settings), b(*settings);
  a.ReadObject(bin);
  b.ReadObjectXML(xml);
  EXPECT_EQ(a.GetLayer(0), nullptr);
  EXPECT_EQ(b.GetLayer(0), nullptr);
  EXPECT_EQ(a.GetNumWeights(), 0);
}

// Runs a reader on a damaged stream: it must throw, write exactly one of
// the allowed messages, and leave the network as it was.
template <typename Read>
void ExpectRefused(NNetwork& target, Read read, const std::vector<std::string>& messages,
                   const std::string& what) {
  std::valarray<double> before, after;
  target.GetWeights(before);
  bool threw = false;
  const std::string message = CaptureStderr([&] { threw = ThrowsIOException(read); });
  EXPECT_TRUE(threw) << what;
  EXPECT_NE(std::find(messages.begin(), messages.end(), message), messages.end())
      << what << ": " << message;
  target.GetWeights(after);
  ASSERT_EQ(before.size(), after.size()) << what;
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i], after[i]) << what;
}

TEST_F(SavedNetwork, TruncatedStreamsAreRefused) {
  std::stringstream bin, xml;
  net.WriteObject(bin);
  net.WriteObjectXML(xml);
  const std::string b = bin.str(), x = xml.str();
  auto small = MakeSettings(1, {1}, {1}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork target(*small);
  VXRandom rng(4, true);
  target.RandomizeWeights(rng);
  for (std::size_t n = 0; n < b.size(); ++n) {
    std::stringstream cut(b.substr(0, n));
    ExpectRefused(
        target, [&] { target.ReadObject(cut); },
        {"Error reading NNetwork!\n", "Error reading MLPLayer!\n"}, "binary " + std::to_string(n));
  }
  for (std::size_t n = 0; n < x.rfind('>'); n += 5) {
    std::stringstream cut(x.substr(0, n));
    ExpectRefused(
        target, [&] { target.ReadObjectXML(cut); },
        {"Failure reading NNetwork!\n", "Failure reading MLPLayer!\n"}, "xml " + std::to_string(n));
  }
}

std::string WithInt(std::string bytes, std::size_t at, int value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<std::size_t>(i)] =
        static_cast<char>((static_cast<unsigned>(value) >> (8 * i)) & 0xff);
  return bytes;
}

TEST_F(SavedNetwork, CorruptedStreamsAreRefused) {
  std::stringstream bin;
  net.WriteObject(bin);
  const std::string b = bin.str();
  const std::size_t hidden = 12 + 42, output = hidden + 170, tail = output + 210;
  std::string badTag = b;
  badTag[2] = 'X';
  const std::vector<std::pair<std::string, std::string>> corrupt = {
      {badTag, "tag"},
      {WithInt(b, 4, 2), "RBF layers are not available"},
      {WithInt(b, 4, 5), "algorithm type"},
      {WithInt(b, 8, -1), "negative layer count"},
      {WithInt(b, 8, 1), "fewer layers than saved"},
      {WithInt(b, 8, 100000), "more layers than the stream holds"},
      {WithInt(b, tail, 4), "inputs differ from the input layer"},
      {WithInt(b, tail + 4, 3), "outputs differ from the output layer"},
      {WithInt(b, tail + 8, 1 << 19), "more variables than the stream holds"},
      {WithInt(b, tail + 8, 3), "variables differ from the categories"},
      {WithInt(b, tail + 12, 2), "categories do not add up to the outputs"},
      {WithInt(b, tail + 20, 4), "output type"},
      {WithInt(b, tail + 24, 2), "error function"},
      {WithInt(b, tail + 28, 50), "weight count"},
      // The hidden layer's units: the output layer no longer fits on it.
      {WithInt(b, hidden + 10, 3), "layer chain"},
      // The output layer saved as hidden.
      {WithInt(b, output + 6, 1), "layer types"},
  };
  auto small = MakeSettings(1, {1}, {1}, VXNNCommon::kTanH, VXNNCommon::kIdentity);
  NNetwork target(*small);
  for (const auto& [bytes, what] : corrupt) {
    std::stringstream in(bytes);
    ExpectRefused(
        target, [&] { target.ReadObject(in); },
        {"Error reading NNetwork!\n", "Error reading MLPLayer!\n"}, what);
    EXPECT_EQ(target.GetNumInputs(), 1) << what;
  }

  std::stringstream wrongName;
  {
    VXXML_1_2::XMLObj obj("MLPLayer", 1);
    obj.StartObj(wrongName);
    obj.EndObj(wrongName);
  }
  ExpectRefused(
      target, [&] { target.ReadObjectXML(wrongName); }, {"Failure reading NNetwork!\n"},
      "xml name");
}

}  // namespace
