// `vxnn export`: the predictor importance in the PMML document comes from
// the records given with --data, and without them the document has none
// (a restored model sees no real records of its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "Commands.h"
#include "Console.h"
#include "CsvTable.h"
#include "Partition.h"
#include "TestHost.h"
#include "Training.h"

namespace {

namespace fs = std::filesystem;

using testhost::Slurp;

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
  // A folder of each case's own: ctest runs the two forms in parallel.
  void SetUp() override {
    fDir = fs::temp_directory_path() /
           ("vxnn_export_importance_" + std::string(vxnn::FormatName(GetParam())) + "_" +
            std::to_string(::getpid()));
    fs::remove_all(fDir);
    fs::create_directories(fDir);
  }
  void TearDown() override { fs::remove_all(fDir); }

  std::string Export(const std::string& model, const std::string& data, const std::string& pmml,
                     std::string* out = nullptr) {
    vxnn::ExportCommand c;
    c.fModel = model;
    c.fPmml = (fDir / pmml).string();
    c.fData = data;
    std::ostringstream said;
    EXPECT_EQ(vxnn::RunExport(c, said), 0);
    if (out) *out = said.str();
    return Slurp(c.fPmml);
  }

  fs::path fDir;
};

TEST_P(ExportImportance, ComesFromTheRecordsGivenOrIsLeftOut) {
  const vxnn::CsvTable iris = vxnn::ReadCsvFile(std::string(VXNN_DATA_DIR) + "/iris.csv");
  vxnn::TrainOptions o;
  o.fDescribe.fTargets = {"species"};
  o.fMaxDataPasses = 30;
  std::ostringstream quiet;
  vxnn::ProgressBar progress(quiet, false);
  const auto trained = vxnn::TrainModel(iris, "iris.csv", o, progress);
  const std::string model = (fDir / "iris.model").string();
  vxnn::SaveModel(*trained->fAlgorithm, model, GetParam());

  // Without data the document has no importance.
  const std::string bare = Export(model, "", "bare.pmml");
  EXPECT_NE(bare.find("<MiningField name=\"petal_width\""), std::string::npos);
  EXPECT_EQ(bare.find("importance="), std::string::npos);

  // The rows in the order training saw them (its records, then the test
  // records) give the importance training gave.
  std::ostringstream csv;
  vxnn::WriteCsvRow(csv, iris.fHeader);
  const vxnn::Partition split =
      vxnn::SplitRecords(iris.fRows.size(), trained->fTestFraction, trained->fPartitionSeed);
  for (const auto* part : {&split.fTrain, &split.fTest})
    for (std::size_t i : *part) vxnn::WriteCsvRow(csv, iris.fRows[i]);
  const fs::path data = fDir / "rows.csv";
  std::ofstream(data) << csv.str();
  std::string out;
  const std::map<std::string, double> got =
      Importances(Export(model, data.string(), "iris.pmml", &out));
  EXPECT_NE(out.find("with predictor importance from 150 records of " + data.string()),
            std::string::npos)
      << out;
  const char* inputs[] = {"sepal_length", "sepal_width", "petal_length", "petal_width"};
  ASSERT_EQ(got.size(), 4u);
  ASSERT_EQ(trained->fImportance.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(got.count(inputs[i]), 1u) << inputs[i];
    EXPECT_NEAR(got.at(inputs[i]), trained->fImportance[i], 1e-12) << inputs[i];
  }

  // Data without the model's target column is refused, and no file is left.
  const fs::path noTarget = fDir / "no_target.csv";
  std::ofstream(noTarget) << "sepal_length,sepal_width,petal_length,petal_width\n5,3,1,0.2\n";
  vxnn::ExportCommand c;
  c.fModel = model;
  c.fPmml = (fDir / "refused.pmml").string();
  c.fData = noTarget.string();
  std::ostringstream said;
  EXPECT_THROW(vxnn::RunExport(c, said), vxnn::InputError);
  EXPECT_FALSE(fs::exists(c.fPmml));
}

INSTANTIATE_TEST_SUITE_P(Forms, ExportImportance,
                         ::testing::Values(vxnn::ModelFormat::kBinary, vxnn::ModelFormat::kXML),
                         [](const auto& info) {
                           return std::string(vxnn::FormatName(info.param));
                         });

}  // namespace
