// The output list: how network units become predictions (winners, ties,
// unnormalized continuous values) and how the missing flag guards them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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

}  // namespace

TEST(OutputList, BuiltFromTheTargetsOfAVariableList) {
  const NNOutputList l(TwoTargets());
  EXPECT_EQ(l.Size(), 2);
  EXPECT_EQ(l.GetNContinuous(), 1);
  EXPECT_EQ(l.GetNCategorical(), 1);
  EXPECT_EQ(l.GetNUnits(), 4);
  EXPECT_EQ(l.FindName("y"), 0);
  EXPECT_EQ(l.FindName("c"), 1);
  EXPECT_EQ(l.FindName("x1"), -1);
  EXPECT_EQ(l.FindName("nope"), -1);
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(0), nullptr);
}

TEST(OutputList, SplitsUnitsAmongTargets) {
  NNOutputList l(TwoTargets());
  const double units[] = {0.5, 0.1, 0.7, 0.2};
  // The last target's winner: category 1.
  EXPECT_EQ(l.SetOutputs(units), 1.0);
  EXPECT_FALSE(l.IsMissing());
  const NNContOutput& y = Cont(l, 0);
  EXPECT_EQ(y.GetOutputType(), INNOutput::kContinuous);
  EXPECT_EQ(y.GetOutput(), 0.5);
  // Min/range scaling on 0..10: 0.5 is the middle, 5.
  EXPECT_DOUBLE_EQ(y.GetRealOutput(), 5.0);
  const NNCategOutput& c = Categ(l, 1);
  EXPECT_EQ(c.GetOutputType(), INNOutput::kCategorical);
  EXPECT_EQ(c.GetOutputs(), (std::vector<double>{0.1, 0.7, 0.2}));
  EXPECT_EQ(c.GetWinningIndex(), 1);
  EXPECT_EQ(c.GetMaxOutput(), 0.7);
  EXPECT_FALSE(c.HasTie());
  EXPECT_EQ(l.GetOutputAt(2), nullptr);
  EXPECT_EQ(l.GetOutputAt(-1), nullptr);
}

TEST(OutputList, ContinuousOutputIsUnnormalizedWithoutMissingTest) {
  NNContOutput identity;
  EXPECT_EQ(identity.GetOutput(), VXMV::gMissingValue);
  EXPECT_EQ(identity.GetRealOutput(), VXMV::gMissingValue);
  const double u = 3.25;
  EXPECT_EQ(identity.SetOutputs(&u), 3.25);

  // y = 2x - 1 on the range 0..10: a unit of 3 is x = 2.
  NNContVar var("t", "", 0, 10, 5, 1, INNVariable::kOutput, INNVariable::kReal);
  ASSERT_TRUE(var.SetupEncoder(VXNNCommon::kNoStandardization));
  *var.GetLinearEncoder() = NNLinearEncoder(0.0, -1.0, 10.0, 19.0);
  NNContOutput scaled(&var);
  const double unit = 3.0;
  EXPECT_DOUBLE_EQ(scaled.SetOutputs(&unit), 2.0);
  // A missing unit is unnormalized like any other value.
  const double missing = VXMV::gMissingValue;
  EXPECT_EQ(identity.SetOutputs(&missing), VXMV::gMissingValue);
}

TEST(CategOutput, FirstOfEqualMaximaWinsAndMarksTheTie) {
  NNCategOutput c(3);
  const double tied[] = {0.2, 0.5, 0.5};
  EXPECT_EQ(c.SetOutputs(tied), 1.0);
  EXPECT_EQ(c.GetWinningIndex(), 1);
  EXPECT_EQ(c.GetMaxOutput(), 0.5);
  EXPECT_TRUE(c.HasTie());

  const double clear[] = {0.5, 0.2, 0.3};
  EXPECT_EQ(c.SetOutputs(clear), 0.0);
  EXPECT_EQ(c.GetWinningIndex(), 0);
  EXPECT_FALSE(c.HasTie());

  // Equal values before the winner are no tie: only later ones count.
  const double earlier[] = {0.4, 0.9, 0.1};
  c.SetOutputs(earlier);
  EXPECT_FALSE(c.HasTie());
  const double allEqual[] = {0.3, 0.3, 0.3};
  EXPECT_EQ(c.SetOutputs(allEqual), 0.0);
  EXPECT_TRUE(c.HasTie());
  const double negative[] = {-3.0, -1.0, -2.0};
  EXPECT_EQ(c.SetOutputs(negative), 1.0);
  EXPECT_EQ(c.GetMaxOutput(), -1.0);
}

TEST(CategOutput, ConstructionState) {
  NNCatVar var("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kOutput,
               INNVariable::kInteger);
  const NNCategOutput c(&var);
  EXPECT_EQ(c.GetNUnits(), 4);
  EXPECT_EQ(c.GetOutputs(), std::vector<double>(4, VXMV::gMissingValue));
  EXPECT_EQ(c.GetMaxOutput(), VXMV::gMissingValue);
  EXPECT_EQ(c.GetWinningIndex(), -1);
  EXPECT_FALSE(c.HasTie());
  std::ostringstream out;
  c.Display(out);
  EXPECT_NE(out.str().find("Index of first maximum value is undefined\n"), std::string::npos);

  NNCategOutput none(0);
  const double unused = 1.0;
  EXPECT_EQ(none.SetOutputs(&unused), 0.0);
  EXPECT_EQ(none.GetWinningIndex(), 0);
}

TEST(OutputList, MissingFlagHidesAndRestoresOutputs) {
  NNOutputList l(std::vector<int>{1, 3});
  const double units[] = {0.25, 0.0, 0.0, 1.0};
  l.SetOutputs(units);
  ASSERT_NE(l.GetOutputAt(0), nullptr);
  l.SetMissing();
  EXPECT_TRUE(l.IsMissing());
  EXPECT_EQ(l.GetOutputAt(0), nullptr);
  EXPECT_EQ(l.GetOutputAt(1), nullptr);
  const double next[] = {0.75, 0.9, 0.0, 0.1};
  EXPECT_EQ(l.SetOutputs(next), 0.0);
  EXPECT_FALSE(l.IsMissing());
  EXPECT_EQ(Cont(l, 0).GetRealOutput(), 0.75);
  EXPECT_EQ(Categ(l, 1).GetWinningIndex(), 0);
}

TEST(OutputList, BuiltFromCategoryCounts) {
  NNOutputList l(std::vector<int>{2, 1, 4});
  EXPECT_EQ(l.Size(), 3);
  EXPECT_EQ(l.GetNCategorical(), 2);
  EXPECT_EQ(l.GetNContinuous(), 1);
  EXPECT_EQ(l.GetNUnits(), 7);
  // No names at all.
  EXPECT_EQ(l.FindName(""), -1);
  EXPECT_TRUE(l.GetNames().empty());
  const double units[] = {0.1, 0.9, -7.5, 0.0, 0.0, 0.6, 0.6};
  EXPECT_EQ(l.SetOutputs(units), 2.0);
  EXPECT_EQ(Categ(l, 0).GetWinningIndex(), 1);
  EXPECT_EQ(Cont(l, 1).GetRealOutput(), -7.5);
  EXPECT_TRUE(Categ(l, 2).HasTie());

  NNOutputList empty;
  EXPECT_EQ(empty.SetOutputs(units), VXMV::gMissingValue);
  EXPECT_TRUE(empty.IsMissing());
  EXPECT_EQ(empty.Size(), 0);
}

TEST(OutputList, CopiesAreDeep) {
  NNOutputList a(TwoTargets());
  const double units[] = {0.5, 0.1, 0.7, 0.2};
  a.SetOutputs(units);
  NNOutputList b(a);
  NNOutputList c;
  c = a;
  const double other[] = {0.0, 0.9, 0.0, 0.0};
  a.SetOutputs(other);
  for (const NNOutputList* copy : {&b, &c}) {
    EXPECT_FALSE(copy->IsMissing());
    EXPECT_EQ(copy->FindName("c"), 1);
    EXPECT_EQ(Categ(*copy, 1).GetWinningIndex(), 1);
    EXPECT_DOUBLE_EQ(Cont(*copy, 0).GetRealOutput(), 5.0);
    EXPECT_NE(copy->GetOutputAt(0), a.GetOutputAt(0));
  }
  EXPECT_EQ(Categ(a, 1).GetWinningIndex(), 0);
}

TEST(OutputList, Display) {
  NNOutputList l(TwoTargets());
  std::ostringstream out;
  l.Display(out);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("\nNNOutputList object: Number of categorical = 1, continuous = 1\n", 0),
            0u);
  EXPECT_NE(text.find("\tOutput variable names: y c\n"), std::string::npos);
  EXPECT_NE(text.find("Start of NNContOutput display\n"), std::string::npos);
  EXPECT_NE(text.find("End of NNCategOutput display\n"), std::string::npos);
  EXPECT_NE(text.find("\tThe output is missing.\n"), std::string::npos);
}
