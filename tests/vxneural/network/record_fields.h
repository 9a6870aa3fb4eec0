// One saved record's reference in both forms from a single list of fields:
// the fields are written once, by a generic function that takes either
// reference (layouts::Bytes or layouts::Xml), so the two cannot drift apart.
#pragma once

#include <string>

#include "common/layouts.h"

namespace record_fields {

// A nested object: its binary tag, or its XML name; Close ends the XML one.
inline layouts::Bytes& Open(layouts::Bytes& b, const std::string& tag, const std::string&) {
  return b.Tag(tag);
}
inline layouts::Xml& Open(layouts::Xml& x, const std::string&, const std::string& name) {
  return x.Obj(name);
}
inline layouts::Bytes& Close(layouts::Bytes& b) { return b; }
inline layouts::Xml& Close(layouts::Xml& x) { return x.End(); }

// obj's saved layout is the record tag / name followed by what fields
// writes (see layouts::ExpectLayout; a fresh object comes from make()).
template <typename T, typename Make, typename Fields>
void ExpectFields(const T& obj, Make&& make, const std::string& tag, const std::string& name,
                  Fields&& fields, int xmlFrame = 0) {
  layouts::Bytes b;
  layouts::Xml x;
  fields(Open(b, tag, name));
  fields(Open(x, tag, name));
  layouts::ExpectLayout(obj, make, b, Close(x), xmlFrame);
}

}  // namespace record_fields
