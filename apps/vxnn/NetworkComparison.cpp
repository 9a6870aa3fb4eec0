#include "NetworkComparison.h"

#include <cstdio>

#include "Report.h"
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

}  // namespace vxnn
