// Scoring raw records through the algorithms allocates nothing per record:
// encoding, forward pass and output list reuse what the first record set
// up, on every path (a scored record, a missing input, a code outside its
// categories), for MLP and RBF models with both kinds of targets.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "common/alloc_counter.h"
#include "mlp_driver_fixtures.h"
#include "rbf_fixtures.h"
#include "vxneural/network/NNOutputList.h"

namespace {

using namespace mlpdriver;
using alloc_counter::Allocations;

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
