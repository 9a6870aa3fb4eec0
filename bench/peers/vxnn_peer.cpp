// Our side of the peer comparison (bench/compare_peers.sh): trains a
// one-hidden-layer network with a batch optimizer for a fixed number of data
// passes on a CSV file, and scores a test file. The peers' drivers take the
// same arguments and print the same lines, so that every library sees the
// same records, the same encoding and the same budget.
//
//   vxnn_peer --task class|regr --train FILE [--test FILE] --hidden H
//             --passes P [--method scg|gdb|default|default-holdout] [--seed S]
//
// --method default is the library's own default training instead: an
// algorithm built by the factory from settings left at their defaults (H
// hidden units when H >= 1, else the default count; P is not used), whose
// run initialises the weights from a sample and trains by scaled conjugate
// gradient until its stop rules end it. --method default-holdout is the same
// with a seeded 30% of the training records handed to the factory as its
// test source, as a host does that wants the verifying cycle to stop the
// run at the best test error (the fit still sees only the training file).
//
// Files: a header row, numeric input columns, the target last (any text for
// a class, a number for regression). Inputs are standardized with the
// training file's mean and sample standard deviation; a class becomes a
// one-of-n target (classes numbered in order of first appearance in the
// training file; a test record of an unseen class counts as wrong) with a
// SoftMax output; a regression target is standardized the same way as the
// inputs and modelled by an Identity output. Hidden units are TanH, initial
// weights uniform in [-0.5, 0.5] from the seed.
//
// Prints one line of key=value pairs: records, passes (data passes made),
// cpu_s and wall_s (training alone), train_error (the optimizer's error per
// record), and with a test file accuracy (class) or relerr (regression: the
// test sum of squared errors over that of predicting the training mean).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

struct Options {
  bool classify = true;
  std::string train;
  std::string test;
  int hidden = 0;
  int passes = 0;
  std::string method = "scg";
  unsigned seed = 1;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "vxnn_peer: error: " << message << "\n";
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string key = argv[i];
    if (i + 1 >= argc) Fail("missing value after " + key);
    const std::string value = argv[++i];
    if (key == "--task") {
      if (value != "class" && value != "regr") Fail("--task is class or regr");
      o.classify = value == "class";
    } else if (key == "--train") {
      o.train = value;
    } else if (key == "--test") {
      o.test = value;
    } else if (key == "--hidden") {
      o.hidden = std::atoi(value.c_str());
    } else if (key == "--passes") {
      o.passes = std::atoi(value.c_str());
    } else if (key == "--method") {
      if (value != "scg" && value != "gdb" && value != "default" && value != "default-holdout")
        Fail("--method is scg, gdb, default or default-holdout");
      o.method = value;
    } else if (key == "--seed") {
      o.seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else {
      Fail("unknown option " + key);
    }
  }
  if (o.method.rfind("default", 0) == 0) {
    if (o.train.empty()) Fail("--train is required");
  } else if (o.train.empty() || o.hidden < 1 || o.passes < 1) {
    Fail("--train, --hidden (>= 1) and --passes (>= 1) are required");
  }
  return o;
}

struct Table {
  std::vector<std::vector<double>> inputs;
  std::vector<std::string> targets;
};

Table ReadCsv(const std::string& path) {
  std::ifstream in(path);
  if (!in) Fail("cannot open " + path);
  Table t;
  std::string line;
  std::getline(in, line);
  std::size_t width = 0;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> fields;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, ',')) fields.push_back(field);
    if (fields.size() < 2) Fail(path + ": a row needs an input and a target");
    if (width == 0) width = fields.size();
    if (fields.size() != width) Fail(path + ": rows of different widths");
    std::vector<double> x;
    for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
      char* end = nullptr;
      x.push_back(std::strtod(fields[i].c_str(), &end));
      if (end == fields[i].c_str()) Fail(path + ": not a number: " + fields[i]);
    }
    t.inputs.push_back(std::move(x));
    t.targets.push_back(fields.back());
  }
  if (t.inputs.empty()) Fail(path + ": no records");
  return t;
}

struct Scaling {
  double mean = 0.0;
  double sd = 1.0;
  double operator()(double v) const { return (v - mean) / sd; }
};

Scaling ScalingOf(const std::vector<double>& values) {
  Scaling s;
  const double n = static_cast<double>(values.size());
  for (double v : values) s.mean += v / n;
  double ss = 0.0;
  for (double v : values) ss += (v - s.mean) * (v - s.mean);
  if (values.size() > 1 && ss > 0.0) s.sd = std::sqrt(ss / (n - 1.0));
  return s;
}

// The encoding learnt from the training file.
struct Encoding {
  std::vector<Scaling> inputs;
  std::map<std::string, int> classes;  // class -> unit
  Scaling target;
  int outputs = 1;
};

Encoding LearnEncoding(const Table& train, bool classify) {
  Encoding e;
  const std::size_t nInputs = train.inputs[0].size();
  for (std::size_t i = 0; i < nInputs; ++i) {
    std::vector<double> column;
    for (const auto& x : train.inputs) column.push_back(x[i]);
    e.inputs.push_back(ScalingOf(column));
  }
  if (classify) {
    for (const auto& t : train.targets) e.classes.emplace(t, static_cast<int>(e.classes.size()));
    e.outputs = static_cast<int>(e.classes.size());
    if (e.outputs < 2) Fail("the training file holds fewer than two classes");
  } else {
    std::vector<double> y;
    for (const auto& t : train.targets) y.push_back(std::strtod(t.c_str(), nullptr));
    e.target = ScalingOf(y);
  }
  return e;
}

// Encoded records: standardized inputs, then the encoded target. A class
// unseen in training gets no hot unit (only test records can have one).
std::vector<VXCommon_1_2::Record> Encode(const Table& t, const Encoding& e, bool classify) {
  std::vector<VXCommon_1_2::Record> records;
  for (std::size_t r = 0; r < t.inputs.size(); ++r) {
    std::vector<double> v;
    for (std::size_t i = 0; i < e.inputs.size(); ++i) v.push_back(e.inputs[i](t.inputs[r][i]));
    if (classify) {
      const auto found = e.classes.find(t.targets[r]);
      for (int k = 0; k < e.outputs; ++k)
        v.push_back(found != e.classes.end() && found->second == k ? 1.0 : 0.0);
    } else {
      v.push_back(e.target(std::strtod(t.targets[r].c_str(), nullptr)));
    }
    records.emplace_back(std::move(v));
  }
  return records;
}

// Only the data-pass limit can end the run.
std::unique_ptr<MLPSettings> MakeSettings(const Options& o, const Encoding& e, int records) {
  const std::vector<int> categories{o.classify ? e.outputs : 1};
  auto s = std::make_unique<MLPSettings>(static_cast<int>(e.inputs.size()), categories, records);
  s->SetNumHiddenLayers(1);
  s->SetNumHiddenUnits(o.hidden, 1);
  s->SetActivFnHiddenLayer(VXNNCommon::kTanH);
  s->SetActivFnOutputLayer(o.classify ? VXNNCommon::kSoftMax : VXNNCommon::kIdentity);
  s->SetTrainingMethodAndType(
      o.method == "scg" ? VXNNCommon::kScaledConjugateGradient : VXNNCommon::kGradientDescent,
      VXNNCommon::kBatch);
  s->SetMaxTime(1e9);
  s->SetMaxNDataPasses(o.passes);
  s->SetMinRelativeChangeError(0.0);
  s->SetMinErrorRatio(0.0);
  s->SetGradientNormLimit(0.0);
  s->SetAccuracy(101.0);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  const Table train = ReadCsv(o.train);
  const Encoding e = LearnEncoding(train, o.classify);
  const auto records = Encode(train, e, o.classify);
  const int n = static_cast<int>(records.size());

  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  VXCommon_1_2::VXStatus status;
  // Scores one encoded record into out.
  std::function<void(const VXCommon_1_2::Record&, std::vector<double>&)> score;
  // The algorithm keeps its sources: they live as long as it does.
  std::vector<VXCommon_1_2::Record> fit, held;
  auto fitSource = VXCommon_1_2::VectorRecordIter::Borrow(fit);
  auto heldSource = VXCommon_1_2::VectorRecordIter::Borrow(held);
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> net;
  std::unique_ptr<INeuralAlgorithm> algorithm;
  if (o.method.rfind("default", 0) == 0) {
    // The held-out records, when asked for: each training record is drawn
    // into them with probability 0.3 from the seed (portable generator).
    if (o.method == "default-holdout") {
      VXRandom draw(o.seed, true);
      for (const auto& r : records) (draw.Uniform() < 0.3 ? held : fit).push_back(r);
    } else {
      fit = records;
    }
    const int nFit = static_cast<int>(fit.size()), nHeld = static_cast<int>(held.size());
    settings = std::make_unique<MLPSettings>(static_cast<int>(e.inputs.size()),
                                             std::vector<int>{o.classify ? e.outputs : 1}, nFit);
    if (o.hidden >= 1) settings->SetNumHiddenUnits(o.hidden, 1);
    settings->SetRandomSeed(o.seed);
    settings->SetRandomSeedSampling(o.seed);
    const auto wall0 = std::chrono::steady_clock::now();
    const std::clock_t cpu0 = std::clock();
    MLPFactory factory;
    algorithm.reset(
        factory.CreateNeuralAlgorithm(*settings, fitSource, nHeld > 0 ? &heldSource : nullptr));
    if (!algorithm)
      Fail("no algorithm: code " + std::to_string(factory.GetStatus().GetErrorCode()));
    status = algorithm->Train(nFit, nHeld);
    const std::clock_t cpu1 = std::clock();
    const auto wall1 = std::chrono::steady_clock::now();
    if (status.IsError())
      Fail("training failed with code " + std::to_string(status.GetErrorCode()));
    std::printf("records=%d hidden=%d passes=%d cpu_s=%.6f wall_s=%.6f train_error=%.6g", n,
                algorithm->GetNumberOfHiddenUnits(), algorithm->GetNumberOfDataPasses(),
                static_cast<double>(cpu1 - cpu0) / CLOCKS_PER_SEC,
                std::chrono::duration<double>(wall1 - wall0).count(),
                algorithm->GetTrainingError() / n);
    score = [&](const VXCommon_1_2::Record& r, std::vector<double>& out) {
      VXCommon_1_2::Record result;
      algorithm->Score(r, result);
      for (std::size_t k = 0; k < out.size(); ++k) out[k] = result[static_cast<int>(k)];
    };
  } else {
    settings = MakeSettings(o, e, n);
    net = std::make_unique<NNetwork>(*settings);
    VXRandom rng(o.seed, true);
    net->RandomizeWeights(rng, -0.5, 0.5);
    std::unique_ptr<IOptimizationAlgorithm> optimizer;
    if (o.method == "scg")
      optimizer = std::make_unique<ScaledConjGrad>(settings.get(), net.get());
    else
      optimizer = std::make_unique<GradientDescentBatch>(settings.get(), net.get());
    const auto wall0 = std::chrono::steady_clock::now();
    const std::clock_t cpu0 = std::clock();
    optimizer->Train(status, source, nullptr, n, 0);
    const std::clock_t cpu1 = std::clock();
    const auto wall1 = std::chrono::steady_clock::now();
    if (status.IsError())
      Fail("training failed with code " + std::to_string(status.GetErrorCode()));
    std::printf("records=%d passes=%d cpu_s=%.6f wall_s=%.6f train_error=%.6g", n,
                optimizer->GetNDataPasses(), static_cast<double>(cpu1 - cpu0) / CLOCKS_PER_SEC,
                std::chrono::duration<double>(wall1 - wall0).count(),
                optimizer->GetTrainError() / n);
    score = [&](const VXCommon_1_2::Record& r, std::vector<double>& out) {
      net->Score(status, r.GetAll(), out.data());
    };
  }

  if (!o.test.empty()) {
    const Table test = ReadCsv(o.test);
    if (test.inputs[0].size() != e.inputs.size()) Fail("the test file has other inputs");
    const auto encoded = Encode(test, e, o.classify);
    std::vector<double> out(static_cast<std::size_t>(e.outputs));
    double hits = 0.0, sse = 0.0, sseMean = 0.0;
    for (std::size_t r = 0; r < encoded.size(); ++r) {
      score(encoded[r], out);
      if (o.classify) {
        int best = 0;
        for (int k = 1; k < e.outputs; ++k)
          if (out[static_cast<std::size_t>(k)] > out[static_cast<std::size_t>(best)]) best = k;
        if (encoded[r][static_cast<int>(e.inputs.size()) + best] == 1.0) hits += 1.0;
      } else {
        const double y = std::strtod(test.targets[r].c_str(), nullptr);
        const double predicted = out[0] * e.target.sd + e.target.mean;
        sse += (y - predicted) * (y - predicted);
        sseMean += (y - e.target.mean) * (y - e.target.mean);
      }
    }
    if (o.classify)
      std::printf(" accuracy=%.6f", hits / static_cast<double>(encoded.size()));
    else
      std::printf(" relerr=%.6f", sse / sseMean);
  }
  std::printf("\n");
  return 0;
}
