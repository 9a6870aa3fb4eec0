// The saved layouts of the optimizers and of the record buffer they carry:
// a record assembled here field by field is read, every value must arrive
// where it belongs, and the optimizer must write the record again.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "common/layouts.h"
#include "optim_fixtures.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
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
      EXPECT_EQ(opt->GetAlgorithmStatus(), VXNNCommon::kTrained);
      EXPECT_EQ(opt->GetStopReason(), VXNNCommon::kStoppedErrorRatioLimit);
      EXPECT_EQ(opt->GetElapsedTime(), 1.5);
      EXPECT_EQ(std::make_pair(opt->GetNIterations(), opt->GetNDataPasses()), std::make_pair(7, 9));
      EXPECT_EQ(opt->GetNRecordsProcessed(), 11);
      EXPECT_EQ(opt->GetTrainError(), 0.75);
      EXPECT_EQ(opt->GetTestError(), 1.25);
      EXPECT_EQ(opt->GetLastGradientNorm(), o.batch ? 1.5 : 0.0);
      EXPECT_EQ(opt->GetRelChangeInErr(), 1.75);
      EXPECT_EQ(opt->GetErrorRatio(), 2.25);
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

}  // namespace
