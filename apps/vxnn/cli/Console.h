// What the user sees and does while a model trains: a progress bar on
// standard error, driven by the library's progress reports, and Ctrl-C,
// which cancels through the library's cancel object.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"

namespace vxnn {

// The error after one step of a training run, as the library reported it:
// summed over the records, not averaged; the test error is the missing
// value without test records.
struct TrainingStep {
  int fDataPasses = 0;
  double fTrainError = 0.0;
  double fTestError = 0.0;
};

// The user pressed Ctrl-C and the work under way stopped.
class Interrupted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Draws one line, redrawn in place, while the library reports. A report
// names the data passes made so far; the bar fills with the larger of
// passes / pass limit and elapsed / time limit, the two limits that end a
// run that does not converge first. Drawing is limited to ten times a
// second. A disabled bar ignores every report.
class ProgressBar : public VXCommon_1_2::ProgressListener {
 public:
  ProgressBar(std::ostream& out, bool enabled) : fOut(out), fEnabled(enabled) {}
  ~ProgressBar() override { Finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // A new phase: "training", with its limits; or "selecting" (the
  // architecture search, which reports only when it starts and ends). The
  // line shows the training accuracy when it means something (every target
  // categorical), else the training error.
  void Begin(const std::string& phase, int maxDataPasses, double maxSeconds, bool showAccuracy);
  // Clears the line.
  void Finish();
  void Report(VXCommon_1_2::ProgressReport& report) override;

  // The fewest and most hidden units reported since Begin (0 and 0 when
  // none was): the RBF candidate search reports once per candidate, so
  // these are the candidates it tried. Kept whether or not the bar draws.
  int FewestUnitsReported() const { return fFewestUnits; }
  int MostUnitsReported() const { return fMostUnits; }
  // One entry per report of the last "training" or "cross-validating"
  // phase with a new number of data passes (the curve of the report page,
  // and where a run's test error was lowest). Kept whether or not the bar
  // draws.
  const std::vector<TrainingStep>& TrainingSteps() const { return fSteps; }

  // True when standard error is a terminal.
  static bool StderrIsTerminal();

  // A host that shows progress its own way (a callback of a Python caller)
  // gets every report with the phase it belongs to, drawn or not. The size
  // selection calls it from several threads at once.
  using Observer = std::function<void(const std::string& phase, VXCommon_1_2::ProgressReport&)>;
  void SetObserver(Observer observer) { fObserver = std::move(observer); }
  const Observer& GetObserver() const { return fObserver; }

 private:
  bool RecordsSteps() const { return fPhase == "training" || fPhase == "cross-validating"; }
  std::ostream& fOut;
  bool fEnabled;
  bool fDrawn = false;
  std::string fPhase;
  int fMaxPasses = 0;
  double fMaxSeconds = 0.0;
  bool fShowAccuracy = false;
  int fFewestUnits = 0, fMostUnits = 0;
  std::vector<TrainingStep> fSteps;
  std::chrono::steady_clock::time_point fLastDraw{};
  Observer fObserver;
};

// Answers the library's cancel queries from a flag that SIGINT sets, and
// from the run's own request flag when the host gives one: a host that
// runs several trainings at once (threads of a Python process) cancels one
// without touching the others.
class InterruptCancel : public VXCommon_1_2::VXQueryCancel {
 public:
  bool QueryCancel() override { return Requested(); }
  bool Requested() const {
    return Interrupted() || fCancelled.load() || (fRequest && fRequest->load());
  }
  // Cancels every run this object serves, from any thread: the first fit
  // of several in parallel to fail stops the others.
  void Cancel() { fCancelled.store(true); }
  // request must outlive the runs this object cancels; null: SIGINT only.
  void SetRequest(const std::atomic<bool>* request) { fRequest = request; }
  static bool Interrupted();

 private:
  const std::atomic<bool>* fRequest = nullptr;
  std::atomic<bool> fCancelled{false};
};

// Installs the SIGINT handler for its lifetime and puts the previous one
// back afterwards (unless SIGINT was ignored: it then stays ignored).
// While it is installed Ctrl-C only raises the flag, so
// that the work under way ends by itself and cleans up (temporary files
// are deleted by the objects that own them).
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction fPrevious;
};

}  // namespace vxnn
