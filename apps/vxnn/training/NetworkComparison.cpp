#include "training/NetworkComparison.h"

#include <cstdio>

#include "report/Report.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

namespace {

std::string Digits(const char* format, double value) {
  if (VXMV::IsMissing(value)) return "n/a";
  char buf[48];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// "mlp, 6 hidden units", "rbf, 14 centres", "linear".
std::string Label(const NetworkTried& t) {
  if (t.fName == "linear" || !t.fLeftOut.empty()) return t.fName;
  const std::string n = std::to_string(t.fHiddenUnits);
  if (t.fName == "rbf") return "rbf, " + n + (t.fHiddenUnits == 1 ? " centre" : " centres");
  return "mlp, " + n + (t.fHiddenUnits == 1 ? " hidden unit" : " hidden units");
}

}  // namespace

void PrintNetworksCompared(std::ostream& out, const TrainResult& r) {
  if (r.fAutoWithoutTest) {
    out << "Networks compared: none, since no records are held out for testing (--test-fraction "
           "0); the perceptron was trained\n";
    return;
  }
  if (r.fNetworksTried.empty()) return;
  out << "Networks compared on the " << r.fTest.fRecords << " test records:\n";
  for (const NetworkTried& t : r.fNetworksTried) {
    out << "  " << Label(t) << ": ";
    if (!t.fLeftOut.empty()) {
      out << "left out (" << t.fLeftOut << ")\n";
      continue;
    }
    const std::vector<TargetFigures> targets = TargetsOf(*r.fList, t.fTest.fStats);
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const TargetFigures& f = targets[i];
      out << (i ? ", " : "") << f.fName << " "
          << (f.fCategorical ? "accuracy " + Digits("%.1f", f.fPercentCorrect) + "%"
                             : "relative error " + Digits("%.3f", f.fRelativeError));
    }
    out << "; " << Digits("%.2f", t.fSeconds) << " s" << (t.fKept ? "  (kept)" : "") << "\n";
  }
  out << "  kept: " << r.fKeptBecause << "\n";
}

void NetworksComparedJson(JsonWriter& j, const TrainResult& r) {
  j.Key("networks_compared");
  if (r.fNetworksTried.empty()) {
    j.Null();
    j.Key("comparison_baseline_loss").Null();
    j.Key("comparison_kept_because").Null();
    return;
  }
  j.BeginArray();
  for (const NetworkTried& t : r.fNetworksTried) {
    j.BeginObject();
    j.Field("network", t.fName);
    if (!t.fLeftOut.empty()) {
      j.Field("left_out", t.fLeftOut);
      j.EndObject();
      continue;
    }
    j.Field("kept", t.fKept);
    j.Field("hidden_units", t.fHiddenUnits);
    j.Field("seconds", t.fSeconds);
    j.Field("held_out_loss", t.fLoss);
    j.Key("test").BeginArray();
    for (const TargetFigures& f : TargetsOf(*r.fList, t.fTest.fStats)) {
      j.BeginObject();
      j.Field("name", f.fName);
      if (f.fCategorical)
        j.Field("accuracy",
                VXMV::IsMissing(f.fPercentCorrect) ? f.fPercentCorrect : f.fPercentCorrect / 100.0);
      else
        j.Field("relative_error", f.fRelativeError);
      j.EndObject();
    }
    j.EndArray();
    j.EndObject();
  }
  j.EndArray();
  j.Field("comparison_baseline_loss", r.fBaselineLoss);
  j.Field("comparison_kept_because", r.fKeptBecause);
}

namespace {

// "16 hidden units", "8 centres, overlap 2.4".
std::string SizeLabel(const SizeSelection& s, const SizeCandidate& c) {
  const std::string n = std::to_string(c.fUnits);
  if (s.fNetwork == "rbf")
    return n + (c.fUnits == 1 ? " centre" : " centres") + ", overlap " + Digits("%.4g", c.fOverlap);
  return n + (c.fUnits == 1 ? " hidden unit" : " hidden units") +
         (c.fToStopRules ? ", trained to the stop rules" : ", stopped early");
}

}  // namespace

void PrintSizeSelections(std::ostream& out, const TrainResult& r) {
  for (const SizeSelection& s : r.fSizeSelections) {
    if (!s.fSkipped.empty()) {
      out << "Size selection (" << s.fNetwork << "): not run, " << s.fSkipped
          << "; the size rule applies\n";
      continue;
    }
    out << "Size selection (" << s.fNetwork << "), " << s.fFolds << "-fold cross-validation on all "
        << s.fRecords
        << " records (training and test); mean held-out loss (share misclassified, or relative "
           "error):\n";
    for (const SizeCandidate& c : s.fCandidates) {
      out << "  " << SizeLabel(s, c) << ": ";
      if (!c.fLeftOut.empty())
        out << "left out (" << c.fLeftOut << ")";
      else
        out << Digits("%.4f", c.fLoss);
      out << "; " << Digits("%.2f", c.fSeconds) << " s" << (c.fKept ? "  (kept)" : "") << "\n";
    }
    out << "  kept: " << s.fKeptBecause << "\n";
  }
}

void SizeSelectionsJson(JsonWriter& j, const TrainResult& r) {
  j.Key("size_selection");
  if (r.fSizeSelections.empty()) {
    j.Null();
    return;
  }
  j.BeginArray();
  for (const SizeSelection& s : r.fSizeSelections) {
    j.BeginObject();
    j.Field("network", s.fNetwork);
    j.Field("records", s.fRecords);
    j.Key("skipped");
    if (s.fSkipped.empty())
      j.Null();
    else
      j.String(s.fSkipped);
    j.Field("folds", s.fFolds);
    j.Key("candidates").BeginArray();
    for (const SizeCandidate& c : s.fCandidates) {
      j.BeginObject();
      j.Field(s.fNetwork == "rbf" ? "centres" : "hidden_units", c.fUnits);
      if (s.fNetwork == "rbf")
        j.Field("overlap", c.fOverlap);
      else
        j.Field("early_stopping", !c.fToStopRules);
      if (!c.fLeftOut.empty()) j.Field("left_out", c.fLeftOut);
      j.Field("mean_held_out_loss", c.fLoss);
      j.Field("seconds", c.fSeconds);
      j.Field("kept", c.fKept);
      j.EndObject();
    }
    j.EndArray();
    j.Key("kept_because");
    if (s.fKeptBecause.empty())
      j.Null();
    else
      j.String(s.fKeptBecause);
    j.EndObject();
  }
  j.EndArray();
}

}  // namespace vxnn
