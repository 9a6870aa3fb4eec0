// The saved forms of the optimizers, the record buffer they carry, and the
// least-squares solvers and their regression: layouts against records
// assembled here field by field (every value must arrive where it belongs),
// a restored optimizer that carries on like the original, and refusal of
// truncated, corrupted and implausible streams in both forms.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "optim_fixtures.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/network/record_fields.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/MultiVariateRegression.h"
#include "vxneural/optim/RBFLinReg.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;
using namespace stream_faults;
using record_fields::Close;
using record_fields::ExpectFields;
using record_fields::Open;

// Status, stop reason, time, iterations, passes, records; the errors before
// and after (the batch optimizers add the gradient norm between the errors
// and the relative change, then the gradient and the error sum; no one
// saves the accuracy); the mini-batch size and, with a buffer of 8, the
// record width 3 and the buffer (width, capacity, count, cursor, status,
// one record).
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
  if (buffer) {
    Open(s.I(3), "RBI", "RecordBufferIter").I(3).I(8).I(1).I(0).I(0).D(4.0).D(-4.0).D(0.5);
    Close(s);
  }
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
      layouts::Bytes b;
      Values(b.Tag(o.tag), o.batch, buffer);
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
      ExpectFields(*opt, o.make, o.tag, o.name, [&](auto& s) { Values(s, o.batch, buffer); });
    }
  }
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
  const auto regression = [&](auto& s) {
    s.I(2).I(1).I(1).D(1e-8).I(6).Ds({2, 3, 5, 8, 13, 34}).I(2).I(2).I(1).I(1).Ds(b);
    s.I(1).D(line.GetResidualSumOfSquares(0)).I(2);
  };
  ExpectFields(
      line, [] { return std::make_unique<MultiVariateRegression>(); }, "MVR",
      "MultiVariateRegression", regression);

  // Status, stop reason, time, iterations, passes, records, the estimated
  // error, then the regression; every value must arrive where it belongs.
  const auto solver = [&](const std::string& name, auto&& make) {
    SCOPED_TRACE(name);
    const auto fields = [&](auto& s) {
      s.I(VXNNCommon::kTrained).I(VXNNCommon::kStoppedComputed).D(0.5).I(3).I(5).I(150).D(2.25);
      regression(Open(s, "MVR", "MultiVariateRegression"));
      Close(s);
    };
    layouts::Bytes bytes;
    fields(bytes.Tag("LRG"));
    auto s = make();
    std::stringstream in(bytes.s);
    ASSERT_EQ(s->ReadObject(in), static_cast<int>(bytes.s.size()));
    EXPECT_EQ(
        std::make_tuple(s->GetAlgorithmStatus(), s->GetStopReason(), s->GetElapsedTime(),
                        s->GetNIterations(), s->GetNDataPasses(), s->GetNRecordsProcessed(),
                        s->GetEstError()),
        std::make_tuple(VXNNCommon::kTrained, VXNNCommon::kStoppedComputed, 0.5, 3, 5, 150, 2.25));
    ExpectFields(*s, make, "LRG", name, fields);
  };
  solver("RBFLinReg", [] { return std::make_unique<RBFLinReg>(); });
  // One input and one continuous target: the regression fits the network's
  // two output weights.
  MLPSettings settings(1, {1}, 10);
  settings.SetNumHiddenLayers(0);
  NNetwork net(settings);
  solver("LinearRegr", [&] { return std::make_unique<LinearRegr>(&settings, &net); });
}

enum class Kind { kGradientDescent, kScaledConjGrad, kMiniBatch };
const char* NameOf(Kind k) {
  return k == Kind::kGradientDescent  ? "GradientDescentBatch"
         : k == Kind::kScaledConjGrad ? "ScaledConjGrad"
                                      : "GradientDescentMBO";
}

// A trained optimizer of a network of 13 weights; with a buffer, one new
// record waits in its mini-batch buffer of 8 (less than the quarter batch an
// update steps on). A mini-batch optimizer without a buffer is a new one of
// capacity 0, since it cannot train without one.
struct Subject {
  Subject(Kind k, bool buffer) : kind(k), p(LinearProblem({3}, 40, 7, 3)) {
    p.settings->SetMaxNDataPasses(6);
    if (kind == Kind::kMiniBatch)
      p.settings->SetTrainingMethodAndType(VXNNCommon::kGradientDescent, VXNNCommon::kMiniBatch);
    opt = Fresh(buffer ? 8 : 0);
    if (kind == Kind::kMiniBatch && !buffer) return;
    auto train = VectorRecordIter::Borrow(p.records);
    VXStatus status;
    opt->Train(status, train, nullptr, 1000, 0);
    if (buffer) {
      p.settings->SetUpdateType(VXNNCommon::kMiniBatch);
      p.settings->SetMiniBatchSize(8);
      Update(LinearRecords(1, 5));
    }
  }
  std::unique_ptr<IOptimizationAlgorithm> Fresh(int capacity = 2) {
    if (kind == Kind::kGradientDescent)
      return std::make_unique<GradientDescentBatch>(p.settings.get(), p.net.get());
    if (kind == Kind::kScaledConjGrad)
      return std::make_unique<ScaledConjGrad>(p.settings.get(), p.net.get());
    return std::make_unique<GradientDescentMBO>(p.settings.get(), p.net.get(), 3, capacity,
                                                &random);
  }
  // The mini-batch optimizer reports its update on standard output.
  void Update(const std::vector<Record>& fresh) {
    auto train = VectorRecordIter::Borrow(p.records);
    auto source = VectorRecordIter::Borrow(fresh);
    VXStatus status;
    bool changed = false;
    std::ostringstream quiet;
    auto* old = std::cout.rdbuf(quiet.rdbuf());
    opt->Update(status, train, source, static_cast<int>(fresh.size()), changed);
    std::cout.rdbuf(old);
  }
  std::string Own(bool xml) const {
    return std::string(xml ? "Failure reading " : "Error reading ") + NameOf(kind) + "!\n";
  }

  Kind kind;
  Problem p;
  VXRandom random{777u, true};
  std::unique_ptr<IOptimizationAlgorithm> opt;
};

class SavedForm : public ::testing::TestWithParam<std::tuple<Kind, bool>> {};

TEST_P(SavedForm, DamagedAndImplausibleStreamsAreRefused) {
  const auto [kind, buffer] = GetParam();
  Subject s(kind, buffer);
  auto target = s.Fresh();
  saved_forms::ExpectReadersRobust(
      *s.opt, *target, {s.Own(false), "Error reading RecordBufferIter!\n"},
      {s.Own(true), "Error restoring VXNeural::RecordBufferIter from XML.\n"});
  // Implausible values, in both forms; the value types of the saved fields
  // in order ('i' int, 'd' double).
  const bool batch = kind != Kind::kMiniBatch;
  const std::size_t miniBatch = batch ? 28 : 12;
  struct Bad {
    std::size_t field;
    int value;
  };
  std::vector<Bad> bad = {{0, 9}, {0, -1}, {1, 9}, {1, -1}, {miniBatch, -1}};
  if (batch) bad.insert(bad.end(), {{13, 12}, {13, -5}, {13, 0x7fffffff}});
  if (buffer) {
    bad.push_back({miniBatch, 5});      // not the buffer's capacity
    bad.push_back({miniBatch + 1, 4});  // not the network's width
  } else {
    bad.push_back({miniBatch, 3});  // a buffer that is not there
  }
  const std::string layout =
      std::string("iidiii") +
      (batch ? "ddddddd" + std::string("i") + std::string(13, 'd') + "d" : "dddddd") +
      (buffer ? "ii" : "i");
  target = s.Fresh();
  for (const bool xml : {false, true}) {
    const std::string good = saved_forms::Saved(*s.opt, xml);
    std::vector<std::string> damaged;
    for (const Bad& b : bad)
      damaged.push_back(xml ? WithXmlValue(good, b.field, std::to_string(b.value))
                            : WithInt32(good, FieldOffset(3, layout, b.field), b.value));
    saved_forms::ExpectAllRefused(*target, xml, damaged, {s.Own(xml)});
  }
  // A bufferless record read over the optimizer drops the buffer it had.
  std::stringstream plain(saved_forms::Saved(*s.Fresh(0), false));
  s.opt->ReadObject(plain);
  if (const auto* b = dynamic_cast<const BatchOptimizer*>(s.opt.get())) {
    EXPECT_EQ(b->GetRecordBuffer(), nullptr);
  } else {
    EXPECT_EQ(static_cast<const GradientDescentMBO&>(*s.opt).GetMiniBatchSize(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(AllOptimizers, SavedForm,
                         ::testing::Combine(::testing::Values(Kind::kGradientDescent,
                                                              Kind::kScaledConjGrad,
                                                              Kind::kMiniBatch),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(NameOf(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "WithBuffer" : "");
                         });

TEST(SavedModel, RestoredOptimizerCarriesOnLikeTheOriginal) {
  for (const Kind kind : {Kind::kGradientDescent, Kind::kScaledConjGrad, Kind::kMiniBatch})
    for (const bool xml : {false, true}) {
      SCOPED_TRACE(std::string(NameOf(kind)) + (xml ? " XML" : " binary"));
      Subject a(kind, true), b(kind, true);
      b.p.net->SetWeights(UniformWeights(13, 8, -1.0, 1.0));
      b.random.SetSeed(5);
      // A model's parts: settings (with the momentum a run stores),
      // generator, network, optimizer.
      std::stringstream model;
      auto save = [&](const auto& part) {
        xml ? part.WriteObjectXML(model) : part.WriteObject(model);
      };
      auto read = [&](auto& part) { xml ? part.ReadObjectXML(model) : part.ReadObject(model); };
      save(*a.p.settings), save(a.random), save(*a.p.net), save(*a.opt);
      read(*b.p.settings), read(b.random), read(*b.p.net), read(*b.opt);
      EXPECT_EQ(saved_forms::Saved(*b.opt, false), saved_forms::Saved(*a.opt, false));
      // An update that starts from the waiting record, then a new run.
      for (Subject* x : {&a, &b}) {
        x->Update(LinearRecords(19, 13));
        x->p.settings->SetMaxNDataPasses(12);
        auto train = VectorRecordIter::Borrow(x->p.records);
        VXStatus status;
        x->opt->Train(status, train, nullptr, 1000, 0);
      }
      ExpectWeightsNear(WeightsOf(*b.p.net), WeightsOf(*a.p.net), 0.0);
      EXPECT_EQ(b.random.GetSeed(), a.random.GetSeed());
      EXPECT_EQ(b.p.settings->GetAlpha(), a.p.settings->GetAlpha());
      EXPECT_EQ(b.opt->GetNIterations(), a.opt->GetNIterations());
      EXPECT_EQ(b.opt->GetNRecordsProcessed(), a.opt->GetNRecordsProcessed());
      EXPECT_EQ(b.opt->GetTrainError(), a.opt->GetTrainError());
    }
}

}  // namespace
