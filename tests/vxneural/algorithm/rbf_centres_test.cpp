// What the RBF driver hands the clustering library and what it keeps of the
// clusters: the clustering values of encoded records (a categorical
// variable of one category included), and a user's number of hidden units
// when fewer clusters form than it asks for.

#include <gmock/gmock.h>

#include <regex>

#include "rbf_fixtures.h"
#include "vxneural/algorithm/NNClusterAdapter.h"
#include "vxneural/network/NNStructure.h"
#include "vxneural/network/RBFOutputLayer.h"

namespace {

using namespace mlpdriver;
using testing::DoubleNear;
using testing::Pointwise;

// One encoded record through the adapter, against the clustering values
// worked out by hand: a continuous variable's column as it is, a
// categorical one's category number 1 .. n of its first column holding
// exactly 1.0, or -1.
struct AdapterCase {
  const char* name;
  std::vector<int> widths;
  std::vector<bool> categorical;
  std::vector<double> encoded;
  std::vector<double> expected;
};

TEST(RbfClusterAdapter, GivesCategoryNumbersWhateverTheNumberOfCategories) {
  const AdapterCase cases[] = {
      {"one category, indicator set", {1, 1}, {true, false}, {1.0, 0.25}, {1.0, 0.25}},
      {"one category, indicator 0", {1, 1}, {true, false}, {0.0, 0.25}, {-1.0, 0.25}},
      {"continuous 0 stays 0", {1, 1}, {false, true}, {0.0, 1.0}, {0.0, 1.0}},
      {"three categories, the second", {3}, {true}, {0.0, 1.0, 0.0}, {2.0}},
      {"three categories, none", {3}, {true}, {0.0, 0.0, 0.0}, {-1.0}},
      {"three categories, not exactly 1", {3}, {true}, {0.0, 0.5, 0.0}, {-1.0}},
      {"two set, the first counts", {3}, {true}, {0.0, 1.0, 1.0}, {2.0}},
      {"inputs then targets",
       {1, 1, 3, 1, 2},
       {false, true, true, false, true},
       {0.5, 0.0, 0.0, 0.0, 1.0, 7.0, 1.0, 0.0},
       {0.5, -1.0, 3.0, 7.0, 1.0}},
  };
  for (const AdapterCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Record> records{Record(c.encoded)};
    VectorRecordIter source(records);
    NNClusterAdapter adapter(&source, c.widths, c.categorical);
    const VXCluster::Record* r = adapter.Next();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::vector<double>(r->GetAll(), r->GetAll() + r->Size()), c.expected);
    EXPECT_EQ((Ints{adapter.GetCount(), adapter.GetStatus()}), (Ints{1, 0}));
  }
  // Descriptions the adapter cannot walk give status 2 (error) at once.
  std::vector<Record> records{Record(std::vector<double>{1.0, 0.0})};
  VectorRecordIter source(records);
  for (const auto& [widths, categorical] :
       std::vector<std::pair<std::vector<int>, std::vector<bool>>>{
           {{1, 1}, {true}}, {{2}, {false}}, {{0, 2}, {true, true}}, {{}, {}}}) {
    NNClusterAdapter adapter(&source, widths, categorical);
    EXPECT_EQ(adapter.GetStatus(), 2);
    EXPECT_EQ(adapter.Next(), nullptr);
  }
}

// Two groups of ten equal records, which the clustering cannot split
// further: a user's count of five hidden units forms two clusters.
std::vector<Record> TwoGroups() {
  std::vector<Record> records;
  for (int g = 0; g < 2; ++g) {
    for (int i = 0; i < 10; ++i) {
      records.push_back(
          Record(std::vector<double>{10.0 * g, double(2 * g), -5.0 * g, double(g), 0.0}));
    }
  }
  return records;
}

// Off the groups as well as on them.
std::vector<Record> Probes() {
  std::vector<Record> probes = TwoGroups();
  probes.push_back(Record(std::vector<double>{5.0, 1.0, -2.0, 0.0, 0.0}));
  probes.push_back(Record(std::vector<double>{-3.0, 0.0, 4.0, 1.0, 0.0}));
  return probes;
}

struct GroupModel {
  std::vector<Record> records = TwoGroups();
  NNVarList list = MakeList(records, kCategoricalTarget);
  VectorRecordIter train{records};
  std::unique_ptr<INeuralAlgorithm> algorithm;

  // Trained with the user's count of units, or (adjust given) built with
  // the settings adjust leaves and not trained.
  GroupModel(int units, VXNNCommon::ActivationFunction activation,
             const std::function<void(RBFSettings&)>& adjust = {}) {
    RBFSettings settings(list, 20);
    settings.SetRandomSeed(7);
    settings.SetActivFnHiddenLayer(activation);
    settings.SetNumHiddenUnits(units, 1);
    if (adjust) adjust(settings);
    RBFFactory factory;
    algorithm.reset(factory.CreateNeuralAlgorithm(settings, list, train, nullptr, nullptr));
    EXPECT_TRUE(algorithm) << factory.GetStatus();
    if (algorithm && !adjust) {
      EXPECT_EQ(algorithm->Train(20, -1), VXStatus());
    }
  }
};

std::vector<double> Scores(const INeuralAlgorithm& a) {
  std::vector<double> scores;
  for (const Record& r : Probes()) {
    Record out;
    EXPECT_EQ(a.Score(r, out), VXStatus());
    scores.insert(scores.end(), out.GetAll(), out.GetAll() + out.Size());
  }
  return scores;
}

// Every unit of the structure's hidden layer: its width and parameters.
std::vector<double> HiddenUnitsOf(const INeuralAlgorithm& a) {
  std::unique_ptr<NNStructure> s(a.GetStructure());
  std::vector<double> units;
  if (s->IsEmpty()) return units;
  for (int u = 0; u < s->GetNumUnits(1); ++u) {
    units.push_back(s->GetWidth(1, u));
    const std::vector<double>& p = s->GetVecParm(1, u);
    units.insert(units.end(), p.begin(), p.end());
  }
  return units;
}

std::valarray<double> OutputWeightsOf(const INeuralAlgorithm& a) {
  const INLayer& output = *dynamic_cast<const RBFAlgorithm&>(a).GetNetwork()->GetLayer(2);
  std::valarray<double> w(output.GetNumWeights());
  output.GetWeights(w, 0);
  return w;
}

// The PMML document without its timestamp.
std::string Pmml(const INeuralAlgorithm& a) {
  std::ostringstream out;
  EXPECT_EQ(a.ExportModelXML(out, 0, nullptr), VXStatus());
  return std::regex_replace(out.str(), std::regex("<Timestamp>[^<]*</Timestamp>"), "");
}

// Neuron ids of 10 and above (the output neurons over five hidden units)
// lowered by shift.
std::string OutputIdsShifted(const std::string& pmml, int shift) {
  const std::regex id("(id|outputNeuron)=\"([0-9]+)\"");
  std::string shifted;
  auto last = pmml.cbegin();
  for (std::sregex_iterator m(pmml.begin(), pmml.end(), id), end; m != end; ++m) {
    const int n = std::stoi((*m)[2]);
    shifted.append(last, (*m)[0].first);
    shifted += (*m)[1].str() + "=\"" + std::to_string(n >= 10 ? n - shift : n) + "\"";
    last = (*m)[0].second;
  }
  return shifted.append(last, pmml.cend());
}

// The user's five units stay five with two in use, and the model is the
// one of two units over the same centres: the same widths, output weights
// on the units in use (0 on the others), scores, errors, PMML neurons,
// and after a save and a restore the same again.
TEST(RbfFewerClusters, TheUsersUnitsStayAndOnlyTheClustersFormedAreUsed) {
  for (auto activation : {VXNNCommon::kNormalizedRadialBasis, VXNNCommon::kRadialBasis}) {
    const bool bias = activation == VXNNCommon::kRadialBasis;
    SCOPED_TRACE(bias ? "plain" : "normalised");
    GroupModel five(5, activation), two(2, activation);
    ASSERT_TRUE(five.algorithm && two.algorithm);
    const INeuralAlgorithm& a = *five.algorithm;
    const INeuralAlgorithm& b = *two.algorithm;
    const RBFHiddenLayer& hidden = HiddenOf(a);
    const RBFSettings& settings = dynamic_cast<const RBFAlgorithm&>(a).GetRBFSettings();
    ASSERT_EQ((Ints{a.GetNumberOfHiddenUnits(), settings.GetNumHiddenUnits(1), hidden.GetNumUnits(),
                    hidden.GetNumCenters(), HiddenOf(b).GetNumCenters()}),
              (Ints{5, 5, 5, 2, 2}));
    for (int j = 0; j < 2; ++j) {
      EXPECT_EQ(hidden.GetCenters()[j], HiddenOf(b).GetCenters()[j]);
      EXPECT_EQ(hidden.GetAdjustedVariances()[j], HiddenOf(b).GetAdjustedVariances()[j]);
    }
    // Output rows: the bias (plain units), then one weight per hidden unit.
    const std::valarray<double> outA = OutputWeightsOf(a), outB = OutputWeightsOf(b);
    const int rowA = 5 + bias, rowB = 2 + bias;
    ASSERT_EQ((Ints{int(outA.size()), int(outB.size())}), (Ints{2 * rowA, 2 * rowB}));
    for (int k = 0; k < 2; ++k) {
      for (int w = 0; w < rowA; ++w) {
        const double expected = w < rowB ? outB[k * rowB + w] : 0.0;
        EXPECT_NEAR(outA[k * rowA + w], expected, 1e-12) << k << " " << w;
      }
    }
    EXPECT_THAT(Scores(a), Pointwise(DoubleNear(1e-12), Scores(b)));
    EXPECT_NEAR(a.GetTrainingError(), b.GetTrainingError(), 1e-12);
    VectorRecordIter trainA(five.records), trainB(two.records);
    EXPECT_NEAR(five.algorithm->GetErrorOnData(trainA, 20),
                two.algorithm->GetErrorOnData(trainB, 20), 1e-12);
    // The structure lists the five units: two as the other model's, three
    // unused with a zero centre and width.
    const std::vector<double> unitsB = HiddenUnitsOf(b);
    std::vector<double> expected = unitsB;
    expected.insert(expected.end(), 3 * (1 + 5), 0.0);
    EXPECT_THAT(HiddenUnitsOf(a), Pointwise(DoubleNear(1e-12), expected));
    // The documents differ only in the hidden layer's declared size (five)
    // and the output neurons' ids, which follow the five inputs and the
    // five hidden units (10 and 11 for 7 and 8): one neuron per centre in
    // use, the same connections.
    std::string pmmlA = OutputIdsShifted(Pmml(a), 3);
    const std::string declared = "<NeuralLayer numberOfNeurons=\"5\"";
    ASSERT_NE(pmmlA.find(declared), std::string::npos);
    pmmlA.replace(pmmlA.find(declared), declared.size(), "<NeuralLayer numberOfNeurons=\"2\"");
    EXPECT_EQ(pmmlA, Pmml(b));
    for (bool xml : {false, true}) {
      SCOPED_TRACE(xml ? "XML" : "binary");
      std::stringstream saved;
      ASSERT_EQ(xml ? a.SaveStateXML(saved) : a.SaveState(saved), VXStatus());
      VectorRecordIter train(five.records);
      RBFFactory factory;
      std::unique_ptr<INeuralAlgorithm> restored(
          xml ? factory.RestoreNeuralAlgorithmFromXML(saved, train, nullptr)
              : factory.RestoreNeuralAlgorithmFromBinary(saved, train, nullptr));
      ASSERT_TRUE(restored) << factory.GetStatus();
      EXPECT_EQ((Ints{restored->GetNumberOfHiddenUnits(), HiddenOf(*restored).GetNumUnits(),
                      HiddenOf(*restored).GetNumCenters()}),
                (Ints{5, 5, 2}));
      EXPECT_EQ(Scores(*restored), Scores(a));
      EXPECT_EQ(HiddenUnitsOf(*restored), HiddenUnitsOf(a));
    }
  }
}

// A search whose smallest candidate forms fewer clusters than its units:
// the one-pass search fails (code 50001); the search with a pass per
// candidate keeps it, three units with two in use, the model of two units
// over the same centres. Its next candidate, still two clusters, ends the
// range.
TEST(RbfFewerClusters, AtTheSearchsSmallestCandidate) {
  GroupModel two(2, VXNNCommon::kNormalizedRadialBasis);
  for (bool onePass : {true, false}) {
    SCOPED_TRACE(onePass ? "one pass" : "a pass each");
    GroupModel m(3, VXNNCommon::kNormalizedRadialBasis, [&](RBFSettings& s) {
      s.SetNHiddenUnitsRange(3, 5);
      s.SetExpertOneDataPass(onePass);
    });
    ASSERT_TRUE(m.algorithm && two.algorithm);
    INeuralAlgorithm& a = *m.algorithm;
    if (onePass) {
      ExpectStatus(a.SelectArchitecture(), 50001);
      EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kInconsistent);
      continue;
    }
    ASSERT_EQ(a.SelectArchitecture(), VXStatus());
    EXPECT_EQ((Ints{a.GetAlgorithmStatus(), a.GetNumberOfHiddenUnits(), HiddenOf(a).GetNumUnits(),
                    HiddenOf(a).GetNumCenters()}),
              (Ints{VXNNCommon::kTrained, 3, 3, 2}));
    EXPECT_THAT(Scores(a), Pointwise(DoubleNear(1e-12), Scores(*two.algorithm)));
    EXPECT_NEAR(a.GetTrainingError(), two.algorithm->GetTrainingError(), 1e-12);
  }
}

}  // namespace
