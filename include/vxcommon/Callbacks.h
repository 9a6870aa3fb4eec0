// Call-backs a host hands to a library: progress, cancel, temporary files.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace VXCommon_1_2 {

/// A progress report is queried by key; the keys a library answers are listed
/// by that library. Unknown keys answer 0 / 0.0.
class ProgressReport {
 public:
  virtual ~ProgressReport() = default;
  /// The whole-number measure called `name` (a count, a state), 0 when unknown.
  virtual int DiscreteMeasure(const std::string& name) = 0;
  /// The real-valued measure called `name` (an error, seconds), 0.0 when unknown.
  virtual double ScaleMeasure(const std::string& name) = 0;
};

/// Called synchronously on the caller's thread. A listener must not assume the
/// report outlives the call.
class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  /// One report: read what it offers before returning.
  virtual void Report(ProgressReport& report) = 0;
};

/// Polled between records and steps; true when the host asks to stop.
class VXQueryCancel {
 public:
  virtual ~VXQueryCancel() = default;
  /// True when the host wants the running operation to stop.
  virtual bool QueryCancel() = 0;
};

/// Supplies names for temporary files. Each call returns a name not handed
/// out before by this maker.
class VXTempFileNameMaker {
 public:
  virtual ~VXTempFileNameMaker() = default;
  /// A path for a new temporary file, never handed out before by this maker.
  virtual std::string GetTempFileName() = 0;
};

/// Names files "<prefix>-<salt>-<counter>.tmp" in a directory (the system's
/// temporary directory by default, the working directory when there is none).
/// The salt, 16 hexadecimal digits drawn once per maker, keeps makers in one
/// or several processes that share a directory from colliding; a name whose
/// file exists already is skipped. The maker creates no file. Several threads
/// may ask one maker for names at once.
class VXDefaultTempFileNameMaker : public VXTempFileNameMaker {
 public:
  /// An empty directory means the system's temporary directory.
  explicit VXDefaultTempFileNameMaker(std::string directory = "", std::string prefix = "vxnn");
  std::string GetTempFileName() override;
  /// The directory the names lie in.
  const std::string& Directory() const { return fDirectory; }

 private:
  std::string fDirectory;
  std::string fPrefix;
  std::uint64_t fCounter = 0;
  std::uint64_t fSalt;
  std::mutex fMutex;  ///< guards fCounter
};

}  // namespace VXCommon_1_2
