// Shared by the MLP driver tests: the variable lists and models built over
// the generated mixed records, and a plain reference of the encoding.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <valarray>
#include <vector>

#include "common/host_doubles.h"
#include "common/mixed_records.h"
#include "common/stream_faults.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/variables/NNVarList.h"

namespace mlpdriver {

using host_doubles::CountdownCancel;
using host_doubles::FunctionListener;
using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;
using namespace mixed_records;

constexpr double kMissing = VXMV::gMissingValue;
// Lists of values checked against lists of expected ones, in order.
using Ints = std::vector<int>;
using Doubles = std::vector<double>;

// Which targets a list declares; the other target field is Unused.
enum Targets { kCategoricalTarget, kContinuousTarget, kBothTargets };

inline NNVarList MakeList(const std::vector<Record>& records, Targets targets) {
  NNVarList list;
  auto continuous = [&](const char* name, int field, INNVariable::VariableRole role) {
    const Moments m = MomentsOf(records, field);
    list.AddContVar(name, "", m.min, m.max, m.mean, m.variance, role, INNVariable::kReal);
  };
  auto categorical = [&](const char* name, int n, INNVariable::VariableRole role) {
    list.AddCatVar(name, "", n, INNVariable::kNumericCategorical, role, INNVariable::kInteger);
  };
  continuous("x", kX, INNVariable::kInput);
  categorical("c", 3, INNVariable::kInput);
  continuous("v", kV, INNVariable::kInput);
  categorical("y", 2, targets == kContinuousTarget ? INNVariable::kUnused : INNVariable::kOutput);
  continuous("z", kZ, targets == kCategoricalTarget ? INNVariable::kUnused : INNVariable::kOutput);
  return list;
}

// Without a severity: the states' codes 4 and 6 are warnings, other codes
// errors.
inline void ExpectStatus(const VXStatus& s, int code, int severity = -2) {
  EXPECT_EQ(s.GetErrorCode(), code);
  if (severity == -2) severity = code == 0 ? 0 : (code == 4 || code == 6) ? 1 : -1;
  EXPECT_EQ(s.GetSeverity(), severity) << code;
}

// The raw inputs of a record encoded by hand: continuous inputs as
// (value - mean) / standard deviation, categorical ones one unit per
// category.
inline std::vector<double> EncodeInputsByHand(const std::vector<Record>& train, const Record& r) {
  const Moments x = MomentsOf(train, kX), v = MomentsOf(train, kV);
  std::vector<double> in{(r[kX] - x.mean) / std::sqrt(x.variance), 0.0, 0.0, 0.0,
                         (r[kV] - v.mean) / std::sqrt(v.variance)};
  in[1 + static_cast<int>(r[kC])] = 1.0;
  return in;
}

inline std::vector<int> OutputCategories(Targets targets) {
  if (targets == kBothTargets) return {2, 1};
  return {targets == kCategoricalTarget ? 2 : 1};
}

// Encoded records of raw ones, by hand: the inputs, then y one-hot (two
// units) and z as (value - mean) / standard deviation.
inline std::vector<Record> EncodeByHand(const std::vector<Record>& train,
                                        const std::vector<Record>& records, Targets targets) {
  const Moments z = MomentsOf(train, kZ);
  std::vector<Record> encoded;
  for (const Record& r : records) {
    std::vector<double> units = EncodeInputsByHand(train, r);
    if (targets != kContinuousTarget) {
      units.push_back(r[kY] == 0.0 ? 1.0 : 0.0);
      units.push_back(r[kY] == 1.0 ? 1.0 : 0.0);
    }
    if (targets != kCategoricalTarget) units.push_back((r[kZ] - z.mean) / std::sqrt(z.variance));
    encoded.push_back(Record(units));
  }
  return encoded;
}

inline std::vector<double> WeightsOf(const NNetwork* network) {
  std::valarray<double> w;
  if (network != nullptr) network->GetWeights(w);
  return std::vector<double>(std::begin(w), std::end(w));
}
inline std::vector<double> WeightsOf(const MLPAlgorithm& a) { return WeightsOf(a.GetNetwork()); }

// What a run leaves: state, counters, errors (and for an MLP its iterations
// and its flag to reinitialise the weights), then the raw outputs of every
// record.
inline std::vector<double> RunOf(const INeuralAlgorithm& a, const std::vector<Record>& records) {
  std::vector<double> run{a.GetTrainingError(), a.GetTestingError(), a.GetTrainingBIC()};
  for (int v : {int(a.GetAlgorithmStatus()), a.GetNumberOfDataPasses(), a.GetNumberOfHiddenUnits(),
                int(a.GetStopReason())})
    run.push_back(v);
  if (const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a)) {
    run.push_back(mlp->GetNumberOfIterations());
    run.push_back(mlp->GetReinitializeWeights());
  }
  // A model with a variable list scores the inputs alone; one without
  // takes encoded records, whose input units come first.
  const bool raw = a.GetVarList() != nullptr;
  for (const Record& r : records) {
    Record out;
    EXPECT_EQ(a.Score(raw ? InputsOf(r) : r, out), VXStatus());
    run.insert(run.end(), out.GetAll(), out.GetAll() + out.Size());
  }
  return run;
}

inline std::string Save(const INeuralAlgorithm& a, bool xml) {
  std::stringstream out;
  EXPECT_EQ(xml ? a.SaveStateXML(out) : a.SaveState(out), VXStatus());
  return out.str();
}

// The same settings with a method and type that select no optimizer
// (scaled conjugate gradient with mini-batches): the setters refuse the
// pair, but a settings object read from a stream can carry it.
inline MLPSettings WithoutOptimizer(const MLPSettings& settings) {
  MLPSettings gd = settings;
  gd.SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch);
  std::stringstream bytes;
  gd.WriteObject(bytes);
  // The method follows the tag, three doubles, the mini-batch size and flag.
  std::istringstream in(stream_faults::WithInt32(bytes.str(), 6 + 3 * 8 + 4 + 4, 0));
  MLPSettings patched = settings;
  patched.ReadObject(in);
  EXPECT_EQ(patched.GetTrainingMethod(), VXNNCommon::kScaledConjugateGradient);
  EXPECT_EQ(patched.GetTrainType(), VXNNCommon::kMiniBatch);
  return patched;
}

// Owns what a test's algorithm needs to outlive it; Settings, Factory and
// Algorithm are those of one kind of network.
template <class Settings, class Factory, class Algorithm>
struct ModelOf {
  using SettingsType = Settings;
  using FactoryType = Factory;
  using AlgorithmType = Algorithm;
  std::vector<Record> trainRecords, testRecords;
  NNVarList list;
  Settings settings;
  std::unique_ptr<VectorRecordIter> train, test;
  Factory factory;
  std::unique_ptr<INeuralAlgorithm> algorithm;

  Algorithm& Alg() { return dynamic_cast<Algorithm&>(*algorithm); }
};

struct Model : ModelOf<MLPSettings, MLPFactory, MLPAlgorithm> {
  MLPAlgorithm& Mlp() { return Alg(); }
};

// A model built by the factory over raw records and a variable list, or
// (encoded) over records encoded by hand without one. settingsFor makes
// the settings from the list (or, encoded, from the counts), before adjust
// sees them. nTest 0: no test source.
template <class M, class SettingsFor>
std::unique_ptr<M> BuildModel(Targets targets, int nTrain, int nTest, unsigned seed, bool encoded,
                              SettingsFor&& settingsFor,
                              const std::function<void(typename M::SettingsType&)>& adjust) {
  auto m = std::make_unique<M>();
  const std::vector<Record> raw = MakeRecords(nTrain, seed);
  m->trainRecords = encoded ? EncodeByHand(raw, raw, targets) : raw;
  m->testRecords = MakeRecords(nTest, seed + 100);
  if (encoded) m->testRecords = EncodeByHand(raw, m->testRecords, targets);
  m->list = MakeList(raw, targets);
  m->settings = settingsFor(encoded ? nullptr : &m->list, nTrain);
  if (adjust) adjust(m->settings);
  m->train = std::make_unique<VectorRecordIter>(m->trainRecords);
  if (nTest > 0) m->test = std::make_unique<VectorRecordIter>(m->testRecords);
  m->algorithm.reset(encoded
                         ? m->factory.CreateNeuralAlgorithm(m->settings, *m->train, m->test.get())
                         : m->factory.CreateNeuralAlgorithm(m->settings, m->list, *m->train,
                                                            m->test.get(), nullptr));
  return m;
}

// An MLP model, small and quick: 3 hidden units, a search range of 1..3,
// few passes.
inline std::unique_ptr<Model> MakeModel(Targets targets, int nTrain, int nTest, unsigned seed = 1,
                                        const std::function<void(MLPSettings&)>& adjust = {},
                                        bool encoded = false) {
  auto settingsFor = [targets](const NNVarList* list, int nTrain) {
    MLPSettings s =
        list ? MLPSettings(*list, nTrain) : MLPSettings(5, OutputCategories(targets), nTrain);
    s.SetNumHiddenUnits(3, 1);
    s.SetNHiddenUnitsRange(1, 3);
    s.SetMaxNDataPasses(40);
    s.SetRandomSeed(7);
    s.SetRandomSeedSampling(11);
    return s;
  };
  return BuildModel<Model>(targets, nTrain, nTest, seed, encoded, settingsFor, adjust);
}

// A restored algorithm with the sources it reads.
template <class Algorithm>
struct RestoredOf {
  std::unique_ptr<VectorRecordIter> train, test;
  VXStatus status;
  std::unique_ptr<INeuralAlgorithm> algorithm;
  Algorithm& Alg() { return dynamic_cast<Algorithm&>(*algorithm); }
};

// Restores a saved form of m's model in one step (or two, when twoSteps:
// the first reading the settings and list), over sources like m's.
template <class M, class R = RestoredOf<typename M::AlgorithmType>>
std::unique_ptr<R> RestoreModel(const std::string& bytes, bool xml, const M& m,
                                bool twoSteps = false) {
  auto r = std::make_unique<R>();
  r->train = std::make_unique<VectorRecordIter>(m.trainRecords);
  if (m.test) r->test = std::make_unique<VectorRecordIter>(m.testRecords);
  std::istringstream in(bytes);
  typename M::FactoryType factory;
  if (twoSteps) {
    xml ? factory.RestoreNNVarListFromXML(in) : factory.RestoreNNVarListFromBinary(in);
    if (factory.GetStatus().IsOK()) {
      r->algorithm.reset(
          xml ? factory.FinishRestoringAlgorithmFromXML(in, *r->train, r->test.get())
              : factory.FinishRestoringAlgorithmFromBinary(in, *r->train, r->test.get()));
    }
  } else {
    r->algorithm.reset(
        xml ? factory.RestoreNeuralAlgorithmFromXML(in, *r->train, r->test.get())
            : factory.RestoreNeuralAlgorithmFromBinary(in, *r->train, r->test.get()));
  }
  r->status = factory.GetStatus();
  return r;
}

// Restoring bytes gives no algorithm and the code of the form (OK for an
// XML document whose start is cut: nothing more is read); standard error
// is kept for the caller.
template <class M>
::testing::AssertionResult RefusedModel(const std::string& bytes, bool xml, const M& m,
                                        std::string* err = nullptr) {
  testing::internal::CaptureStderr();
  auto r = RestoreModel(bytes, xml, m);
  const std::string written = testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = written;
  if (r->algorithm) return ::testing::AssertionFailure() << "restored";
  const bool started =
      !xml || bytes.find('>', bytes.find(std::string("<") + VXXML_1_2::kRootName)) != bytes.npos;
  if (!started) {
    if (r->status.IsOK() && written.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << r->status << " before the start";
  }
  if (r->status.GetErrorCode() != (xml ? 50007 : 50006) || !r->status.IsError())
    return ::testing::AssertionFailure() << "status " << r->status;
  return ::testing::AssertionSuccess();
}

}  // namespace mlpdriver
