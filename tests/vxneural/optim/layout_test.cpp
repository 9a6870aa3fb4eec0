// The saved layouts of the batch optimizers and of the record buffer they
// carry, field by field against records assembled here.
#include <gtest/gtest.h>

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

// An optimizer whose progress record holds distinct literal values, with
// or without one record of 3 values waiting in a buffer of 8.
template <typename T>
struct Filled : T {
  Filled(MLPSettings* s, NNetwork* n, bool buffer) : T(s, n) {
    this->fAlgorithmStatus = VXNNCommon::kTrained;
    this->fStopReason = VXNNCommon::kStoppedErrorRatioLimit;
    this->fElapsedTime = 1.5;
    this->fNIterations = 7;
    this->fNDataPasses = 9;
    this->fNRecordsProcessed = 11;
    this->PutValues({0.25, 0.5, 0.75, 1.25, 1.5, 1.75, 2.25, 0.875});
    for (std::size_t k = 0; k < this->fAccumGradient.size(); ++k) this->fAccumGradient[k] = k + 0.5;
    this->fAccumError = 3.5;
    if (!buffer) return;
    this->fMiniBatchSize = 8;
    this->fRecordBuffer = std::make_unique<VXNeural::RecordBufferIter>(3, 8);
    this->fRecordBuffer->Add(VXCommon_1_2::Record(std::vector<double>{4.0, -4.0, 0.5}));
  }
};

template <typename Sink>
void OptimizerValues(Sink& s, int gradientLength, bool buffer) {
  s.I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedErrorRatioLimit).D(1.5).I(7).I(9).I(11);
  // Errors before and after, gradient norm, relative change, ratio (no accuracy).
  s.D(0.25).D(0.5).D(0.75).D(1.25).D(1.5).D(1.75).D(2.25).I(gradientLength);
  for (int k = 0; k < gradientLength; ++k) s.D(k + 0.5);
  s.D(3.5).I(buffer ? 8 : 0);
  if (buffer) s.I(3);
}

// The buffer: width, capacity, count, cursor, status, the records.
template <typename Sink>
void BufferValues(Sink& s, const VXNeural::RecordBufferIter& b) {
  s.I(3).I(8).I(1).I(0).I(const_cast<VXNeural::RecordBufferIter&>(b).GetStatus());
  s.D(4.0).D(-4.0).D(0.5);
}

template <typename T>
void ExpectOptimizerLayout(const char* tag, const char* name) {
  for (bool buffer : {false, true}) {
    SCOPED_TRACE(std::string(name) + (buffer ? " with a buffer" : ""));
    Problem p = LinearProblem({3}, 4, 7, 3);
    const Filled<T> opt(p.settings.get(), p.net.get(), buffer);
    Bytes b;
    Xml x;
    OptimizerValues(b.Tag(tag), 13, buffer);
    OptimizerValues(x.Obj(name), 13, buffer);
    if (buffer) {
      BufferValues(b.Tag("RBI"), *opt.GetRecordBuffer());
      BufferValues(x.Obj("RecordBufferIter"), *opt.GetRecordBuffer());
      x.End();
    }
    layouts::ExpectLayout(
        opt, [&] { return std::make_unique<T>(p.settings.get(), p.net.get()); }, b, x.End());
  }
}

TEST(OptimizerLayouts, GradientDescentBatch) {
  ExpectOptimizerLayout<GradientDescentBatch>("GDB", "GradientDescentBatch");
}

TEST(OptimizerLayouts, ScaledConjGrad) {
  ExpectOptimizerLayout<ScaledConjGrad>("SCG", "ScaledConjGrad");
}

// The mini-batch optimizer keeps its fields to itself: a record assembled
// here is read, the values must arrive where they belong, and the
// optimizer must write the record again.
TEST(OptimizerLayouts, GradientDescentMBO) {
  for (bool buffer : {false, true}) {
    SCOPED_TRACE(buffer ? "with a buffer" : "without a buffer");
    Problem p = LinearProblem({3}, 4, 7, 3);
    VXRandom random(1, true);
    const auto make = [&] {
      return std::make_unique<GradientDescentMBO>(p.settings.get(), p.net.get(), 3, 8, &random);
    };
    Bytes b;
    Xml x;
    const auto values = [&](auto& s) {
      s.I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedErrorRatioLimit).D(1.5).I(7).I(9).I(11);
      s.D(0.25).D(0.5).D(0.75).D(1.25).D(1.75).D(2.25).I(buffer ? 8 : 0);
      if (buffer) s.I(3);
    };
    values(b.Tag("GDM"));
    values(x.Obj("GradientDescentMBO"));
    if (buffer) {
      const auto contents = [](auto& s) { s.I(3).I(8).I(1).I(0).I(0).D(4.0).D(-4.0).D(0.5); };
      contents(b.Tag("RBI"));
      contents(x.Obj("RecordBufferIter"));
      x.End();
    }
    x.End();
    auto opt = make();
    std::stringstream in(b.s);
    ASSERT_EQ(opt->ReadObject(in), static_cast<int>(b.s.size()));
    EXPECT_EQ(opt->GetAlgorithmStatus(), VXNNCommon::kTrained);
    EXPECT_EQ(opt->GetStopReason(), VXNNCommon::kStoppedErrorRatioLimit);
    EXPECT_EQ(opt->GetElapsedTime(), 1.5);
    EXPECT_EQ(opt->GetNIterations(), 7);
    EXPECT_EQ(opt->GetNDataPasses(), 9);
    EXPECT_EQ(opt->GetNRecordsProcessed(), 11);
    EXPECT_EQ(opt->GetTrainError(), 0.75);
    EXPECT_EQ(opt->GetTestError(), 1.25);
    EXPECT_EQ(opt->GetRelChangeInErr(), 1.75);
    EXPECT_EQ(opt->GetErrorRatio(), 2.25);
    std::ostringstream shown;
    opt->Display(shown);
    EXPECT_NE(shown.str().find("fTrainErrorPrev = 0.25\n"), std::string::npos);
    EXPECT_NE(shown.str().find("fTestErrorPrev = 0.5\n"), std::string::npos);
    EXPECT_EQ(opt->GetMiniBatchSize(), buffer ? 8 : 0);
    if (buffer) {
      EXPECT_EQ(opt->GetRecordBuffer().GetCount(), 1);
    }
    layouts::ExpectLayout(*opt, make, b, x);
  }
}

}  // namespace
