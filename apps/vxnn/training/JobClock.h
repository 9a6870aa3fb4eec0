// Where the wall time of a `vxnn train` job went, phase by phase, for the
// summary's time line: a user who waits a minute should see whether it was
// the file, the training, the refit or the importance that took it.
#pragma once

#include <array>

namespace vxnn {

// The phases of a job, in the order they first run. kOther is the time no
// phase claims (checking options, building settings): part of the whole,
// never shown.
enum class Phase {
  kOther,
  kReading,    // passes over the CSV rows: inspecting, counting, encoding
  kSelection,  // choosing the network's size (folds, or the library's search)
  kTraining,   // the run the summary's figures describe (every network tried)
  kMeasuring,  // its figures on the training and test records
  kRefit,      // the kept network trained again on every record
  kImportance,
  kSaving,
};
constexpr int kPhaseCount = 8;

// "reading", "selection", "training", "measuring", "refit", "importance",
// "saving"; "other" for kOther.
const char* PhaseName(Phase phase);

// A stopwatch that charges every moment of a job to exactly one phase: the
// one entered last and not yet left. A phase entered inside another takes
// the time over until it is left (rows read while the library trains count
// as reading, not training), so the phases never overlap and their sum is
// never more than the whole. Used from one thread only.
class JobClock {
 public:
  // Seconds from any fixed origin, never going back.
  using Now = double (*)();
  // The process's monotonic clock.
  static double SteadySeconds();

  // Charges the clock's time to a phase from its creation to its end (or
  // End), then gives it back to the phase that ran before.
  class Scope {
   public:
    Scope() = default;
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    Scope(Scope&& other) noexcept : fClock(other.fClock), fBefore(other.fBefore) {
      other.fClock = nullptr;
    }
    Scope& operator=(Scope&&) = delete;
    ~Scope() { End(); }
    void End();

   private:
    friend class JobClock;
    Scope(JobClock* clock, Phase before) : fClock(clock), fBefore(before) {}
    JobClock* fClock = nullptr;
    Phase fBefore = Phase::kOther;
  };

  // The job starts now, in kOther. Tests give a clock of their own.
  explicit JobClock(Now now = &SteadySeconds) : fNow(now), fStart(now()), fSince(fStart) {}

  // Time goes to phase until the scope ends. Entering the phase already
  // running costs nothing: the rows of a pass are read one at a time, each
  // in a scope of its own.
  [[nodiscard]] Scope Enter(Phase phase);
  // The same on a clock that may be null (then nothing is timed).
  [[nodiscard]] static Scope Enter(JobClock* clock, Phase phase) {
    return clock ? clock->Enter(phase) : Scope();
  }

  // One complete pass over the file's rows.
  void CountPass() { ++fPasses; }
  int Passes() const { return fPasses; }

  // Ends the job: from now on the figures stay as they are, so that every
  // form of the summary shows the same ones.
  void Stop();

  // Whether the phase was entered at all.
  bool Ran(Phase phase) const { return fRan[Index(phase)]; }
  // Its seconds so far (up to Stop).
  double Seconds(Phase phase) const;
  // The seconds from the start of the job up to Stop, or to now.
  double Total() const;

 private:
  static std::size_t Index(Phase phase) { return static_cast<std::size_t>(phase); }
  // Charges the time since the last switch to the running phase, and runs
  // the next one from now.
  void Switch(Phase next);

  Now fNow;
  double fStart, fSince, fEnd = 0.0;
  Phase fRunning = Phase::kOther;
  bool fStopped = false;
  std::array<double, kPhaseCount> fSeconds{};
  std::array<bool, kPhaseCount> fRan{};
  int fPasses = 0;
};

}  // namespace vxnn
