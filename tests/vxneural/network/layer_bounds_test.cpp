// Layer readers refuse counts that nothing in the stream backs before they
// size anything: an RBF hidden layer's units without a centre are held in
// memory but not stored in the layer's own record, so a damaged count must
// not allocate for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/layouts.h"
#include "common/stream_faults.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"

namespace {

// A hidden layer record: units, lower units, Radial Basis, centres, their
// centre values (all 0.5), then one variance per centre.
std::string HiddenRecord(int units, int lower, int centres, int trailingDoubles) {
  layouts::Bytes b;
  b.Tag("RBFHid").I(units).I(lower).I(VXNNCommon::kRadialBasis).I(centres);
  b.Ds(std::vector<double>(static_cast<std::size_t>(centres * lower), 0.5));
  b.I(0).Ds(std::vector<double>(static_cast<std::size_t>(centres), 1.0));
  // What follows the layer in a saved network (the output layer's weights).
  return b.Ds(std::vector<double>(static_cast<std::size_t>(trailingDoubles), 0.0)).s;
}

struct Case {
  const char* what;
  bool linked;  // read by a layer linked to a 2-unit input layer
  int units, lower, centres, trailing;
  bool refused;
};

TEST(RBFHiddenLayerBounds, UnbackedCountsAreRefused) {
  const Case cases[] = {
      {"every unit placed", true, 3, 2, 3, 0, false},
      {"unplaced units backed by what follows", true, 5, 2, 3, 2, false},
      {"unplaced units beyond what the stream holds", true, 20, 2, 1, 0, true},
      {"a million unplaced units", true, 1 << 20, 2, 0, 8, true},
      {"lower width differs from the linked layer", true, 3, 3, 3, 0, true},
      {"unlinked: unplaced values backed", false, 3, 2, 1, 4, false},
      {"unlinked: wide lower with no centre", false, 2, 1 << 24, 0, 8, true},
  };
  for (const Case& c : cases) {
    RBFInputLayer input(2);
    RBFHiddenLayer layer(c.linked ? &input : nullptr);
    const auto outcome =
        stream_faults::ReadFrom(HiddenRecord(c.units, c.lower, c.centres, c.trailing),
                                [&](std::istream& in) { layer.ReadObject(in); });
    EXPECT_EQ(outcome.threw, c.refused) << c.what;
    if (c.refused) {
      EXPECT_EQ(outcome.err, "Error reading RBFHiddenLayer!\n") << c.what;
    } else {
      EXPECT_EQ(layer.GetNumUnits(), c.units) << c.what;
    }
  }
}

}  // namespace
