// A whole RBF training (clustering, centres and widths, the output
// solver's pass) on 1, 2, 3 and 8 pass threads saves the same binary model
// byte for byte, with every kernel, with the encoded records in memory and
// in temporary files: by Train and by the candidate search of
// SelectArchitecture.
#include <gtest/gtest.h>

#include <string>

#include "common/pass_settings.h"
#include "common/saved_times.h"
#include "common/scratch_dir.h"
#include "rbf_fixtures.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"

namespace {

using namespace mlpdriver;

std::string TrainAndSave(bool search, bool inFiles, const std::string& dir) {
  auto m = MakeRbf(kBothTargets, 500, 0, [&](RBFSettings& s) {
    s.SetTempFileDir(dir);
    s.SetMaxRecordsInMemory(inFiles ? 10 : 100000);
    if (search) s.SetNHiddenUnitsRange(2, 9);
  });
  if (!m->algorithm) return "not built";
  const VXStatus status =
      search ? m->algorithm->SelectArchitecture() : m->algorithm->Train(500, -1);
  if (!status.IsOK()) return "not trained";
  return saved_times::SavedWithoutTimes(*m->algorithm);
}

TEST(RbfTrainingThreads, SavedModelIsTheSameBytesForAnyThreadCount) {
  pass_settings::Restore guard;
  scratch_dir::ScratchDir scratch;
  for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels())
    for (bool search : {false, true})
      for (bool inFiles : {false, true}) {
        SCOPED_TRACE(std::string(VXNeural::PassKernelName(kernel)) +
                     (search ? ", candidate search" : ", training") +
                     (inFiles ? ", records in files" : ", records in memory"));
        ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
        std::string first;
        for (int threads : {1, 2, 3, 8}) {
          ASSERT_TRUE(VXNeural::SetPassThreads(threads));
          const std::string saved = TrainAndSave(search, inFiles, scratch.Path());
          ASSERT_GT(saved.size(), 100u) << saved;
          if (threads == 1)
            first = saved;
          else
            EXPECT_TRUE(saved == first) << threads << " threads";
        }
        // Every temporary file went with its algorithm.
        EXPECT_EQ(scratch.Count(), 0);
      }
}

}  // namespace
