// A small generated data set with continuous and categorical fields, for
// the tests that drive whole models, and the moments a host describes its
// continuous fields with.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "vxcommon/Record.h"

namespace mixed_records {

// Record layout: x (continuous, 0..10), c (code 0..2), v (continuous,
// -2..2), y (code 0..1), z (continuous). y depends on x, c and v with some
// noise; z smoothly on all three. Which fields are inputs or targets is the
// test's business.
enum Field { kX = 0, kC, kV, kY, kZ };

// A deterministic generator of its own, so that the data do not depend on
// the library's random generator.
inline std::vector<VXCommon_1_2::Record> MakeRecords(int n, unsigned seed) {
  unsigned state = seed * 2654435761u + 1u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0;
  };
  std::vector<VXCommon_1_2::Record> records;
  for (int i = 0; i < n; ++i) {
    const double x = std::round(next() * 1000.0) / 100.0;
    const int c = static_cast<int>(next() * 3.0) % 3;
    const double v = std::round((next() * 4.0 - 2.0) * 100.0) / 100.0;
    const double noise = next() - 0.5;
    const int y = (x + 2.5 * c + 2.0 * v + 2.0 * noise > 7.0) ? 1 : 0;
    const double z = std::sin(x / 3.0) + 0.5 * c + 0.3 * v + 0.1 * noise;
    records.push_back(VXCommon_1_2::Record(std::vector<double>{x, double(c), v, double(y), z}));
  }
  return records;
}

// The scoring record of a record: the fields of the inputs x, c and v
// alone, in that order (the order the tests' lists give them).
inline VXCommon_1_2::Record InputsOf(const VXCommon_1_2::Record& r) {
  return VXCommon_1_2::Record(std::vector<double>{r[kX], r[kC], r[kV]});
}

struct Moments {
  double min, max, mean, variance;  // the sample variance
};

inline Moments MomentsOf(const std::vector<VXCommon_1_2::Record>& records, int field) {
  Moments m{records[0][field], records[0][field], 0.0, 0.0};
  for (const VXCommon_1_2::Record& r : records) {
    m.min = std::min(m.min, r[field]);
    m.max = std::max(m.max, r[field]);
    m.mean += r[field];
  }
  m.mean /= records.size();
  for (const VXCommon_1_2::Record& r : records)
    m.variance += (r[field] - m.mean) * (r[field] - m.mean);
  m.variance /= records.size() - 1;
  return m;
}

}  // namespace mixed_records
