#include "vxneural/variables/NNNumericInterval.h"

#include <cfloat>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClass[] = "NNNumericInterval";
const char kTag[] = "NNNumInt";

double OpenLeft(double x) { return x == VXMV::gMissingValue ? -DBL_MAX : x; }
double OpenRight(double x) { return x == VXMV::gMissingValue ? DBL_MAX : x; }
}  // namespace

NNNumericInterval::NNNumericInterval(double low, double high)
    : fLeftEnd(OpenLeft(low)), fRightEnd(OpenRight(high)) {}

bool NNNumericInterval::SetLeftEnd(double x) {
  fLeftEnd = OpenLeft(x);
  return fLeftEnd <= fRightEnd;
}

bool NNNumericInterval::SetRightEnd(double x) {
  fRightEnd = OpenRight(x);
  return fRightEnd >= fLeftEnd;
}

bool NNNumericInterval::IsLeftOpen() const { return fLeftEnd == -DBL_MAX; }
bool NNNumericInterval::IsRightOpen() const { return fRightEnd == DBL_MAX; }

double NNNumericInterval::GetLeftEnd() const {
  return IsLeftOpen() ? VXMV::gMissingValue : fLeftEnd;
}

double NNNumericInterval::GetRightEnd() const {
  return IsRightOpen() ? VXMV::gMissingValue : fRightEnd;
}

int NNNumericInterval::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).Double(fLeftEnd).Double(fRightEnd);
  return w.Bytes();
}

int NNNumericInterval::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  r.ExpectTag(kTag);
  const double left = r.Double();
  const double right = r.Double();
  fLeftEnd = left;
  fRightEnd = right;
  return r.Bytes();
}

int NNNumericInterval::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Double(GetLeftEnd()).Double(GetRightEnd());
  return w.End();
}

int NNNumericInterval::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClass, kClass);
  const double left = r.Double();
  const double right = r.Double();
  const int count = r.End();
  SetLeftEnd(left);
  SetRightEnd(right);
  return count;
}

void NNNumericInterval::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "NNNumericInterval: ";
  if (IsLeftOpen())
    out << "( -infinity, ";
  else
    out << "[ " << fLeftEnd << ", ";
  if (IsRightOpen())
    out << "infinity )";
  else
    out << fRightEnd << " ]";
  out << '\n';
}
