// Fault injection for the readers of saved forms: reads of truncated and
// corrupted copies of a valid stream, with standard error captured and the
// thrown VXNeural::IOException pointer caught and deleted.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "vxneural/VXNNCommon.h"

namespace stream_faults {

// What one read did.
struct ReadOutcome {
  bool threw = false;
  std::string err;
  std::string out;  // what it wrote to standard output; a few readers report there
};

// Runs read(std::istream&) on a stream over bytes.
template <typename Read>
ReadOutcome ReadFrom(const std::string& bytes, Read&& read) {
  ReadOutcome outcome;
  std::stringstream in(bytes);
  std::ostringstream captured, capturedOut;
  std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
  std::streambuf* oldOut = std::cout.rdbuf(capturedOut.rdbuf());
  try {
    read(in);
  } catch (VXNeural::IOException* e) {
    delete e;
    outcome.threw = true;
  } catch (...) {
    std::cerr.rdbuf(old);
    std::cout.rdbuf(oldOut);
    throw;
  }
  std::cerr.rdbuf(old);
  std::cout.rdbuf(oldOut);
  outcome.err = captured.str();
  outcome.out = capturedOut.str();
  return outcome;
}

// Success when the read threw after writing exactly one of the messages.
inline ::testing::AssertionResult RefusedWith(const ReadOutcome& outcome,
                                              const std::vector<std::string>& messages) {
  if (!outcome.threw) return ::testing::AssertionFailure() << "the read succeeded";
  if (std::find(messages.begin(), messages.end(), outcome.err) == messages.end())
    return ::testing::AssertionFailure() << "unexpected message: " << outcome.err;
  return ::testing::AssertionSuccess();
}

// Every prefix of good shorter than end (all of good by default) read by
// attempt(bytes) -> ReadOutcome, which should use a fresh target each time,
// must be refused with one of the messages.
template <typename Attempt>
void ExpectTruncationsRefused(const std::string& good, const std::vector<std::string>& messages,
                              Attempt&& attempt, std::size_t end = std::string::npos) {
  end = std::min(end, good.size());
  for (std::size_t n = 0; n < end; ++n)
    EXPECT_TRUE(RefusedWith(attempt(good.substr(0, n)), messages)) << "cut at " << n;
}

// Every single-byte corruption of good must either read or be refused with
// one of the messages: never a crash, a leak or a runaway allocation.
template <typename Attempt>
void ExpectByteFlipsHandled(const std::string& good, const std::vector<std::string>& messages,
                            Attempt&& attempt) {
  for (std::size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x5a);
    const ReadOutcome outcome = attempt(bad);
    if (outcome.threw) {
      EXPECT_TRUE(RefusedWith(outcome, messages)) << "byte " << at;
    }
  }
}

// good with the little-endian 32-bit integer at offset at replaced by v.
inline std::string WithInt32(std::string good, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  const char bytes[4] = {static_cast<char>(u & 0xff), static_cast<char>((u >> 8) & 0xff),
                         static_cast<char>((u >> 16) & 0xff), static_cast<char>(u >> 24)};
  return good.replace(at, 4, bytes, 4);
}

inline double DoubleAt(const std::string& bytes, std::size_t at) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(bytes.at(at + i));
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// text with the first occurrence of from replaced by to.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no " << from << " in the text";
    return text;
  }
  return text.replace(at, from.size(), to);
}

// Byte offset of field k of a binary record whose tag has tagLength bytes
// and whose fields have the types of layout ('i' a 32-bit int, 'd' a
// double).
inline std::size_t FieldOffset(std::size_t tagLength, const std::string& layout, std::size_t k) {
  std::size_t at = tagLength;
  for (std::size_t i = 0; i < k; ++i) at += layout.at(i) == 'i' ? 4 : 8;
  return at;
}

// An XML object with the text of its k-th value element (<int> or
// <double>, counted from 0 in document order) replaced by value.
inline std::string WithXmlValue(std::string xml, std::size_t k, const std::string& value) {
  std::size_t at = 0;
  for (std::size_t i = 0; i <= k; ++i) {
    at = std::min(xml.find("<int>", at), xml.find("<double>", at));
    if (at == std::string::npos) {
      ADD_FAILURE() << "no value element " << k;
      return xml;
    }
    at = xml.find('>', at) + 1;
  }
  return xml.replace(at, xml.find('<', at) - at, value);
}

}  // namespace stream_faults
