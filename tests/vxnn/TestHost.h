// Helpers of the host's tests: files read and written whole, CSV text, a
// scratch folder, the command line run in this process, and how often a
// text occurs in another.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "CsvTable.h"

namespace testhost {

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
};

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

}  // namespace testhost
