// Encoded records and network weights, shared by the network and optimizer
// tests.
#pragma once

#include <random>
#include <valarray>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/network/NNetwork.h"

namespace network_fixtures {

// Encoded records: inputs uniform in [-1, 1]; a continuous target uniform in
// [0, 1]; a categorical one a one-of-n indicator.
inline std::vector<VXCommon_1_2::Record> MakeRecords(int inputs, const std::vector<int>& categories,
                                                     int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<VXCommon_1_2::Record> records;
  for (int r = 0; r < n; ++r) {
    std::vector<double> v;
    for (int i = 0; i < inputs; ++i) v.push_back(u(gen));
    for (int c : categories) {
      if (c == 1) {
        v.push_back(0.5 * (u(gen) + 1.0));
      } else {
        const int hot = static_cast<int>(gen() % static_cast<unsigned>(c));
        for (int k = 0; k < c; ++k) v.push_back(k == hot ? 1.0 : 0.0);
      }
    }
    records.emplace_back(std::move(v));
  }
  return records;
}

inline std::valarray<double> RandomWeights(int n, unsigned seed, double lo, double hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::valarray<double> w(static_cast<std::size_t>(n));
  for (double& x : w) x = u(gen);
  return w;
}

inline std::valarray<double> WeightsOf(const NNetwork& net) {
  std::valarray<double> w;
  net.GetWeights(w);
  return w;
}

}  // namespace network_fixtures
