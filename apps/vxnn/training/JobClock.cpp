#include "training/JobClock.h"

#include <chrono>

namespace vxnn {

double JobClock::SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::kReading:
      return "reading";
    case Phase::kSelection:
      return "selection";
    case Phase::kTraining:
      return "training";
    case Phase::kMeasuring:
      return "measuring";
    case Phase::kRefit:
      return "refit";
    case Phase::kImportance:
      return "importance";
    case Phase::kSaving:
      return "saving";
    default:
      return "other";
  }
}

void JobClock::Scope::End() {
  if (fClock) fClock->Switch(fBefore);
  fClock = nullptr;
}

JobClock::Scope JobClock::Enter(Phase phase) {
  fRan[Index(phase)] = true;
  if (phase == fRunning) return Scope();
  const Phase before = fRunning;
  Switch(phase);
  return Scope(this, before);
}

void JobClock::Switch(Phase next) {
  if (fStopped) return;
  const double now = fNow();
  fSeconds[Index(fRunning)] += now - fSince;
  fSince = now;
  fRunning = next;
}

void JobClock::Stop() {
  if (fStopped) return;
  Switch(fRunning);
  fEnd = fSince;
  fStopped = true;
}

double JobClock::Seconds(Phase phase) const {
  double s = fSeconds[Index(phase)];
  if (!fStopped && phase == fRunning) s += fNow() - fSince;
  return s;
}

double JobClock::Total() const { return (fStopped ? fEnd : fNow()) - fStart; }

}  // namespace vxnn
