// GradientDescentBatch saved forms: layout, round trips with and without a
// mini-batch buffer, and refusal of truncated and corrupted streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "optim_fixtures.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/optim/GradientDescentBatch.h"

namespace {

using namespace optim_fixtures;

const char kBinaryMessage[] = "Error reading GradientDescentBatch!\n";
const char kXmlMessage[] = "Failure reading GradientDescentBatch!\n";

// A trained optimizer, optionally with records waiting in its mini-batch
// buffer.
class SavedOptimizer : public ::testing::TestWithParam<bool> {
 protected:
  SavedOptimizer()
      : settings(MakeSettings(2, {1}, {3}, VXNNCommon::kIdentity, 40)),
        net(*settings),
        gdb(settings.get(), &net) {
    net.SetWeights(UniformWeights(net.GetNumWeights(), 3, -0.5, 0.5));
    settings->SetMaxNDataPasses(6);
    auto train = VectorRecordIter::Borrow(records);
    VXStatus status;
    gdb.Train(status, train, nullptr, 1000, 0);
    if (GetParam()) {
      settings->SetUpdateType(VXNNCommon::kMiniBatch);
      settings->SetMiniBatchSize(8);
      auto fresh = VectorRecordIter(LinearRecords(1, 5));
      bool changed = false;
      gdb.Update(status, train, fresh, 1, changed);
    }
  }

  // The display without the buffer's addresses, which differ between
  // copies.
  std::string Shown(const GradientDescentBatch& g) const {
    std::ostringstream out;
    g.Display(out);
    std::istringstream lines(out.str());
    std::string line, kept;
    while (std::getline(lines, line))
      if (line.rfind("fpBuffer", 0) != 0 && line.rfind("fpCurRecord", 0) != 0) kept += line + '\n';
    return kept;
  }
  std::string Binary() const {
    std::stringstream s;
    gdb.WriteObject(s);
    return s.str();
  }
  std::string Xml() const {
    std::stringstream s;
    gdb.WriteObjectXML(s);
    return s.str();
  }

  // Reading text into a fresh optimizer must fail with one of the messages
  // and leave it as it was.
  void ExpectRefused(const std::string& text, bool xml, const std::vector<std::string>& messages) {
    GradientDescentBatch target(settings.get(), &net);
    const std::string before = Shown(target);
    std::stringstream in(text);
    bool threw = false;
    const std::string err = CaptureStderr([&] {
      threw = ThrowsIOException([&] { xml ? target.ReadObjectXML(in) : target.ReadObject(in); });
    });
    ASSERT_TRUE(threw) << "accepted a stream of " << text.size() << " bytes";
    bool known = false;
    for (const std::string& m : messages) known = known || err == m;
    EXPECT_TRUE(known) << err;
    EXPECT_EQ(Shown(target), before);
  }

  std::unique_ptr<MLPSettings> settings;
  NNetwork net;
  GradientDescentBatch gdb;
  std::vector<Record> records = LinearRecords(40, 7);
};

TEST_P(SavedOptimizer, BinaryLayout) {
  const std::string bytes = Binary();
  std::stringstream again;
  const int written = gdb.WriteObject(again);
  EXPECT_EQ(written, static_cast<int>(bytes.size()));
  const int g = net.GetNumWeights();
  const std::size_t fixed = 3 + 4 + 4 + 8 + 3 * 4 + 7 * 8 + 4 + 8 * g + 8 + 4;
  EXPECT_EQ(bytes.substr(0, 3), "GDB");
  int32_t length = 0;
  std::memcpy(&length, bytes.data() + 87, 4);
  EXPECT_EQ(length, g);
  double first = 0.0;
  std::memcpy(&first, bytes.data() + 91, 8);
  EXPECT_EQ(first, gdb.GetAccumGradient()[0]);
  if (!GetParam()) {
    EXPECT_EQ(bytes.size(), fixed);
  } else {
    int32_t width = 0;
    std::memcpy(&width, bytes.data() + fixed, 4);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(bytes.substr(fixed + 4, 3), "RBI");
  }
}

TEST_P(SavedOptimizer, BothFormsRoundTrip) {
  for (const bool xml : {false, true}) {
    SCOPED_TRACE(xml ? "XML" : "binary");
    std::stringstream s;
    const int written = xml ? gdb.WriteObjectXML(s) : gdb.WriteObject(s);
    GradientDescentBatch back(settings.get(), &net);
    EXPECT_EQ(xml ? back.ReadObjectXML(s) : back.ReadObject(s), written);
    EXPECT_EQ(Shown(back), Shown(gdb));
    EXPECT_EQ(back.GetAccumError(), gdb.GetAccumError());
    EXPECT_EQ(back.GetNRecordsProcessed(), gdb.GetNRecordsProcessed());
    EXPECT_EQ(back.GetAccuracy(), 0.0) << "the accuracy is not saved";
    ASSERT_EQ(back.GetRecordBuffer() != nullptr, GetParam());
    if (GetParam()) {
      EXPECT_EQ(back.GetRecordBuffer()->GetCount(), 1);
      EXPECT_EQ(back.GetRecordBuffer()->GetCapacity(), 8);
      EXPECT_EQ((*back.GetRecordBuffer()->GetRecordAt(0))[2],
                (*gdb.GetRecordBuffer()->GetRecordAt(0))[2]);
    }
    // Reading replaces a buffer the reader had.
    std::stringstream plain;
    GradientDescentBatch(settings.get(), &net).WriteObject(plain);
    back.ReadObject(plain);
    EXPECT_EQ(back.GetRecordBuffer(), nullptr);
  }
}

TEST_P(SavedOptimizer, TruncatedStreamsAreRefused) {
  const std::vector<std::string> binaryMessages = {kBinaryMessage,
                                                   "Error reading RecordBufferIter!\n"};
  const std::string bytes = Binary();
  for (std::size_t cut = 0; cut < bytes.size(); ++cut)
    ExpectRefused(bytes.substr(0, cut), false, binaryMessages);
  const std::vector<std::string> xmlMessages = {
      kXmlMessage, "Error restoring VXNeural::RecordBufferIter from XML.\n"};
  const std::string xml = Xml();
  for (std::size_t cut = 0; cut < xml.size(); cut += 7)
    ExpectRefused(xml.substr(0, cut), true, xmlMessages);
}

TEST_P(SavedOptimizer, CorruptedBinaryStreamsAreRefused) {
  const std::string good = Binary();
  const std::size_t g = static_cast<std::size_t>(net.GetNumWeights());
  const std::size_t miniBatchAt = 99 + 8 * g;
  auto patchInt = [&](std::size_t at, int32_t v) {
    std::string s = good;
    std::memcpy(&s[at], &v, 4);
    return s;
  };
  std::string wrongTag = good;
  wrongTag[2] = 'X';
  ExpectRefused(wrongTag, false, {kBinaryMessage});
  ExpectRefused(patchInt(3, 9), false, {kBinaryMessage});   // no such status
  ExpectRefused(patchInt(7, -1), false, {kBinaryMessage});  // no such reason
  ExpectRefused(patchInt(87, static_cast<int32_t>(g) - 1), false, {kBinaryMessage});
  ExpectRefused(patchInt(87, -5), false, {kBinaryMessage});
  ExpectRefused(patchInt(87, 0x7fffffff), false, {kBinaryMessage});
  ExpectRefused(patchInt(miniBatchAt, -1), false, {kBinaryMessage});
  if (GetParam()) {
    ExpectRefused(patchInt(miniBatchAt + 4, 4), false, {kBinaryMessage});  // width
    ExpectRefused(patchInt(miniBatchAt, 9), false, {kBinaryMessage});      // capacity differs
  } else {
    // A claimed buffer that is not there.
    ExpectRefused(patchInt(miniBatchAt, 3), false, {kBinaryMessage});
  }
}

TEST_P(SavedOptimizer, EverySingleByteCorruptionReadsOrFailsCleanly) {
  const std::string good = Binary();
  for (std::size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x5a);
    GradientDescentBatch target(settings.get(), &net);
    std::stringstream in(bad);
    CaptureStderr([&] { ThrowsIOException([&] { target.ReadObject(in); }); });
  }
}

TEST_P(SavedOptimizer, CorruptedXmlIsRefused) {
  GradientDescentBatch target(settings.get(), &net);
  std::stringstream other;
  VXXML_1_2::XMLObj obj("ScaledConjGrad", 1);
  obj.StartObj(other);
  obj.EndObj(other);
  ExpectRefused(other.str(), true, {kXmlMessage});

  // The gradient length of another network.
  std::stringstream s;
  {
    auto small = MakeSettings(2, {1}, {}, VXNNCommon::kIdentity, 40);
    NNetwork smallNet(*small);
    GradientDescentBatch g(small.get(), &smallNet);
    g.WriteObjectXML(s);
  }
  ExpectRefused(s.str(), true, {kXmlMessage});
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutBuffer, SavedOptimizer, ::testing::Bool());

}  // namespace
