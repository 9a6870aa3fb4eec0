// Small networks, encoded records and host call-backs shared by the
// optimizer tests.
#pragma once

#include <cmath>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"

namespace optim_fixtures {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// Settings for inputs -> hidden... -> outputs, with every stop rule switched
// off except a data-pass limit, and batch updates.
inline std::unique_ptr<MLPSettings> MakeSettings(int inputs, const std::vector<int>& categories,
                                                 const std::vector<int>& hidden,
                                                 VXNNCommon::ActivationFunction outputFn,
                                                 int records) {
  auto s = std::make_unique<MLPSettings>(inputs, categories, records);
  s->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    s->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  s->SetActivFnHiddenLayer(VXNNCommon::kTanH);
  std::ostringstream quiet;
  auto* old = std::cerr.rdbuf(quiet.rdbuf());
  s->SetActivFnOutputLayer(outputFn);
  std::cerr.rdbuf(old);
  s->SetMaxTime(1e9);
  s->SetMaxNDataPasses(50);
  s->SetMinRelativeChangeError(0.0);
  s->SetMinErrorRatio(0.0);
  s->SetGradientNormLimit(0.0);
  s->SetAccuracy(101.0);
  s->SetMaxNStepsTrackError(1000);
  s->SetUpdateType(VXNNCommon::kBatch);
  return s;
}

// A linear model, y = 0.8 x0 - 0.5 x1 + 0.3 + noise: with no hidden layer
// and an Identity output its error is a convex quadratic of the weights.
// slope scales the target (negative slopes give data that disagree).
inline std::vector<Record> LinearRecords(int n, unsigned seed, double slope = 1.0) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    const double x0 = u(gen);
    const double x1 = u(gen);
    const double y = slope * (0.8 * x0 - 0.5 * x1 + 0.3) + 0.05 * u(gen);
    records.emplace_back(std::vector<double>{x0, x1, y});
  }
  return records;
}

inline std::valarray<double> UniformWeights(int n, unsigned seed, double lo, double hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::valarray<double> w(static_cast<std::size_t>(n));
  for (double& x : w) x = u(gen);
  return w;
}

inline std::valarray<double> WeightsOf(const NNetwork& net) {
  std::valarray<double> w;
  net.GetWeights(w);
  return w;
}

inline double Norm(const std::valarray<double>& v) { return std::sqrt((v * v).sum()); }

// Error and gradient of a network at weights w over the records: the
// network serves as an oracle, the optimizer's logic is checked against a
// second implementation in the tests.
struct Evaluation {
  double error = 0.0;
  std::valarray<double> gradient;
  double accuracy = 0.0;
};
inline Evaluation Evaluate(NNetwork& net, const std::valarray<double>& w,
                           const std::vector<Record>& records, bool accuracy = false) {
  net.ResetAll();
  net.SetWeights(w);
  auto source = VectorRecordIter::Borrow(records);
  VXStatus status;
  int n = 0;
  net.ProcessRecords(status, source, static_cast<int>(records.size()), n, false, accuracy);
  Evaluation e;
  e.error = net.GetAccumError();
  e.gradient.resize(static_cast<std::size_t>(net.GetNumWeights()));
  net.GetGradient(e.gradient);
  e.accuracy = net.GetAccuracy();
  return e;
}

// Sum-of-squares error of predicting every record's target by the mean
// target: the error of the mean model.
inline double MeanModelError(const std::vector<Record>& records, int inputs, int outputs) {
  std::vector<double> mean(static_cast<std::size_t>(outputs), 0.0);
  for (const Record& r : records)
    for (int k = 0; k < outputs; ++k) mean[static_cast<std::size_t>(k)] += r[inputs + k];
  for (double& m : mean) m /= static_cast<double>(records.size());
  double e = 0.0;
  for (const Record& r : records)
    for (int k = 0; k < outputs; ++k) {
      const double d = r[inputs + k] - mean[static_cast<std::size_t>(k)];
      e += 0.5 * d * d;
    }
  return e;
}

// A host cancel object driven by a predicate, counting its polls.
class CancelWhen : public VXCommon_1_2::VXQueryCancel {
 public:
  explicit CancelWhen(std::function<bool()> when) : fWhen(std::move(when)) {}
  bool QueryCancel() override {
    ++fPolls;
    return fWhen();
  }
  int Polls() const { return fPolls; }

 private:
  std::function<bool()> fWhen;
  int fPolls = 0;
};

// A record source over borrowed records that counts the records handed out.
class CountingIter : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit CountingIter(const std::vector<Record>& records)
      : fInner(VectorRecordIter::Borrow(records)) {}
  bool IsGood() override { return fInner.IsGood(); }
  const Record* Next() override {
    const Record* r = fInner.Next();
    if (r != nullptr) ++fCount;
    return r;
  }
  int GetStatus() override { return fInner.GetStatus(); }
  int Rewind() override { return fInner.Rewind(); }
  int Count() const { return fCount; }

 private:
  VectorRecordIter fInner;
  int fCount = 0;
};

// The iris data set with standardized inputs and a one-of-3 target.
inline std::vector<Record> IrisRecords() {
  std::ifstream in(VXNN_DATA_DIR "/iris.csv");
  std::string line;
  std::getline(in, line);
  std::vector<std::vector<double>> inputs;
  std::vector<int> classes;
  const std::vector<std::string> names = {"setosa", "versicolor", "virginica"};
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::stringstream fields(line);
    std::string field;
    std::vector<double> x;
    for (int i = 0; i < 4; ++i) {
      std::getline(fields, field, ',');
      x.push_back(std::stod(field));
    }
    std::getline(fields, field);
    while (!field.empty() && (field.back() == '\r' || field.back() == ' ')) field.pop_back();
    int c = -1;
    for (int k = 0; k < 3; ++k)
      if (field == names[static_cast<std::size_t>(k)]) c = k;
    if (c < 0) continue;
    inputs.push_back(x);
    classes.push_back(c);
  }
  const double n = static_cast<double>(inputs.size());
  std::vector<Record> records;
  std::vector<double> mean(4, 0.0), sd(4, 0.0);
  for (const auto& x : inputs)
    for (std::size_t i = 0; i < 4; ++i) mean[i] += x[i] / n;
  for (const auto& x : inputs)
    for (std::size_t i = 0; i < 4; ++i) sd[i] += (x[i] - mean[i]) * (x[i] - mean[i]) / (n - 1.0);
  for (std::size_t r = 0; r < inputs.size(); ++r) {
    std::vector<double> v;
    for (std::size_t i = 0; i < 4; ++i) v.push_back((inputs[r][i] - mean[i]) / std::sqrt(sd[i]));
    for (int k = 0; k < 3; ++k) v.push_back(k == classes[r] ? 1.0 : 0.0);
    records.emplace_back(std::move(v));
  }
  return records;
}

// Runs f with standard error captured; returns what was written.
template <typename F>
std::string CaptureStderr(F&& f) {
  std::ostringstream captured;
  auto* old = std::cerr.rdbuf(captured.rdbuf());
  try {
    f();
  } catch (...) {
    std::cerr.rdbuf(old);
    throw;
  }
  std::cerr.rdbuf(old);
  return captured.str();
}

// True when f threw a VXNeural::IOException pointer (which is deleted).
template <typename F>
bool ThrowsIOException(F&& f) {
  try {
    f();
  } catch (VXNeural::IOException* e) {
    delete e;
    return true;
  }
  return false;
}

}  // namespace optim_fixtures
