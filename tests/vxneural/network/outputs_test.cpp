// The output list: how network units become predictions (winners, ties,
// unnormalized continuous values) and how the missing flag guards them.
#include <gtest/gtest.h>

#include <vector>

#include "network_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"

namespace {

// Inputs and targets interleaved, so that the list must pick the targets out
// in list order: a continuous target y on 0..10 scaled by min/range, then a
// 3-category target c.
NNVarList TwoTargets() {
  NNVarList list;
  list.AddContVar("x1", "", 0, 1, 0.5, 0.1, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("y", "", 0, 10, 5, 4, INNVariable::kOutput, INNVariable::kReal);
  list.AddCatVar("x2", "", 2, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  auto* y = dynamic_cast<NNContVar*>(list.GetVarAt(1));
  EXPECT_TRUE(y != nullptr && y->SetupEncoder(VXNNCommon::kMinRange));
  return list;
}

const NNCategOutput& Categ(const NNOutputList& l, int i) {
  return dynamic_cast<const NNCategOutput&>(*l.GetOutputAt(i));
}
const NNContOutput& Cont(const NNOutputList& l, int i) {
  return dynamic_cast<const NNContOutput&>(*l.GetOutputAt(i));
}

TEST(OutputList, SplitsUnitsAmongTheTargetsOfAVariableList) {
  NNOutputList l(TwoTargets());
  EXPECT_EQ(l.GetNContinuous(), 1);
  EXPECT_EQ(l.GetNCategorical(), 1);
  EXPECT_EQ(l.GetNUnits(), 4);
  EXPECT_EQ(l.FindName("c"), 1);
  EXPECT_EQ(l.FindName("x1"), -1);
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(0), nullptr);

  const double units[] = {0.5, 0.1, 0.7, 0.2};
  EXPECT_EQ(l.SetOutputs(units), 1.0);  // the last target's winner
  EXPECT_FALSE(l.IsMissing());
  EXPECT_EQ(Cont(l, 0).GetOutput(), 0.5);
  EXPECT_DOUBLE_EQ(Cont(l, 0).GetRealOutput(), 5.0);  // the middle of 0..10
  EXPECT_EQ(Categ(l, 1).GetOutputs(), (std::vector<double>{0.1, 0.7, 0.2}));
  EXPECT_EQ(l.GetOutputAt(2), nullptr);

  // Missing hides the outputs until the next SetOutputs.
  l.SetMissing();
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(1), nullptr);
  EXPECT_EQ(l.SetOutputs(units), 1.0);
  EXPECT_EQ(Categ(l, 1).GetWinningIndex(), 1);
}

TEST(CategOutput, FirstOfEqualMaximaWinsAndLaterOnesMarkATie) {
  struct Case {
    std::vector<double> units;
    int winner;
    bool tie;
  };
  const Case cases[] = {{{0.2, 0.5, 0.5}, 1, true},
                        {{0.5, 0.2, 0.3}, 0, false},
                        {{0.4, 0.9, 0.1}, 1, false},
                        {{0.3, 0.3, 0.3}, 0, true},
                        {{-3.0, -1.0, -2.0}, 1, false}};
  NNCategOutput c(3);
  for (const Case& k : cases) {
    EXPECT_EQ(c.SetOutputs(k.units.data()), k.winner);
    EXPECT_EQ(c.GetWinningIndex(), k.winner);
    EXPECT_EQ(c.GetMaxOutput(), k.units[static_cast<std::size_t>(k.winner)]);
    EXPECT_EQ(c.HasTie(), k.tie);
  }
  NNCatVar var("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kOutput,
               INNVariable::kInteger);
  const NNCategOutput fresh(&var);
  EXPECT_EQ(fresh.GetOutputs(), std::vector<double>(4, VXMV::gMissingValue));
  EXPECT_EQ(fresh.GetWinningIndex(), -1);
}

}  // namespace
