#include "report/Json.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "vxcommon/VXMissing.h"

namespace vxnn {

using Json = nlohmann::ordered_json;  // members stay in the order written

struct JsonWriter::Document {
  Json fRoot;
  // The open objects and arrays, outermost first. Values are only ever
  // added to the innermost, so the outer ones never move and the pointers
  // stay valid.
  std::vector<Json*> fOpen;
  std::string fKey;
  bool fHaveKey = false;

  // Places value where the next value goes and returns where it now lives.
  Json* Add(Json value) {
    if (fOpen.empty()) {
      fRoot = std::move(value);
      return &fRoot;
    }
    Json& parent = *fOpen.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    fHaveKey = false;
    Json& slot = parent[fKey];
    slot = std::move(value);
    return &slot;
  }
};

JsonWriter::JsonWriter(std::ostream& out) : fOut(out), fDoc(std::make_unique<Document>()) {}

JsonWriter::~JsonWriter() = default;

JsonWriter& JsonWriter::Key(const std::string& key) {
  fDoc->fKey = key;
  fDoc->fHaveKey = true;
  return *this;
}

void JsonWriter::BeginObject() { fDoc->fOpen.push_back(fDoc->Add(Json::object())); }

void JsonWriter::BeginArray() { fDoc->fOpen.push_back(fDoc->Add(Json::array())); }

void JsonWriter::EndObject() {
  fDoc->fOpen.pop_back();
  if (!fDoc->fOpen.empty()) return;
  // Text that is not valid UTF-8 (a CSV in another encoding) is written
  // with replacement characters rather than refused.
  fOut << fDoc->fRoot.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

void JsonWriter::EndArray() { EndObject(); }

void JsonWriter::String(const std::string& value) { fDoc->Add(value); }

void JsonWriter::Number(double value) {
  if (VXMV::IsMissing(value) || !std::isfinite(value))
    fDoc->Add(nullptr);
  else
    fDoc->Add(value);
}

void JsonWriter::Integer(long long value) { fDoc->Add(value); }

void JsonWriter::Bool(bool value) { fDoc->Add(value); }

void JsonWriter::Null() { fDoc->Add(nullptr); }

}  // namespace vxnn
