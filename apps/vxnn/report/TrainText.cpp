// The text summary of `vxnn train`, from the TrainSummary alone.
#include <algorithm>
#include <iomanip>

#include "report/Format.h"
#include "report/TrainSummary.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

namespace {

void PrintData(std::ostream& out, const TrainSummary& s) {
  out << "Data: " << s.fSource << ", " << Plural(s.fRecords, "record") << ": " << s.fTrainingRows
      << " for training, " << s.fTestRows << " for testing (partition seed " << s.fPartitionSeed
      << ")\n";
  const std::string trainOut = LeftOutText(s.fLeftOutOfTraining);
  const std::string testOut = LeftOutText(s.fLeftOutOfTest);
  if (!trainOut.empty()) out << "  left out of training: " << trainOut << "\n";
  if (!testOut.empty()) out << "  left out of testing: " << testOut << "\n";
  if (s.fImputedTraining.fImputedCells > 0 || s.fImputedTest.fImputedCells > 0) {
    std::string both = ImputedText(s.fImputedTraining, "training");
    const std::string test = ImputedText(s.fImputedTest, "test");
    if (!test.empty()) both += (both.empty() ? "" : ", ") + test;
    out << "  missing inputs filled in (training mean, or most frequent category): " << both
        << "\n";
  }
  if (!s.fUnusedConstant.empty())
    out << "  not used (constant in the training records): " << Join(s.fUnusedConstant) << "\n";
  // Every field's kind with the reason, grouped, so that a wide file stays
  // readable; --categorical and --continuous change any of them.
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;
  for (const FieldPlan& f : s.fFields) {
    if (f.fTarget) continue;
    const std::string kind = FieldKindText(f);
    auto g =
        std::find_if(groups.begin(), groups.end(), [&](const auto& e) { return e.first == kind; });
    if (g == groups.end()) g = groups.insert(groups.end(), {kind, {}});
    g->second.push_back(f.fName);
  }
  if (!s.fFields.empty()) out << "Field kinds:\n";
  for (const auto& g : groups) out << "  " << g.first << ": " << Join(g.second) << "\n";
  for (const FieldPlan& f : s.fFields)
    if (f.fTarget) out << "  target " << f.fName << ": " << FieldKindText(f) << "\n";
  out << "Inputs: " << Join(s.fInputs) << "\n";
  for (const TargetField& t : s.fTargets) {
    out << "Target: " << t.fName << ", " << t.fKindText;
    if (t.fCategorical) out << ": " << Join(t.fCategories);
    out << "\n";
  }
}

void PrintTraining(std::ostream& out, const TrainSummary& s) {
  out << "Network: " << NetworkText(s.fNetwork)
      << (s.fPerceptron && s.fArchitectureSelected
              ? "; hidden units chosen by the architecture search"
              : "")
      << "\n";
  if (const auto& p = s.fPerceptronTraining) {
    out << "Training: " << s.fMethod << ", " << TrainingTypeName(p->fType);
    if (p->fMiniBatchSize) out << " of " << *p->fMiniBatchSize << " records";
    out << "; weight seed " << p->fWeightSeed << ", sampling seed " << p->fSamplingSeed << "; "
        << ScalingOf(s.fInputScaling).second << "\n";
  } else {
    out << "Centres: " << s.fHiddenUnits << ", " << HiddenChoiceText(s.fHiddenChoice) << "\n"
        << "Training: centres and widths from clustering the training records, output weights "
           "by least squares\n";
  }
  // The stop, the errors and the figures below are the held-out run's; a
  // refitted model has no test records left to be measured on.
  const MeasuredRun& m = s.fMeasured;
  out << "Stopped: " << StopReasonText(m.fStopReason) << ", after "
      << Plural(m.fDataPasses, "data pass", "data passes")
      << (m.fIterations ? " (" + Plural(*m.fIterations, "iteration") + ")" : std::string()) << "; "
      << Fixed(m.fProcessorSeconds, 2) << " s of processor time\n";
  out << "Error (" << m.fErrorFunction << ", summed over records): training "
      << General(m.fTrainingError);
  if (!VXMV::IsMissing(m.fTestError)) out << ", test " << General(m.fTestError);
  out << "\n";
  if (const auto& refit = s.fRefit) {
    out << "Refitted: the model kept was trained again on all " << Plural(refit->fRecords, "record")
        << " (training and test)";
    if (refit->fMaxDataPasses > 0)
      out << " for at most " << Plural(refit->fMaxDataPasses, "data pass", "data passes")
          << ", where the test error was lowest (stopped: " << StopReasonText(refit->fStopReason)
          << ", after " << refit->fDataPasses << ")";
    out << "; the figures here are those of the run on the " << s.fMeasuredTrainingRecords
        << " training records (--no-refit keeps that model)\n";
  } else if (s.fRefitSkippedForSize) {
    out << "Not refitted: " << s.fMeasuredTrainingRecords
        << " training records are enough (the model is "
        << "trained again on every record below " << kRefitAutoMaxRecords
        << "; --refit forces it)\n";
  }
}

// "16 hidden units, stopped early", "8 centres, overlap 2.4".
std::string SizeLabel(const SizeSelection& s, const SizeCandidate& t) {
  if (s.fNetwork == "rbf") return Plural(t.fUnits, "centre") + ", overlap " + General(t.fOverlap);
  return Plural(t.fUnits, "hidden unit") +
         (t.fToStopRules ? ", trained to the stop rules" : ", stopped early");
}

// Every size the selection tried, with its mean held-out loss over the
// folds, and the one kept; nothing when the options fixed the size.
void PrintSizeSelections(std::ostream& out, const std::vector<SizeSelection>& selections) {
  for (const SizeSelection& s : selections) {
    if (!s.fSkipped.empty()) {
      out << "Size selection (" << s.fNetwork << "): not run, " << s.fSkipped
          << "; the size rule applies\n";
      continue;
    }
    out << "Size selection (" << s.fNetwork << "), " << s.fFolds << "-fold cross-validation on all "
        << s.fRecords
        << " records (training and test); mean held-out loss (share misclassified, or relative "
           "error):\n";
    for (const SizeCandidate& t : s.fCandidates) {
      out << "  " << SizeLabel(s, t) << ": "
          << (t.fLeftOut.empty() ? Fixed(t.fLoss, 4) : "left out (" + t.fLeftOut + ")") << "; "
          << Fixed(t.fSeconds, 2) << " s" << (t.fKept ? "  (kept)" : "") << "\n";
    }
    out << "  kept: " << s.fKeptBecause << "\n";
  }
}

// "mlp, 6 hidden units", "rbf, 14 centres", "linear".
std::string NetworkLabel(const ComparedNetwork& n) {
  if (n.fName == "linear" || !n.fLeftOut.empty()) return n.fName;
  if (n.fName == "rbf") return "rbf, " + Plural(n.fHiddenUnits, "centre");
  return "mlp, " + Plural(n.fHiddenUnits, "hidden unit");
}

// Each network --network auto compared, with its figures on the test
// records and its time, and which was kept; nothing without --network auto.
void PrintNetworksCompared(std::ostream& out, const NetworkComparison& c) {
  if (c.fWithoutTest) {
    out << "Networks compared: none, since no records are held out for testing (--test-fraction "
           "0); the perceptron was trained\n";
    return;
  }
  if (c.fNetworks.empty()) return;
  out << "Networks compared on the " << c.fTestRecords << " test records:\n";
  for (const ComparedNetwork& n : c.fNetworks) {
    out << "  " << NetworkLabel(n) << ": ";
    if (!n.fLeftOut.empty()) {
      out << "left out (" << n.fLeftOut << ")\n";
      continue;
    }
    std::vector<std::string> figures;
    for (const TargetFigures& f : n.fTest)
      figures.push_back(f.fName + " " +
                        (f.fCategorical ? "accuracy " + Fixed(f.fPercentCorrect, 1) + "%"
                                        : "relative error " + Fixed(f.fRelativeError, 3)));
    out << Join(figures) << "; " << Fixed(n.fSeconds, 2) << " s" << (n.fKept ? "  (kept)" : "")
        << "\n";
  }
  out << "  kept: " << c.fKeptBecause << "\n";
}

void PrintTargets(std::ostream& out, const TrainSummary& s) {
  for (const TargetPair& p : s.fTargetFigures) {
    out << "\n" << p.fTrain.fName << ": ";
    if (p.fTrain.fCategorical) {
      out << "accuracy " << Fixed(p.fTrain.fPercentCorrect, 1) << "% on training";
      if (p.fTest) out << ", " << Fixed(p.fTest->fPercentCorrect, 1) << "% on test";
      out << "\n";
      out << "  confusion matrix on the " << (p.fTest ? "test" : "training")
          << " records (rows: actual, columns: predicted)\n";
      PrintConfusion(out, p.fTest ? *p.fTest : p.fTrain, "    ");
    } else {
      out << "relative error " << Fixed(p.fTrain.fRelativeError, 3) << " on training";
      if (p.fTest) out << ", " << Fixed(p.fTest->fRelativeError, 3) << " on test";
      out << " (0 is perfect, 1 no better than the mean)\n";
    }
  }
}

void PrintImportance(std::ostream& out, const TrainSummary& s) {
  const auto& ranked = s.fImportance;
  if (ranked.empty()) return;
  std::size_t width = 4;
  for (const auto& r : ranked) width = std::max(width, r.first.size());
  const double top = std::max(ranked.front().second, 1e-300);
  out << "\nPredictor importance (sensitivity of the outputs; sums to 1)\n";
  if (!s.fImportanceSample.empty())
    out << "  importance from " << s.fImportanceSample << " (fixed seed)\n";
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    const int bar = static_cast<int>(30.0 * ranked[i].second / top + 0.5);
    out << std::setw(4) << i + 1 << ". " << std::left << std::setw(static_cast<int>(width))
        << ranked[i].first << std::right << "  " << Fixed(ranked[i].second, 3) << "  "
        << std::string(static_cast<std::size_t>(std::max(bar, 0)), '#') << "\n";
  }
}

}  // namespace

void PrintTimeLine(std::ostream& out, const TimeLine& t) {
  std::vector<std::string> phases;
  for (const auto& [phase, seconds] : t.fPhases) {
    std::string text = std::string(PhaseName(phase)) + " " + Fixed(seconds, 2) + " s";
    if (phase == Phase::kReading)
      text += " (" + Plural(t.fFilePasses, "pass", "passes") + " over the file)";
    phases.push_back(text);
  }
  out << "Time: " << Join(phases) << "; " << Fixed(t.fTotal, 2) << " s in all";
  if (!t.fSpilled.empty()) {
    std::vector<std::string> runs;
    for (const auto& [run, passes] : t.fSpilled)
      runs.push_back(std::string(run) + " on " + Plural(passes, "data pass", "data passes"));
    out << "; encoded records read from temporary files (the memory budget is "
        << Plural(static_cast<long>(t.fMemoryBudget), "record") << "): " << Join(runs);
  }
  out << "\n";
}

void PrintTrainSummary(std::ostream& out, const TrainSummary& s) {
  PrintData(out, s);
  PrintTraining(out, s);
  PrintSizeSelections(out, s.fSizeSelections);
  PrintNetworksCompared(out, s.fComparison);
  PrintTargets(out, s);
  PrintImportance(out, s);
  if (!s.fSaved.fPath.empty())
    out << "\nModel saved to " << s.fSaved.fPath << " (" << FormatName(s.fSaved.fFormat) << ")\n";
  out << "\n";
  PrintTimeLine(out, s.fTime);
}

}  // namespace vxnn
