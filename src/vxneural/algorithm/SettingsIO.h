// Adapters that let the settings classes state their field order once for
// both saved forms. The two forms differ only in how some values are typed:
// in the binary stream every integer, seed, record count and flag is a 32-bit
// int; in the XML stream seeds are unsigned, record counts long, a few flags
// typed bools and the other flags ints 1 or 0.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"

namespace VXNeural {
namespace detail {

// Bound for counts and sizes read from a settings stream.
inline constexpr int kMaxSettingsCount = kMaxElements;

class SettingsBinOut {
 public:
  explicit SettingsBinOut(BinWriter& w) : fW(w) {}
  void Int(int v) { fW.Int(v); }
  void Double(double v) { fW.Double(v); }
  void Seed(unsigned int v) { fW.Int(static_cast<int32_t>(v)); }
  // The binary form holds 32 bits.
  void Records(long v) { fW.Int(static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX))); }
  void Flag(bool v) { fW.Bool(v); }
  void TypedBool(bool v) { fW.Bool(v); }
  void Ints(const std::vector<int>& v) { fW.Ints(v); }

 private:
  BinWriter& fW;
};

class SettingsXmlOut {
 public:
  explicit SettingsXmlOut(XmlWriter& w) : fW(w) {}
  void Int(int v) { fW.Int(v); }
  void Double(double v) { fW.Double(v); }
  void Seed(unsigned int v) { fW.Unsigned(v); }
  void Records(long v) { fW.Long(v); }
  void Flag(bool v) { fW.Int(v ? 1 : 0); }
  void TypedBool(bool v) { fW.Bool(v); }
  void Ints(const std::vector<int>& v) { fW.Ints(v); }

 private:
  XmlWriter& fW;
};

class SettingsBinIn {
 public:
  explicit SettingsBinIn(BinReader& r) : fR(r) {}
  int Int() { return fR.Int(); }
  double Double() { return fR.Double(); }
  unsigned int Seed() { return static_cast<unsigned int>(fR.Int()); }
  long Records() { return fR.Int(); }
  bool Flag() { return fR.Bool(); }
  bool TypedBool() { return fR.Bool(); }
  int Count(int maxCount) { return fR.Count(maxCount, 4); }
  std::vector<int> Ints(int count) { return fR.Ints(count); }
  [[noreturn]] void Fail() const { fR.Fail(); }

 private:
  BinReader& fR;
};

class SettingsXmlIn {
 public:
  explicit SettingsXmlIn(XmlReader& r) : fR(r) {}
  int Int() { return fR.Int(); }
  double Double() { return fR.Double(); }
  unsigned int Seed() { return fR.Unsigned(); }
  long Records() { return fR.Long(); }
  bool Flag() { return fR.Int() == 1; }
  bool TypedBool() { return fR.Bool(); }
  int Count(int maxCount) { return fR.Count(maxCount); }
  std::vector<int> Ints(int count) { return fR.Ints(count); }
  [[noreturn]] void Fail() const { fR.Fail(); }

 private:
  XmlReader& fR;
};

// An enumeration value read from a stream: anything outside 0..count-1 is a
// corrupt stream, not a value to carry on with.
template <typename E, typename In>
E ReadEnum(In& in, int count) {
  const int v = in.Int();
  if (v < 0 || v >= count) in.Fail();
  return static_cast<E>(v);
}

}  // namespace detail
}  // namespace VXNeural
