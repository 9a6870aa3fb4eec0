#include "cli/Console.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "vxcommon/VXMissing.h"

namespace vxnn {

namespace {

// Lock-free, so the handler may set it.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the SIGINT flag must be lock-free");

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1fs", s);
  return buf;
}

}  // namespace

bool InterruptCancel::Interrupted() { return gInterrupted.load(); }

InterruptGuard::InterruptGuard() {
  sigaction(SIGINT, nullptr, &fPrevious);
  // A process started with SIGINT ignored (nohup, a background job) keeps
  // it ignored.
  if (fPrevious.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

InterruptGuard::~InterruptGuard() { sigaction(SIGINT, &fPrevious, nullptr); }

bool ProgressBar::StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void ProgressBar::Begin(const std::string& phase, int maxDataPasses, double maxSeconds,
                        bool showAccuracy) {
  fPhase = phase;
  fShowAccuracy = showAccuracy;
  fMaxPasses = maxDataPasses;
  fMaxSeconds = maxSeconds;
  fLastDraw = {};
  fFewestUnits = fMostUnits = 0;
  if (RecordsSteps()) fSteps.clear();
}

void ProgressBar::Finish() {
  if (!fDrawn) return;
  fOut << "\r\033[K" << std::flush;
  fDrawn = false;
}

void ProgressBar::Report(VXCommon_1_2::ProgressReport& report) {
  if (fPhase == "selecting") {
    const int units = report.DiscreteMeasure("hiddenUnits");
    if (units > 0) {
      fFewestUnits = fFewestUnits > 0 ? std::min(fFewestUnits, units) : units;
      fMostUnits = std::max(fMostUnits, units);
    }
  }
  if (RecordsSteps()) {
    // A later report on the same pass has the newer figures.
    const TrainingStep step{report.DiscreteMeasure("dataPasses"), report.ScaleMeasure("trainError"),
                            report.ScaleMeasure("testError")};
    if (!fSteps.empty() && fSteps.back().fDataPasses == step.fDataPasses)
      fSteps.back() = step;
    else
      fSteps.push_back(step);
  }
  if (fObserver) fObserver(fPhase, report);
  if (!fEnabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (fDrawn && now - fLastDraw < std::chrono::milliseconds(100)) return;
  fLastDraw = now;

  const int passes = report.DiscreteMeasure("dataPasses");
  const double elapsed = report.ScaleMeasure("elapsedTime");
  std::string line;
  if (fPhase == "selecting") {
    const int units = report.DiscreteMeasure("hiddenUnits");
    line = "selecting the number of hidden units";
    if (units > 0) line += ": " + std::to_string(units);
  } else {
    double fraction = 0.0;
    if (fMaxPasses > 0 && passes > 0) fraction = static_cast<double>(passes) / fMaxPasses;
    if (fMaxSeconds > 0 && !VXMV::IsMissing(elapsed))
      fraction = std::max(fraction, elapsed / fMaxSeconds);
    fraction = std::min(fraction, 1.0);
    const int width = 30;
    const int filled = static_cast<int>(fraction * width + 0.5);
    line = fPhase + " [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "] " +
           std::to_string(std::max(passes, 0)) +
           (fMaxPasses > 0 ? "/" + std::to_string(fMaxPasses) : std::string()) + " passes";
    const double value = report.ScaleMeasure(fShowAccuracy ? "accuracy" : "trainError");
    if (!VXMV::IsMissing(value) && value >= 0) {
      char buf[48];
      std::snprintf(buf, sizeof buf, fShowAccuracy ? "  accuracy %.1f%%" : "  error %.4g", value);
      line += buf;
    }
  }
  if (!VXMV::IsMissing(elapsed) && elapsed >= 0) line += "  " + Seconds(elapsed);
  fOut << "\r\033[K" << line << std::flush;
  fDrawn = true;
}

}  // namespace vxnn
