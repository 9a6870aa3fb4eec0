// Shared by the evaluation tests: small networks with weights set by hand,
// record sources that show how they were read, and host call-backs.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <valarray>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"

namespace evaltest {

using VXCommon_1_2::Record;

// A network and the settings it points to (which must outlive it).
struct Net {
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> network;
  NNetwork& operator*() { return *network; }
  NNetwork* operator->() { return network.get(); }
};

// hidden: units of each hidden layer (TanH); out: the output activation.
inline Net MakeNet(int inputs, const std::vector<int>& categories, const std::vector<int>& hidden,
                   VXNNCommon::ActivationFunction out) {
  Net n;
  n.settings = std::make_unique<MLPSettings>(inputs, categories, 100);
  n.settings->SetNumHiddenLayers(static_cast<int>(hidden.size()));
  for (std::size_t l = 0; l < hidden.size(); ++l)
    n.settings->SetNumHiddenUnits(hidden[l], static_cast<int>(l) + 1);
  n.settings->SetActivFnHiddenLayer(VXNNCommon::kTanH);
  std::ostringstream quiet;
  auto* old = std::cerr.rdbuf(quiet.rdbuf());
  n.settings->SetActivFnOutputLayer(out);
  std::cerr.rdbuf(old);
  n.network = std::make_unique<NNetwork>(*n.settings);
  return n;
}

// A network without hidden layers and with Identity outputs:
// output k = bias[k] + sum_i weight[k][i] * input i.
inline Net LinearNet(const std::vector<int>& categories, const std::vector<double>& bias,
                     const std::vector<std::vector<double>>& weight) {
  const int inputs = static_cast<int>(weight.at(0).size());
  Net n = MakeNet(inputs, categories, {}, VXNNCommon::kIdentity);
  std::valarray<double> w(static_cast<std::size_t>(n->GetNumWeights()));
  std::size_t at = 0;
  for (std::size_t k = 0; k < bias.size(); ++k) {
    w[at++] = bias[k];
    for (double x : weight[k]) w[at++] = x;
  }
  EXPECT_EQ(at, w.size());
  n->SetWeights(w);
  return n;
}

// A linear network whose output unit k copies input k.
inline Net CopyNet(const std::vector<int>& categories) {
  int units = 0;
  for (int c : categories) units += c;
  std::vector<std::vector<double>> weight(static_cast<std::size_t>(units),
                                          std::vector<double>(static_cast<std::size_t>(units)));
  for (std::size_t k = 0; k < weight.size(); ++k) weight[k][k] = 1.0;
  return LinearNet(categories, std::vector<double>(weight.size(), 0.0), weight);
}

// Rewindable source that counts its rewinds and remembers how far it was
// read.
class Source : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit Source(std::vector<Record> records) : fRecords(std::move(records)) {}
  bool IsGood() override { return fPos < fRecords.size(); }
  const Record* Next() override { return fPos < fRecords.size() ? &fRecords[fPos++] : nullptr; }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    ++fRewinds;
    fPos = 0;
    return GetStatus();
  }
  int Rewinds() const { return fRewinds; }
  std::size_t Position() const { return fPos; }
  const std::vector<Record>& Records() const { return fRecords; }

 private:
  std::vector<Record> fRecords;
  std::size_t fPos = 0;
  int fRewinds = 0;
};

// Answers true from its n-th query on.
class CancelAt : public VXCommon_1_2::VXQueryCancel {
 public:
  explicit CancelAt(int n) : fN(n) {}
  bool QueryCancel() override { return ++fQueries >= fN; }
  int Queries() const { return fQueries; }

 private:
  int fN;
  int fQueries = 0;
};

class FunctionListener : public VXCommon_1_2::ProgressListener {
 public:
  explicit FunctionListener(std::function<void(VXCommon_1_2::ProgressReport&)> f)
      : fFunction(std::move(f)) {}
  void Report(VXCommon_1_2::ProgressReport& report) override { fFunction(report); }

 private:
  std::function<void(VXCommon_1_2::ProgressReport&)> fFunction;
};

// A record from its input values followed by its target values.
inline Record Rec(std::vector<double> inputs, const std::vector<double>& targets) {
  inputs.insert(inputs.end(), targets.begin(), targets.end());
  return Record(std::move(inputs));
}

}  // namespace evaltest
