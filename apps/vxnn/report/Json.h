// A JSON writer for the summaries the commands print, in the order the
// commands produce them; the document is built and written by a JSON
// library (which takes care of escaping and number formatting) when the
// outermost object or array ends.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace vxnn {

// Writes one JSON document, indented by two spaces. Keys and values are
// added in order; the writer inserts the commas. A number equal to the
// missing value, or not finite, is written as null: JSON has no other way
// to say "not computed".
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The key of the next value inside an object.
  JsonWriter& Key(const std::string& key);
  void String(const std::string& value);
  void Number(double value);
  void Integer(long long value);
  void Bool(bool value);
  void Null();

  // Shorthands for a key with a value.
  void Field(const std::string& key, const std::string& value) { Key(key).String(value); }
  void Field(const std::string& key, const char* value) { Key(key).String(value); }
  void Field(const std::string& key, double value) { Key(key).Number(value); }
  void Field(const std::string& key, int value) { Key(key).Integer(value); }
  void Field(const std::string& key, long value) { Key(key).Integer(value); }
  void Field(const std::string& key, bool value) { Key(key).Bool(value); }

 private:
  struct Document;
  std::ostream& fOut;
  std::unique_ptr<Document> fDoc;
};

}  // namespace vxnn
