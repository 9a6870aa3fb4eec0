// `vxnn export`: the PMML document of a saved model and, on request, its
// statistics document.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Commands.h"

namespace vxnn {

namespace {

// The whole document is made in memory first, so a refusal leaves no file.
std::string MakeDocument(const LoadedModel& model, const std::string& modelPath, bool stats) {
  std::ostringstream text;
  const VXCommon_1_2::VXStatus status = stats
                                            ? model.fAlgorithm->ExportModelStatXML(text, 0, nullptr)
                                            : model.fAlgorithm->ExportModelXML(text, 0, nullptr);
  if (!status.IsOK() || text.str().empty())
    throw InputError(modelPath + ": the model cannot be exported" +
                     (status.IsOK() ? std::string()
                                    : " (status " + std::to_string(status.GetErrorCode()) + ")"));
  return text.str();
}

}  // namespace

// A failed write removes what it began.
void WriteDocument(const std::string& text, const std::string& path) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (out) out << text;
    out.flush();
    if (out && out.good()) {
      out.close();
      if (std::rename(partial.c_str(), path.c_str()) == 0) return;
    }
  }
  std::remove(partial.c_str());
  throw InputError(path + ": cannot write the document");
}

int RunExport(const ExportCommand& command, std::ostream& out) {
  const LoadedModel model = LoadModel(command.fModel);
  // Both documents are made before either file is written.
  const std::string pmml = MakeDocument(model, command.fModel, false);
  const std::string stats =
      command.fStats.empty() ? std::string() : MakeDocument(model, command.fModel, true);
  WriteDocument(pmml, command.fPmml);
  out << "PMML written to " << command.fPmml << "\n";
  if (!command.fStats.empty()) {
    WriteDocument(stats, command.fStats);
    out << "statistics written to " << command.fStats << "\n";
  }
  return 0;
}

}  // namespace vxnn
