#include "vxneural/variables/NNStringUserMissing.h"

#include <memory>
#include <ostream>

#include "persist/BinaryIO.h"
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
const char kClass[] = "NNStringUserMissing";
const char kTag[] = "NNStrUMi";
// Two string lengths at least.
constexpr std::size_t kMinEntryBytes = 8;
}  // namespace

bool NNStringUserMissing::IsEqualTo(const INNUserMissing* other) const {
  if (other == nullptr || other->GetDataType() != kStringData) return false;
  const auto* o = dynamic_cast<const NNStringUserMissing*>(other);
  return o != nullptr && fDiscreteValues == o->fDiscreteValues;
}

std::vector<XMLElement*> NNStringUserMissing::ExportXML() const {
  std::vector<std::unique_ptr<XMLElement>> elements;
  AddMissingValueElements(elements, fDiscreteValues, fValueLabels);
  return ReleaseAll(elements);
}

void NNStringUserMissing::AddValue(const std::string& value, const std::string& label) {
  fDiscreteValues.push_back(value);
  fValueLabels.push_back(label);
}

bool NNStringUserMissing::Contains(const std::string& s) const {
  for (const std::string& v : fDiscreteValues)
    if (v == s) return true;
  return false;
}

int NNStringUserMissing::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag);
  WriteValuesAndLabels(w, fDiscreteValues, fValueLabels);
  return w.Bytes();
}

int NNStringUserMissing::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  r.ExpectTag(kTag);
  std::vector<std::string> values;
  std::vector<std::string> labels;
  ReadValuesAndLabels(r, r.Count(kMaxCategories, kMinEntryBytes), values, labels);
  fDiscreteValues = std::move(values);
  fValueLabels = std::move(labels);
  return r.Bytes();
}

int NNStringUserMissing::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  WriteValuesAndLabels(w, fDiscreteValues, fValueLabels);
  return w.End();
}

int NNStringUserMissing::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClass, kClass);
  std::vector<std::string> values;
  std::vector<std::string> labels;
  ReadValuesAndLabels(r, r.Count(kMaxCategories), values, labels);
  const int count = r.End();
  fDiscreteValues = std::move(values);
  fValueLabels = std::move(labels);
  return count;
}

void NNStringUserMissing::Display(std::ostream& out) const {
  out << "Start of NNStringUserMissing display\n";
  DisplayValuesAndLabels(out, fDiscreteValues, fValueLabels);
  out << "End of NNStringUserMissing display\n";
}
