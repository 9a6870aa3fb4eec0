// Shared by the MLP driver tests: a small generated data set with
// continuous and categorical fields, the variable lists and settings built
// over it, host call-back objects that can reach back into the algorithm,
// a stream that calls back while it is written, and a plain reference of
// the encoding and the forward pass.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <valarray>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/variables/NNVarList.h"

namespace mlpdriver {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

constexpr double kMissing = VXMV::gMissingValue;

// Raw record layout: x (continuous, 0..10), c (code 0..2), v (continuous),
// y (code 0..1), z (continuous). Which fields are inputs or targets is the
// variable list's business.
enum Field { kX = 0, kC, kV, kY, kZ, kFields };

// A deterministic generator of its own, so that the data do not depend on
// the library's random generator.
inline std::vector<Record> MakeRecords(int n, unsigned seed) {
  unsigned state = seed * 2654435761u + 1u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0;
  };
  std::vector<Record> records;
  for (int i = 0; i < n; ++i) {
    const double x = std::round(next() * 1000.0) / 100.0;
    const int c = static_cast<int>(next() * 3.0) % 3;
    const double v = std::round((next() * 4.0 - 2.0) * 100.0) / 100.0;
    const double noise = next() - 0.5;
    const int y = (x + 2.5 * c + 2.0 * v + 2.0 * noise > 7.0) ? 1 : 0;
    const double z = std::sin(x / 3.0) + 0.5 * c + 0.3 * v + 0.1 * noise;
    records.push_back(Record(std::vector<double>{x, double(c), v, double(y), z}));
  }
  return records;
}

struct Moments {
  double min, max, mean, variance;
};

inline Moments MomentsOf(const std::vector<Record>& records, int field) {
  Moments m{records[0][field], records[0][field], 0.0, 0.0};
  for (const Record& r : records) {
    m.min = std::min(m.min, r[field]);
    m.max = std::max(m.max, r[field]);
    m.mean += r[field];
  }
  m.mean /= records.size();
  for (const Record& r : records) m.variance += (r[field] - m.mean) * (r[field] - m.mean);
  m.variance /= records.size() - 1;
  return m;
}

// Which targets a list declares; the other target field is Unused.
enum Targets { kCategoricalTarget, kContinuousTarget, kBothTargets };

inline NNVarList MakeList(const std::vector<Record>& records, Targets targets) {
  NNVarList list;
  const Moments x = MomentsOf(records, kX);
  const Moments v = MomentsOf(records, kV);
  const Moments z = MomentsOf(records, kZ);
  list.AddContVar("x", "", x.min, x.max, x.mean, x.variance, INNVariable::kInput,
                  INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddContVar("v", "", v.min, v.max, v.mean, v.variance, INNVariable::kInput,
                  INNVariable::kReal);
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical,
                 targets == kContinuousTarget ? INNVariable::kUnused : INNVariable::kOutput,
                 INNVariable::kInteger);
  list.AddContVar("z", "", z.min, z.max, z.mean, z.variance,
                  targets == kCategoricalTarget ? INNVariable::kUnused : INNVariable::kOutput,
                  INNVariable::kReal);
  return list;
}

// Small and quick: 3 hidden units, a search range of 1..3, few passes.
inline MLPSettings MakeSettings(const NNVarList& list, int nTrain) {
  MLPSettings s(list, nTrain);
  s.SetNumHiddenUnits(3, 1);
  s.SetNHiddenUnitsRange(1, 3);
  s.SetMaxNDataPasses(40);
  s.SetRandomSeed(7);
  s.SetRandomSeedSampling(11);
  return s;
}

// A rewindable source that remembers the longest run of records handed
// out between two rewinds, and how often it was rewound.
class CountingSource : public MultiPassRecordIter {
 public:
  explicit CountingSource(std::vector<Record> records) : fRecords(std::move(records)) {}
  bool IsGood() override { return fPos < fRecords.size(); }
  const Record* Next() override {
    if (fPos >= fRecords.size()) return nullptr;
    fLongestRun = std::max(fLongestRun, ++fRun);
    return &fRecords[fPos++];
  }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    ++fRewinds;
    fPos = 0;
    fRun = 0;
    return GetStatus();
  }
  int LongestRun() const { return fLongestRun; }
  void ResetLongestRun() { fLongestRun = 0; }
  int Rewinds() const { return fRewinds; }
  std::size_t Position() const { return fPos; }

 private:
  std::vector<Record> fRecords;
  std::size_t fPos = 0;
  int fRun = 0;
  int fLongestRun = 0;
  int fRewinds = 0;
};

// Answers false until armed, then true once `after` further queries have
// been answered false.
class CountdownCancel : public VXCommon_1_2::VXQueryCancel {
 public:
  bool QueryCancel() override {
    ++fQueries;
    if (!fArmed) return false;
    if (fAfter > 0) {
      --fAfter;
      return false;
    }
    return true;
  }
  void Arm(int after = 0) {
    fArmed = true;
    fAfter = after;
  }
  int Queries() const { return fQueries; }

 private:
  bool fArmed = false;
  int fAfter = 0;
  int fQueries = 0;
};

class FunctionListener : public VXCommon_1_2::ProgressListener {
 public:
  explicit FunctionListener(std::function<void(VXCommon_1_2::ProgressReport&)> f)
      : fFunction(std::move(f)) {}
  void Report(VXCommon_1_2::ProgressReport& report) override {
    ++fReports;
    fFunction(report);
  }
  int Reports() const { return fReports; }

 private:
  std::function<void(VXCommon_1_2::ProgressReport&)> fFunction;
  int fReports = 0;
};

// An output stream that runs a hook once, at the first byte written, and
// keeps everything written.
class HookStreamBuf : public std::streambuf {
 public:
  explicit HookStreamBuf(std::function<void()> hook) : fHook(std::move(hook)) {}
  const std::string& Text() const { return fText; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    Fire();
    fText.push_back(static_cast<char>(c));
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    Fire();
    fText.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  void Fire() {
    if (fFired) return;
    fFired = true;
    fHook();
  }
  std::function<void()> fHook;
  bool fFired = false;
  std::string fText;
};

inline void ExpectStatus(const VXStatus& s, int code, int severity) {
  EXPECT_EQ(s.GetErrorCode(), code);
  EXPECT_EQ(s.GetSeverity(), severity);
}

// The raw inputs of a record encoded by hand: continuous inputs as
// (value - mean) / standard deviation, categorical ones one unit per
// category.
inline std::vector<double> EncodeInputsByHand(const std::vector<Record>& train, const Record& r) {
  const Moments x = MomentsOf(train, kX);
  const Moments v = MomentsOf(train, kV);
  std::vector<double> in{(r[kX] - x.mean) / std::sqrt(x.variance), 0.0, 0.0, 0.0,
                         (r[kV] - v.mean) / std::sqrt(v.variance)};
  in[1 + static_cast<int>(r[kC])] = 1.0;
  return in;
}

// The target units of a record: y one-hot (two units), z as
// (value - mean) / standard deviation.
inline std::vector<double> EncodeTargetsByHand(const std::vector<Record>& train, const Record& r,
                                               Targets targets) {
  std::vector<double> t;
  if (targets != kContinuousTarget) {
    t.push_back(r[kY] == 0.0 ? 1.0 : 0.0);
    t.push_back(r[kY] == 1.0 ? 1.0 : 0.0);
  }
  if (targets != kCategoricalTarget) {
    const Moments z = MomentsOf(train, kZ);
    t.push_back((r[kZ] - z.mean) / std::sqrt(z.variance));
  }
  return t;
}

inline std::vector<int> OutputCategories(Targets targets) {
  if (targets == kCategoricalTarget) return {2};
  if (targets == kContinuousTarget) return {1};
  return {2, 1};
}

// Encoded records (inputs, then targets) of raw ones, by hand.
inline std::vector<Record> EncodeByHand(const std::vector<Record>& train,
                                        const std::vector<Record>& records, Targets targets) {
  std::vector<Record> encoded;
  for (const Record& r : records) {
    std::vector<double> units = EncodeInputsByHand(train, r);
    for (double t : EncodeTargetsByHand(train, r, targets)) units.push_back(t);
    encoded.push_back(Record(units));
  }
  return encoded;
}

// A one-hidden-layer forward pass straight from the flat weights: TanH
// hidden units, and either one SoftMax group or Identity outputs.
inline std::vector<double> ForwardByHand(const std::valarray<double>& w,
                                         const std::vector<double>& in, int hidden, int outputs,
                                         bool softMax) {
  std::size_t k = 0;
  std::vector<double> h(static_cast<std::size_t>(hidden));
  for (double& hj : h) {
    double a = w[k++];
    for (double xi : in) a += w[k++] * xi;
    hj = std::tanh(a);
  }
  std::vector<double> o(static_cast<std::size_t>(outputs));
  for (double& oj : o) {
    oj = w[k++];
    for (double hj : h) oj += w[k++] * hj;
  }
  if (softMax) {
    double sum = 0.0;
    for (double oj : o) sum += std::exp(oj);
    for (double& oj : o) oj = std::exp(oj) / sum;
  }
  return o;
}

inline std::valarray<double> WeightsOf(const MLPAlgorithm& algorithm) {
  std::valarray<double> w;
  if (algorithm.GetNetwork() != nullptr) algorithm.GetNetwork()->GetWeights(w);
  return w;
}

inline bool SameWeights(const std::valarray<double>& a, const std::valarray<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// The same settings with a method and type that select no optimizer
// (scaled conjugate gradient with mini-batches): the setters refuse the
// pair, but a settings object read from a stream can carry it.
inline MLPSettings WithoutOptimizer(const MLPSettings& settings) {
  MLPSettings gd = settings;
  gd.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch);
  std::stringstream bytes;
  gd.WriteObject(bytes);
  std::string b = bytes.str();
  // The method follows the tag, three doubles, the mini-batch size and flag.
  b[6 + 3 * 8 + 4 + 4] = 0;
  MLPSettings patched = settings;
  std::istringstream in(b);
  patched.ReadObject(in);
  EXPECT_EQ(patched.GetTrainingMethod(), VXNNCommon::kScaledConjugateGradient);
  EXPECT_EQ(patched.GetTrainType(), VXNNCommon::kMiniBatch);
  return patched;
}

// Owns what a test's algorithm needs to outlive it.
struct Model {
  std::vector<Record> trainRecords;
  std::vector<Record> testRecords;
  NNVarList list;
  MLPSettings settings;
  std::unique_ptr<VectorRecordIter> train;
  std::unique_ptr<VectorRecordIter> test;
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> algorithm;

  MLPAlgorithm& Mlp() { return dynamic_cast<MLPAlgorithm&>(*algorithm); }
};

// A model over records encoded by hand, built by the factory without a
// variable list.
inline std::unique_ptr<Model> MakeEncodedModel(
    Targets targets, int nTrain, int nTest, unsigned seed = 1,
    const std::function<void(MLPSettings&)>& adjust = {}) {
  auto m = std::make_unique<Model>();
  const std::vector<Record> raw = MakeRecords(nTrain, seed);
  m->trainRecords = EncodeByHand(raw, raw, targets);
  m->testRecords = EncodeByHand(raw, MakeRecords(nTest, seed + 100), targets);
  m->settings = MLPSettings(5, OutputCategories(targets), nTrain);
  m->settings.SetNumHiddenUnits(3, 1);
  m->settings.SetNHiddenUnitsRange(1, 3);
  m->settings.SetMaxNDataPasses(40);
  m->settings.SetRandomSeed(7);
  m->settings.SetRandomSeedSampling(11);
  if (adjust) adjust(m->settings);
  m->train = std::make_unique<VectorRecordIter>(m->trainRecords);
  if (nTest > 0) m->test = std::make_unique<VectorRecordIter>(m->testRecords);
  m->algorithm.reset(m->factory.CreateNeuralAlgorithm(m->settings, *m->train, m->test.get()));
  return m;
}

// A model over raw records, built by the factory. nTest 0: no test source.
inline std::unique_ptr<Model> MakeModel(Targets targets, int nTrain, int nTest, unsigned seed = 1,
                                        const std::function<void(MLPSettings&)>& adjust = {}) {
  auto m = std::make_unique<Model>();
  m->trainRecords = MakeRecords(nTrain, seed);
  m->testRecords = MakeRecords(nTest, seed + 100);
  m->list = MakeList(m->trainRecords, targets);
  m->settings = MakeSettings(m->list, nTrain);
  if (adjust) adjust(m->settings);
  m->train = std::make_unique<VectorRecordIter>(m->trainRecords);
  if (nTest > 0) m->test = std::make_unique<VectorRecordIter>(m->testRecords);
  m->algorithm.reset(
      m->factory.CreateNeuralAlgorithm(m->settings, m->list, *m->train, m->test.get(), nullptr));
  return m;
}

}  // namespace mlpdriver
