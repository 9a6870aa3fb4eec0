// Training on more records than memory holds: N raw records are computed on
// the fly from their index (nothing is stored, and a rewind gives the same
// records again), encoded by the library into a temporary file under a
// budget of a few thousand records in memory, and trained on for a few data
// passes. Prints one line of figures; large_data.sh runs it for several N.
// The peak resident set must not grow with N, and the temporary directory
// must be empty at the end.
//
// usage: large_data N [temporary-directory]
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "vxneural/vxneural.h"

namespace {

using VXCommon_1_2::Record;

// A well-mixed 64-bit value of (seed, index): the same record comes back
// after every rewind without keeping any of them.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}
double Unit(std::uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

// Fields: a, b (continuous inputs in 0..1), c (three categories), then the
// target k (two categories) decided by a noisy linear rule.
class Generated : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit Generated(long long n) : fN(n), fRecord(4) {}
  bool IsGood() override { return fNext < fN; }
  const Record* Next() override {
    if (fNext >= fN) return nullptr;
    const std::uint64_t h = Mix(static_cast<std::uint64_t>(fNext++));
    const double a = Unit(h), b = Unit(Mix(h)), noise = Unit(Mix(h + 1)) - 0.5;
    const int c = static_cast<int>(Mix(h + 2) % 3);
    fRecord[0] = a;
    fRecord[1] = b;
    fRecord[2] = c;
    fRecord[3] = a - b + 0.3 * (c - 1) + 0.2 * noise > 0.0 ? 1.0 : 0.0;
    return &fRecord;
  }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    fNext = 0;
    return GetStatus();
  }

 private:
  long long fN;
  long long fNext = 0;
  Record fRecord;
};

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // KiB on Linux
}

int FilesIn(const std::string& dir) {
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    ++n;
  return n;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s N [temporary-directory]\n", argv[0]);
    return 2;
  }
  const long long n = std::atoll(argv[1]);
  if (n < 1 || n > 2000000000LL) {
    std::fprintf(stderr, "N must be between 1 and 2e9\n");
    return 2;
  }
  const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();

  NNVarList list;
  list.AddContVar("a", "", 0.0, 1.0, 0.5, 1.0 / 12.0, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("b", "", 0.0, 1.0, 0.5, 1.0 / 12.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("k", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  MLPSettings settings(list, static_cast<int>(n));
  settings.SetMaxRecordsInMemory(5000);
  settings.SetTempFileDir(dir);
  settings.SetNumHiddenUnits(4, 1);
  settings.SetMaxNDataPasses(3);
  settings.SetRandomSeed(1);
  settings.SetRandomSeedSampling(2);

  const int filesBefore = FilesIn(dir);
  Generated source(n);
  const auto start = std::chrono::steady_clock::now();
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> algorithm(
      factory.CreateNeuralAlgorithm(settings, list, source, nullptr, nullptr));
  const double prepare = Seconds(start);
  if (!algorithm) {
    std::printf("N=%lld status=%d\n", n, factory.GetStatus().GetErrorCode());
    return 1;
  }
  const int filesDuring = FilesIn(dir) - filesBefore;
  const auto trainStart = std::chrono::steady_clock::now();
  const VXCommon_1_2::VXStatus status = algorithm->Train(static_cast<int>(n), -1);
  const double train = Seconds(trainStart);
  const int passes = algorithm->GetNumberOfDataPasses();
  const double accuracy = algorithm->GetAccuracy();
  algorithm.reset();
  std::printf(
      "N=%lld status=%d passes=%d accuracy=%.2f prepare_s=%.2f train_s=%.2f "
      "temp_files_during=%d temp_files_after=%d peak_rss_kib=%ld\n",
      n, status.GetErrorCode(), passes, accuracy, prepare, train, filesDuring,
      FilesIn(dir) - filesBefore, PeakRssKiB());
  return status.IsOK() ? 0 : 1;
}
