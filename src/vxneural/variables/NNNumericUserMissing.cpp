#include "vxneural/variables/NNNumericUserMissing.h"

#include <memory>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "variables/UserMissingCommon.h"
#include "vxcommon/XMLTree.h"

using VXNeural::detail::AddMissingValueElements;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::DisplayValuesAndLabels;
using VXNeural::detail::kMaxCategories;
using VXNeural::detail::ReadValuesAndLabels;
using VXNeural::detail::ReleaseAll;
using VXNeural::detail::WriteValuesAndLabels;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;
using VXXML_1_2::XMLElement;

namespace {
const char kClass[] = "NNNumericUserMissing";
const char kTag[] = "NNNumUMi";
// A value (8 bytes) and a label length (4 bytes) at least.
constexpr std::size_t kMinEntryBytes = 12;

std::unique_ptr<XMLElement> RangeExtension(const char* name, double value) {
  std::unique_ptr<XMLElement> e(XMLElement::Create("Extension"));
  e->AddAttribute("extender", kPMMLExtender);
  e->AddAttribute("name", name);
  e->AddAttribute("value", value);
  return e;
}
}  // namespace

bool NNNumericUserMissing::IsEqualTo(const INNUserMissing* other) const {
  if (other == nullptr || other->GetDataType() != kNumericData) return false;
  const auto* o = dynamic_cast<const NNNumericUserMissing*>(other);
  if (o == nullptr) return false;
  if (fDiscreteValues != o->fDiscreteValues) return false;
  if (fHasInterval != o->fHasInterval) return false;
  return !fHasInterval || fInterval == o->fInterval;
}

std::vector<XMLElement*> NNNumericUserMissing::ExportXML() const {
  std::vector<std::unique_ptr<XMLElement>> elements;
  if (fHasInterval && !fInterval.IsEmpty()) {
    if (!fInterval.IsLeftOpen())
      elements.push_back(RangeExtension("invalidRangeLower", fInterval.GetLeftEnd()));
    if (!fInterval.IsRightOpen())
      elements.push_back(RangeExtension("invalidRangeUpper", fInterval.GetRightEnd()));
  }
  AddMissingValueElements(elements, fDiscreteValues, fValueLabels);
  return ReleaseAll(elements);
}

void NNNumericUserMissing::AddValue(double value, const std::string& label) {
  fDiscreteValues.push_back(value);
  fValueLabels.push_back(label);
}

void NNNumericUserMissing::SetInterval(const NNNumericInterval& interval) {
  fInterval = interval;
  fHasInterval = true;
}

bool NNNumericUserMissing::Contains(double x) const {
  for (double v : fDiscreteValues)
    if (v == x) return true;
  return fHasInterval && fInterval.Contains(x);
}

int NNNumericUserMissing::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag);
  WriteValuesAndLabels(w, fDiscreteValues, fValueLabels);
  w.Int(fHasInterval ? 1 : 0);
  if (fHasInterval) w.Nested(fInterval.WriteObject(out));
  return w.Bytes();
}

int NNNumericUserMissing::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  r.ExpectTag(kTag);
  std::vector<double> values;
  std::vector<std::string> labels;
  ReadValuesAndLabels(r, r.Count(kMaxCategories, kMinEntryBytes), values, labels);
  const int hasInterval = r.Int();
  if (hasInterval != 0 && hasInterval != 1) r.Fail();
  NNNumericInterval interval;
  if (hasInterval == 1) r.Nested(interval.ReadObject(in));
  fDiscreteValues = std::move(values);
  fValueLabels = std::move(labels);
  fInterval = interval;
  fHasInterval = hasInterval == 1;
  return r.Bytes();
}

int NNNumericUserMissing::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  WriteValuesAndLabels(w, fDiscreteValues, fValueLabels);
  w.Int(fHasInterval ? 1 : 0);
  if (fHasInterval) w.Nested(fInterval.WriteObjectXML(out, level + 1));
  return w.End();
}

int NNNumericUserMissing::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClass, kClass);
  std::vector<double> values;
  std::vector<std::string> labels;
  ReadValuesAndLabels(r, r.Count(kMaxCategories), values, labels);
  const int hasInterval = r.Int();
  if (hasInterval != 0 && hasInterval != 1) r.Fail();
  NNNumericInterval interval;
  if (hasInterval == 1) r.Nested(interval.ReadObjectXML(in));
  const int count = r.End();
  fDiscreteValues = std::move(values);
  fValueLabels = std::move(labels);
  fInterval = interval;
  fHasInterval = hasInterval == 1;
  return count;
}

void NNNumericUserMissing::Display(std::ostream& out) const {
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNNumericUserMissing display\n";
  DisplayValuesAndLabels(out, fDiscreteValues, fValueLabels);
  if (fHasInterval) {
    out << "Missing interval: ";
    fInterval.Display(out);
  }
  out << "End of NNNumericUserMissing display\n";
}
