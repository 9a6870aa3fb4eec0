// Exported PMML scores like the library: a scorer written from the PMML
// standard (pmml_eval.py beside this file) reads each exported document and
// must reproduce the library's probabilities and predicted values on the
// test records of the shipped data sets; both documents are well formed and
// hold the elements each kind of model needs. One model declares
// user-missing values (discrete numbers, a string, a range) and the
// replacement the host scores a missing input with: the document must say
// both, so that the scorer treats those codes as missing and replaces them
// as the host does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

#include "data/Records.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFFactory.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringUserMissing.h"
#include "vxnn/TestHost.h"

namespace {

using testhost::Count;

const std::string kScript = std::string(VXNN_SOURCE_TESTS) + "/vxnn/pmml/pmml_eval.py";

// Standard output of a shell command, and its exit status.
std::string Shell(const std::string& command, int& status) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  status = pclose(pipe);
  return text;
}

struct Case {
  const char* data;
  bool rbf;
  std::vector<std::string> targets;
  // RBF only: plain radial-basis hidden units instead of the normalised
  // ones of the default settings.
  bool plain = false;
  // Fragments of the PMML and the statistics documents with the number of
  // times each appears (0: absent; -1: once per hidden unit).
  std::vector<std::pair<int, std::string>> pmml = {}, stats = {};
  // MLP on iris only: with a string input and user-missing values (see
  // AddUserMissing).
  bool userMissing = false;
};

// A model trained on a shipped data set: the MLP of the command line's
// training, or an RBF network (with the output-ME-information flag set)
// on the same list and records.
struct Model {
  explicit Model(const Case& c) : table(testhost::Shipped(c.data)) {
    vxnn::TrainOptions options;
    options.fMaxDataPasses = 40;
    options.fDescribe.fTargets = c.targets;
    if (c.userMissing) AddUserMissing(options.fDescribe);
    trained = testhost::Train(table, options, c.data);
    algorithm = trained->fAlgorithm.get();
    if (c.userMissing) TrainWithReplacements();
    if (!c.rbf) return;
    const int nTrain = static_cast<int>(trained->fTrainCounts.fKept);
    RBFSettings settings(*trained->fList, nTrain);
    settings.SetOutputMEInfo(true);
    if (c.plain) settings.SetActivFnHiddenLayer(VXNNCommon::kRadialBasis);
    RBFFactory factory;
    rbf.reset(factory.CreateNeuralAlgorithm(settings, *trained->fList, *trained->fTrainSource,
                                            nullptr, nullptr));
    algorithm = rbf.get();
    if (rbf) rbf->Train(nTrain, -1);
  }
  std::string Export(bool stats) const {
    std::ostringstream out;
    EXPECT_TRUE((stats ? algorithm->ExportModelStatXML(out, 0, nullptr)
                       : algorithm->ExportModelXML(out, 0, nullptr))
                    .IsOK());
    return out.str();
  }

  // Iris with a string input "size" (small, medium or large by the petal
  // length; "?" in every ninth row), 5.0 of the sepal length and "?" of the
  // size declared missing.
  void AddUserMissing(vxnn::DescribeOptions& describe) {
    table.fHeader.push_back("size");
    const int petal = Column("petal_length");
    for (std::size_t r = 0; r < table.fRows.size(); ++r) {
      const double length = std::stod(table.fRows[r][static_cast<std::size_t>(petal)]);
      table.fRows[r].push_back(r % 9 == 4     ? "?"
                               : length < 2.0 ? "small"
                               : length < 5.0 ? "medium"
                                              : "large");
    }
    describe.fMissing = {{"sepal_length", {"5.0"}}, {"size", {"?"}}};
  }

  // The host's list with the sepal widths 2.0 to 2.3 declared missing too,
  // and every input given the replacement the host scores a missing input
  // with (the training mean, or the category of code 0); an MLP trained
  // on the same training rows over it.
  void TrainWithReplacements() {
    NNVarList list = *trained->fList;
    ASSERT_TRUE(list.SetMissingInterval(list.FindVariable("sepal_width"), 2.0, 2.3));
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      const INNVariable& var = *list.GetVarAt(v);
      if (var.GetVariableRole() != INNVariable::kInput) continue;
      const auto* cont = dynamic_cast<const NNContVar*>(&var);
      ASSERT_TRUE(list.SetMissingValueReplacement(
          v, cont ? vxnn::FormatNumber(cont->GetMean()) : vxnn::CategoryLabel(var, 0)));
    }
    const vxnn::RecordMaker maker(list, table.fHeader, true, "iris", vxnn::MissingInputs::kImpute);
    std::vector<VXCommon_1_2::Record> records;
    for (std::size_t row : vxnn::SplitRecords(table.fRows.size(), trained->fOptions.fTestFraction,
                                              trained->fOptions.fPartitionSeed)
                               .fTrain) {
      VXCommon_1_2::Record record;
      if (!maker.Make(table.fRows[row], record, true)) records.push_back(record);
    }
    const int n = static_cast<int>(records.size());
    source = std::make_unique<VXCommon_1_2::VectorRecordIter>(std::move(records));
    MLPSettings settings(list, n);
    settings.SetMaxNDataPasses(40);
    settings.SetRandomSeed(5);
    own.reset(MLPFactory().CreateNeuralAlgorithm(settings, list, *source, nullptr, nullptr));
    ASSERT_TRUE(own);
    ASSERT_TRUE(own->Train(n, -1).IsOK());
    algorithm = own.get();
  }

  int Column(const std::string& name) const {
    for (std::size_t i = 0; i < table.fHeader.size(); ++i)
      if (table.fHeader[i] == name) return static_cast<int>(i);
    return -1;
  }

  vxnn::CsvTable table;
  std::unique_ptr<vxnn::TrainResult> trained;
  std::unique_ptr<INeuralAlgorithm> rbf;
  std::unique_ptr<VXCommon_1_2::VectorRecordIter> source;
  std::unique_ptr<INeuralAlgorithm> own;
  INeuralAlgorithm* algorithm = nullptr;
};

// Whether a cell holds one of the variable's user-missing values.
bool UserMissing(const INNVariable& var, const std::string& cell) {
  if (const auto* s = dynamic_cast<const NNStringUserMissing*>(var.GetUserMissingInfo()))
    return s->Contains(cell);
  const auto* n = dynamic_cast<const NNNumericUserMissing*>(var.GetUserMissingInfo());
  return n != nullptr && n->Contains(std::stod(cell));
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  const std::string file = info.param.data;
  std::string name = file.substr(0, file.find('.')) + (info.param.rbf ? "_RBF" : "_MLP");
  for (const std::string& t : info.param.targets) name += "_" + t;
  if (info.param.plain) name += "_plain";
  if (info.param.userMissing) name += "_user_missing";
  return name;
}

class PmmlScores : public testing::TestWithParam<Case> {};

TEST_P(PmmlScores, IndependentScorerReproducesTheLibrary) {
  const Case& c = GetParam();
  const std::string stem = std::string(VXNN_BINARY_DIR) + "/pmml_" + CaseName({c, 0});
  Model m(c);
  const vxnn::CsvTable& table = m.table;
  INeuralAlgorithm* algorithm = m.algorithm;
  ASSERT_EQ(algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  const std::string pmml = m.Export(false), stats = m.Export(true);
  int status = -1;
  for (const auto& [suffix, text] : {std::pair{".pmml", pmml}, {".stat.xml", stats}}) {
    std::ofstream(stem + suffix) << text;
    Shell("xmllint --noout '" + stem + suffix + "' 2>&1", status);
    EXPECT_EQ(status, 0) << suffix << " not well formed";
  }
  for (const auto& [n, fragment] : c.pmml)
    EXPECT_EQ(Count(pmml, fragment), n < 0 ? algorithm->GetNumberOfHiddenUnits() : n) << fragment;
  for (const auto& [n, fragment] : c.stats) EXPECT_EQ(Count(stats, fragment), n) << fragment;

  // The test records, as the CSV text they came from, and the library's
  // figures for each: per target its probabilities (categorical) or its
  // predicted value (continuous), in target order.
  const NNVarList& list = *algorithm->GetVarList();
  // Missing inputs are scored as the host scores them, with the replacement.
  const vxnn::RecordMaker maker(list, table.fHeader, true, c.data, vxnn::MissingInputs::kImpute);
  // Per input variable, the test records holding one of its user-missing
  // values.
  std::map<std::string, int> userMissing;
  std::ofstream csv(stem + ".csv");
  for (std::size_t i = 0; i < table.fHeader.size(); ++i) csv << (i ? "," : "") << table.fHeader[i];
  csv << "\n";
  std::vector<std::vector<double>> expected;
  std::vector<int> winners;
  VXCommon_1_2::Record record;
  vxnn::ScoringRecord inputs(list);
  for (std::size_t row : vxnn::SplitRecords(table.fRows.size(), m.trained->fOptions.fTestFraction,
                                            m.trained->fOptions.fPartitionSeed)
                             .fTest) {
    const std::vector<std::string>& cells = table.fRows[row];
    if (maker.Make(cells, record, true)) continue;
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      const INNVariable& var = *list.GetVarAt(v);
      if (var.GetVariableRole() == INNVariable::kInput &&
          UserMissing(var, cells[static_cast<std::size_t>(maker.ColumnOf(v))]))
        ++userMissing[var.GetVariableName()];
    }
    for (std::size_t i = 0; i < cells.size(); ++i) csv << (i ? "," : "") << cells[i];
    csv << "\n";
    const NNOutputList& outputs = algorithm->Score(inputs.Of(record));
    std::vector<double> figures;
    for (int t = 0; t < static_cast<int>(outputs.GetNames().size()); ++t) {
      const INNOutput* o = outputs.GetOutputAt(t);
      if (const auto* cat = dynamic_cast<const NNCategOutput*>(o)) {
        figures.insert(figures.end(), cat->GetOutputs().begin(), cat->GetOutputs().end());
        if (t == 0) winners.push_back(cat->GetWinningIndex());
      } else {
        figures.push_back(static_cast<const NNContOutput*>(o)->GetRealOutput());
      }
    }
    expected.push_back(figures);
  }
  csv.close();
  ASSERT_GT(expected.size(), 10u);
  // The user-missing model meets each kind of declaration among its test
  // records; the others meet none.
  std::map<std::string, int> kinds;
  for (const auto& [name, n] : userMissing) kinds[name] = n > 0;
  const std::map<std::string, int> every = {{"sepal_length", 1}, {"sepal_width", 1}, {"size", 1}};
  EXPECT_EQ(kinds, c.userMissing ? every : decltype(every)());

  std::istringstream lines(
      Shell("/usr/bin/python3 '" + kScript + "' '" + stem + ".pmml' '" + stem + ".csv'", status));
  ASSERT_EQ(status, 0);
  std::string line;
  std::size_t r = 0;
  for (; std::getline(lines, line) && r < expected.size(); ++r) {
    std::istringstream values(line);
    std::vector<double> got;
    for (double v; values >> v;) got.push_back(v);
    ASSERT_EQ(got.size(), expected[r].size()) << "record " << r;
    for (std::size_t k = 0; k < got.size(); ++k) {
      const double e = expected[r][k];
      EXPECT_NEAR(got[k], e, 1e-9 * std::max(1.0, std::fabs(e))) << "record " << r << " unit " << k;
    }
    if (!winners.empty()) {
      const int n = static_cast<int>(list.GetNOutputCats()[0]);
      int best = 0;
      for (int k = 1; k < n; ++k)
        if (got[static_cast<std::size_t>(k)] > got[static_cast<std::size_t>(best)]) best = k;
      EXPECT_EQ(best, winners[r]) << "record " << r;
    }
  }
  EXPECT_EQ(r, expected.size()) << "the scorer gave fewer lines";
}

// Fragments of the documents of the three models that have them.
using Fragments = std::vector<std::pair<int, std::string>>;
const Fragments kIrisMlpPmml = {
    {1,
     "<PMML version=\"4.0\" xmlns=\"http://www.dmg.org/PMML-4_0\" "
     "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema\">"},
    {1, "<DataDictionary numberOfFields=\"5\">"},
    {1, "<DataField name=\"species\" displayName=\"\" optype=\"categorical\" dataType=\"string\">"},
    {1, "<DerivedField optype=\"continuous\" dataType=\"double\" name=\"sepal_lengthNorm\">"},
    // The scorer lists the outputs in order; which category each stands for
    // is told here.
    {1, "<NormDiscrete field=\"species\" value=\"virginica\"/>"},
    {1,
     "<NeuralNetwork functionName=\"classification\" algorithmName=\"MLP\" "
     "activationFunction=\"tanh\">"},
    {1, "<MiningField name=\"petal_width\" importance=\""},
    {1, "<MiningField name=\"species\" usageType=\"predicted\"/>"},
    {1,
     "<NeuralLayer numberOfNeurons=\"3\" activationFunction=\"identity\" "
     "normalizationMethod=\"softmax\">"}};
const Fragments kIrisMlpStats = {
    {1,
     "<Field name=\"species\" displayLabel=\"\" role=\"target\" measure=\"nominal\" "
     "storage=\"string\"/>"},
    {1, "<Statistic name=\"accuracy\" value="}};
const Fragments kIrisRbfPmml = {
    {1, "algorithmName=\"RBF\" activationFunction=\"radialBasis\">"},
    {-1, "width=\""},
    {0, "importance="},
    {1, "<PredictiveModelQuality targetField=\"species\" dataUsage=\"training\">"}};
const Fragments kIrisRbfStats = {{1, "<Parameter name=\"algorithm\" value=\"RBF\"/>"},
                                 {1, "<BivariateData description=\"observedByPredicted\">"}};
const Fragments kTwoTargetsPmml = {{1, "<NeuralNetwork functionName=\"classification\""},
                                   {2, "usageType=\"predicted\""}};

const Fragments kTwoTargetsStats = {{2, "<PredictiveSummary targetField="}};
// The user-missing declarations in the data fields, and the replacements.
const Fragments kUserMissingPmml = {
    {1, "<Value value=\"5\" property=\"missing\"/>"},
    {1, "<Extension extender=\"vxneural\" name=\"invalidRangeLower\" value=\"2\"/>"},
    {1, "<Extension extender=\"vxneural\" name=\"invalidRangeUpper\" value=\"2.3\"/>"},
    {1, "<Value value=\"?\" property=\"missing\"/>"},
    {5, "missingValueReplacement=\""}};

const Case kCases[] = {
    {"iris.csv", false, {"species"}, false, kIrisMlpPmml, kIrisMlpStats},
    {"iris.csv", true, {"species"}, false, kIrisRbfPmml, kIrisRbfStats},
    {"iris.csv", true, {"species"}, true},
    {"wine.csv", true, {"cultivar"}},
    {"diabetes.csv", true, {"progression"}},
    {"diabetes.csv", false, {"sex", "progression"}, false, kTwoTargetsPmml, kTwoTargetsStats},
    {"diabetes.csv", true, {"sex", "progression"}},
    {"iris.csv", false, {"species"}, false, kUserMissingPmml, {}, true},
};

INSTANTIATE_TEST_SUITE_P(ShippedData, PmmlScores, testing::ValuesIn(kCases), CaseName);

}  // namespace
