// A training shared by processes through a variable list: each process's
// preparator encodes its share of the raw training and test records, in
// memory or (spilled) in temporary files, and the algorithm trains from
// what it encoded. For the in-process tests and those under MPI alike.
#pragma once

#include <string>
#include <vector>

#include "common/saved_times.h"
#include "rbf_fixtures.h"
#include "vxneural/network/PassCombiner.h"

namespace shared_prepared {

using namespace mlpdriver;

struct Layout {
  const char* name;
  bool rbf;
  bool spilled;
};

// One row a layout.
inline const std::vector<Layout>& Layouts() {
  static const std::vector<Layout> layouts{
      {"MLP in memory", false, false},
      {"MLP spilled", false, true},
      {"RBF in memory", true, false},
      {"RBF spilled", true, true},
  };
  return layouts;
}

// Trains a model of nTrain training and nTest test records through the
// list, which holds the whole training set's statistics, over this
// process's share of the records the host holds: the first heldTrain and
// heldTest of them (-1: all); without a combiner the process holds them
// all. The settings say nTrain; their test count is left to the factory.
// The saved form, "code N" when the training failed, "not built, code N"
// when the factory refused.
inline std::string TrainPrepared(const Layout& layout, VXNeural::PassCombiner* combiner, int nTrain,
                                 int nTest, const std::string& dir, int heldTrain = -1,
                                 int heldTest = -1) {
  AnyModel m = MakeAny(layout.rbf, kBothTargets, nTrain, nTest, [&](NeuralSettings& s) {
    if (!layout.spilled) return;
    s.SetTempFileDir(dir);
    s.SetMaxRecordsInMemory(1);
  });
  const int rank = combiner ? combiner->Rank() : 0, size = combiner ? combiner->Size() : 1;
  auto part = [&](bool test, int held) {
    const std::vector<Record>& all = m.Records(test);
    const VXNeural::RecordShare share =
        VXNeural::ShareOf(held < 0 ? static_cast<long long>(all.size()) : held, rank, size);
    return std::vector<Record>(all.begin() + share.first, all.begin() + share.end);
  };
  const std::vector<Record> trainPart = part(false, heldTrain), testPart = part(true, heldTest);
  VectorRecordIter trainSource(trainPart), testSource(testPart);
  m.Algorithm().reset();
  // As a host's settings made afresh: the factory counts the test records
  // it is given, which on a process of a run are its share.
  NeuralSettings& settings =
      m.rbf ? static_cast<NeuralSettings&>(m.rbf->settings) : m.mlp->settings;
  settings.SetNTestRecords(0);
  VXNeural::SetPassCombiner(combiner);
  m.Algorithm().reset(m.rbf ? m.rbf->factory.CreateNeuralAlgorithm(
                                  m.rbf->settings, m.rbf->list, trainSource, &testSource, nullptr)
                            : m.mlp->factory.CreateNeuralAlgorithm(
                                  m.mlp->settings, m.mlp->list, trainSource, &testSource, nullptr));
  const VXStatus created = m.rbf ? m.rbf->factory.GetStatus() : m.mlp->factory.GetStatus();
  const VXStatus trained = m.Algorithm() ? m.Algorithm()->Train(nTrain, nTest) : VXStatus();
  VXNeural::SetPassCombiner(nullptr);
  if (!m.Algorithm()) return "not built, code " + std::to_string(created.GetErrorCode());
  if (!trained.IsOK()) return "code " + std::to_string(trained.GetErrorCode());
  return saved_times::SavedWithoutTimes(*m.Algorithm());
}

}  // namespace shared_prepared
