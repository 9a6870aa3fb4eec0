// The one source of random numbers for weight initialisation, record
// shuffling and sampling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

/// Two modes: a portable multiplicative congruential generator whose sequence
/// is the same on every platform for a given seed, and the standard C
/// generator (rand). The generator is a plain value saved with its model, so a
/// restored portable generator continues the same sequence.
///
/// Saved forms: binary "VXRa", the seed as a double and the mode as an int
/// (16 bytes); XML object "VXRandom" with the same two values. A failed read
/// writes "Error reading VXRandom!\n" (binary) or "Failure reading VXRandom!\n"
/// (XML) to standard error and throws a new VXNeural::IOException by pointer,
/// leaving the generator unchanged.
class VXRandom {
 public:
  /// Seed 12345, portable: the settings' defaults.
  VXRandom();
  /// The given seed and mode (SetSeed: in standard mode it seeds rand()).
  VXRandom(std::uint32_t seed, bool portable);

  /// Becomes the state; in standard mode it also seeds rand() (srand). In
  /// portable mode rand() is never touched.
  void SetSeed(std::uint32_t seed);
  /// The current state of the portable generator; in standard mode the last
  /// seed given.
  std::uint32_t GetSeed() const { return fSeed; }
  /// Switches the mode without changing the state or seeding rand().
  void SetPortable(bool portable) { fPortable = portable; }
  /// True in portable mode, false in standard (rand) mode.
  bool GetPortable() const { return fPortable; }

  /// Portable: the next state divided by 2^31, strictly inside (0, 1) for any
  /// state in 1..2^31-2 (a state of 0 stays 0 and yields 0). Standard:
  /// rand() / 32767.0, which can be exactly 1.
  double Uniform();
  /// Uniform() * (hi - lo) + lo.
  double Uniform(double lo, double hi) { return Uniform() * (hi - lo) + lo; }
  /// values[i] = Uniform(lo, hi), in storage order.
  void FillUniform(double* values, std::size_t count, double lo, double hi);
  ///@{
  /// Shuffles the permutation in place: for i from count-1 down to 1, swaps
  /// entries i and trunc(Uniform() * (i + 1)). A draw of exactly 1 (standard
  /// mode) would name i + 1; it leaves entry i in place instead.
  void Shuffle(int* permutation, std::size_t count);
  void Shuffle(std::vector<int>& permutation) { Shuffle(permutation.data(), permutation.size()); }
  ///@}

  /// Writes the binary form (see the class comment); returns the bytes
  /// written.
  int WriteObject(std::ostream& out) const;
  /// Reads the binary form; returns the bytes read. Fails as the class
  /// comment says.
  int ReadObject(std::istream& in);
  /// Writes the XML object at nesting level `level`; returns the values
  /// written.
  int WriteObjectXML(std::ostream& out, int level = 1) const;
  /// Reads the XML form; returns the values read. Fails as the class comment
  /// says.
  int ReadObjectXML(std::istream& in);
  /// The seed and the mode, readable, for diagnostics.
  void Display(std::ostream& out) const;

  /// Equal when the state and the mode are equal.
  bool operator==(const VXRandom& other) const {
    return fSeed == other.fSeed && fPortable == other.fPortable;
  }
  /// Not operator==.
  bool operator!=(const VXRandom& other) const { return !(*this == other); }

 private:
  std::uint32_t fSeed;
  bool fPortable;
};
