// `vxnn export`: the predictor importance in the PMML document comes from
// the records given with --data, and without them the document has none
// (a restored model sees no real records of its own).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "Commands.h"
#include "Console.h"
#include "CsvTable.h"
#include "Partition.h"
#include "Training.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every "importance" of the document's mining fields, by field name.
std::map<std::string, double> Importances(const std::string& pmml) {
  std::map<std::string, double> found;
  const std::string field = "<MiningField name=\"", attr = "importance=\"";
  for (std::size_t at = pmml.find(field); at != std::string::npos; at = pmml.find(field, at + 1)) {
    const std::size_t name = at + field.size();
    const std::size_t end = pmml.find('>', at);
    const std::size_t imp = pmml.find(attr, at);
    if (imp == std::string::npos || imp > end) continue;
    found[pmml.substr(name, pmml.find('"', name) - name)] =
        std::strtod(pmml.c_str() + imp + attr.size(), nullptr);
  }
  return found;
}

class ExportImportance : public ::testing::TestWithParam<vxnn::ModelFormat> {
 protected:
  void SetUp() override {
    fDir = fs::path(VXNN_BINARY_DIR) /
           ("export_importance_" + std::string(vxnn::FormatName(GetParam())));
    fs::remove_all(fDir);
    fs::create_directories(fDir);
    fIris = vxnn::ReadCsvFile(std::string(VXNN_DATA_DIR) + "/iris.csv");
    vxnn::TrainOptions o;
    o.fDescribe.fTargets = {"species"};
    o.fMaxDataPasses = 30;
    std::ostringstream quiet;
    vxnn::ProgressBar progress(quiet, false);
    fTrained = vxnn::TrainModel(fIris, "iris.csv", o, progress);
    fModel = (fDir / "iris.model").string();
    vxnn::SaveModel(*fTrained->fAlgorithm, fModel, GetParam());
  }
  void TearDown() override { fs::remove_all(fDir); }

  // The rows in the order training saw them: its records, then the test
  // records.
  std::string RowsAsTrained() const {
    std::ostringstream csv;
    for (std::size_t c = 0; c < fIris.fHeader.size(); ++c)
      csv << (c ? "," : "") << fIris.fHeader[c];
    csv << "\n";
    const vxnn::Partition split =
        vxnn::SplitRecords(fIris.fRows.size(), fTrained->fTestFraction, fTrained->fPartitionSeed);
    for (const auto* part : {&split.fTrain, &split.fTest})
      for (std::size_t i : *part) {
        const auto& row = fIris.fRows[i];
        for (std::size_t c = 0; c < row.size(); ++c) csv << (c ? "," : "") << row[c];
        csv << "\n";
      }
    return csv.str();
  }

  std::string Export(const std::string& data) {
    vxnn::ExportCommand c;
    c.fModel = fModel;
    c.fPmml = (fDir / "iris.pmml").string();
    c.fData = data;
    std::ostringstream out;
    EXPECT_EQ(vxnn::RunExport(c, out), 0);
    fOut = out.str();
    return Slurp(c.fPmml);
  }

  fs::path fDir;
  vxnn::CsvTable fIris;
  std::unique_ptr<vxnn::TrainResult> fTrained;
  std::string fModel, fOut;
};

TEST_P(ExportImportance, WithoutDataTheDocumentHasNone) {
  const std::string pmml = Export("");
  EXPECT_NE(pmml.find("<MiningField name=\"petal_width\""), std::string::npos);
  EXPECT_EQ(pmml.find("importance="), std::string::npos);
}

// The same records in the same order give the importance training gave.
TEST_P(ExportImportance, WithDataItComesFromThoseRecords) {
  const fs::path data = fDir / "rows.csv";
  std::ofstream(data) << RowsAsTrained();
  const std::map<std::string, double> got = Importances(Export(data.string()));
  EXPECT_NE(fOut.find("with predictor importance from 150 records of " + data.string()),
            std::string::npos)
      << fOut;
  const char* inputs[] = {"sepal_length", "sepal_width", "petal_length", "petal_width"};
  ASSERT_EQ(got.size(), 4u);
  ASSERT_EQ(fTrained->fImportance.size(), 4u);
  double sum = 0.0;
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(got.count(inputs[i]), 1u) << inputs[i];
    EXPECT_NEAR(got.at(inputs[i]), fTrained->fImportance[i], 1e-12) << inputs[i];
    sum += got.at(inputs[i]);
  }
  EXPECT_NEAR(sum, 1.0, 1e-12);
}

TEST_P(ExportImportance, DataWithoutTheModelsColumnsIsRefused) {
  const fs::path data = fDir / "no_target.csv";
  std::ofstream(data) << "sepal_length,sepal_width,petal_length,petal_width\n5,3,1,0.2\n";
  vxnn::ExportCommand c;
  c.fModel = fModel;
  c.fPmml = (fDir / "refused.pmml").string();
  c.fData = data.string();
  std::ostringstream out;
  EXPECT_THROW(vxnn::RunExport(c, out), vxnn::InputError);
  EXPECT_FALSE(fs::exists(c.fPmml));
}

INSTANTIATE_TEST_SUITE_P(Forms, ExportImportance,
                         ::testing::Values(vxnn::ModelFormat::kBinary, vxnn::ModelFormat::kXML),
                         [](const auto& info) {
                           return std::string(vxnn::FormatName(info.param));
                         });

}  // namespace
