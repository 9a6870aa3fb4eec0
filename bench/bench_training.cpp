// Cost of whole training runs: the batch optimizers (scaled conjugate
// gradient and gradient descent with momentum) train a network from the same
// initial weights on synthetic encoded records until a fixed number of data
// passes is reached. Every other stop rule is switched off, so each run does
// the same work whatever the error surface looks like.
//
// Counters: records/s counts every record of every data pass (a run of P
// passes over N records counts N * P), FLOP/s the forward and backward work
// of those passes as bench_common.h counts it (the optimizers' own vector
// arithmetic, a few operations per weight and iteration, is left out),
// passes the data passes of one run (the optimizer may pass the limit by one
// when an iteration ends past it), error the training error per record at
// the end of the run.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <valarray>
#include <vector>

#include "bench_common.h"
#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using bench::Case;

constexpr int kRecords = 3000;
constexpr int kDataPasses = 20;

// Settings whose only active stop rule is the data-pass limit: no time
// limit worth the name, and thresholds the relative change, error ratio,
// gradient norm and accuracy can never cross.
std::unique_ptr<MLPSettings> TrainingSettings(const Case& c) {
  auto s = std::make_unique<MLPSettings>(c.inputs, std::vector<int>{c.outputs}, kRecords);
  s->SetNumHiddenLayers(1);
  s->SetNumHiddenUnits(c.hidden, 1);
  s->SetMaxTime(1e9);
  s->SetMaxNDataPasses(kDataPasses);
  s->SetMinRelativeChangeError(0.0);
  s->SetMinErrorRatio(0.0);
  s->SetGradientNormLimit(0.0);
  s->SetAccuracy(101.0);
  return s;
}

// Settings, network, initial weights and records of one case, built once.
struct Fixture {
  explicit Fixture(const Case& c)
      : settings(TrainingSettings(c)),
        net(std::make_unique<NNetwork>(*settings)),
        records(bench::SyntheticRecords(c, kRecords, 7)),
        flops(bench::FlopsPerRecord(c)) {
    VXRandom rng(12345, true);
    net->RandomizeWeights(rng);
    net->GetWeights(initial);
  }
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> net;
  std::valarray<double> initial;
  std::vector<VXCommon_1_2::Record> records;
  bench::Flops flops;
};

template <typename Optimizer>
void TrainingRun(benchmark::State& state, const Case& c) {
  Fixture f(c);
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(f.records);
  double passes = 0.0;
  double error = 0.0;
  for (auto _ : state) {
    f.net->ResetAll();
    f.net->SetWeights(f.initial);
    source.Rewind();
    Optimizer optimizer(f.settings.get(), f.net.get());
    VXCommon_1_2::VXStatus status;
    optimizer.Train(status, source, nullptr, kRecords, 0);
    if (!status.IsOK() || optimizer.GetStopReason() != VXNNCommon::kStoppedMaxDataPasses) {
      state.SkipWithError("the run did not stop on its data-pass limit");
      break;
    }
    passes += optimizer.GetNDataPasses();
    // The counter below keeps this store alive. Not DoNotOptimize(error):
    // with GCC its "+m,r" constraint on a double lvalue reads back 0 here.
    error = optimizer.GetTrainError();
  }
  const double runs = static_cast<double>(state.iterations());
  bench::SetRateCounters(state, passes * kRecords, f.flops.forward + f.flops.backward);
  state.counters["passes"] = runs > 0.0 ? passes / runs : 0.0;
  state.counters["error"] = error / kRecords;
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : bench::Cases()) {
    const std::string shape = bench::ShapeName(c);
    benchmark::RegisterBenchmark(("ScaledConjGrad/" + shape).c_str(), TrainingRun<ScaledConjGrad>,
                                 c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("GradientDescentBatch/" + shape).c_str(),
                                 TrainingRun<GradientDescentBatch>, c)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
