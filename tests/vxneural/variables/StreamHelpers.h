// Writing objects to in-memory streams and reading them back while capturing
// what a failing reader prints.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "vxneural/VXNNCommon.h"

namespace vars_test {

template <typename T>
std::string Binary(const T& obj) {
  std::stringstream s;
  obj.WriteObject(s);
  return s.str();
}

template <typename T>
std::string Xml(const T& obj, int level = 1) {
  std::stringstream s;
  obj.WriteObjectXML(s, level);
  return s.str();
}

struct ReadResult {
  bool threw = false;
  std::string err;  // what the reader wrote to standard error
  std::string out;  // ... and to standard output
};

// Reads bytes into obj with its binary (xml == false) or XML reader.
template <typename T>
ReadResult Read(T& obj, const std::string& bytes, bool xml) {
  ReadResult result;
  std::stringstream s(bytes);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  try {
    if (xml)
      obj.ReadObjectXML(s);
    else
      obj.ReadObject(s);
  } catch (VXNeural::IOException* e) {
    delete e;
    result.threw = true;
  }
  result.out = testing::internal::GetCapturedStdout();
  result.err = testing::internal::GetCapturedStderr();
  return result;
}

// The message a reader of className writes in the given stream form.
inline std::string ReadMessage(const std::string& className, bool xml) {
  return (xml ? "Failure reading " : "Error reading ") + className + "!\n";
}

}  // namespace vars_test
