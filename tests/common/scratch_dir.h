// A directory of a test's own for the library's temporary files, so that a
// test can count what the library leaves behind. Removed with everything in
// it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace scratch_dir {

class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "vxnn-scratch-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) fPath = pattern;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ec;
    if (!fPath.empty()) std::filesystem::remove_all(fPath, ec);
  }

  const std::string& Path() const { return fPath; }

  // Entries in the directory now; -1 when it cannot be read.
  int Count() const {
    std::error_code ec;
    std::filesystem::directory_iterator it(fPath, ec);
    if (ec) return -1;
    int n = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) ++n;
    return n;
  }

 private:
  std::string fPath;
};

}  // namespace scratch_dir
