// What every fuzz target shares: a check that aborts (so that the fuzzer
// reports a broken promise as a crash), the catch of the readers' one
// documented exception, and quiet standard streams (every refused stream
// writes a line there, which would slow the fuzzer to a crawl).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "vxneural/VXNNCommon.h"

namespace fuzz {

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// Runs read(); true when it returned, false when it threw the readers'
// documented failure (a new VXNeural::IOException by pointer, deleted here).
// Anything else thrown escapes and the fuzzer reports it.
template <typename Read>
bool Reads(Read&& read) {
  try {
    read();
    return true;
  } catch (VXNeural::IOException* e) {
    delete e;
    return false;
  }
}

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Sends std::cerr, std::clog and std::cout (a reader or two reports there)
// nowhere for the life of the process; sanitizer and fuzzer reports go to
// the file descriptor and still show.
inline void QuietStandardStreams() {
  static NullBuffer sink;
  std::cerr.rdbuf(&sink);
  std::clog.rdbuf(&sink);
  std::cout.rdbuf(&sink);
}

// Every target includes this header, so every target starts quiet.
inline const bool kQuietFromTheStart = (QuietStandardStreams(), true);

inline std::string Bytes(const unsigned char* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz
