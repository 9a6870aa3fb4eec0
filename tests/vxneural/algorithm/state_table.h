// The state table both algorithm drivers share: what each state object
// answers to each operation, with its exact code and severity.
#pragma once

#include "algorithm/AlgorithmContext.h"
#include "mlp_driver_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"
#include "vxneural/network/NNStructure.h"

namespace mlpdriver {

// A cell of the state table: W the state does the work and answers OK; M it
// does the work and moves the algorithm to another state, which the tests
// further down follow through the public interface; any other value is the
// code the state refuses with.
constexpr int W = 0, M = -100;

struct StateRow {
  const char* name;
  std::unique_ptr<AlgorithmContext> (*make)(NeuralAlgorithmBase*);
  int train, update, error, sensitivity, stats, save, select, exports;
};

template <typename State>
std::unique_ptr<AlgorithmContext> Make(NeuralAlgorithmBase* a) {
  return std::make_unique<State>(a);
}

inline const StateRow kStateTable[] = {
    {"Init", Make<InitContext>, M, 6, W, 6, W, W, M, 6},
    {"Trained", Make<TrainedContext>, M, M, W, M, W, W, 6, W},
    {"Expert", Make<ExpertContext>, 6, 6, W, 6, 6, 4, 6, 6},
    {"Training", Make<TrainingContext>, 6, 6, 6, 6, 6, 4, 6, 6},
    {"Save", Make<SaveContext>, 6, 6, 6, 6, 6, 4, 6, 6},
    {"Cancel", Make<CancelContext>, 1, 1, 1, 1, 1, 1, 1, 1},
    {"FailedRestart", Make<FailedRestartContext>, 5, 5, 5, 5, 5, 5, 5, 5},
};

// Puts each state of the table in front of alg, a new algorithm of either
// driver over raw records (with its 80 encoded records) with the settings'
// sensitivity flag off, and checks every cell.
inline void ExpectStateTable(NeuralAlgorithmBase& alg, const std::vector<Record>& rawRecords,
                             const std::vector<Record>& encodedRecords) {
  VectorRecordIter raw(rawRecords);
  VectorRecordIter encoded(encodedRecords);
  for (const StateRow& row : kStateTable) {
    SCOPED_TRACE(row.name);
    const std::unique_ptr<AlgorithmContext> state = row.make(&alg);
    // Runs op unless the cell is M; the answer is also the stored status.
    auto cell = [&](const char* what, int code, const std::function<VXStatus()>& op) {
      if (code == M) return;
      SCOPED_TRACE(what);
      const VXStatus s = op();
      ExpectStatus(s, code);
      EXPECT_EQ(alg.GetStatus(), s);
    };
    std::ostringstream saved, exported;
    cell("Train", row.train, [&] { return state->Train(80, -1); });
    cell("Update", row.update, [&] { return state->Update(raw, 10); });
    cell("SelectArchitecture", row.select, [&] { return state->SelectArchitecture(); });
    cell("SaveState", row.save, [&] { return state->SaveState(saved); });
    cell("SaveStateXML", row.save, [&] { return state->SaveStateXML(saved); });
    EXPECT_EQ(saved.str().empty(), row.save != W) << "a refused save writes nothing";
    double error = 0.0;
    cell("GetErrorOnData", row.error, [&] {
      encoded.Rewind();
      error = state->GetErrorOnData(encoded, 80);
      return alg.GetStatus();
    });
    EXPECT_EQ(error == kMissing, row.error != W);
    std::vector<double> importance{42.0};
    cell("ComputeSensitivity", row.sensitivity, [&] {
      return state->ComputeSensitivity(3, {1, 3, 1}, true, {0, 0}, {1, 1}, importance);
    });
    if (row.sensitivity != M) {
      EXPECT_EQ(importance, std::vector<double>{42.0});
    }
    NNOutputStatistics stats;
    cell("ComputeOutputStats", row.stats, [&] {
      encoded.Rewind();
      return state->ComputeOutputStats(encoded, 80, stats);
    });
    EXPECT_EQ(stats.StatsOK(), row.stats == W);
    // Only the Trained state exports (each export then writes a document);
    // the others refuse as work is refused.
    cell("ExportModelXML", row.exports,
         [&] { return state->ExportModelXML(exported, 0, nullptr); });
    cell("ExportModelStatXML", row.exports,
         [&] { return state->ExportModelStatXML(exported, 0, nullptr); });
    // The structure view: built by the Trained state (the algorithm has a
    // network and a preparator), refused with code 6 by every other state,
    // the cancelled and broken ones included.
    if (std::string(row.name) == "Trained") {
      std::unique_ptr<NNStructImp> imp(state->GetStructure());
      EXPECT_NE(imp, nullptr);
    } else {
      cell("GetStructure", 6, [&] {
        EXPECT_EQ(state->GetStructure(), nullptr);
        return alg.GetStatus();
      });
    }
    EXPECT_EQ(exported.str().empty(), row.exports != W);
    if (row.exports == W) {
      EXPECT_NE(exported.str().find("<PMML version=\"4.0\""), std::string::npos);
      EXPECT_NE(exported.str().find("<StatXML "), std::string::npos);
    }
  }
  // Nothing above changed the state the algorithm is in.
  EXPECT_EQ(alg.GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_EQ(alg.GetNumberOfDataPasses(), 0);
  // Without the settings' flag the public form computes nothing and
  // refuses nothing.
  std::vector<double> importance{42.0};
  EXPECT_EQ(alg.ComputeSensitivity(importance), VXStatus());
  EXPECT_EQ(importance, std::vector<double>{42.0});
}

}  // namespace mlpdriver
