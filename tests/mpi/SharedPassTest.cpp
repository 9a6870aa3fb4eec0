// A pass shared between the processes of an mpirun, each holding its
// share of the records, leaves on every process the sums one process
// holding them all forms, bit for bit: each process forms those itself
// from all the records, then its share's pass through MPI must match them.
// No ASSERT before an exchange: every process must reach every exchange.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/pass_settings.h"
#include "common/pass_sums.h"
#include "network/SharedRun.h"
#include "vxneural/mpi/MpiPassCombiner.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/network_fixtures.h"

namespace {

using namespace pass_sums;
using VXCommon_1_2::Record;
using VXNeural::PassKernel;

TEST(MpiSharedPass, EveryProcessEndsWithTheOneProcessSums) {
  pass_settings::Restore restore;
  VXNeural::MpiPassCombiner combiner;
  const int rank = combiner.Rank(), size = combiner.Size();
  // Nine whole blocks and part of a tenth.
  const int n = 9 * 96 + 40;
  for (PassKernel kernel : VXNeural::AvailablePassKernels()) {
    if (kernel == PassKernel::kReference) continue;
    VXNeural::SetPassKernel(kernel);
    for (const Shape& shape : Shapes()) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(kernel)) + ", " + shape.name);
      auto settings = SettingsOf(shape);
      const auto records = network_fixtures::MakeRecords(shape.inputs, shape.categories, n, 17);
      auto whole = NetworkOf(*settings);
      auto all = VectorRecordIter::Borrow(records);
      const Sums expected = Passes(*whole, all, !shape.rbf);
      EXPECT_EQ(expected.records, n);

      // Two threads on the odd processes: the thread count changes nothing.
      VXNeural::SetPassThreads(rank % 2 + 1);
      const VXNeural::RecordShare share = VXNeural::ShareOf(n, rank, size);
      const std::vector<Record> mine(records.begin() + share.first, records.begin() + share.end);
      auto source = VectorRecordIter::Borrow(mine);
      auto net = NetworkOf(*settings);
      VXNeural::detail::ShareSource(&source, share.first, &combiner);
      const Sums got = Passes(*net, source, !shape.rbf);
      VXNeural::detail::ShareSource(&source, 0, nullptr);
      EXPECT_EQ(got.status, 0);
      EXPECT_TRUE(SameBits(got, expected)) << "rank " << rank << " of " << size;
    }
  }
}

}  // namespace
