// How many clusters the clustering library finds on a file of records, and
// which cluster each record goes to: the C++ side of cluster_count.sh, which
// compares the count and the labels with a Gaussian mixture chosen by BIC on
// planted data.
//
// Reads a CSV of numbers without a header, one record per line. Columns are
// continuous unless named by --categorical (0-based column numbers, comma
// separated), whose values are category codes 1 .. n (n is the largest code
// in the column). A continuous column is given its own mean as location and
// its own standard deviation as scale (1 when the column is constant), as a
// caller who knows nothing about the data would. The model uses the default
// ClusterSettings, pre-clusters the records once and lets AutoCluster choose
// the count between --least and --most (default 1 .. 15); then every record
// is assigned with ClusterModel::AssignRecord, the library's own rule for
// placing a record in a result cluster.
//
// Output on stdout: "clusters K", then one line per record with its cluster
// number 0 .. K-1 (-1 if the library refused the record). A line of figures
// (leaf entries, BIC, seconds) goes to stderr.
//
// usage: cluster_count FILE.csv [--categorical 2,3] [--least 1] [--most 15]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vxcluster/vxcluster.h"

namespace {

// Hands out the stored rows one by one; reused for the assignment pass.
class Rows : public VXCluster::RecordIterator {
 public:
  explicit Rows(const std::vector<VXCluster::Record>& rows) : fRows(rows) {}
  bool IsGood() override { return fPos < fRows.size(); }
  VXCluster::Record* Next() override {
    if (fPos >= fRows.size()) return nullptr;
    fRecord = fRows[fPos++];
    return &fRecord;
  }
  int GetStatus() override { return fPos < fRows.size() ? kGood : kEndOfData; }

 private:
  const std::vector<VXCluster::Record>& fRows;
  std::size_t fPos = 0;
  VXCluster::Record fRecord;
};

int Usage(const char* program) {
  std::fprintf(stderr, "usage: %s FILE.csv [--categorical C1,C2,...] [--least N] [--most N]\n",
               program);
  return 2;
}

// Parses a whole token as a number; false for anything else.
bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value);
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(argv[0]);
  const char* path = argv[1];
  std::vector<int> categorical;
  int least = 1, most = 15;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if (a + 1 >= argc) return Usage(argv[0]);
    if (arg == "--categorical") {
      std::stringstream list(argv[++a]);
      std::string item;
      while (std::getline(list, item, ',')) {
        int c = 0;
        if (!ParseInt(item.c_str(), c)) return Usage(argv[0]);
        categorical.push_back(c);
      }
    } else if (arg == "--least") {
      if (!ParseInt(argv[++a], least)) return Usage(argv[0]);
    } else if (arg == "--most") {
      if (!ParseInt(argv[++a], most)) return Usage(argv[0]);
    } else {
      return Usage(argv[0]);
    }
  }

  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  std::vector<VXCluster::Record> rows;
  std::string line;
  int width = -1;
  for (long lineNo = 1; std::getline(in, line); ++lineNo) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<double> values;
    std::stringstream fields(line);
    std::string field;
    while (std::getline(fields, field, ',')) {
      double v = 0.0;
      if (!ParseNumber(field, v)) {
        std::fprintf(stderr, "%s:%ld: not a number: '%s'\n", path, lineNo, field.c_str());
        return 1;
      }
      values.push_back(v);
    }
    if (width < 0) width = static_cast<int>(values.size());
    if (static_cast<int>(values.size()) != width) {
      std::fprintf(stderr, "%s:%ld: %zu fields, expected %d\n", path, lineNo, values.size(), width);
      return 1;
    }
    rows.emplace_back(std::move(values));
  }
  if (rows.empty()) {
    std::fprintf(stderr, "%s: no records\n", path);
    return 1;
  }

  std::vector<bool> isCategorical(static_cast<std::size_t>(width), false);
  for (int c : categorical) {
    if (c >= width) {
      std::fprintf(stderr, "--categorical: column %d, but the file has %d\n", c, width);
      return 1;
    }
    isCategorical[static_cast<std::size_t>(c)] = true;
  }

  // Location and scale of each continuous column, the category count of each
  // categorical one, from the file itself.
  ClusterVarList vars(width);
  for (int c = 0; c < width; ++c) {
    if (isCategorical[static_cast<std::size_t>(c)]) {
      int top = 0;
      for (const VXCluster::Record& r : rows) {
        const double v = r[c];
        if (v != std::floor(v) || v < 1.0) {
          std::fprintf(stderr, "column %d: category code %g is not a whole number >= 1\n", c, v);
          return 1;
        }
        if (v > top) top = static_cast<int>(v);
      }
      vars.AddCatVar(top, ClusterVar::kNumericCategorical);
    } else {
      double mean = 0.0;
      for (const VXCluster::Record& r : rows) mean += r[c];
      mean /= static_cast<double>(rows.size());
      double ss = 0.0;
      for (const VXCluster::Record& r : rows) ss += (r[c] - mean) * (r[c] - mean);
      const double sd = std::sqrt(ss / static_cast<double>(rows.size()));
      vars.AddContVar(mean, sd > 0.0 ? sd : 1.0);
    }
  }

  ClusterModel model(ClusterSettings(), vars);
  Rows source(rows);
  const auto start = std::chrono::steady_clock::now();
  VXCommon_1_2::VXStatus status = model.PreCluster(source);
  if (!status.IsError()) status = model.AutoCluster(least, most);
  const auto end = std::chrono::steady_clock::now();
  if (status.IsError()) {
    std::fprintf(stderr, "clustering failed: code %d\n", status.GetErrorCode());
    return 1;
  }

  std::string out = "clusters " + std::to_string(model.GetNumOfClusters()) + "\n";
  for (const VXCluster::Record& r : rows) out += std::to_string(model.AssignRecord(r)) + "\n";
  std::fputs(out.c_str(), stdout);
  std::fprintf(stderr, "records=%lld entries=%d rebuilds=%d clusters=%d bic=%.6g seconds=%.3f\n",
               model.GetNumRecords(), model.GetNumLeafEntries(), model.GetNumRebuilds(),
               model.GetNumOfClusters(), model.GetBIC(),
               std::chrono::duration<double>(end - start).count());
  return 0;
}
