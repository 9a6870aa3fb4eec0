#include "vxcommon/Callbacks.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

namespace VXCommon_1_2 {

namespace {

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Where random_device is missing or deterministic, the clock, the object's
// address and a per-process count of makers still tell makers apart.
std::uint64_t NewSalt(const void* self) {
  static std::atomic<std::uint64_t> makers{0};
  std::uint64_t seed = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  seed = Mix(seed ^ reinterpret_cast<std::uintptr_t>(self));
  seed = Mix(seed ^ makers.fetch_add(1));
  try {
    std::random_device device;
    seed = Mix(seed ^ ((static_cast<std::uint64_t>(device()) << 32) | device()));
  } catch (...) {
    // The other sources suffice.
  }
  return seed;
}

std::string Hex(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

}  // namespace

VXDefaultTempFileNameMaker::VXDefaultTempFileNameMaker(std::string directory, std::string prefix)
    : fDirectory(std::move(directory)), fPrefix(std::move(prefix)), fSalt(NewSalt(this)) {
  if (fDirectory.empty()) {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    fDirectory = error ? std::string(".") : temp.string();
  }
}

std::string VXDefaultTempFileNameMaker::GetTempFileName() {
  // A name is skipped when a file of that name exists already; after a few
  // such clashes something else is wrong, and the next name is handed out.
  constexpr int kAttempts = 64;
  std::lock_guard<std::mutex> lock(fMutex);
  std::filesystem::path path;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    ++fCounter;
    path = std::filesystem::path(fDirectory) /
           (fPrefix + "-" + Hex(fSalt) + "-" + std::to_string(fCounter) + ".tmp");
    std::error_code error;
    if (!std::filesystem::exists(path, error)) break;
  }
  return path.string();
}

}  // namespace VXCommon_1_2
