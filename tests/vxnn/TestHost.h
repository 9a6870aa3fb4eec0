// Helpers of the host's tests: files read and written whole, CSV text, a
// scratch folder, the command line run in this process, training in this
// process, and how often a text occurs in another.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Console.h"
#include "data/CsvTable.h"
#include "data/Dataset.h"
#include "training/Training.h"

namespace testhost {

inline const std::string kData = VXNN_DATA_DIR;

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void Spit(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline vxnn::CsvTable CsvFromText(const std::string& text) {
  std::istringstream in(text);
  return vxnn::ReadCsv(in, "t.csv");
}

// The table as the CSV writer writes it, header first.
inline std::string CsvText(const vxnn::CsvTable& t) {
  std::ostringstream out;
  vxnn::WriteCsvRow(out, t.fHeader);
  for (const auto& row : t.fRows) vxnn::WriteCsvRow(out, row);
  return out.str();
}

// A shipped data set, such as "iris.csv".
inline vxnn::CsvTable Shipped(const std::string& file) {
  return vxnn::ReadCsvFile(kData + "/" + file);
}

inline int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

// vxnn's command line with these arguments; its exit code.
inline int Run(std::vector<std::string> args, std::string* out = nullptr,
               std::string* err = nullptr) {
  args.insert(args.begin(), "vxnn");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream o, e;
  const int code = vxnn::RunCli(static_cast<int>(argv.size()), argv.data(), o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return code;
}

// A command line split at spaces: "data/" at the start of an argument names
// the shipped data folder.
inline std::vector<std::string> Args(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a.rfind("data/", 0) ? a : kData + a.substr(4));
  return args;
}

// A folder of the test's own, removed with its files when the test ends.
struct Scratch {
  std::filesystem::path fDir;
  Scratch() {
    char name[] = "/tmp/vxnn-test-XXXXXX";
    if (mkdtemp(name) != nullptr) fDir = name;
  }
  ~Scratch() { std::filesystem::remove_all(fDir); }
  // Writes a file in the folder; its path.
  std::string Write(const std::string& name, const std::string& text) const {
    Spit(fDir / name, text);
    return (fDir / name).string();
  }
  std::string operator/(const std::string& name) const { return (fDir / name).string(); }
  // The command line run with "@" standing for this folder and a slash.
  int Run(std::string line, std::string* out = nullptr, std::string* err = nullptr) const {
    for (std::size_t i = line.find('@'); i != std::string::npos; i = line.find('@', i))
      line.replace(i, 1, fDir.string() + "/");
    return testhost::Run(Args(line), out, err);
  }
};

inline vxnn::DescribeOptions Targets(const std::vector<std::string>& targets) {
  vxnn::DescribeOptions o;
  o.fTargets = targets;
  return o;
}

// The variable list the host builds for the table.
inline NNVarList VarList(const vxnn::CsvTable& t, const vxnn::DescribeOptions& o) {
  return vxnn::BuildVarList(t, vxnn::PlanFields(t, o), o);
}

// Training options for one target, without the importance measure.
inline vxnn::TrainOptions ForTarget(const std::string& target) {
  vxnn::TrainOptions o;
  o.fDescribe.fTargets = {target};
  o.fImportance = false;
  return o;
}

// Trains in this process, without a progress bar.
inline std::unique_ptr<vxnn::TrainResult> Train(const vxnn::CsvTable& table,
                                                const vxnn::TrainOptions& o,
                                                const std::string& name = "t.csv") {
  std::ostringstream quiet;
  vxnn::ProgressBar progress(quiet, false);
  return vxnn::TrainModel(table, name, o, progress);
}

}  // namespace testhost
