// The iris data shipped with the project, as encoded records: the four
// measurements standardized, then the species as a one-of-3 target.
#pragma once

#include <array>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "vxcommon/Record.h"

namespace iris {

struct Flower {
  std::array<double, 4> x;
  int species;  // 0 setosa, 1 versicolor, 2 virginica
};

// The 150 flowers in file order.
inline std::vector<Flower> Flowers() {
  std::ifstream in(VXNN_DATA_DIR "/iris.csv");
  std::string line;
  std::getline(in, line);
  const std::array<std::string, 3> names = {"setosa", "versicolor", "virginica"};
  std::vector<Flower> flowers;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string field;
    Flower f{};
    for (double& x : f.x) {
      std::getline(fields, field, ',');
      x = std::stod(field);
    }
    std::getline(fields, field);
    while (!field.empty() && (field.back() == '\r' || field.back() == ' ')) field.pop_back();
    f.species = -1;
    for (int k = 0; k < 3; ++k)
      if (field == names[static_cast<std::size_t>(k)]) f.species = k;
    if (f.species >= 0) flowers.push_back(f);
  }
  return flowers;
}

// A seeded Fisher-Yates shuffle with the standard Mersenne twister.
template <typename T>
void Shuffle(std::vector<T>& items, unsigned seed) {
  std::mt19937 gen(seed);
  for (std::size_t i = items.size() - 1; i > 0; --i) std::swap(items[i], items[gen() % (i + 1)]);
}

// The flowers' records, standardized with the means and sample standard
// deviations of basis.
inline std::vector<VXCommon_1_2::Record> Encode(const std::vector<Flower>& flowers,
                                                const std::vector<Flower>& basis) {
  const double n = static_cast<double>(basis.size());
  std::array<double, 4> mean{}, sd{};
  for (const Flower& f : basis)
    for (std::size_t i = 0; i < 4; ++i) mean[i] += f.x[i] / n;
  for (const Flower& f : basis)
    for (std::size_t i = 0; i < 4; ++i) sd[i] += (f.x[i] - mean[i]) * (f.x[i] - mean[i]) / (n - 1);
  std::vector<VXCommon_1_2::Record> records;
  for (const Flower& f : flowers) {
    VXCommon_1_2::Record r(7);
    for (int i = 0; i < 4; ++i)
      r[i] = (f.x[static_cast<std::size_t>(i)] - mean[static_cast<std::size_t>(i)]) /
             std::sqrt(sd[static_cast<std::size_t>(i)]);
    r[4 + f.species] = 1.0;
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace iris
