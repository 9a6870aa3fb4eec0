#include "vxneural/algorithm/MLPSettings.h"

#include <algorithm>
#include <cstdint>
#include <ostream>

#include "algorithm/SettingsIO.h"
#include "persist/Display.h"
#include "vxneural/variables/NNVarList.h"
#include "vxneural/variables/VXVarAdapter.h"

using namespace VXNNCommon;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::ReadEnum;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClassName[] = "MLPSettings";
const char kTag[] = "MLPSet";
const char kPrefix[] = "Error reading ";
constexpr int kXmlLevel = 1;

// Weight counts are ints in the saved forms; absurd shapes saturate rather
// than overflow.
int SaturatedCount(double n) {
  if (!(n < static_cast<double>(INT32_MAX))) return INT32_MAX;
  return static_cast<int>(n);
}
}  // namespace

MLPSettings::MLPSettings() { fAlgorithmType = kMLP; }

MLPSettings::MLPSettings(int inputs, const std::vector<int>& outputCategories, int trainRecords)
    : NeuralSettings(kMLP, inputs, outputCategories, trainRecords) {
  SetAll();
}

MLPSettings::MLPSettings(const NNVarList& varList, int trainRecords)
    : MLPSettings(varList.GetNumInputs(), varList.GetNOutputCats(), trainRecords) {
  fbHasVarList = true;
}

MLPSettings::MLPSettings(const VXCommon_1_2::VXVarList& hostList, int trainRecords)
    : MLPSettings(ConvertedHostVarList(hostList, 0.0), trainRecords) {}

MLPSettings::~MLPSettings() = default;

void MLPSettings::SetAll() {
  fUpdateType = kMiniBatch;
  ComputeNWeights();
  fEtaInit = 0.4;
  fMinNHiddenUnits = 1;
  fMaxNHiddenUnits = 50;
  fEtaLow = 0.001;
  fEtaHigh = 0.15;
  fAlpha = 0.9;
  fAlphaReduction = 0.9;
  fNEpochs = 10.0;
  fBetaInit = 0.02;
  SetDefaults();
}

void MLPSettings::SetDefaults() {
  fCorrection = 0.0;
  fRandomWeightRangeLo = -0.5;
  fRandomWeightRangeHi = 0.5;
  fLambdaInit = 5e-07;
  fSigmaInit = 5e-05;
  fUpperDelta = 0.75;
  fLowerDelta = 0.25;
  fLambdaReduction = 0.25;
  fStopRules.SetDefaults();
  fbUserSetMiniBatch = false;
  ComputeDefaultMinibatchSize();
  ComputeDefaultMaxDataPasses();
  fTrainingMethod = kScaledConjugateGradient;
  fTrainType = kBatch;
}

void MLPSettings::ComputeNWeights() {
  // Every "+ 1" is the bias of the lower layer.
  double n;
  if (fNHiddenLayers < 1 || fNHiddenUnits.empty()) {
    n = (fNInputs + 1.0) * fNOutUnits;
  } else {
    const std::size_t layers = std::min<std::size_t>(fNHiddenLayers, fNHiddenUnits.size());
    n = (fNInputs + 1.0) * fNHiddenUnits[0];
    for (std::size_t i = 0; i + 1 < layers; ++i)
      n += (fNHiddenUnits[i] + 1.0) * fNHiddenUnits[i + 1];
    n += (fNHiddenUnits[layers - 1] + 1.0) * fNOutUnits;
  }
  fNWeights = SaturatedCount(n);
}

void MLPSettings::ComputeDefaultMinibatchSize() {
  if (fbUserSetMiniBatch) return;
  if (fTrainType == kMiniBatch) {
    // The smallest integer not below a tenth of the records.
    long size = static_cast<long>(fNTrainRecords * 0.1 + 0.9);
    fMiniBatchSize = static_cast<int>(std::min(size, fMaxRecordsInMemory));
  } else if (fUpdateType == kMiniBatch) {
    const long long size =
        std::min<long long>({2LL * fNWeights, static_cast<long long>(fNTrainRecords),
                             static_cast<long long>(fMaxRecordsInMemory)});
    fMiniBatchSize = static_cast<int>(size);
  } else {
    fMiniBatchSize = 0;
  }
}

void MLPSettings::SetMiniBatchSize(int n) {
  if (n < 2 || n > fMaxRecordsInMemory || n > fNTrainRecords) return;
  fMiniBatchSize = n;
  fbUserSetMiniBatch = true;
}

void MLPSettings::SetMaxRecordsInMemory(long n) {
  NeuralSettings::SetMaxRecordsInMemory(n);
  if (fMiniBatchSize > n) fMiniBatchSize = static_cast<int>(n);
}

void MLPSettings::SetNTrainRecords(int n) {
  NeuralSettings::SetNTrainRecords(n);
  if (fMiniBatchSize > n) fMiniBatchSize = n;
}

void MLPSettings::SetUpdateType(TrainingType t) {
  if (fTrainType == kBatch && (t == kBatch || t == kMiniBatch)) fUpdateType = t;
}

void MLPSettings::SetTrainingMethodAndType(MLPTrainingMethod method, TrainingType type) {
  bool accepted = false;
  if (type == kBatch || type == kMiniBatch || type == kOnline) {
    switch (method) {
      case kScaledConjugateGradient:
        accepted = type == kBatch;
        break;
      case kGradientDescent:
        accepted = true;
        break;
      case kLinearRegression:
        accepted = fNHiddenLayers == 0 && fActivFnOutput == kIdentity;
        break;
    }
  }
  if (accepted) {
    fTrainingMethod = method;
    fTrainType = type;
  }
  if (fTrainType != kBatch) {
    fUpdateType = fTrainType;
  } else if (fUpdateType != kBatch && fUpdateType != kMiniBatch) {
    fUpdateType = kMiniBatch;
  }
  ComputeDefaultMinibatchSize();
}

void MLPSettings::SetActivFnOutputLayer(ActivationFunction f) {
  NeuralSettings::SetActivFnOutputLayer(f);
  // Identity outputs straight on the inputs form a linear model, solved
  // exactly rather than iterated.
  if (f == kIdentity && fNHiddenLayers == 0) fTrainingMethod = kLinearRegression;
}

void MLPSettings::SetNumHiddenUnits(int units, int layer) {
  NeuralSettings::SetNumHiddenUnits(units, layer);
  ComputeNWeights();
  ComputeDefaultMinibatchSize();
  ComputeDefaultMaxDataPasses();
}

void MLPSettings::SetNumHiddenLayers(int n) {
  if (n < 0 || n == fNHiddenLayers) return;
  const int old = fNHiddenLayers;
  fNHiddenUnits.resize(static_cast<std::size_t>(n));
  fNHiddenLayers = n;
  if (old == 0 && n >= 1) fNHiddenUnits[0] = MLPDefNHiddenUnits(1);
  // Layers from the second on start at the default second-layer size.
  for (int i = std::max(old, 1); i < n; ++i) fNHiddenUnits[i] = MLPDefNHiddenUnits(2);
  if (n >= 1) {
    if (fTrainingMethod == kLinearRegression)
      fTrainingMethod = fTrainType != kBatch ? kGradientDescent : kScaledConjugateGradient;
  } else if (fActivFnOutput == kIdentity) {
    fTrainingMethod = kLinearRegression;
  }
  ComputeDefaultMinibatchSize();
  ComputeDefaultMaxDataPasses();
}

void MLPSettings::SetStopRules(INNStopRules* rules) {
  if (const auto* mlp = dynamic_cast<const MLPStopRules*>(rules)) fStopRules = *mlp;
}

bool MLPSettings::NeedNewNetwork(const MLPSettings& o) const {
  return fCorrection != o.fCorrection || fRandomWeightRangeLo != o.fRandomWeightRangeLo ||
         fRandomWeightRangeHi != o.fRandomWeightRangeHi || fTrainingMethod != o.fTrainingMethod ||
         fNWeights != o.fNWeights || fLambdaInit != o.fLambdaInit || fSigmaInit != o.fSigmaInit ||
         fUpperDelta != o.fUpperDelta || fLowerDelta != o.fLowerDelta ||
         fLambdaReduction != o.fLambdaReduction || fNHiddenLayers != o.fNHiddenLayers ||
         fActivFnHidden != o.fActivFnHidden || fActivFnOutput != o.fActivFnOutput ||
         fTrainType != o.fTrainType;
}

template <typename Out>
void MLPSettings::PutFields(Out& out) const {
  out.Double(fCorrection);
  out.Double(fRandomWeightRangeLo);
  out.Double(fRandomWeightRangeHi);
  out.Int(fMiniBatchSize);
  out.Flag(fbUserSetMiniBatch);
  out.Int(fTrainingMethod);
  out.Int(fUpdateType);
  for (double v : {fLambdaInit, fSigmaInit, fUpperDelta, fLowerDelta, fLambdaReduction, fEtaInit,
                   fEtaLow, fEtaHigh, fAlpha, fAlphaReduction, fNEpochs, fBetaInit})
    out.Double(v);
  out.Int(fMinNHiddenUnits);
  out.Int(fMaxNHiddenUnits);
}

template <typename In>
void MLPSettings::GetFields(In& in) {
  fCorrection = in.Double();
  fRandomWeightRangeLo = in.Double();
  fRandomWeightRangeHi = in.Double();
  fMiniBatchSize = in.Int();
  fbUserSetMiniBatch = in.Flag();
  fTrainingMethod = ReadEnum<MLPTrainingMethod>(in, 3);
  fUpdateType = ReadEnum<TrainingType>(in, 3);
  for (double* v :
       {&fLambdaInit, &fSigmaInit, &fUpperDelta, &fLowerDelta, &fLambdaReduction, &fEtaInit,
        &fEtaLow, &fEtaHigh, &fAlpha, &fAlphaReduction, &fNEpochs, &fBetaInit})
    *v = in.Double();
  fMinNHiddenUnits = in.Int();
  fMaxNHiddenUnits = in.Int();
}

int MLPSettings::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag);
  VXNeural::detail::SettingsBinOut fields(w);
  PutFields(fields);
  w.Nested(fStopRules.WriteObject(out));
  w.Nested(NeuralSettings::WriteObject(out));
  return w.Bytes();
}

int MLPSettings::ReadObject(std::istream& in) {
  MLPSettings read(*this);
  BinReader r(in, kClassName);
  r.ExpectTag(kTag);
  VXNeural::detail::SettingsBinIn fields(r);
  read.GetFields(fields);
  r.Nested(read.fStopRules.ReadObject(in));
  r.Nested(read.ReadBase(in));
  read.ComputeNWeights();
  *this = read;
  return r.Bytes();
}

int MLPSettings::WriteObjectXML(std::ostream& out) const {
  XmlWriter w(out, kClassName, kXmlLevel);
  VXNeural::detail::SettingsXmlOut fields(w);
  PutFields(fields);
  w.Nested(fStopRules.WriteObjectXML(out));
  w.Nested(NeuralSettings::WriteObjectXML(out));
  return w.End();
}

int MLPSettings::ReadObjectXML(std::istream& in) {
  MLPSettings read(*this);
  XmlReader r(in, kClassName, kClassName, kPrefix);
  VXNeural::detail::SettingsXmlIn fields(r);
  read.GetFields(fields);
  r.Nested(read.fStopRules.ReadObjectXML(in));
  r.Nested(read.ReadBaseXML(in));
  const int count = r.End();
  read.ComputeNWeights();
  *this = read;
  return count;
}

void MLPSettings::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of MLPSettings display\n";
  out << "Random weights range: (" << fRandomWeightRangeLo << ", " << fRandomWeightRangeHi << ")\n";
  ShowValue(out, "Training method = ", DisplayText(fTrainingMethod));
  ShowValue(out, "Update type = ", DisplayText(fUpdateType));
  ShowValue(out, "Size of mini-batch = ", fMiniBatchSize);
  out << (fbUserSetMiniBatch ? "Size of mini-batch is specified by user.\n"
                             : "Size of mini-batch is not specified by user.\n");
  out << "Parameters for Scaled Conjugate Gradient method:\n";
  ShowValue(out, "Initial value of lambda = ", fLambdaInit);
  ShowValue(out, "Initial value of sigma = ", fSigmaInit);
  ShowValue(out, "Upper check point for delta = ", fUpperDelta);
  ShowValue(out, "Lower check point for delta = ", fLowerDelta);
  ShowValue(out, "Lambda reduction parameter = ", fLambdaReduction);
  out << "Parameters for Gradient Descent with Momentum:\n";
  ShowValue(out, "Initial learning rate = ", fEtaInit);
  ShowValue(out, "Low learning rate = ", fEtaLow);
  ShowValue(out, "High boundary for learning rate = ", fEtaHigh);
  ShowValue(out, "Momentum rate = ", fAlpha);
  ShowValue(out, "Momentum rate reduction coefficient= ", fAlphaReduction);
  ShowValue(out, "Number of epochs to reduce learning rate = ", fNEpochs);
  ShowValue(out, "Initial value of decay factor = ", fBetaInit);
  out << "Parameters for Expert Architecture Selection:\n";
  ShowValue(out, "Minimum allowed number of hidden units = ", fMinNHiddenUnits);
  ShowValue(out, "Maximum allowed number of hidden units = ", fMaxNHiddenUnits);
  out << "The base:\n";
  NeuralSettings::Display(out);
  ShowValue(out, "Number of weights in the network = ", fNWeights);
  out << "End of MLPSettings display\n";
}
