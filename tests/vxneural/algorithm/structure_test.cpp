// The structure view of trained MLP and RBF models: layers, units, names,
// categories, widths and parameters, checked against the variable list of
// the generated records (x, c with 3 categories, v; targets y with 2
// categories and z) and against the network's flat weight vector.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "rbf_fixtures.h"
#include "vxneural/network/NNStructure.h"

namespace mlpdriver {
namespace {

struct UnitId {
  std::string name;
  int category;
  bool operator==(const UnitId& o) const { return name == o.name && category == o.category; }
};
using UnitIds = std::vector<UnitId>;
std::ostream& operator<<(std::ostream& out, const UnitId& u) {
  return out << '{' << u.name << ',' << u.category << '}';
}

UnitIds IdsOf(const NNStructure& s, int layer) {
  UnitIds ids;
  for (int u = 0; u < s.GetNumUnits(layer); ++u)
    ids.push_back({s.GetVariableName(layer, u), s.GetVariableCatNum(layer, u)});
  return ids;
}

const UnitId kBias{"", -1};
const UnitIds kInputs{{"x", -1}, {"c", 0}, {"c", 1}, {"c", 2}, {"v", -1}};

UnitIds WithBias(const UnitIds& ids) {
  UnitIds all{kBias};
  all.insert(all.end(), ids.begin(), ids.end());
  return all;
}

// The non-bias units' parameters of layers 1.., one after another.
Doubles ParametersOf(const NNStructure& s) {
  Doubles all;
  for (int l = 1; l < s.GetNumLayers(); ++l)
    for (int u = 0; u < s.GetNumUnits(l); ++u) {
      const Doubles& p = s.GetVecParm(l, u);
      all.insert(all.end(), p.begin(), p.end());
    }
  return all;
}

std::unique_ptr<NNStructure> StructureOf(const INeuralAlgorithm& a) {
  return std::unique_ptr<NNStructure>(a.GetStructure());
}

// MLPs with 0, 1 and 2 hidden layers, over each kind of target.
struct MlpCase {
  int hiddenLayers;
  Ints hiddenUnits;
  Targets targets;
  UnitIds outputs;
  VXNNCommon::ActivationFunction hidden, output;
};

TEST(NNStructure, MlpLayersUnitsAndWeights) {
  const MlpCase cases[] = {
      {0, {}, kContinuousTarget, {{"z", -1}}, VXNNCommon::kIdentity, VXNNCommon::kIdentity},
      {1, {3}, kCategoricalTarget, {{"y", 0}, {"y", 1}}, VXNNCommon::kTanH, VXNNCommon::kSoftMax},
      {2,
       {3, 2},
       kBothTargets,
       {{"y", 0}, {"y", 1}, {"z", -1}},
       VXNNCommon::kTanH,
       VXNNCommon::kIdentity},
  };
  for (const MlpCase& c : cases) {
    SCOPED_TRACE(c.hiddenLayers);
    auto m = MakeModel(c.targets, 80, 0, 1, [&](MLPSettings& s) {
      s.SetNumHiddenLayers(c.hiddenLayers);
      for (int l = 0; l < c.hiddenLayers; ++l) s.SetNumHiddenUnits(c.hiddenUnits[l], l + 1);
    });
    ASSERT_EQ(m->algorithm->Train(80, -1), VXStatus());
    auto s = StructureOf(*m->algorithm);
    ASSERT_FALSE(s->IsEmpty());
    EXPECT_EQ(s->GetAlgorithmType(), VXNNCommon::kMLP);
    EXPECT_EQ(s->GetActivFnHiddenLayer(), c.hidden);
    EXPECT_EQ(s->GetActivFnOutputLayer(), c.output);
    EXPECT_EQ(s->GetStandInputs(), m->settings.GetStandInputs());
    EXPECT_EQ(s->GetVariableList(), m->algorithm->GetVarList());
    ASSERT_EQ(s->GetNumLayers(), c.hiddenLayers + 2);
    EXPECT_EQ(IdsOf(*s, 0), WithBias(kInputs));
    for (int l = 1; l <= c.hiddenLayers; ++l)
      EXPECT_EQ(IdsOf(*s, l), UnitIds(static_cast<std::size_t>(c.hiddenUnits[l - 1]) + 1, kBias));
    EXPECT_EQ(IdsOf(*s, c.hiddenLayers + 1), c.outputs);
    // Bias units first; every other unit above the input layer carries one
    // parameter per unit below (bias included), and only those.
    for (int l = 0; l < s->GetNumLayers(); ++l)
      for (int u = 0; u < s->GetNumUnits(l); ++u) {
        SCOPED_TRACE(testing::Message() << l << ' ' << u);
        const bool bias = u == 0 && l <= c.hiddenLayers;
        EXPECT_EQ(s->IsBiasUnit(l, u), bias);
        const std::size_t expected =
            (bias || l == 0) ? 0u : static_cast<std::size_t>(s->GetNumUnits(l - 1));
        EXPECT_EQ(s->GetVecParm(l, u).size(), expected);
        EXPECT_EQ(s->GetWidth(l, u), 0.0);
      }
    EXPECT_EQ(ParametersOf(*s), WeightsOf(m->Mlp()));
    // Out of range: the neutral answers.
    EXPECT_EQ(s->GetNumUnits(s->GetNumLayers()), 0);
    EXPECT_EQ(s->GetVariableName(0, 99), "");
    EXPECT_EQ(s->GetVariableCatNum(-1, 1), -1);
    EXPECT_TRUE(s->GetVecParm(1, -1).empty());
    EXPECT_FALSE(s->IsBiasUnit(9, 0));
  }
}

// Only a trained algorithm with a network and a preparator gives a
// structure; otherwise an empty one and code 6 (warning), even once
// cancelled or without a preparator.
TEST(NNStructure, RefusedOutsideTheTrainedState) {
  auto untrained = MakeModel(kCategoricalTarget, 80, 0);
  auto s = StructureOf(*untrained->algorithm);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->IsEmpty());
  ExpectStatus(untrained->algorithm->GetStatus(), 6);

  auto encoded = MakeEncodedModel(kCategoricalTarget, 80, 0);
  ASSERT_EQ(encoded->algorithm->Train(80, -1), VXStatus());
  EXPECT_EQ(encoded->algorithm->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_TRUE(StructureOf(*encoded->algorithm)->IsEmpty());
  ExpectStatus(encoded->algorithm->GetStatus(), 6);

  host_doubles::CountdownCancel cancel(3);
  auto cancelled = MakeModel(kCategoricalTarget, 80, 0, 1,
                             [&](MLPSettings& st) { st.SetCancelPointer(&cancel); });
  cancelled->algorithm->Train(80, -1);
  ASSERT_EQ(cancelled->algorithm->GetAlgorithmStatus(), VXNNCommon::kCancelled);
  EXPECT_TRUE(StructureOf(*cancelled->algorithm)->IsEmpty());
  ExpectStatus(cancelled->algorithm->GetStatus(), 6);
}

}  // namespace
}  // namespace mlpdriver
