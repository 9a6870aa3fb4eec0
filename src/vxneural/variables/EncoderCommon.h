// What the encoders share: value labels, and the optional user-missing object
// each of them owns and stores as a 0/1 flag followed by the nested object.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxneural/variables/INNUserMissing.h"

namespace VXNeural {
namespace detail {

// Takes um when it is a UM of the given data type; handing back the object
// already held must not destroy it.
template <typename UM>
bool AdoptUserMissing(std::unique_ptr<UM>& held, INNUserMissing* um,
                      INNUserMissing::DataType type) {
  if (um == nullptr) {
    held.reset();
    return true;
  }
  auto* typed = um->GetDataType() == type ? dynamic_cast<UM*>(um) : nullptr;
  if (typed == nullptr) return false;
  if (typed != held.get()) held.reset(typed);
  return true;
}

// Pads labels with empty strings up to nCategories, then sets entry index
// when it names a category.
inline void SetPaddedLabel(std::vector<std::string>& labels, int nCategories, int index,
                           const std::string& label) {
  if (labels.size() < static_cast<std::size_t>(nCategories))
    labels.resize(static_cast<std::size_t>(nCategories));
  if (index >= 0 && index < nCategories) labels[static_cast<std::size_t>(index)] = label;
}

inline void WriteLabels(BinWriter& w, const std::vector<std::string>& labels) {
  w.Int(static_cast<int>(labels.size()));
  for (const std::string& label : labels) w.String(label);
}

inline void WriteLabels(XmlWriter& w, const std::vector<std::string>& labels) {
  w.Int(static_cast<int>(labels.size())).Strings(labels);
}

inline std::vector<std::string> ReadLabels(BinReader& r) {
  const int n = r.Count(kMaxCategories, 4);
  std::vector<std::string> labels(static_cast<std::size_t>(n));
  for (std::string& label : labels) label = r.String();
  return labels;
}

inline std::vector<std::string> ReadLabels(XmlReader& r) {
  return r.Strings(r.Count(kMaxCategories));
}

inline void WriteUserMissing(BinWriter& w, std::ostream& out, const INNUserMissing* um) {
  w.Int(um ? 1 : 0);
  if (um) w.Nested(um->WriteObject(out));
}

inline void WriteUserMissing(XmlWriter& w, std::ostream& out, int level, const INNUserMissing* um) {
  w.Int(um ? 1 : 0);
  if (um) w.Nested(um->WriteObjectXML(out, level + 1));
}

template <typename UM, typename Reader>
std::unique_ptr<UM> ReadUserMissing(Reader& r, std::istream& in) {
  const int hasUserMissing = r.Int();
  if (hasUserMissing != 0 && hasUserMissing != 1) r.Fail();
  if (hasUserMissing == 0) return nullptr;
  auto um = std::make_unique<UM>();
  if constexpr (std::is_same_v<Reader, BinReader>)
    r.Nested(um->ReadObject(in));
  else
    r.Nested(um->ReadObjectXML(in));
  return um;
}

inline void DisplayUserMissing(std::ostream& out, const INNUserMissing* um) {
  if (!um) return;
  out << "\t\tUser-missing values for this encoder:\n\t\t";
  um->Display(out);
}

}  // namespace detail
}  // namespace VXNeural
