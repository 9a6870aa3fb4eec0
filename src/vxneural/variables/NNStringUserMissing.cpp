#include "vxneural/variables/NNStringUserMissing.h"

#include <memory>
#include <ostream>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/XMLTree.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::kMaxCategories;
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
  for (std::size_t i = 0; i < fDiscreteValues.size(); ++i) {
    std::unique_ptr<XMLElement> e(XMLElement::Create("Value"));
    e->AddAttribute("value", fDiscreteValues[i]);
    if (!fValueLabels[i].empty()) e->AddAttribute("displayValue", fValueLabels[i]);
    e->AddAttribute("property", "missing");
    elements.push_back(std::move(e));
  }
  std::vector<XMLElement*> result;
  result.reserve(elements.size());
  for (auto& e : elements) result.push_back(e.release());
  return result;
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
  w.Tag(kTag).Int(GetNDiscreteValues());
  for (std::size_t i = 0; i < fDiscreteValues.size(); ++i)
    w.String(fDiscreteValues[i]).String(fValueLabels[i]);
  return w.Bytes();
}

int NNStringUserMissing::ReadObject(std::istream& in) {
  BinReader r(in, kClass);
  r.ExpectTag(kTag);
  const int n = r.Count(kMaxCategories, kMinEntryBytes);
  std::vector<std::string> values;
  std::vector<std::string> labels;
  values.reserve(static_cast<std::size_t>(n));
  labels.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    values.push_back(r.String());
    labels.push_back(r.String());
  }
  fDiscreteValues = std::move(values);
  fValueLabels = std::move(labels);
  return r.Bytes();
}

int NNStringUserMissing::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClass, level);
  w.Int(GetNDiscreteValues());
  for (std::size_t i = 0; i < fDiscreteValues.size(); ++i)
    w.String(fDiscreteValues[i]).String(fValueLabels[i]);
  return w.End();
}

int NNStringUserMissing::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClass, kClass);
  const int n = r.Count(kMaxCategories);
  std::vector<std::string> values;
  std::vector<std::string> labels;
  values.reserve(static_cast<std::size_t>(n));
  labels.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    values.push_back(r.String());
    labels.push_back(r.String());
  }
  const int count = r.End();
  fDiscreteValues = std::move(values);
  fValueLabels = std::move(labels);
  return count;
}

void NNStringUserMissing::Display(std::ostream& out) const {
  out << "Start of NNStringUserMissing display\n";
  out << "Discrete missing values:\n";
  for (std::size_t i = 0; i < fDiscreteValues.size(); ++i)
    out << '\t' << fDiscreteValues[i] << ", label = " << fValueLabels[i] << '\n';
  out << "End of NNStringUserMissing display\n";
}
