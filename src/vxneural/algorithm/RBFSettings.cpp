#include "vxneural/algorithm/RBFSettings.h"

#include <cstdint>
#include <ostream>

#include "algorithm/SettingsIO.h"
#include "persist/Display.h"
#include "vxneural/variables/NNVarList.h"
#include "vxneural/variables/VXVarAdapter.h"

using namespace VXNNCommon;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClassName[] = "RBFSettings";
const char kTag[] = "RBFSet";
const char kPrefix[] = "Error reading ";
constexpr int kXmlLevel = 1;
}  // namespace

RBFSettings::RBFSettings() {
  fAlgorithmType = kRBF;
  fActivFnHidden = kNormalizedRadialBasis;
  fActivFnOutput = kIdentity;
  fbExpertOneDataPass = true;
}

RBFSettings::RBFSettings(int inputs, const std::vector<int>& outputCategories, int trainRecords)
    : NeuralSettings(kRBF, inputs, outputCategories, trainRecords) {
  SetRBFDefaults();
}

RBFSettings::RBFSettings(const NNVarList& varList, int trainRecords)
    : RBFSettings(varList.GetNumInputs(), varList.GetNOutputCats(), trainRecords) {
  fbHasVarList = true;
}

RBFSettings::RBFSettings(const VXCommon_1_2::VXVarList& hostList, int trainRecords)
    : RBFSettings(ConvertedHostVarList(hostList, 0.0), trainRecords) {}

RBFSettings::~RBFSettings() = default;

void RBFSettings::SetRBFDefaults() {
  fActivFnHidden = kNormalizedRadialBasis;
  fActivFnOutput = kIdentity;
  fOverlapFactor = 0.1 * fNInputs + 1.0;
  fMinNHiddenUnits = 1;
  fMaxNHiddenUnits = -1;
  fbExpertOneDataPass = true;
  ComputeNWeights();
}

void RBFSettings::ComputeNWeights() {
  const double h1 = fNHiddenLayers >= 1 && !fNHiddenUnits.empty() ? fNHiddenUnits[0] : 0;
  // Normalized basis outputs sum to one, which makes a bias redundant.
  const double n =
      fActivFnHidden == kNormalizedRadialBasis ? fNOutUnits * h1 : (h1 + 1.0) * fNOutUnits;
  fNWeights = n < static_cast<double>(INT32_MAX) ? static_cast<int>(n) : INT32_MAX;
}

void RBFSettings::SetNumHiddenUnits(int units, int /*layer*/) {
  NeuralSettings::SetNumHiddenUnits(units, 1);
  ComputeNWeights();
}

void RBFSettings::SetActivFnOutputLayer(ActivationFunction) {}

template <typename Out>
void RBFSettings::PutFields(Out& out) const {
  out.Double(fOverlapFactor);
  out.Int(fNWeights);
  out.Int(fMinNHiddenUnits);
  out.Int(fMaxNHiddenUnits);
  out.Flag(fbExpertOneDataPass);
}

template <typename In>
void RBFSettings::GetFields(In& in) {
  fOverlapFactor = in.Double();
  fNWeights = in.Int();
  fMinNHiddenUnits = in.Int();
  fMaxNHiddenUnits = in.Int();
  fbExpertOneDataPass = in.Flag();
}

int RBFSettings::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag);
  VXNeural::detail::SettingsBinOut fields(w);
  PutFields(fields);
  w.Nested(NeuralSettings::WriteObject(out));
  return w.Bytes();
}

int RBFSettings::ReadObject(std::istream& in) {
  RBFSettings read(*this);
  BinReader r(in, kClassName);
  r.ExpectTag(kTag);
  VXNeural::detail::SettingsBinIn fields(r);
  read.GetFields(fields);
  r.Nested(read.ReadBase(in));
  *this = read;
  return r.Bytes();
}

int RBFSettings::WriteObjectXML(std::ostream& out) const {
  XmlWriter w(out, kClassName, kXmlLevel);
  VXNeural::detail::SettingsXmlOut fields(w);
  PutFields(fields);
  w.Nested(NeuralSettings::WriteObjectXML(out));
  return w.End();
}

int RBFSettings::ReadObjectXML(std::istream& in) {
  RBFSettings read(*this);
  XmlReader r(in, kClassName, kClassName, kPrefix);
  VXNeural::detail::SettingsXmlIn fields(r);
  read.GetFields(fields);
  r.Nested(read.ReadBaseXML(in));
  const int count = r.End();
  *this = read;
  return count;
}

void RBFSettings::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of RBFSettings display\n";
  ShowValue(out, "Overlapping factor = ", fOverlapFactor);
  out << "Parameters for Expert Architecture Selection:\n";
  ShowValue(out, "Minimum allowed number of hidden units = ", fMinNHiddenUnits);
  ShowValue(out, "Maximum allowed number of hidden units = ", fMaxNHiddenUnits);
  out << (fbExpertOneDataPass ? "In expert architecture selection all sets of weights\n"
                                "are estimated in one data pass\n"
                              : "In expert architecture selection each set of weights\n"
                                "is estimated in a separate data pass\n");
  out << "The base:\n";
  NeuralSettings::Display(out);
  ShowValue(out, "Number of weights in the network = ", fNWeights);
  out << "End of RBFSettings display\n";
}
