#include "vxneural/variables/NNLinearEncoder.h"

#include <cmath>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "variables/EncoderCommon.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/variables/NNContVar.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::DisplayUserMissing;
using VXNeural::detail::ReadUserMissing;
using VXNeural::detail::WriteUserMissing;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNLinearEncoder";
const char kTag[] = "LIEN";

std::unique_ptr<NNNumericUserMissing> CloneOf(const std::unique_ptr<NNNumericUserMissing>& um) {
  return um ? std::unique_ptr<NNNumericUserMissing>(um->Clone()) : nullptr;
}
}  // namespace

NNLinearEncoder::NNLinearEncoder() = default;

NNLinearEncoder::NNLinearEncoder(double min, double max) : fMin(min), fMax(max) {}

NNLinearEncoder::NNLinearEncoder(double x1, double y1, double x2, double y2) : fMin(x1), fMax(x2) {
  if (x1 != x2) {
    fSlope = (y2 - y1) / (x2 - x1);
    fIntercept = (x2 * y1 - x1 * y2) / (x2 - x1);
  }
}

NNLinearEncoder::NNLinearEncoder(VXNNCommon::Standardization mode, const NNContVar& var) {
  const double c = var.GetVariableRole() == INNVariable::kOutput ? var.GetCorrection() : 0.0;
  fMin = var.GetMin() - c;
  fMax = var.GetMax() + c;
  switch (mode) {
    case VXNNCommon::kMeanStdDev:
      if (var.GetVariance() > 0.0) {
        fSlope = 1.0 / std::sqrt(var.GetVariance());
        fIntercept = -fSlope * var.GetMean();
      }
      break;
    case VXNNCommon::kMinRange:
      if (fMin < fMax) {
        fSlope = 1.0 / (fMax - fMin);
        fIntercept = -fSlope * fMin;
      }
      break;
    case VXNNCommon::kMinRangeSymmetric:
      if (fMin < fMax) {
        fSlope = 2.0 / (fMax - fMin);
        fIntercept = -fSlope * fMin - 1.0;
      }
      break;
    default:
      break;
  }
}

NNLinearEncoder::NNLinearEncoder(const NNLinearEncoder& other)
    : fMin(other.fMin),
      fMax(other.fMax),
      fSlope(other.fSlope),
      fIntercept(other.fIntercept),
      fUserMissing(CloneOf(other.fUserMissing)) {}

NNLinearEncoder& NNLinearEncoder::operator=(const NNLinearEncoder& other) {
  if (this != &other) {
    fUserMissing = CloneOf(other.fUserMissing);
    fMin = other.fMin;
    fMax = other.fMax;
    fSlope = other.fSlope;
    fIntercept = other.fIntercept;
  }
  return *this;
}

NNLinearEncoder::~NNLinearEncoder() = default;

bool NNLinearEncoder::SetUserMissingInfo(INNUserMissing* um) {
  return VXNeural::detail::AdoptUserMissing(fUserMissing, um, INNUserMissing::kNumericData);
}

INNUserMissing* NNLinearEncoder::GetUserMissingInfo() { return fUserMissing.get(); }
const INNUserMissing* NNLinearEncoder::GetUserMissingInfo() const { return fUserMissing.get(); }

std::array<double, 4> NNLinearEncoder::GetLinearNormData() const {
  return {fMin, Normalize(fMin), fMax, Normalize(fMax)};
}

int NNLinearEncoder::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).Double(fMin).Double(fMax).Double(fSlope).Double(fIntercept);
  WriteUserMissing(w, out, fUserMissing.get());
  return w.Bytes();
}

int NNLinearEncoder::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  r.ExpectTag(kTag);
  const double min = r.Double();
  const double max = r.Double();
  const double slope = r.Double();
  const double intercept = r.Double();
  std::unique_ptr<NNNumericUserMissing> um = ReadUserMissing<NNNumericUserMissing>(r, in);
  fMin = min;
  fMax = max;
  fSlope = slope;
  fIntercept = intercept;
  fUserMissing = std::move(um);
  return r.Bytes();
}

int NNLinearEncoder::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Double(fMin).Double(fMax).Double(fSlope).Double(fIntercept);
  WriteUserMissing(w, out, level, fUserMissing.get());
  return w.End();
}

int NNLinearEncoder::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClass, kClass);
  const double min = r.Double();
  const double max = r.Double();
  const double slope = r.Double();
  const double intercept = r.Double();
  std::unique_ptr<NNNumericUserMissing> um = ReadUserMissing<NNNumericUserMissing>(r, in);
  const int count = r.End();
  fMin = min;
  fMax = max;
  fSlope = slope;
  fIntercept = intercept;
  fUserMissing = std::move(um);
  return count;
}

void NNLinearEncoder::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNLinearEncoder display\n";
  out << "Slope = " << fSlope << '\n';
  out << "Intercept = " << fIntercept << '\n';
  DisplayUserMissing(out, fUserMissing.get());
  out << "End of NNLinearEncoder display\n";
}
