// Round trips through both saved forms of a persistent object (a binary
// WriteObject/ReadObject pair and an XML WriteObjectXML/ReadObjectXML pair),
// and the robustness every pair of readers must show.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/stream_faults.h"

namespace saved_forms {

// Whether T's XML writer wants a nesting level argument.
template <typename T, typename = void>
struct XmlTakesLevel : std::true_type {};
template <typename T>
struct XmlTakesLevel<T, std::void_t<decltype(std::declval<const T&>().WriteObjectXML(
                            std::declval<std::ostream&>()))>> : std::false_type {};

// Writes the binary (xml false) or XML form of obj; returns what the writer
// reports (bytes, or values).
template <typename T>
int WriteForm(const T& obj, std::ostream& out, bool xml) {
  if (!xml) return obj.WriteObject(out);
  if constexpr (XmlTakesLevel<T>::value) {
    return obj.WriteObjectXML(out, 1);
  } else {
    return obj.WriteObjectXML(out);
  }
}

template <typename T>
std::string Saved(const T& obj, bool xml) {
  std::stringstream s;
  WriteForm(obj, s, xml);
  return s.str();
}

// The stream_faults attempt that reads into target, which the caller keeps.
template <typename T>
auto ReadInto(T& target, bool xml) {
  return [&target, xml](const std::string& bytes) {
    return stream_faults::ReadFrom(
        bytes, [&](std::istream& in) { xml ? target.ReadObjectXML(in) : target.ReadObject(in); });
  };
}

// Reads both forms of obj into fresh objects from make(): each read must
// report what the writer reported (for the binary form, every byte; for the
// XML form, xmlValues values unless that is -1), and the restored object
// must write obj's binary form again, which holds every saved field.
// Returns the restored objects, binary first, for further checks.
template <typename T, typename Make>
std::vector<std::unique_ptr<T>> RoundTrips(const T& obj, Make&& make, int xmlValues = -1) {
  const std::string binary = Saved(obj, false);
  std::vector<std::unique_ptr<T>> restored;
  for (bool xml : {false, true}) {
    restored.push_back(make());
    T& back = *restored.back();
    std::stringstream in;
    const int written = WriteForm(obj, in, xml);
    EXPECT_EQ(written, xml ? (xmlValues < 0 ? written : xmlValues) : int(binary.size()));
    EXPECT_EQ(xml ? back.ReadObjectXML(in) : back.ReadObject(in), written);
    EXPECT_EQ(Saved(back, false), binary) << (xml ? "from XML" : "from binary");
  }
  return restored;
}

// Every truncation of obj's two forms (XML: anywhere before the end of the
// closing mark) is refused with one of that form's messages and leaves
// target as it was; every single-byte corruption is read or refused.
template <typename T>
void ExpectReadersRobust(const T& obj, T& target, const std::vector<std::string>& binaryMessages,
                         const std::vector<std::string>& xmlMessages) {
  const std::string binary = Saved(obj, false), xml = Saved(obj, true);
  const std::string before = Saved(target, false);
  stream_faults::ExpectTruncationsRefused(binary, binaryMessages, ReadInto(target, false));
  stream_faults::ExpectTruncationsRefused(xml, xmlMessages, ReadInto(target, true),
                                          xml.rfind('>') + 1);
  EXPECT_EQ(Saved(target, false), before) << "a refused read changed the target";
  stream_faults::ExpectByteFlipsHandled(binary, binaryMessages, ReadInto(target, false));
  stream_faults::ExpectByteFlipsHandled(xml, xmlMessages, ReadInto(target, true));
}

// Each of the damaged streams is refused by the binary (xml false) or XML
// reader with one of the messages, and leaves target as it was.
template <typename T>
void ExpectAllRefused(T& target, bool xml, const std::vector<std::string>& damaged,
                      const std::vector<std::string>& messages) {
  const std::string before = Saved(target, false);
  for (std::size_t i = 0; i < damaged.size(); ++i)
    EXPECT_TRUE(stream_faults::RefusedWith(ReadInto(target, xml)(damaged[i]), messages))
        << "damaged stream " << i;
  EXPECT_EQ(Saved(target, false), before) << "a refused read changed the target";
}

}  // namespace saved_forms
