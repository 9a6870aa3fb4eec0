#include "persist/BinaryIO.h"

#include <cstring>
#include <iostream>
#include <limits>

#include "vxneural/VXNNCommon.h"

namespace VXNeural {
namespace detail {

void ThrowReadError(const char* prefix, const std::string& className, const char* suffix) {
  std::cerr << prefix << className << suffix;
  throw new IOException();
}

void BinWriter::Put(const void* data, std::size_t n) {
  fOut.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
  fBytes += static_cast<int>(n);
}

BinWriter& BinWriter::Tag(const char* tag) {
  Put(tag, std::strlen(tag));
  return *this;
}

BinWriter& BinWriter::Int(int32_t value) {
  uint32_t u;
  std::memcpy(&u, &value, 4);
  unsigned char b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(u >> (8 * i));
  Put(b, 4);
  return *this;
}

BinWriter& BinWriter::Double(double value) {
  uint64_t u;
  std::memcpy(&u, &value, 8);
  unsigned char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(u >> (8 * i));
  Put(b, 8);
  return *this;
}

BinWriter& BinWriter::String(const std::string& value) {
  Int(static_cast<int32_t>(value.size()));
  Put(value.data(), value.size());
  return *this;
}

BinWriter& BinWriter::Doubles(const double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) Double(values[i]);
  return *this;
}

BinWriter& BinWriter::Ints(const std::vector<int>& values) {
  for (int v : values) Int(v);
  return *this;
}

void BinReader::Fail() const { ThrowReadError("Error reading ", fClass); }

void BinReader::Get(void* data, std::size_t n) {
  fIn.read(static_cast<char*>(data), static_cast<std::streamsize>(n));
  if (!fIn || static_cast<std::size_t>(fIn.gcount()) != n) Fail();
  fBytes += static_cast<int>(n);
}

void BinReader::ExpectTag(const char* tag) {
  const std::size_t n = std::strlen(tag);
  std::string got(n, '\0');
  Get(got.data(), n);
  if (got.compare(0, n, tag, n) != 0) Fail();
}

int32_t BinReader::Int() {
  unsigned char b[4];
  Get(b, 4);
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(b[i]) << (8 * i);
  int32_t v;
  std::memcpy(&v, &u, 4);
  return v;
}

double BinReader::Double() {
  unsigned char b[8];
  Get(b, 8);
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(b[i]) << (8 * i);
  double v;
  std::memcpy(&v, &u, 8);
  return v;
}

std::size_t StreamRemaining(std::istream& in) {
  if (!in) return 0;
  const std::streampos here = in.tellg();
  if (here == std::streampos(-1)) return std::numeric_limits<std::size_t>::max();
  in.seekg(0, std::ios::end);
  const std::streampos end = in.tellg();
  in.clear();
  in.seekg(here);
  if (end == std::streampos(-1) || end < here) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(end - here);
}

std::size_t BinReader::Remaining() { return StreamRemaining(fIn); }

int BinReader::Count(int maxCount, std::size_t bytesEach) {
  const int32_t n = Int();
  if (n < 0 || n > maxCount) Fail();
  if (n > 0 && bytesEach > 0 && static_cast<std::size_t>(n) > Remaining() / bytesEach) Fail();
  return n;
}

std::string BinReader::String() {
  const int n = Count(kMaxStringLength, 1);
  std::string s(static_cast<std::size_t>(n), '\0');
  if (n > 0) Get(s.data(), static_cast<std::size_t>(n));
  return s;
}

std::vector<double> BinReader::Doubles(int count) {
  if (count < 0 || count > kMaxElements ||
      (count > 0 && static_cast<std::size_t>(count) > Remaining() / 8))
    Fail();
  std::vector<double> v(static_cast<std::size_t>(count));
  for (double& x : v) x = Double();
  return v;
}

std::vector<int> BinReader::Ints(int count) {
  if (count < 0 || count > kMaxElements ||
      (count > 0 && static_cast<std::size_t>(count) > Remaining() / 4))
    Fail();
  std::vector<int> v(static_cast<std::size_t>(count));
  for (int& x : v) x = Int();
  return v;
}

}  // namespace detail
}  // namespace VXNeural
