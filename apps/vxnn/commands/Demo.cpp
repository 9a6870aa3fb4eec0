#include "commands/Demo.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "commands/Commands.h"
#include "data/EmbeddedData.h"
#include "data/Records.h"
#include "report/HtmlReport.h"
#include "report/Report.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNOutputList.h"

namespace vxnn {

namespace {

// Removes the file when it goes out of scope, whatever happened.
struct TempFile {
  std::string fPath;
  ~TempFile() { std::remove(fPath.c_str()); }
};

// The winning category and its probability for every record, or -1.
std::vector<std::pair<int, double>> Predictions(INeuralAlgorithm& a,
                                                VXCommon_1_2::MultiPassRecordIter& records) {
  std::vector<std::pair<int, double>> p;
  ScoringRecord inputs(*a.GetVarList());
  records.Rewind();
  while (const VXCommon_1_2::Record* r = records.Next()) {
    const NNOutputList& out = a.Score(inputs.Of(*r));
    const auto* cat =
        out.IsMissing() ? nullptr : dynamic_cast<const NNCategOutput*>(out.GetOutputAt(0));
    p.emplace_back(cat ? cat->GetWinningIndex() : -1, cat ? cat->GetMaxOutput() : 0.0);
  }
  records.Rewind();
  return p;
}

}  // namespace

int RunDemo(std::ostream& out, std::ostream& err) {
  std::istringstream csv(kIrisCsv);
  const CsvTable table = ReadCsv(csv, "iris.csv (embedded)");
  TrainOptions options;
  options.fDescribe.fTargets = {"species"};

  out << "vxnn demo: predict the species of iris flowers from four measurements\n"
      << "(the same as: vxnn train data/iris.csv --target species)\n\n";
  ProgressBar progress(err, ProgressBar::StderrIsTerminal());
  InterruptGuard guard;
  const std::unique_ptr<TrainResult> result = TrainModel(table, "iris.csv", options, progress);
  PrintTrainSummary(out, *result, SavedAs{});
  // The page is a convenience: a directory that cannot be written does not
  // fail the demo.
  const std::string page = "vxnn-demo-report.html";
  try {
    SaveHtmlReport(TrainingReport(*result, SavedAs{}, progress.TrainingSteps()), page, out);
    out << "\nReport page written to " << page << " (open it in a browser)\n";
  } catch (const InputError& e) {
    out << "\nReport page not written: " << e.what() << "\n";
  }
  // The same model as a PMML 4.0 document, for any scoring engine that
  // reads the standard; its importances are the ones printed above.
  const std::string pmml = "vxnn-demo.pmml";
  std::ostringstream document;
  const VXCommon_1_2::VXStatus exported = result->fAlgorithm->ExportModelXML(document, 0, nullptr);
  try {
    if (!exported.IsOK() || document.str().empty())
      throw InputError("the model cannot be exported (status " +
                       std::to_string(exported.GetErrorCode()) + ")");
    WriteOutput(pmml, document.str(), out, kDocumentFailure);
    out << "PMML 4.0 document written to " << pmml << " (as `vxnn export` writes it)\n";
  } catch (const InputError& e) {
    out << "PMML document not written: " << e.what() << "\n";
  }

  // Save in both forms, reload, and score the held-out records again.
  const std::vector<std::pair<int, double>> expected =
      Predictions(*result->fAlgorithm, *result->fTestSource);
  VXCommon_1_2::VXDefaultTempFileNameMaker names("", "vxnn-demo");
  bool allAgree = true;
  out << "\nSaved, reloaded and scored the " << expected.size() << " test records again:\n";
  for (const ModelFormat format : {ModelFormat::kBinary, ModelFormat::kXML}) {
    TempFile file{names.GetTempFileName()};
    SaveModel(*result->fAlgorithm, file.fPath, format, out);
    LoadedModel reloaded = LoadModel(file.fPath);
    const std::vector<std::pair<int, double>> again =
        Predictions(*reloaded.fAlgorithm, *result->fTestSource);
    int same = 0;
    for (std::size_t i = 0; i < again.size() && i < expected.size(); ++i)
      same += again[i] == expected[i];
    const bool agree = again.size() == expected.size() && same == static_cast<int>(expected.size());
    allAgree = allAgree && agree;
    out << "  " << std::left << std::setw(6) << FormatName(format) << std::right
        << " model: " << same << " of " << expected.size()
        << " predictions identical to the trained model's" << (agree ? "" : "  MISMATCH") << "\n";
  }

  // A few predictions, as `vxnn score` writes them.
  const NNVarList& list = *result->fList;
  const int target = list.FindVariable("species");
  out << "\nFirst test records with their predictions:\n";
  const std::vector<std::size_t> test =
      SplitRecords(table.fRows.size(), options.fTestFraction, options.fPartitionSeed).fTest;
  // Every test row became a record (the embedded data have no gaps), so
  // row i of the partition is record i of the test source.
  for (std::size_t i = 0; i < test.size() && i < expected.size() && i < 5; ++i) {
    const auto& row = table.fRows[test[i]];
    std::string inputs;
    for (std::size_t c = 0; c + 1 < row.size(); ++c) inputs += (c ? ", " : "") + row[c];
    char probability[16];
    std::snprintf(probability, sizeof probability, "%.3f", expected[i].second);
    out << "  " << inputs << "  actual " << row.back() << ", predicted "
        << CategoryLabel(*list.GetVarAt(target), expected[i].first) << " (probability "
        << probability << ")\n";
  }
  return allAgree ? 0 : 1;
}

}  // namespace vxnn
