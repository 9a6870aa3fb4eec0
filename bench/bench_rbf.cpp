// Per-record cost of the RBF network's forward pass (input, hidden and
// output layers, plain and normalised units) and of the least-squares
// solver: adding one record to the cross-products, and solving.
//
// Counters: records/s.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/MultiVariateRegression.h"
#include "vxneural/optim/RBFLinReg.h"

namespace {

constexpr int kRecords = 1000;

std::vector<std::vector<double>> Rows(int n, int width, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<std::vector<double>> rows(static_cast<std::size_t>(n));
  for (auto& r : rows)
    for (int i = 0; i < width; ++i) r.push_back(u(gen));
  return rows;
}

// Arguments: inputs, hidden units, outputs, normalised (1) or plain (0).
void BM_RBFForward(benchmark::State& state) {
  const int inputs = int(state.range(0)), hidden = int(state.range(1)),
            outputs = int(state.range(2));
  RBFSettings settings(inputs, std::vector<int>{outputs}, kRecords);
  settings.SetActivFnHiddenLayer(state.range(3) ? VXNNCommon::kNormalizedRadialBasis
                                                : VXNNCommon::kRadialBasis);
  settings.SetNumHiddenUnits(hidden, 1);
  NNetwork net(settings);
  VXRandom rng(12345, true);
  net.RandomizeWeights(rng, -1.0, 1.0);
  const auto rows = Rows(kRecords, inputs + outputs, 7);
  for (auto _ : state) {
    for (const auto& r : rows) net.ForwardPass(r.data(), true);
    benchmark::DoNotOptimize(net.GetLayer(2)->GetUnitValues()[0]);
  }
  state.counters["records/s"] =
      benchmark::Counter(double(state.iterations()) * kRecords, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RBFForward)
    ->Args({4, 10, 3, 1})
    ->Args({4, 10, 3, 0})
    ->Args({20, 50, 5, 1})
    ->Args({100, 200, 10, 1});

// Arguments: regressors (without the constant), dependent variables.
void BM_RegressionAddRecord(benchmark::State& state) {
  const int p = int(state.range(0)), q = int(state.range(1));
  const auto rows = Rows(kRecords, p + q, 3);
  MultiVariateRegression m(p, true, q);
  for (auto _ : state) {
    for (const auto& r : rows) m.AddRecord(r.data(), p, r.data() + p, q, 1.0);
    benchmark::ClobberMemory();
  }
  state.counters["records/s"] =
      benchmark::Counter(double(state.iterations()) * kRecords, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RegressionAddRecord)->Args({10, 3})->Args({50, 5})->Args({200, 10});

void BM_RegressionSolve(benchmark::State& state) {
  const int p = int(state.range(0)), q = int(state.range(1));
  const auto rows = Rows(kRecords, p + q, 3);
  MultiVariateRegression m(p, true, q);
  for (const auto& r : rows) m.AddRecord(r.data(), p, r.data() + p, q, 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(m.EstimateCoefficients(true));
}
BENCHMARK(BM_RegressionSolve)->Args({10, 3})->Args({50, 5})->Args({200, 10});

// One pass of an RBF network (distances, normalised activations, outputs,
// error) over 1797 records with the kernel given, as bench/compare_pass.sh
// sets it against numpy. record_weights/s counts the centres, widths and
// output weights.
// With `threads` given, the pass runs on that many threads (wall-clock
// time: bench/thread_pass.sh).
void RBFPass(benchmark::State& state, int inputs, int hidden, int outputs,
             VXNeural::PassKernel kernel, int threads = 1) {
  constexpr int kPassRecords = 1797;
  const VXNeural::PassKernel before = VXNeural::GetPassKernel();
  const int threadsBefore = VXNeural::GetPassThreads();
  VXNeural::SetPassKernel(kernel);
  VXNeural::SetPassThreads(threads);
  RBFSettings settings(inputs, std::vector<int>{outputs}, kPassRecords);
  settings.SetNumHiddenUnits(hidden, 1);
  NNetwork net(settings);
  VXRandom rng(12345, true);
  net.RandomizeWeights(rng, -1.0, 1.0);
  std::vector<VXCommon_1_2::Record> records;
  for (auto& r : Rows(kPassRecords, inputs + outputs, 7)) records.emplace_back(std::move(r));
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  bench::TimePasses(state, net, source, kPassRecords, true);
  const double weights = hidden * (inputs + 1) + outputs * hidden;
  state.counters["record_weights/s"] =
      benchmark::Counter(double(state.iterations()) * kPassRecords * weights,
                         benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
  VXNeural::SetPassKernel(before);
  VXNeural::SetPassThreads(threadsBefore);
}

// The output solver's pass (hidden units of every record, their
// cross-products with the targets, the solve) over 20000 records of the
// job benchmark's shape (28 input units, 64 normalised centres, 4
// classes), with the kernel and thread count given. records/s counts the
// records of the pass.
void SolverPass(benchmark::State& state, VXNeural::PassKernel kernel, int threads) {
  constexpr int kPassRecords = 20000;
  constexpr int kInputs = 28, kHidden = 64, kOutputs = 4;
  const VXNeural::PassKernel before = VXNeural::GetPassKernel();
  const int threadsBefore = VXNeural::GetPassThreads();
  VXNeural::SetPassKernel(kernel);
  VXNeural::SetPassThreads(threads);
  RBFSettings settings(kInputs, std::vector<int>{kOutputs}, kPassRecords);
  settings.SetNumHiddenUnits(kHidden, 1);
  NNetwork net(settings);
  VXRandom rng(12345, true);
  net.RandomizeWeights(rng, -1.0, 1.0);
  std::vector<VXCommon_1_2::Record> records;
  for (auto& r : Rows(kPassRecords, kInputs + kOutputs, 7)) records.emplace_back(std::move(r));
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  RBFLinReg solver(&settings, &net);
  for (auto _ : state) benchmark::DoNotOptimize(solver.TrainPass(source, kPassRecords));
  state.counters["records/s"] =
      benchmark::Counter(double(state.iterations()) * kPassRecords, benchmark::Counter::kIsRate);
  VXNeural::SetPassKernel(before);
  VXNeural::SetPassThreads(threadsBefore);
}

}  // namespace

int main(int argc, char** argv) {
  const int shapes[][3] = {{64, 100, 10}, {200, 50, 1}};
  for (VXNeural::PassKernel k : VXNeural::AvailablePassKernels())
    for (const auto& s : shapes)
      benchmark::RegisterBenchmark(("RBFPass/" + std::to_string(s[0]) + "-" + std::to_string(s[1]) +
                                    "-" + std::to_string(s[2]) + "/" + VXNeural::PassKernelName(k))
                                       .c_str(),
                                   RBFPass, s[0], s[1], s[2], k, 1);
  for (VXNeural::PassKernel k : VXNeural::AvailablePassKernels())
    for (const auto& s : shapes)
      for (int threads : {1, 2, 4})
        benchmark::RegisterBenchmark(
            ("ThreadedRBFPass/" + std::to_string(s[0]) + "-" + std::to_string(s[1]) + "-" +
             std::to_string(s[2]) + "/" + VXNeural::PassKernelName(k) + "/" +
             std::to_string(threads))
                .c_str(),
            [=](benchmark::State& state) { RBFPass(state, s[0], s[1], s[2], k, threads); })
            ->UseRealTime();
  for (VXNeural::PassKernel k : VXNeural::AvailablePassKernels())
    for (int threads : {1, 2})
      benchmark::RegisterBenchmark(
          ("RBFSolverPass/28-64-4/" + std::string(VXNeural::PassKernelName(k)) +
           "/threads:" + std::to_string(threads))
              .c_str(),
          SolverPass, k, threads)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
