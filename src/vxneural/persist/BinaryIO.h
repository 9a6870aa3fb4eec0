// The one little-endian binary writer and reader behind every persistent
// class. Ints and enumerations are 4 bytes, doubles 8 (IEEE binary64), bools
// an int 1 or 0 (only 1 reads as true), strings an int length and the bytes,
// tags their characters alone.
//
// Readers treat the stream as hostile: any failed read, wrong tag, negative
// or implausible count, or length beyond what remains in the stream writes
// "Error reading <class>!\n" to standard error and throws a newly allocated
// VXNeural::IOException by pointer, before anything is allocated for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace VXNeural {
namespace detail {

class BinWriter {
 public:
  explicit BinWriter(std::ostream& out) : fOut(out) {}
  BinWriter(const BinWriter&) = delete;
  BinWriter& operator=(const BinWriter&) = delete;

  BinWriter& Tag(const char* tag);
  BinWriter& Int(int32_t value);
  BinWriter& Double(double value);
  BinWriter& Bool(bool value) { return Int(value ? 1 : 0); }
  BinWriter& String(const std::string& value);
  BinWriter& Doubles(const double* values, std::size_t count);
  BinWriter& Doubles(const std::vector<double>& values) { return Doubles(values.data(), values.size()); }
  BinWriter& Ints(const std::vector<int>& values);
  // Counts the bytes of a nested object written by its own writer.
  BinWriter& Nested(int bytes) { fBytes += bytes; return *this; }
  int Bytes() const { return fBytes; }

 private:
  void Put(const void* data, std::size_t n);
  std::ostream& fOut;
  int fBytes = 0;
};

class BinReader {
 public:
  // className names the object in the failure message.
  BinReader(std::istream& in, std::string className) : fIn(in), fClass(std::move(className)) {}
  BinReader(const BinReader&) = delete;
  BinReader& operator=(const BinReader&) = delete;

  // Compares exactly strlen(tag) bytes.
  void ExpectTag(const char* tag);
  int32_t Int();
  double Double();
  bool Bool() { return Int() == 1; }
  std::string String();
  // A count of elements that follow, each at least bytesEach long: refused
  // when negative, above maxCount, or larger than what remains.
  int Count(int maxCount, std::size_t bytesEach);
  std::vector<double> Doubles(int count);
  std::vector<int> Ints(int count);
  BinReader& Nested(int bytes) { fBytes += bytes; return *this; }
  int Bytes() const { return fBytes; }

  // Bytes left in a seekable stream; SIZE_MAX when it cannot be told.
  std::size_t Remaining();
  [[noreturn]] void Fail() const;

 private:
  void Get(void* data, std::size_t n);
  std::istream& fIn;
  std::string fClass;
  int fBytes = 0;
};

// Bytes left in a seekable stream (the position is kept); SIZE_MAX when the
// stream cannot tell, 0 when it has failed.
std::size_t StreamRemaining(std::istream& in);

// Writes the read-failure line ("<prefix><className><suffix>") to standard
// error and throws a new IOException.
[[noreturn]] void ThrowReadError(const char* prefix, const std::string& className,
                                 const char* suffix = "!\n");

// Plausibility ceilings for counts read from streams. They are far above any
// real model yet small enough that a corrupted count cannot trigger a
// runaway allocation before the remaining-size check even applies.
inline constexpr int kMaxVariables = 1 << 20;
inline constexpr int kMaxCategories = 1 << 24;
inline constexpr int kMaxElements = 1 << 28;
inline constexpr int kMaxStringLength = 1 << 26;

}  // namespace detail
}  // namespace VXNeural
