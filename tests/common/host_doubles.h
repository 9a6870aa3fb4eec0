// Stand-ins for what a host hands the library: a rewindable record source
// that shows how it was read, one that fails part way, a cancel object that answers true after a
// countdown, and a progress listener that runs a function.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"

namespace host_doubles {

// Counts its rewinds, shows how far it was read, and remembers the longest
// run of records handed out between two rewinds.
class CountingSource : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit CountingSource(std::vector<VXCommon_1_2::Record> records)
      : fRecords(std::move(records)) {}
  bool IsGood() override { return fPos < fRecords.size(); }
  const VXCommon_1_2::Record* Next() override {
    if (fPos >= fRecords.size()) return nullptr;
    fLongestRun = std::max(fLongestRun, ++fRun);
    return &fRecords[fPos++];
  }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    ++fRewinds;
    fPos = 0;
    fRun = 0;
    return GetStatus();
  }
  int Rewinds() const { return fRewinds; }
  std::size_t Position() const { return fPos; }
  int LongestRun() const { return fLongestRun; }
  const std::vector<VXCommon_1_2::Record>& Records() const { return fRecords; }

 private:
  std::vector<VXCommon_1_2::Record> fRecords;
  std::size_t fPos = 0;
  int fRun = 0;
  int fLongestRun = 0;
  int fRewinds = 0;
};

// A source that fails only when asked for record `at`: until then it looks
// good, so nothing told of the failure before. Rewinding makes it good
// again (and it fails again at the same record).
class FailsWhenAsked : public VXCommon_1_2::MultiPassRecordIter {
 public:
  FailsWhenAsked(std::vector<VXCommon_1_2::Record> records, std::size_t at)
      : fRecords(std::move(records)), fAt(at) {}
  bool IsGood() override { return !fBad && fPos < fRecords.size(); }
  const VXCommon_1_2::Record* Next() override {
    if (!IsGood()) return nullptr;
    fBad = fPos == fAt;
    return fBad ? nullptr : &fRecords[fPos++];
  }
  int GetStatus() override { return fBad ? kError : IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    fPos = 0;
    fBad = false;
    return GetStatus();
  }

 private:
  std::vector<VXCommon_1_2::Record> fRecords;
  std::size_t fAt, fPos = 0;
  bool fBad = false;
};

// Answers false until armed, then true once `after` further queries have
// been answered false. Armed at construction when after is not negative.
class CountdownCancel : public VXCommon_1_2::VXQueryCancel {
 public:
  explicit CountdownCancel(long after = -1) : fArmed(after >= 0), fAfter(after) {}
  bool QueryCancel() override {
    ++fQueries;
    return fArmed && fAfter-- <= 0;
  }
  void Arm(long after = 0) {
    fArmed = true;
    fAfter = after;
  }
  bool fArmed;
  long fAfter;
  long fQueries = 0;
};

// Runs a function on every report and counts the reports.
class FunctionListener : public VXCommon_1_2::ProgressListener {
 public:
  explicit FunctionListener(std::function<void(VXCommon_1_2::ProgressReport&)> f)
      : fFunction(std::move(f)) {}
  void Report(VXCommon_1_2::ProgressReport& report) override {
    ++fReports;
    fFunction(report);
  }
  std::function<void(VXCommon_1_2::ProgressReport&)> fFunction;
  int fReports = 0;
};

}  // namespace host_doubles
