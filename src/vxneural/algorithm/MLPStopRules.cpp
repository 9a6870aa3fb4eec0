#include "vxneural/algorithm/MLPStopRules.h"

#include <algorithm>
#include <cstdint>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClassName[] = "MLPStopRules";
const char kTag[] = "MLPStR";
// Nested inside the settings object, which is at level 1.
constexpr int kXmlLevel = 2;
}  // namespace

MLPStopRules::MLPStopRules() { SetDefaults(); }

void MLPStopRules::SetDefaults() {
  fMinRelativeChangeError = 0.0001;
  fMinErrorRatio = 0.001;
  fGradientNormLimit = 1e-06;
  fAccuracy = 100.0;
  fMaxNDataPasses = 100;
  fMaxNStepsTrackError = 5;
  fMaxNDataPassesSet = false;
  fMaxTime = 600.0;
  fCheckTrainErrVerifyingCycle = false;
  fTimeForExpertArch = 600.0;
}

void MLPStopRules::ComputeDefaultMaxDataPasses(int nWeights) {
  if (fMaxNDataPassesSet) return;
  // In 64 bits so that an absurd weight count cannot overflow.
  const long long derived = 2LL * nWeights + 1;
  fMaxNDataPasses =
      static_cast<int>(std::min<long long>(std::max<long long>(100, derived), INT32_MAX));
}

bool MLPStopRules::operator==(const MLPStopRules& o) const {
  return fMinRelativeChangeError == o.fMinRelativeChangeError &&
         fMinErrorRatio == o.fMinErrorRatio && fGradientNormLimit == o.fGradientNormLimit &&
         fAccuracy == o.fAccuracy && fMaxNDataPasses == o.fMaxNDataPasses &&
         fMaxNStepsTrackError == o.fMaxNStepsTrackError &&
         fMaxNDataPassesSet == o.fMaxNDataPassesSet && fMaxTime == o.fMaxTime &&
         fCheckTrainErrVerifyingCycle == o.fCheckTrainErrVerifyingCycle &&
         fTimeForExpertArch == o.fTimeForExpertArch;
}

int MLPStopRules::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag)
      .Double(fMinRelativeChangeError)
      .Double(fMinErrorRatio)
      .Double(fGradientNormLimit)
      .Double(fAccuracy)
      .Int(fMaxNDataPasses)
      .Int(fMaxNStepsTrackError)
      .Bool(fMaxNDataPassesSet)
      .Double(fMaxTime)
      .Bool(fCheckTrainErrVerifyingCycle)
      .Double(fTimeForExpertArch);
  return w.Bytes();
}

int MLPStopRules::ReadObject(std::istream& in) {
  BinReader r(in, kClassName);
  r.ExpectTag(kTag);
  MLPStopRules t;
  t.fMinRelativeChangeError = r.Double();
  t.fMinErrorRatio = r.Double();
  t.fGradientNormLimit = r.Double();
  t.fAccuracy = r.Double();
  t.fMaxNDataPasses = r.Int();
  t.fMaxNStepsTrackError = r.Int();
  t.fMaxNDataPassesSet = r.Bool();
  t.fMaxTime = r.Double();
  t.fCheckTrainErrVerifyingCycle = r.Bool();
  t.fTimeForExpertArch = r.Double();
  *this = t;
  return r.Bytes();
}

int MLPStopRules::WriteObjectXML(std::ostream& out) const {
  XmlWriter w(out, kClassName, kXmlLevel);
  w.Double(fMinRelativeChangeError)
      .Double(fMinErrorRatio)
      .Double(fGradientNormLimit)
      .Double(fAccuracy)
      .Int(fMaxNDataPasses)
      .Int(fMaxNStepsTrackError)
      .Int(fMaxNDataPassesSet ? 1 : 0)
      .Double(fMaxTime)
      .Int(fCheckTrainErrVerifyingCycle ? 1 : 0)
      .Double(fTimeForExpertArch);
  return w.End();
}

int MLPStopRules::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClassName, kClassName, "Error reading ");
  MLPStopRules t;
  t.fMinRelativeChangeError = r.Double();
  t.fMinErrorRatio = r.Double();
  t.fGradientNormLimit = r.Double();
  t.fAccuracy = r.Double();
  t.fMaxNDataPasses = r.Int();
  t.fMaxNStepsTrackError = r.Int();
  t.fMaxNDataPassesSet = r.Int() == 1;
  t.fMaxTime = r.Double();
  t.fCheckTrainErrVerifyingCycle = r.Int() == 1;
  t.fTimeForExpertArch = r.Double();
  const int n = r.End();
  *this = t;
  return n;
}

void MLPStopRules::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of MLPStopRules display\n";
  out << "Thresholds for Stopping Criteria:\n";
  ShowValue(out, "Min relative error change = ", fMinRelativeChangeError);
  ShowValue(out, "Min error ratio = ", fMinErrorRatio);
  ShowValue(out, "Min gradient norm = ", fGradientNormLimit);
  ShowValue(out, "Number of data passes = ", fMaxNDataPasses);
  ShowValue(out, "Max elapsed time in seconds = ", fMaxTime);
  ShowValue(out, "Check training error in verifying cycle when test data present = ",
            fCheckTrainErrVerifyingCycle ? "yes" : "no");
  ShowValue(out, "Maximum time for architecture selection = ", fTimeForExpertArch);
  out << "End of MLPStopRules display\n";
}
