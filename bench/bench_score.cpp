// Scoring cost: raw records (the inputs alone) through an algorithm's
// Score(const Record&) (encoding of the raw fields, forward pass, output
// list), beside the network's own Score on records already encoded, so that
// the cost of the layers around the forward pass stays visible, and the
// same raw records through ScoreRows (Score/rows): all of them in one call,
// encoded and scored a block at a time.
//
// The algorithm is an MLP over continuous inputs (standardised by the
// preparator) and one categorical target, with TanH hidden units and a
// SoftMax output layer, trained for one data pass so that it scores.
// score_peers.sh runs the raw case beside a peer library's scoring call.
//
// Counters: records/s, and FLOP/s of the forward pass as bench_common.h
// counts it.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using bench::Case;
using VXCommon_1_2::Record;

constexpr int kRecords = 2000;

// Raw records: the case's inputs uniform in [-1, 1], then the class code.
std::vector<Record> RawRecords(const Case& c) {
  std::vector<Record> raw;
  for (const Record& e : bench::SyntheticRecords(c, kRecords, 7)) {
    std::vector<double> v(e.GetAll(), e.GetAll() + c.inputs);
    int code = 0;
    for (int k = 0; k < c.outputs; ++k)
      if (e[c.inputs + k] == 1.0) code = k;
    v.push_back(c.outputs == 1 ? e[c.inputs] : code);
    raw.emplace_back(std::move(v));
  }
  return raw;
}

struct Model {
  explicit Model(const Case& c) : raw(RawRecords(c)) {
    for (int i = 0; i < c.inputs; ++i)
      list.AddContVar("x" + std::to_string(i), "", -1.0, 1.0, 0.0, 1.0 / 3.0, INNVariable::kInput,
                      INNVariable::kReal);
    if (c.outputs == 1)
      list.AddContVar("y", "", -1.0, 1.0, 0.0, 1.0 / 3.0, INNVariable::kOutput, INNVariable::kReal);
    else
      list.AddCatVar("y", "", c.outputs, INNVariable::kNumericCategorical, INNVariable::kOutput,
                     INNVariable::kInteger);
    settings = std::make_unique<MLPSettings>(list, kRecords);
    settings->SetNumHiddenLayers(1);
    settings->SetNumHiddenUnits(c.hidden, 1);
    settings->SetMaxNDataPasses(1);
    auto source = VXCommon_1_2::VectorRecordIter::Borrow(raw);
    MLPFactory factory;
    algorithm.reset(factory.CreateNeuralAlgorithm(*settings, list, source, nullptr, nullptr));
    if (algorithm && algorithm->Train(kRecords, 0).IsOK()) ready = true;
  }
  // The scoring records: the inputs alone.
  std::vector<Record> Inputs(const Case& c) const {
    std::vector<Record> inputs;
    for (const Record& r : raw)
      inputs.emplace_back(std::vector<double>(r.GetAll(), r.GetAll() + c.inputs));
    return inputs;
  }
  std::vector<Record> raw;
  NNVarList list;
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<INeuralAlgorithm> algorithm;
  bool ready = false;
};

void RawScore(benchmark::State& state, const Case& c) {
  Model m(c);
  if (!m.ready) {
    state.SkipWithError("the model did not train");
    return;
  }
  const std::vector<Record> inputs = m.Inputs(c);
  for (auto _ : state)
    for (const Record& r : inputs) benchmark::DoNotOptimize(&m.algorithm->Score(r));
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         bench::FlopsPerRecord(c).forward);
}

void RowsScore(benchmark::State& state, const Case& c) {
  Model m(c);
  if (!m.ready) {
    state.SkipWithError("the model did not train");
    return;
  }
  // The records' inputs one after the other, as a numpy array of rows
  // holds them.
  std::vector<double> in;
  for (const Record& r : m.Inputs(c)) in.insert(in.end(), r.GetAll(), r.GetAll() + c.inputs);
  std::vector<double> out(static_cast<std::size_t>(kRecords) * c.outputs);
  for (auto _ : state) {
    const VXCommon_1_2::VXStatus status =
        m.algorithm->ScoreRows(in.data(), kRecords, c.inputs, out.data(), c.outputs);
    if (!status.IsOK()) {
      state.SkipWithError("a record was refused");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         bench::FlopsPerRecord(c).forward);
}

void EncodedScore(benchmark::State& state, const Case& c) {
  auto settings = std::make_unique<MLPSettings>(c.inputs, std::vector<int>{c.outputs}, kRecords);
  settings->SetNumHiddenLayers(1);
  settings->SetNumHiddenUnits(c.hidden, 1);
  NNetwork net(*settings);
  VXRandom rng(12345, true);
  net.RandomizeWeights(rng);
  const std::vector<Record> records = bench::SyntheticRecords(c, kRecords, 7);
  std::vector<double> out(static_cast<std::size_t>(net.GetNumOutputs()));
  VXCommon_1_2::VXStatus status;
  for (auto _ : state)
    for (const Record& r : records) {
      net.Score(status, r.GetAll(), out.data());
      benchmark::DoNotOptimize(out.data());
    }
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         bench::FlopsPerRecord(c).forward);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : bench::Cases()) {
    const std::string shape = bench::ShapeName(c);
    benchmark::RegisterBenchmark(("Score/raw/" + shape).c_str(), RawScore, c);
    benchmark::RegisterBenchmark(("Score/rows/" + shape).c_str(), RowsScore, c);
    benchmark::RegisterBenchmark(("Score/encoded/" + shape).c_str(), EncodedScore, c);
  }
  // The shape of a common peer's predict_proba comparison: 64 inputs, 100
  // TanH hidden units, 10 classes.
  const Case wide{64, 100, 10};
  benchmark::RegisterBenchmark(("Score/raw/" + bench::ShapeName(wide)).c_str(), RawScore, wide);
  benchmark::RegisterBenchmark(("Score/rows/" + bench::ShapeName(wide)).c_str(), RowsScore, wide);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
