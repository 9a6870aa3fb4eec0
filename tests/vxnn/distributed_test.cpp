// `vxnn train` spread over processes (--distributed), the processes played
// by threads of this one (tests/common/in_process_combiner.h): every
// process, holding only its share of the records, trains the model one
// process trains on the whole file, byte for byte but for the processor
// times it saves.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TestHost.h"
#include "common/in_process_combiner.h"
#include "common/saved_times.h"

namespace {

// The diabetes data with a categorical input and gaps in two columns.
vxnn::CsvTable Gappy() {
  vxnn::CsvTable t = testhost::Shipped("diabetes.csv");
  for (std::size_t i = 0; i < t.fRows.size(); ++i) {
    if (i % 17 == 3) t.fRows[i][2].clear();
    if (i % 23 == 5) t.fRows[i][4].clear();
  }
  return t;
}

vxnn::TrainOptions Options() {
  vxnn::TrainOptions o = testhost::ForTarget("progression");
  o.fDescribe.fCategorical = {"sex"};
  o.fHiddenUnits = {5};
  return o;
}

std::unique_ptr<vxnn::TrainResult> TrainOn(const vxnn::CsvTable& t, const vxnn::TrainOptions& o,
                                           bool inMemory) {
  std::ostringstream quiet;
  vxnn::ProgressBar progress(quiet, false);
  return vxnn::TrainModel(vxnn::TableOpener(t, "t.csv"), o, progress, inMemory);
}

// Each process's saved model (processor times zeroed), or its error.
std::vector<std::string> TrainShared(const vxnn::CsvTable& t, const vxnn::TrainOptions& o,
                                     bool inMemory, int size) {
  std::vector<std::string> saved(static_cast<std::size_t>(size));
  in_process::RunProcesses(size, [&](int rank, in_process::Combiner& combiner) {
    vxnn::TrainOptions mine = o;
    mine.fCombiner = &combiner;
    try {
      saved[static_cast<std::size_t>(rank)] =
          saved_times::SavedWithoutTimes(*TrainOn(t, mine, inMemory)->fAlgorithm);
    } catch (const std::exception& e) {
      saved[static_cast<std::size_t>(rank)] = e.what();
    }
  });
  return saved;
}

TEST(DistributedTraining, EveryProcessSavesTheOneProcessModel) {
  const vxnn::CsvTable t = Gappy();
  const vxnn::TrainOptions o = Options();
  for (bool inMemory : {true, false}) {
    const std::string expected =
        saved_times::SavedWithoutTimes(*TrainOn(t, o, inMemory)->fAlgorithm);
    ASSERT_GT(expected.size(), 100u);
    for (int size : {1, 2, 3}) {
      SCOPED_TRACE((inMemory ? "in memory, " : "streamed, ") + std::to_string(size) + " processes");
      const std::vector<std::string> saved = TrainShared(t, o, inMemory, size);
      for (int r = 0; r < size; ++r)
        EXPECT_TRUE(saved[static_cast<std::size_t>(r)] == expected)
            << "rank " << r << ": " << saved[static_cast<std::size_t>(r)].substr(0, 60);
    }
  }
}

}  // namespace
