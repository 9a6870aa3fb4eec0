#include "vxneural/algorithm/NeuralSettings.h"

#include <cmath>
#include <iostream>

#include "algorithm/SettingsIO.h"
#include "persist/Display.h"
#include "vxcommon/VXMissing.h"

using namespace VXNNCommon;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::kMaxCategories;
using VXNeural::detail::kMaxSettingsCount;
using VXNeural::detail::ReadEnum;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClassName[] = "NeuralSettings";
const char kTag[] = "NS";
const char kPrefix[] = "Error reading ";
// Nested inside the MLP or RBF settings object, which is at level 1.
constexpr int kXmlLevel = 2;

const char* BoolText(bool v) { return v ? "true" : "false"; }

std::string ConfidenceText(NeuralSettings::CONFIDENCE_METHOD m) {
  switch (m) {
    case NeuralSettings::kConfidenceNone:
      return "None";
    case NeuralSettings::kConfidenceSoftMax:
      return "SoftMax";
    case NeuralSettings::kConfidenceSimpleMax:
      return "SimpleMax";
  }
  return std::to_string(static_cast<int>(m));
}
}  // namespace

NeuralSettings::NeuralSettings() = default;

NeuralSettings::NeuralSettings(AlgorithmType type, int inputs,
                               const std::vector<int>& outputCategories, int trainRecords) {
  SetAllParameters(type, inputs, outputCategories, trainRecords);
}

NeuralSettings::~NeuralSettings() = default;

void NeuralSettings::SetAllParameters(AlgorithmType type, int inputs, const std::vector<int>& cats,
                                      int trainRecords) {
  fProgressListener = nullptr;
  fCancel = nullptr;
  fNSkippedReports = 0;
  fAlgorithmType = type;
  fNInputs = inputs;
  fNTrainRecords = trainRecords;

  fNOutVars = static_cast<int>(cats.size());
  fNOutCategories = cats;
  fNOutUnits = 0;
  bool allCategorical = true;
  for (int c : cats) {
    fNOutUnits += c;
    if (c == 1) allCategorical = false;
  }

  fNHiddenLayers = 1;
  int hidden = -1;
  if (type == kMLP) {
    hidden = MLPDefNHiddenUnits(1);
  } else if (type == kRBF) {
    hidden = (inputs + fNOutUnits + 1) / 2;
  }
  fNHiddenUnits.assign(1, hidden);
  fbUserSetNHidUnits = false;

  fActivFnHidden = type == kMLP ? kTanH : type == kRBF ? kNormalizedRadialBasis : kIdentity;
  fActivFnOutput = type == kMLP && allCategorical ? kSoftMax : kIdentity;

  fTrainType = kBatch;
  fModelID = 0;
  fNTestRecords = 0;
  fTempFileNameMaker = nullptr;
  feConfidenceMethod = kConfidenceNone;
  fMaxRecordsInMemory = 1000;
  fRandomSeed = 12345;
  fRandomSeedSampling = 12345;
  fbUsePortableRNG = true;
  fStandInputs = kMeanStdDev;
  fStandOutputs = kMeanStdDev;
  fbHasVarList = false;
  fbListWiseDeletion = false;
  fbUseDefaultName = true;
  fbComputeSensitivity = false;
  fbInputXMLAsRetraining = true;
  fbOutputMEInfo = false;
}

int NeuralSettings::MLPDefNHiddenUnits(int layer) const {
  const int s = fNInputs + fNOutUnits;
  int h;
  if (fNOutUnits < 5 && fNInputs >= 8) {
    h = static_cast<int>(std::sqrt(static_cast<double>(s)) + 4.5);
  } else {
    h = (s + 1) / 2;
  }
  if (h > 20) h = 20;
  if (fNTrainRecords > 0) {
    // Keeps roughly one weight per record: with few records, fewer units.
    const double k = static_cast<double>(fNTrainRecords - fNOutUnits) / (s + 1);
    // Comparing before truncating is the same test for k >= 0 and keeps a
    // non-finite k away from the conversion.
    if (k >= 1.0 && k < h) h = static_cast<int>(k);
  }
  return layer == 2 ? static_cast<int>(h * 0.75 + 0.5) : h;
}

void NeuralSettings::SetNSkippedReports(int n) { fNSkippedReports = n; }

void NeuralSettings::SetNumHiddenUnits(int units, int layer) {
  if (layer < 1 || layer > fNHiddenLayers || layer > static_cast<int>(fNHiddenUnits.size())) return;
  fNHiddenUnits[layer - 1] = units;
  fbUserSetNHidUnits = true;
}

int NeuralSettings::GetNumHiddenUnits(int layer) const {
  if (layer < 1 || layer > fNHiddenLayers || layer > static_cast<int>(fNHiddenUnits.size()))
    return -1;
  return fNHiddenUnits[layer - 1];
}

void NeuralSettings::SetActivFnOutputLayer(ActivationFunction f) {
  if (fAlgorithmType != kMLP) return;
  if (f == kSoftMax) {
    for (int c : fNOutCategories) {
      if (c == 1) {
        std::cerr << "Warning! Not all output variables are categorical.\n"
                  << "Softmax activation will not be used.\n\n";
        return;
      }
    }
  }
  if (f == fActivFnOutput) return;
  // The targets must be scaled into the range the activation can reach.
  if (f == kSigmoid) {
    fStandOutputs = kMinRange;
  } else if (f == kTanH) {
    fStandOutputs = kMinRangeSymmetric;
  }
  fActivFnOutput = f;
}

void NeuralSettings::SetActivFnHiddenLayer(ActivationFunction f) {
  const bool accepted =
      (fAlgorithmType == kMLP && (f == kTanH || f == kSigmoid)) ||
      (fAlgorithmType == kRBF && (f == kRadialBasis || f == kNormalizedRadialBasis));
  if (accepted) fActivFnHidden = f;
}

bool NeuralSettings::SetStandOutputs(Standardization s) {
  if (fActivFnOutput == kSigmoid && (s == kMeanStdDev || s == kMinRangeSymmetric)) return false;
  fStandOutputs = s;
  return true;
}

void NeuralSettings::SetMaxRecordsInMemory(long n) { fMaxRecordsInMemory = n; }
void NeuralSettings::SetNTrainRecords(int n) { fNTrainRecords = n; }
void NeuralSettings::SetNTestRecords(int n) { fNTestRecords = n; }

double NeuralSettings::GetRandomWeightRangeLo() const { return VXMV::gMissingValue; }
double NeuralSettings::GetRandomWeightRangeHi() const { return VXMV::gMissingValue; }

void NeuralSettings::SetUISettings(const UISettings& settings) {
  if (!settings.empty()) fUISettings = settings;
}

bool NeuralSettings::GetModelName(bool& useDefault, std::string& name) const {
  if (!fbUseDefaultName && fModelName.empty()) return false;
  useDefault = fbUseDefaultName;
  name = fModelName;
  return true;
}

bool NeuralSettings::SetModelName(bool useDefault, const std::string& name) {
  if (useDefault) {
    fbUseDefaultName = true;
    return true;
  }
  if (name.empty()) return false;
  fbUseDefaultName = false;
  fModelName = name;
  return true;
}

void NeuralSettings::SetModelID(int id) {
  if (id >= 0) fModelID = id;
}

void NeuralSettings::SetTempFileDir(const std::string& dir) {
  if (!dir.empty()) fTempFileDir = dir;
}

bool NeuralSettings::operator==(const NeuralSettings& o) const {
  return fNSkippedReports == o.fNSkippedReports && fAlgorithmType == o.fAlgorithmType &&
         fNInputs == o.fNInputs && fNOutVars == o.fNOutVars && fNOutUnits == o.fNOutUnits &&
         fNHiddenLayers == o.fNHiddenLayers && fNHiddenUnits == o.fNHiddenUnits &&
         fNOutCategories == o.fNOutCategories && fActivFnHidden == o.fActivFnHidden &&
         fActivFnOutput == o.fActivFnOutput && fStandInputs == o.fStandInputs &&
         fStandOutputs == o.fStandOutputs && fTrainType == o.fTrainType &&
         fMaxRecordsInMemory == o.fMaxRecordsInMemory && fNTrainRecords == o.fNTrainRecords &&
         fNTestRecords == o.fNTestRecords && fbListWiseDeletion == o.fbListWiseDeletion &&
         fbComputeSensitivity == o.fbComputeSensitivity &&
         feConfidenceMethod == o.feConfidenceMethod && fModelID == o.fModelID &&
         fbOutputMEInfo == o.fbOutputMEInfo;
}

template <typename Out>
void NeuralSettings::PutFields(Out& out) const {
  out.Int(fNSkippedReports);
  out.Int(fAlgorithmType);
  out.Int(fTrainType);
  out.Int(fActivFnHidden);
  out.Int(fActivFnOutput);
  out.Int(fStandOutputs);
  out.Int(fStandInputs);
  out.Int(fNInputs);
  out.Int(fNOutVars);
  out.Int(fNOutUnits);
  out.Int(fNHiddenLayers);
  out.Ints(fNHiddenUnits);
  out.Flag(fbUserSetNHidUnits);
  out.Ints(fNOutCategories);
  out.Seed(fRandomSeed);
  out.Seed(fRandomSeedSampling);
  out.Flag(fbUsePortableRNG);
  out.Records(fMaxRecordsInMemory);
  out.Int(fNTrainRecords);
  out.Int(fNTestRecords);
  out.Flag(fbHasVarList);
  out.TypedBool(fbComputeSensitivity);
  out.TypedBool(fbListWiseDeletion);
  out.Int(feConfidenceMethod);
  out.Int(fModelID);
  out.TypedBool(fbOutputMEInfo);
}

template <typename In>
void NeuralSettings::GetFields(In& in) {
  fNSkippedReports = in.Int();
  fAlgorithmType = ReadEnum<AlgorithmType>(in, 3);
  fTrainType = ReadEnum<TrainingType>(in, 3);
  fActivFnHidden = ReadEnum<ActivationFunction>(in, 6);
  fActivFnOutput = ReadEnum<ActivationFunction>(in, 6);
  fStandOutputs = ReadEnum<Standardization>(in, 4);
  fStandInputs = ReadEnum<Standardization>(in, 4);
  fNInputs = in.Int();
  if (fNInputs < 0 || fNInputs > kMaxSettingsCount) in.Fail();
  fNOutVars = in.Count(kMaxSettingsCount);
  fNOutUnits = in.Int();
  fNHiddenLayers = in.Count(kMaxSettingsCount);
  fNHiddenUnits = in.Ints(fNHiddenLayers);
  // -1 is the size counted settings give a hidden layer of an unknown
  // algorithm type.
  for (int h : fNHiddenUnits) {
    if (h < -1 || h > kMaxSettingsCount) in.Fail();
  }
  fbUserSetNHidUnits = in.Flag();
  fNOutCategories = in.Ints(fNOutVars);
  long long units = 0;
  for (int c : fNOutCategories) {
    if (c < 1 || c > kMaxCategories) in.Fail();
    units += c;
  }
  // The network sizes its output buffers from the unit count and reads them
  // by the categories: the two must agree.
  if (units != fNOutUnits) in.Fail();
  fRandomSeed = in.Seed();
  fRandomSeedSampling = in.Seed();
  fbUsePortableRNG = in.Flag();
  fMaxRecordsInMemory = in.Records();
  fNTrainRecords = in.Int();
  fNTestRecords = in.Int();
  fbHasVarList = in.Flag();
  fbComputeSensitivity = in.TypedBool();
  fbListWiseDeletion = in.TypedBool();
  const int confidence = in.Int();
  feConfidenceMethod = confidence == kConfidenceSoftMax     ? kConfidenceSoftMax
                       : confidence == kConfidenceSimpleMax ? kConfidenceSimpleMax
                                                            : kConfidenceNone;
  fModelID = in.Int();
  fbOutputMEInfo = in.TypedBool();
}

int NeuralSettings::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag);
  VXNeural::detail::SettingsBinOut fields(w);
  PutFields(fields);
  return w.Bytes();
}

int NeuralSettings::ReadBase(std::istream& in) {
  BinReader r(in, kClassName);
  r.ExpectTag(kTag);
  VXNeural::detail::SettingsBinIn fields(r);
  GetFields(fields);
  return r.Bytes();
}

int NeuralSettings::ReadObject(std::istream& in) {
  NeuralSettings read(*this);
  const int bytes = read.ReadBase(in);
  *this = read;
  return bytes;
}

int NeuralSettings::WriteObjectXML(std::ostream& out) const {
  XmlWriter w(out, kClassName, kXmlLevel);
  VXNeural::detail::SettingsXmlOut fields(w);
  PutFields(fields);
  return w.End();
}

int NeuralSettings::ReadBaseXML(std::istream& in) {
  XmlReader r(in, kClassName, kClassName, kPrefix);
  VXNeural::detail::SettingsXmlIn fields(r);
  GetFields(fields);
  return r.End();
}

int NeuralSettings::ReadObjectXML(std::istream& in) {
  NeuralSettings read(*this);
  const int count = read.ReadBaseXML(in);
  *this = read;
  return count;
}

void NeuralSettings::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NeuralSettings display\n";
  ShowValue(out, "Progress listener address = ", static_cast<const void*>(fProgressListener));
  ShowValue(out, "Cancel checker address = ", static_cast<const void*>(fCancel));
  ShowValue(out, "Number of progress reports to skip = ", fNSkippedReports);
  ShowValue(out, "Algorithm Type = ", DisplayText(fAlgorithmType));
  ShowValue(out, "Number of input units = ", fNInputs);
  ShowValue(out, "Number of output variables (continuous and categorical) = ", fNOutVars);
  ShowValue(out, "Number of output units (1 for each category) = ", fNOutUnits);
  ShowVector(out, "Number(s) of categories of output variables", fNOutCategories);
  ShowValue(out, "Number of hidden layers = ", fNHiddenLayers);
  ShowVector(out, "Number(s) of hidden units", fNHiddenUnits);
  ShowValue(out, "Activation Function for hidden layers = ", DisplayText(fActivFnHidden));
  ShowValue(out, "Activation function for output layer = ", DisplayText(fActivFnOutput));
  ShowValue(out, "Standardization option for output data = ", DisplayText(fStandOutputs));
  ShowValue(out, "Standardization option for input data = ", DisplayText(fStandInputs));
  ShowValue(out, "Training Type = ", DisplayText(fTrainType));
  ShowValue(out, "Seed for random number generator for weights = ", fRandomSeed);
  ShowValue(out, "Seed for random number generator for sampling = ", fRandomSeedSampling);
  ShowValue(out, "Portable random number generator is used: ", BoolText(fbUsePortableRNG));
  ShowValue(out, "Max records in memory = ", fMaxRecordsInMemory);
  ShowValue(out, "Temp file name creator address = ", static_cast<const void*>(fTempFileNameMaker));
  ShowValue(out, "Temp file directory = ", fTempFileDir);
  ShowValue(out, "N of records in training data = ", fNTrainRecords);
  ShowValue(out, "N of records in testing data = ", fNTestRecords);
  ShowValue(out, "Variable list is present: ", BoolText(fbHasVarList));
  ShowValue(out, "The flag of fbListWiseDeletion is: ", BoolText(fbListWiseDeletion));
  ShowValue(out, "The flag of fbComputeSensitivity is: ", BoolText(fbComputeSensitivity));
  ShowValue(out, "The flag of feConfidenceMethod is: ", ConfidenceText(feConfidenceMethod));
  ShowValue(out, "ModelID = ", fModelID);
  ShowValue(out, "A flag about output ME inforamtion: ", BoolText(fbOutputMEInfo));
  out << "End of NeuralSettings display\n";
}
