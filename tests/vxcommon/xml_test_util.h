// Helpers shared by the XML suites: doubles as bits, and a bridge to xmllint
// as an independent parser.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "vxcommon/Callbacks.h"

namespace vxtest {

inline double FromBits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline std::uint64_t Bits(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

inline bool HaveXmllint() { return std::ifstream("/usr/bin/xmllint").good(); }

// Runs "xmllint <options> FILE" on document; true when it exits with 0.
// Its standard output goes to *output when given.
inline bool RunXmllint(const std::string& document, const std::string& options,
                       std::string* output = nullptr) {
  const std::string file =
      VXCommon_1_2::VXDefaultTempFileNameMaker("", "vxcommon-test").GetTempFileName();
  std::ofstream(file, std::ios::binary) << document;
  FILE* pipe = popen(("/usr/bin/xmllint " + options + " '" + file + "' 2>/dev/null").c_str(), "r");
  std::string text(1 << 20, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), pipe));
  const int status = pclose(pipe);
  std::remove(file.c_str());
  if (output != nullptr) *output = text;
  return status == 0;
}

}  // namespace vxtest
