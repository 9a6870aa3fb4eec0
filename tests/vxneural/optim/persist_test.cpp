// The optimizers' saved forms (their layouts: layout_test.cpp): a restored
// optimizer that carries on like the original, and refusal of truncated,
// corrupted and implausible streams in both forms.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/saved_forms.h"
#include "optim_fixtures.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/optim/GradientDescentBatch.h"
#include "vxneural/optim/GradientDescentMBO.h"
#include "vxneural/optim/ScaledConjGrad.h"

namespace {

using namespace optim_fixtures;
using namespace stream_faults;

enum class Kind { kGradientDescent, kScaledConjGrad, kMiniBatch };
const char* NameOf(Kind k) {
  return k == Kind::kGradientDescent  ? "GradientDescentBatch"
         : k == Kind::kScaledConjGrad ? "ScaledConjGrad"
                                      : "GradientDescentMBO";
}

const std::string kBufferBinary = "Error reading RecordBufferIter!\n";
const std::string kBufferXml = "Error restoring VXNeural::RecordBufferIter from XML.\n";

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
  // The value types of the saved fields in order ('i' int, 'd' double).
  std::string Layout(bool buffer) const {
    const std::string head = "iidiii";
    const std::string tail = buffer ? "ii" : "i";
    if (kind == Kind::kMiniBatch) return head + "dddddd" + tail;
    return head + "ddddddd" + "i" + std::string(13, 'd') + "d" + tail;
  }

  Kind kind;
  Problem p;
  VXRandom random{777u, true};
  std::unique_ptr<IOptimizationAlgorithm> opt;
};

class SavedForm : public ::testing::TestWithParam<std::tuple<Kind, bool>> {
 protected:
  SavedForm() : s(std::get<0>(GetParam()), std::get<1>(GetParam())) {}
  bool Buffer() const { return std::get<1>(GetParam()); }
  bool Batch() const { return s.kind != Kind::kMiniBatch; }
  std::size_t MiniBatchField() const { return Batch() ? 28 : 12; }
  Subject s;
};

TEST_P(SavedForm, DamagedAndImplausibleStreamsAreRefused) {
  auto target = s.Fresh();
  saved_forms::ExpectReadersRobust(*s.opt, *target, {s.Own(false), kBufferBinary},
                                   {s.Own(true), kBufferXml});
  // Implausible values, in both forms.
  struct Bad {
    std::size_t field;
    int value;
  };
  const std::size_t miniBatch = MiniBatchField();
  std::vector<Bad> bad = {{0, 9}, {0, -1}, {1, 9}, {1, -1}, {miniBatch, -1}};
  if (Batch()) bad.insert(bad.end(), {{13, 12}, {13, -5}, {13, 0x7fffffff}});
  if (Buffer()) {
    bad.push_back({miniBatch, 5});      // not the buffer's capacity
    bad.push_back({miniBatch + 1, 4});  // not the network's width
  } else {
    bad.push_back({miniBatch, 3});  // a buffer that is not there
  }
  const std::string layout = s.Layout(Buffer());
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
  if (const auto* batch = dynamic_cast<const BatchOptimizer*>(s.opt.get())) {
    EXPECT_EQ(batch->GetRecordBuffer(), nullptr);
  } else {
    EXPECT_EQ(static_cast<const GradientDescentMBO&>(*s.opt).GetMiniBatchSize(), 0);
  }
}

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

INSTANTIATE_TEST_SUITE_P(AllOptimizers, SavedForm,
                         ::testing::Combine(::testing::Values(Kind::kGradientDescent,
                                                              Kind::kScaledConjGrad,
                                                              Kind::kMiniBatch),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(NameOf(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "WithBuffer" : "");
                         });

}  // namespace
