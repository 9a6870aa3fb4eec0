// The random generator: the portable sequence against a second
// implementation, continuation after save and restore, the standard mode's
// use of rand(), and damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "vxneural/VXNNCommon.h"
#include "vxneural/network/VXRandom.h"

using VXNeural::IOException;

namespace {

constexpr uint64_t kModulus = 2147483647;
constexpr uint64_t kMultiplier = 397204094;

// (a * b) mod m by doubling and adding, never forming the full product: an
// independent check of the generator's 64-bit arithmetic.
uint64_t MulMod(uint64_t a, uint64_t b, uint64_t m) {
  uint64_t result = 0;
  a %= m;
  while (b > 0) {
    if (b & 1) result = (result + a) % m;
    a = (a * 2) % m;
    b >>= 1;
  }
  return result;
}

std::vector<double> ReferenceDraws(uint32_t seed, int n) {
  std::vector<double> draws;
  uint64_t state = seed;
  for (int i = 0; i < n; ++i) {
    state = MulMod(state, kMultiplier, kModulus);
    draws.push_back(static_cast<double>(state) / 2147483648.0);
  }
  return draws;
}

std::vector<double> Draws(VXRandom& g, int n) {
  std::vector<double> d;
  for (int i = 0; i < n; ++i) d.push_back(g.Uniform());
  return d;
}

std::string FailedRead(const std::function<void()>& read) {
  testing::internal::CaptureStderr();
  bool thrown = false;
  try {
    read();
  } catch (IOException* e) {
    delete e;
    thrown = true;
  }
  const std::string err = testing::internal::GetCapturedStderr();
  return thrown ? err : "no exception";
}

}  // namespace

TEST(PortableRandom, FirstDrawForSeedOne) {
  VXRandom g(1, true);
  EXPECT_EQ(g.Uniform(), 397204094.0 / 2147483648.0);
  EXPECT_EQ(g.GetSeed(), 397204094u);
}

TEST(PortableRandom, MatchesASecondImplementation) {
  for (uint32_t seed : {1u, 12345u, 2147483646u, 2147483647u, 4294967295u}) {
    VXRandom g(seed, true);
    EXPECT_EQ(Draws(g, 200), ReferenceDraws(seed, 200)) << "seed " << seed;
  }
}

TEST(PortableRandom, DrawsLieStrictlyInsideTheUnitInterval) {
  VXRandom g(987654321u, true);
  for (int i = 0; i < 10000; ++i) {
    const double u = g.Uniform();
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
  VXRandom zero(0, true);
  EXPECT_EQ(zero.Uniform(), 0.0);
  EXPECT_EQ(zero.Uniform(), 0.0);
}

TEST(PortableRandom, SameSeedSameSequenceAndReseeding) {
  VXRandom a(777, true);
  VXRandom b;
  b.SetSeed(777);
  EXPECT_EQ(Draws(a, 50), Draws(b, 50));
  a.SetSeed(3);
  EXPECT_EQ(Draws(a, 5), ReferenceDraws(3, 5));
}

TEST(PortableRandom, SeedingNeverTouchesTheStandardGenerator) {
  std::srand(4242);
  const int expected1 = std::rand();
  const int expected2 = std::rand();
  std::srand(4242);
  VXRandom g(99, true);
  g.SetSeed(5);
  g.Uniform();
  g.SetSeed(6);
  EXPECT_EQ(std::rand(), expected1);
  EXPECT_EQ(std::rand(), expected2);
}

TEST(StandardRandom, SeedsAndDrawsFromRand) {
  std::srand(31);
  const double first = std::rand() / 32767.0;
  const double second = std::rand() / 32767.0;
  VXRandom g(31, false);
  EXPECT_EQ(g.Uniform(), first);
  EXPECT_EQ(g.Uniform(), second);
  EXPECT_EQ(g.GetSeed(), 31u);
  // Switching mode keeps the seed; SetSeed then seeds rand().
  VXRandom h(1, true);
  h.SetPortable(false);
  EXPECT_FALSE(h.GetPortable());
  h.SetSeed(31);
  EXPECT_EQ(h.Uniform(), first);
}

TEST(RandomUsers, UniformRangeAndFill) {
  VXRandom g(11, true);
  const std::vector<double> ref = ReferenceDraws(11, 4);
  EXPECT_EQ(g.Uniform(-0.5, 0.5), ref[0] * 1.0 - 0.5);
  double w[3];
  g.FillUniform(w, 3, 2.0, 6.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(w[i], ref[i + 1] * 4.0 + 2.0);
}

TEST(RandomUsers, ShuffleFollowsTheDocumentedSwaps) {
  VXRandom g(2024, true);
  std::vector<int> perm(10);
  std::iota(perm.begin(), perm.end(), 0);
  g.Shuffle(perm);

  std::vector<int> expected(10);
  std::iota(expected.begin(), expected.end(), 0);
  const std::vector<double> draws = ReferenceDraws(2024, 9);
  for (int i = 9, k = 0; i >= 1; --i, ++k) {
    const int j = static_cast<int>(draws[k] * (i + 1));
    std::swap(expected[i], expected[j]);
  }
  EXPECT_EQ(perm, expected);
  std::vector<int> sorted = perm;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sorted[i], i);

  // Trivial lengths draw nothing.
  VXRandom h(2024, true);
  std::vector<int> one{5};
  h.Shuffle(one);
  EXPECT_EQ(one, std::vector<int>{5});
  EXPECT_EQ(h.GetSeed(), 2024u);
}

TEST(RandomPersist, BinaryLayoutAndContinuation) {
  VXRandom a(1, true);
  Draws(a, 5);
  std::stringstream s;
  EXPECT_EQ(a.WriteObject(s), 16);
  const std::string bytes = s.str();
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes.substr(0, 4), "VXRa");
  double seed;
  std::memcpy(&seed, bytes.data() + 4, 8);  // the test host is little-endian
  EXPECT_EQ(seed, static_cast<double>(a.GetSeed()));
  EXPECT_EQ(bytes.substr(12, 4), std::string("\x01\0\0\0", 4));

  VXRandom b(555, false);
  EXPECT_EQ(b.ReadObject(s), 16);
  EXPECT_TRUE(b.GetPortable());
  EXPECT_EQ(Draws(a, 20), Draws(b, 20));
}

TEST(RandomPersist, XmlContinuation) {
  VXRandom a(4000000000u, true);
  Draws(a, 3);
  std::stringstream s;
  EXPECT_EQ(a.WriteObjectXML(s), 2);
  EXPECT_NE(s.str().find("VXRandom"), std::string::npos);
  VXRandom b(1, false);
  EXPECT_EQ(b.ReadObjectXML(s), 2);
  EXPECT_EQ(b, a);
  EXPECT_EQ(Draws(a, 20), Draws(b, 20));

  VXRandom standard(4000000000u, false);
  std::stringstream t;
  standard.WriteObjectXML(t);
  VXRandom c;
  c.ReadObjectXML(t);
  EXPECT_FALSE(c.GetPortable());
  EXPECT_EQ(c.GetSeed(), 4000000000u);
}

TEST(RandomPersist, PortableIsTrueOnlyForOne) {
  std::stringstream s;
  VXRandom(8, true).WriteObject(s);
  std::string bytes = s.str();
  bytes[12] = 2;
  std::stringstream in(bytes);
  VXRandom b;
  b.ReadObject(in);
  EXPECT_FALSE(b.GetPortable());
  EXPECT_EQ(b.GetSeed(), 8u);
}

TEST(RandomPersist, DamagedStreamsFail) {
  const VXRandom a(123, true);
  std::stringstream s;
  a.WriteObject(s);
  const std::string bytes = s.str();
  VXRandom b(9, false);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(bytes.substr(0, n));
                b.ReadObject(in);
              }),
              "Error reading VXRandom!\n")
        << n;
  }
  std::string wrongTag = bytes;
  wrongTag[3] = 'b';
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(wrongTag);
              b.ReadObject(in);
            }),
            "Error reading VXRandom!\n");
  // Seeds no writer produces: negative, beyond 32 bits, not a number.
  for (double bad : {-5.0, 4294967296.0, std::numeric_limits<double>::quiet_NaN()}) {
    std::string corrupt = bytes;
    std::memcpy(&corrupt[4], &bad, 8);
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(corrupt);
                b.ReadObject(in);
              }),
              "Error reading VXRandom!\n")
        << bad;
  }
  // The reader kept its own state throughout.
  EXPECT_EQ(b, VXRandom(9, false));

  std::stringstream xml;
  a.WriteObjectXML(xml);
  // Cut anywhere before the end of the object (trailing white space is not
  // part of it).
  const std::string text = xml.str();
  const std::size_t objectEnd = text.find_last_not_of(" \n") + 1;
  for (std::size_t n = 0; n < objectEnd; ++n) {
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(text.substr(0, n));
                b.ReadObjectXML(in);
              }),
              "Failure reading VXRandom!\n")
        << n;
  }
  EXPECT_EQ(b, VXRandom(9, false));
}

TEST(RandomDisplay, ShowsSeedAndMode) {
  std::ostringstream out;
  VXRandom(42, false).Display(out);
  EXPECT_EQ(out.str(),
            "\nStart of VXRandom display\nThe seed = 42\n"
            "Portable random number generator is used: No\nEnd of VXRandom display\n");
}
