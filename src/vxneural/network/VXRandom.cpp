#include "vxneural/network/VXRandom.h"

#include <cstdlib>
#include <ostream>
#include <utility>

#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"

using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;
using VXNeural::detail::XmlReader;
using VXNeural::detail::XmlWriter;

namespace {
const char kClassName[] = "VXRandom";
const char kTag[] = "VXRa";
// The portable generator: state' = state * a mod (2^31 - 1).
constexpr std::uint64_t kMultiplier = 397204094;
constexpr std::uint64_t kModulus = 2147483647;
constexpr double kInvTwoPow31 = 4.656612873077393e-10;

// The seed is stored as a double; anything a writer cannot have produced is
// a corrupt stream rather than a seed (and would not convert).
bool SeedFits(double d) { return d > -1.0 && d < 4294967296.0; }
}  // namespace

VXRandom::VXRandom() : VXRandom(12345u, true) {}

VXRandom::VXRandom(std::uint32_t seed, bool portable) : fSeed(seed), fPortable(portable) {
  SetSeed(seed);
}

void VXRandom::SetSeed(std::uint32_t seed) {
  fSeed = seed;
  if (!fPortable) std::srand(seed);
}

double VXRandom::Uniform() {
  if (fPortable) {
    fSeed = static_cast<std::uint32_t>((fSeed * kMultiplier) % kModulus);
    return fSeed * kInvTwoPow31;
  }
  // Fifteen bits, whatever this platform's RAND_MAX: the draw stays in
  // [0, 1] everywhere and equals rand() / 32767.0 where RAND_MAX is 32767.
  return (std::rand() % 32768) / 32767.0;
}

void VXRandom::FillUniform(double* values, std::size_t count, double lo, double hi) {
  for (std::size_t i = 0; i < count; ++i) values[i] = Uniform(lo, hi);
}

void VXRandom::Shuffle(int* permutation, std::size_t count) {
  for (std::size_t i = count; i-- > 1;) {
    std::size_t j = static_cast<std::size_t>(Uniform() * static_cast<double>(i + 1));
    if (j > i) j = i;
    if (j != i) std::swap(permutation[i], permutation[j]);
  }
}

int VXRandom::WriteObject(std::ostream& out) const {
  BinWriter w(out);
  w.Tag(kTag).Double(static_cast<double>(fSeed)).Bool(fPortable);
  return w.Bytes();
}

int VXRandom::ReadObject(std::istream& in) {
  BinReader r(in, kClassName);
  r.ExpectTag(kTag);
  const double seed = r.Double();
  if (!SeedFits(seed)) r.Fail();
  const bool portable = r.Bool();
  fSeed = static_cast<std::uint32_t>(seed);
  fPortable = portable;
  return r.Bytes();
}

int VXRandom::WriteObjectXML(std::ostream& out, int level) const {
  XmlWriter w(out, kClassName, level);
  w.Double(static_cast<double>(fSeed)).Int(fPortable ? 1 : 0);
  return w.End();
}

int VXRandom::ReadObjectXML(std::istream& in) {
  XmlReader r(in, kClassName, kClassName);
  const double seed = r.Double();
  if (!SeedFits(seed)) r.Fail();
  const bool portable = r.Int() == 1;
  const int count = r.End();
  fSeed = static_cast<std::uint32_t>(seed);
  fPortable = portable;
  return count;
}

void VXRandom::Display(std::ostream& out) const {
  out << "\nStart of VXRandom display\n"
      << "The seed = " << fSeed << '\n'
      << "Portable random number generator is used: " << (fPortable ? "Yes" : "No") << '\n'
      << "End of VXRandom display\n";
}
