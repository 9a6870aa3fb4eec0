// A pass shared between processes, each holding its share of the records,
// leaves on every process the sums one process holding all the records
// forms: the error, the gradient, the accuracy, the output averages, the
// mean model's error and the record count, bit for bit, for any number of
// processes and every blocked kernel. The processes are threads here
// (tests/common/in_process_combiner.h); the MPI tests run the same over MPI.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <valarray>
#include <vector>

#include "common/damaging_combiner.h"
#include "common/in_process_combiner.h"
#include "common/pass_settings.h"
#include "common/pass_sums.h"
#include "network/SharedRun.h"
#include "network_fixtures.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;
using VXNeural::PassKernel;

using namespace pass_sums;

TEST(SharedPass, EveryProcessEndsWithTheOneProcessSums) {
  pass_settings::Restore restore;
  // Nine whole blocks and part of a tenth: shares of 4, 3, 3 blocks for
  // three processes, and one process left with nothing among eleven.
  const int n = 9 * 96 + 40;
  for (PassKernel kernel : VXNeural::AvailablePassKernels()) {
    if (kernel == PassKernel::kReference) continue;
    ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
    for (const Shape& shape : Shapes()) {
      auto settings = SettingsOf(shape);
      const auto records = network_fixtures::MakeRecords(shape.inputs, shape.categories, n, 17);
      auto whole = NetworkOf(*settings);
      auto all = VectorRecordIter::Borrow(records);
      const Sums expected = Passes(*whole, all, !shape.rbf);
      ASSERT_EQ(expected.records, n);
      for (int size : {1, 2, 3, 11}) {
        SCOPED_TRACE(std::string(VXNeural::PassKernelName(kernel)) + ", " + shape.name + ", " +
                     std::to_string(size) + " processes");
        std::vector<Sums> got(static_cast<std::size_t>(size));
        in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
          VXNeural::SetPassThreadsOnThisThread(rank % 2 + 1);
          const VXNeural::RecordShare share = VXNeural::ShareOf(n, rank, size);
          const std::vector<Record> mine(records.begin() + share.first,
                                         records.begin() + share.end);
          auto source = VectorRecordIter::Borrow(mine);
          auto net = NetworkOf(*settings);
          VXNeural::detail::ShareSource(&source, share.first, &combiner);
          got[static_cast<std::size_t>(rank)] = Passes(*net, source, !shape.rbf);
          VXNeural::detail::ShareSource(&source, 0, nullptr);
          VXNeural::SetPassThreadsOnThisThread(0);
        });
        for (int r = 0; r < size; ++r) {
          EXPECT_EQ(got[static_cast<std::size_t>(r)].status, 0) << "rank " << r;
          EXPECT_TRUE(SameBits(got[static_cast<std::size_t>(r)], expected)) << "rank " << r;
        }
      }
    }
  }
}

// The record-by-record pass cannot be shared; a failed exchange and shares
// that leave a gap are errors, and the pass then adds nothing.
TEST(SharedPass, RefusesWhatCannotBeShared) {
  pass_settings::Restore restore;
  const Shape& shape = Shapes()[0];
  auto settings = SettingsOf(shape);
  const auto records = network_fixtures::MakeRecords(shape.inputs, shape.categories, 300, 4);
  const struct {
    const char* name;
    PassKernel kernel;
    int failAt;       // the combiner's call that fails, 0 for none
    long long first;  // the share's first record as registered
    int code;
  } cases[] = {
      {"reference kernel", PassKernel::kReference, 0, 0, 50020},
      {"failed exchange", PassKernel::kBaseline, 1, 0, 50021},
      {"a gap before the share", PassKernel::kBaseline, 0, 96, 50020},
      {"a whole one-process pass", PassKernel::kBaseline, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(VXNeural::SetPassKernel(c.kernel));
    in_process::RunProcesses(1, [&](int, in_process::Combiner& combiner) {
      combiner.FailAt(c.failAt);
      auto source = VectorRecordIter::Borrow(records);
      auto net = NetworkOf(*settings);
      VXNeural::detail::ShareSource(&source, c.first, &combiner);
      VXStatus status;
      int processed = -1;
      net->ResetDerivatives();
      net->ProcessRecords(status, source, 1 << 30, processed, false, true);
      EXPECT_EQ(status.GetErrorCode(), c.code);
      EXPECT_EQ(processed, c.code == 0 ? 300 : 0);
      EXPECT_EQ(net->GetAccumError() > 0.0, c.code == 0);
      // Sharing ended, the same source's pass is the process's own again.
      VXNeural::detail::ShareSource(&source, 0, nullptr);
      source.Rewind();
      net->ProcessRecords(status, source, 1 << 30, processed, false, true);
      EXPECT_EQ(processed, 300);
      EXPECT_EQ(status.GetErrorCode(), 0);
    });
  }
}

// A message damaged on the way fails the pass with 50021 (a gap in the
// blocks with 50020), never a crash or an allocation sized by the damage.
// One process sends [records, cancel, the targets' lows and highs, nodes,
// (start, blocks) per node, the nodes' sums]: for 300 records and two
// targets, one node of the four blocks, from block 0, its count at 6.
TEST(SharedPass, RefusesADamagedMessage) {
  pass_settings::Restore restore;
  ASSERT_TRUE(VXNeural::SetPassKernel(PassKernel::kBaseline));
  const Shape& shape = Shapes()[0];
  auto settings = SettingsOf(shape);
  const auto records = network_fixtures::MakeRecords(shape.inputs, shape.categories, 300, 4);
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kHuge = 1e300;
  using damaging_combiner::Replace;
  const struct {
    const char* name;
    damaging_combiner::Damage damage;
    int code;
  } cases[] = {
      {"undamaged", Replace(0, 300), 0},
      {"negative records", Replace(0, -1), 50021},
      {"huge records", Replace(0, kHuge), 50021},
      {"records not whole", Replace(0, 299.5), 50021},
      {"records not a number", Replace(0, kNaN), 50021},
      {"a cancel flag neither 0 nor 1", Replace(1, 0.5), 50021},
      {"negative nodes", Replace(6, -1), 50021},
      {"huge nodes", Replace(6, kHuge), 50021},
      {"nodes not whole", Replace(6, 1.5), 50021},
      {"nodes not a number", Replace(6, kNaN), 50021},
      {"nodes beyond the message", Replace(6, 2), 50021},
      {"no nodes in a message that holds one", Replace(6, 0), 50021},
      {"a node after a gap", Replace(7, 1), 50020},
      {"a node's start not a number", Replace(7, kNaN), 50020},
      {"a node of no blocks", Replace(8, 0), 50021},
      {"a node of 3 blocks", Replace(8, 3), 50021},
      {"a node of negative blocks", Replace(8, -4), 50021},
      {"a node of huge blocks", Replace(8, kHuge), 50021},
      {"a node's blocks not a number", Replace(8, kNaN), 50021},
      {"a node's blocks not whole", Replace(8, 4.5), 50021},
      {"a count beyond what arrived", Replace(99999, 0, 5), 50021},
      {"a count short of what arrived", Replace(99999, 0, -1), 50021},
      {"a negative count", Replace(99999, 0, -100000), 50021},
      {"more than the count covers",
       [](std::vector<double>& m, int&) { m.insert(m.end(), 4, 0.0); }, 50021},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    damaging_combiner::Combiner combiner(c.damage);
    auto source = VectorRecordIter::Borrow(records);
    auto net = NetworkOf(*settings);
    VXNeural::detail::ShareSource(&source, 0, &combiner);
    VXStatus status;
    int processed = -1;
    net->ResetDerivatives();
    net->ProcessRecords(status, source, 1 << 30, processed, false, true);
    VXNeural::detail::ShareSource(&source, 0, nullptr);
    EXPECT_EQ(status.GetErrorCode(), c.code);
    EXPECT_EQ(processed, c.code == 0 ? 300 : 0);
  }
}

}  // namespace
