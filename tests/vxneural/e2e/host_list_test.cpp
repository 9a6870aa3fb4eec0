// A host that describes its fields with its own variable list: the settings
// and factories that take it build the same settings and the same
// algorithms as those given the equivalent NNVarList, end to end on the
// shipped data (train, score, save, restore), for MLP and RBF networks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "vxcommon/Record.h"
#include "vxcommon/VXVarList.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/RBFFactory.h"
#include "vxneural/algorithm/mlp_driver_fixtures.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"
#include "vxneural/variables/VXVarAdapter.h"

namespace {

using mlpdriver::ScoresOf;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;
using VXCommon_1_2::VXVarList;

enum Kind { kCont = 1, kNumCat = 2, kStrCat = 3 };

struct Column {
  const char* name;
  Kind kind;
  bool target;
};

// A shipped CSV file as raw records (a category as its code: a string's
// index in order of appearance, a number's in increasing order), and both
// descriptions of its fields.
struct Table {
  std::vector<Record> records;
  NNVarList list;
  VXVarList host;
};

std::unique_ptr<Table> Load(const char* file, const std::vector<Column>& columns) {
  std::ifstream in(std::string(VXNN_DATA_DIR) + "/" + file);
  std::string line;
  std::getline(in, line);
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::stringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; std::getline(fields, f, ',');) row.push_back(f);
    rows.push_back(row);
  }
  auto t = std::make_unique<Table>();
  t->records.assign(rows.size(), Record(columns.size()));
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const Column& col = columns[c];
    const int hostRole = col.target ? 1 : 3;
    const auto role = col.target ? INNVariable::kOutput : INNVariable::kInput;
    std::vector<std::string> strings;
    std::vector<double> values;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::string& f = rows[r][c];
      if (col.kind == kStrCat) {
        auto at = std::find(strings.begin(), strings.end(), f);
        if (at == strings.end()) at = strings.insert(strings.end(), f);
        t->records[r][static_cast<int>(c)] = static_cast<double>(at - strings.begin());
      } else {
        t->records[r][static_cast<int>(c)] = std::stod(f);
        values.push_back(std::stod(f));
      }
    }
    if (col.kind == kCont) {
      double mean = 0.0, ss = 0.0;
      for (double v : values) mean += v / static_cast<double>(values.size());
      for (double v : values) ss += (v - mean) * (v - mean);
      const double sd = std::sqrt(ss / static_cast<double>(values.size() - 1));
      const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
      t->list.AddContVar(col.name, "", *lo, *hi, mean, sd * sd, role, INNVariable::kReal);
      t->host.Add(new VXCommon_1_2::VXContVar(col.name, "", hostRole, 2, *lo, *hi, mean, sd));
    } else if (col.kind == kNumCat) {
      std::vector<double> raw = values;
      std::sort(values.begin(), values.end());
      values.erase(std::unique(values.begin(), values.end()), values.end());
      // Records carry a category's code, its index among the values.
      for (std::size_t r = 0; r < rows.size(); ++r)
        t->records[r][static_cast<int>(c)] = static_cast<double>(
            std::lower_bound(values.begin(), values.end(), raw[r]) - values.begin());
      t->list.AddCatVar(col.name, "", values, role, INNVariable::kInteger);
      auto* v = new VXCommon_1_2::VXCatVar(col.name, "", hostRole, 1, true,
                                           static_cast<int>(values.size()));
      v->SetNumericValues(values);
      t->host.Add(v);
    } else {
      t->list.AddCatVar(col.name, "", strings, role, INNVariable::kString);
      auto* v = new VXCommon_1_2::VXCatVar(col.name, "", hostRole, 3, false,
                                           static_cast<int>(strings.size()));
      v->SetStringValues(strings);
      t->host.Add(v);
    }
  }
  return t;
}

std::unique_ptr<Table> Iris() {
  return Load("iris.csv", {{"sepal_length", kCont, false},
                           {"sepal_width", kCont, false},
                           {"petal_length", kCont, false},
                           {"petal_width", kCont, false},
                           {"species", kStrCat, true}});
}

std::unique_ptr<Table> Diabetes() {
  std::vector<Column> columns{{"age", kCont, false}, {"sex", kNumCat, false}};
  for (const char* name : {"bmi", "bp", "tc", "ldl", "hdl", "tch", "ltg", "glu"})
    columns.push_back({name, kCont, false});
  columns.push_back({"progression", kCont, true});
  return Load("diabetes.csv", columns);
}

std::string ListBytes(const NNVarList& list) {
  std::ostringstream out;
  list.WriteObject(out);
  return out.str();
}

std::string Saved(const INeuralAlgorithm& a, bool xml) {
  std::ostringstream out;
  EXPECT_EQ(xml ? a.SaveStateXML(out) : a.SaveState(out), VXStatus());
  return out.str();
}

// Builds, trains, scores and saves the model of each description, and
// restores the host-list one from its binary and XML saves.
template <class Settings, class Factory>
void ExpectSameModels(Table& t) {
  const int n = static_cast<int>(t.records.size());
  EXPECT_EQ(ListBytes(ConvertedHostVarList(t.host, 0.0)), ListBytes(t.list));
  Settings fromList(t.list, n), fromHost(t.host, n);
  EXPECT_TRUE(fromList == fromHost);
  EXPECT_TRUE(fromHost.GetHasVarList());
  for (Settings* s : {&fromList, &fromHost}) {
    s->SetRandomSeed(3);
    if constexpr (std::is_same_v<Settings, MLPSettings>) s->SetMaxNDataPasses(20);
  }
  VectorRecordIter trainList(t.records), trainHost(t.records);
  Factory factory;
  std::unique_ptr<INeuralAlgorithm> a(
      factory.CreateNeuralAlgorithm(fromList, t.list, trainList, nullptr, nullptr));
  std::unique_ptr<INeuralAlgorithm> b(
      factory.CreateNeuralAlgorithm(fromHost, t.host, trainHost, nullptr, nullptr));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr) << factory.GetStatus().GetErrorCode();
  ASSERT_EQ(a->Train(n, -1), VXStatus());
  ASSERT_EQ(b->Train(n, -1), VXStatus());
  EXPECT_EQ(ListBytes(*b->GetVarList()), ListBytes(*a->GetVarList()));
  const std::vector<double> scores = ScoresOf(*a, t.records);
  EXPECT_EQ(ScoresOf(*b, t.records), scores);
  EXPECT_EQ(a->GetTrainingError(), b->GetTrainingError());
  // The saved forms differ only in the processor times; the host-list
  // model restores and scores as the other one does.
  for (bool xml : {false, true}) {
    SCOPED_TRACE(xml);
    const std::string bytes = Saved(*b, xml);
    std::istringstream in(bytes);
    VectorRecordIter train(t.records);
    Factory restorer;
    std::unique_ptr<INeuralAlgorithm> r(
        xml ? restorer.RestoreNeuralAlgorithmFromXML(in, train, nullptr)
            : restorer.RestoreNeuralAlgorithmFromBinary(in, train, nullptr));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ScoresOf(*r, t.records), scores);
  }
}

TEST(HostListEndToEnd, IrisMlp) { ExpectSameModels<MLPSettings, MLPFactory>(*Iris()); }
TEST(HostListEndToEnd, DiabetesRbf) { ExpectSameModels<RBFSettings, RBFFactory>(*Diabetes()); }

double FirstCorrection(const INeuralAlgorithm& a) {
  return dynamic_cast<const NNContVar&>(*a.GetVarList()->GetVarAt(0)).GetCorrection();
}

// The MLP factory gives the continuous variables the settings' correction;
// the RBF factory and the settings constructors none.
TEST(HostListEndToEnd, TheMlpFactoryAppliesTheSettingsCorrection) {
  auto t = Iris();
  const int n = static_cast<int>(t->records.size());
  VectorRecordIter train(t->records);
  MLPSettings mlp(t->host, n);
  mlp.SetCorrection(0.5);
  MLPFactory mlpFactory;
  std::unique_ptr<INeuralAlgorithm> a(
      mlpFactory.CreateNeuralAlgorithm(mlp, t->host, train, nullptr, nullptr));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(FirstCorrection(*a), 0.5);
  RBFSettings rbf(t->host, n);
  RBFFactory rbfFactory;
  std::unique_ptr<INeuralAlgorithm> b(
      rbfFactory.CreateNeuralAlgorithm(rbf, t->host, train, nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(FirstCorrection(*b), 0.0);
}

// A host list that does not convert: no algorithm, and the factory's status
// stays what the previous call left; the settings describe the variables
// before the failure.
TEST(HostListEndToEnd, AListThatDoesNotConvertGivesNullAndKeepsTheStatus) {
  auto t = Iris();
  t->host.Add(new VXCommon_1_2::VXContVar("sepal_width", "", 3, 2, 0, 1, 0.5, 1));
  const int n = static_cast<int>(t->records.size());
  VectorRecordIter train(t->records);
  MLPSettings settings(t->host, n);
  EXPECT_EQ(settings.GetNumInputs(), 4);
  MLPSettings none(t->host, 0);
  MLPFactory factory;
  EXPECT_EQ(factory.CreateNeuralAlgorithm(none, t->list, train, nullptr, nullptr), nullptr);
  EXPECT_EQ(factory.GetStatus().GetErrorCode(), 50012);
  EXPECT_EQ(factory.CreateNeuralAlgorithm(settings, t->host, train, nullptr, nullptr), nullptr);
  EXPECT_EQ(factory.GetStatus().GetErrorCode(), 50012);
  RBFSettings rbf(t->host, n);
  RBFFactory rbfFactory;
  EXPECT_EQ(rbfFactory.CreateNeuralAlgorithm(rbf, t->host, train, nullptr, nullptr), nullptr);
  EXPECT_EQ(rbfFactory.GetStatus(), VXStatus());
}

}  // namespace
