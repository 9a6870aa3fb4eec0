// The saved layouts of the optimizers and of the record buffer they carry,
// and of the least-squares solvers and their regression: a record assembled
// here field by field is read, every value must arrive where it belongs,
// and the object must write the record again.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "common/layouts.h"
#include "optim_fixtures.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/MultiVariateRegression.h"
#include "vxneural/optim/RBFLinReg.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using layouts::Bytes;
using layouts::Xml;
using namespace optim_fixtures;

// Status, stop reason, time, iterations, passes, records; the errors before
// and after (the batch optimizers add the gradient norm between the errors
// and the relative change, then the gradient and the error sum; no one
// saves the accuracy); the mini-batch size and, with a buffer of 8, the
// record width 3 and the buffer holding one record.
template <typename Sink>
void Values(Sink& s, bool batch, bool buffer) {
  s.I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedErrorRatioLimit).D(1.5).I(7).I(9).I(11);
  s.D(0.25).D(0.5).D(0.75).D(1.25);
  if (batch) s.D(1.5);
  s.D(1.75).D(2.25);
  if (batch) {
    s.I(13);
    for (int k = 0; k < 13; ++k) s.D(k + 0.5);
    s.D(3.5);
  }
  s.I(buffer ? 8 : 0);
  if (buffer) s.I(3);
}

template <typename Sink>
void BufferValues(Sink& s) {
  // Width, capacity, count, cursor, status, the record.
  s.I(3).I(8).I(1).I(0).I(0).D(4.0).D(-4.0).D(0.5);
}

TEST(OptimizerLayouts, EveryOptimizerWithAndWithoutBuffer) {
  Problem p = LinearProblem({3}, 4, 7, 3);
  VXRandom random(1, true);
  using Make = std::function<std::unique_ptr<IOptimizationAlgorithm>()>;
  const struct {
    const char *tag, *name;
    bool batch;
    Make make;
  } optimizers[] = {
      {"GDB", "GradientDescentBatch", true,
       [&] { return std::make_unique<GradientDescentBatch>(p.settings.get(), p.net.get()); }},
      {"SCG", "ScaledConjGrad", true,
       [&] { return std::make_unique<ScaledConjGrad>(p.settings.get(), p.net.get()); }},
      {"GDM", "GradientDescentMBO", false,
       [&] {
         return std::make_unique<GradientDescentMBO>(p.settings.get(), p.net.get(), 3, 8, &random);
       }},
  };
  for (const auto& o : optimizers) {
    for (bool buffer : {false, true}) {
      SCOPED_TRACE(std::string(o.name) + (buffer ? " with a buffer" : ""));
      Bytes b;
      Xml x;
      Values(b.Tag(o.tag), o.batch, buffer);
      Values(x.Obj(o.name), o.batch, buffer);
      if (buffer) {
        BufferValues(b.Tag("RBI"));
        BufferValues(x.Obj("RecordBufferIter"));
        x.End();
      }
      x.End();
      auto opt = o.make();
      std::stringstream in(b.s);
      ASSERT_EQ(opt->ReadObject(in), static_cast<int>(b.s.size()));
      // Read into the object whose layout is checked: a consistent swap in
      // both directions shows here only.
      EXPECT_EQ(
          std::make_tuple(opt->GetAlgorithmStatus(), opt->GetStopReason(), opt->GetNIterations(),
                          opt->GetNDataPasses(), opt->GetNRecordsProcessed()),
          std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedErrorRatioLimit, 7, 9, 11));
      EXPECT_EQ((std::vector<double>{opt->GetElapsedTime(), opt->GetTrainError(),
                                     opt->GetTestError(), opt->GetLastGradientNorm(),
                                     opt->GetRelChangeInErr(), opt->GetErrorRatio()}),
                (std::vector<double>{1.5, 0.75, 1.25, o.batch ? 1.5 : 0.0, 1.75, 2.25}));
      std::ostringstream shown;
      opt->Display(shown);
      EXPECT_NE(shown.str().find("fTrainErrorPrev = 0.25\n"), std::string::npos);
      EXPECT_NE(shown.str().find("fTestErrorPrev = 0.5\n"), std::string::npos);
      if (o.batch) {
        const auto& batch = static_cast<const BatchOptimizer&>(*opt);
        EXPECT_EQ(batch.GetAccumGradient()[12], 12.5);
        EXPECT_EQ(batch.GetAccumError(), 3.5);
        EXPECT_EQ(batch.GetMiniBatchSize(), buffer ? 8 : 0);
      }
      layouts::ExpectLayout(*opt, o.make, b, x);
    }
  }
}

// Status, stop reason, time, iterations, passes, records, the estimated
// error, then the regression; every value must arrive where it belongs.
template <typename Make>
void ExpectSolverLayout(const std::string& name, Make&& make, const Bytes& regression,
                        const Xml& regressionXml) {
  SCOPED_TRACE(name);
  Bytes b;
  Xml x;
  b.Tag("LRG").I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedComputed).D(0.5).I(3).I(5);
  b.I(150).D(2.25).Add(regression);
  x.Obj(name).I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedComputed).D(0.5).I(3).I(5);
  x.I(150).D(2.25).Add(regressionXml).End();
  auto s = make();
  std::stringstream in(b.s);
  ASSERT_EQ(s->ReadObject(in), static_cast<int>(b.s.size()));
  EXPECT_EQ(
      std::make_tuple(s->GetAlgorithmStatus(), s->GetStopReason(), s->GetElapsedTime(),
                      s->GetNIterations(), s->GetNDataPasses(), s->GetNRecordsProcessed(),
                      s->GetEstError()),
      std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, 0.5, 3, 5, 150, 2.25));
  layouts::ExpectLayout(*s, make, b, x);
}

TEST(SolverLayouts, RegressionAndBothSolvers) {
  // y = 1 + 2x through (1, 3) and (2, 5).
  MultiVariateRegression line(1, true, 1);
  const double xs[] = {1, 2}, ys[] = {3, 5};
  for (int r = 0; r < 2; ++r) line.AddRecord(&xs[r], 1, &ys[r], 1, 1.0);
  ASSERT_EQ(line.EstimateCoefficients(true), 2);
  std::vector<double> b(2);
  line.GetCoefficients(0, b.data());
  // Regressors with the constant, the constant flag, dependents, tolerance;
  // the rows of z z' for z = (1, x, y) summed; cases; the swept flags; the
  // coefficients (the sweep's last bits taken as they are); the residual
  // sums of squares; the status.
  const auto values = [&](auto& s) {
    s.I(2).I(1).I(1).D(1e-8).I(6).Ds({2, 3, 5, 8, 13, 34}).I(2).I(2).I(1).I(1).Ds(b);
    s.I(1).D(line.GetResidualSumOfSquares(0)).I(2);
  };
  Bytes mb;
  Xml mx;
  values(mb.Tag("MVR"));
  values(mx.Obj("MultiVariateRegression"));
  mx.End();
  layouts::ExpectLayout(
      line, [] { return std::make_unique<MultiVariateRegression>(); }, mb, mx);

  ExpectSolverLayout(
      "RBFLinReg", [] { return std::make_unique<RBFLinReg>(); }, mb, mx);
  // One input and one continuous target: the regression fits the network's
  // two output weights.
  MLPSettings settings(1, {1}, 10);
  settings.SetNumHiddenLayers(0);
  NNetwork net(settings);
  ExpectSolverLayout(
      "LinearRegr", [&] { return std::make_unique<LinearRegr>(&settings, &net); }, mb, mx);
}

}  // namespace
