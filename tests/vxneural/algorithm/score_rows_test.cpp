// Scoring many records at once (ScoreRows) against scoring them one by one
// (Score(in, out)), under every pass kernel: block edges, strides wider than
// the records and the outputs, records that cannot be scored among good
// ones, refused arguments, and two threads on one algorithm.
#include <cfloat>
#include <cmath>
#include <thread>

#include "rbf_fixtures.h"
#include "vxneural/network/PassKernel.h"

namespace {

using namespace mlpdriver;
using VXNeural::PassKernel;

constexpr double kUntouched = 777.0;
// Raw records hold x, c, v (the inputs, in list order), then y and z, which
// are not read; encoded ones the five input units and two values past them.
constexpr int kInStride = 5;
constexpr int kEncodedStride = 7;

// Puts back the kernel a test found.
struct KernelGuard {
  PassKernel previous = VXNeural::GetPassKernel();
  ~KernelGuard() { VXNeural::SetPassKernel(previous); }
};

// What one case trains: a name, the kind of network, its targets and how
// its settings differ from the fixtures' small defaults.
struct Shape {
  const char* name;
  bool rbf;
  Targets targets;
  bool encoded;
  bool train;
  std::function<void(NeuralSettings&)> adjust;
};

void PrintTo(const Shape& shape, std::ostream* os) { *os << shape.name; }

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes{
      {"MlpOneHiddenCategorical", false, kCategoricalTarget, false, true, {}},
      {"MlpTwoHiddenBothTargets", false, kBothTargets, false, true,
       [](NeuralSettings& s) {
         auto& m = dynamic_cast<MLPSettings&>(s);
         m.SetNumHiddenLayers(2);
         m.SetNumHiddenUnits(9, 1);
         m.SetNumHiddenUnits(4, 2);
       }},
      {"MlpContinuous", false, kContinuousTarget, false, true, {}},
      {"MlpSigmoidHiddenTanhOutput", false, kContinuousTarget, false, true,
       [](NeuralSettings& s) {
         s.SetActivFnHiddenLayer(VXNNCommon::kSigmoid);
         s.SetActivFnOutputLayer(VXNNCommon::kTanH);
       }},
      {"MlpEncodedRecords", false, kBothTargets, true, true, {}},
      {"MlpNotTrained", false, kCategoricalTarget, false, false, {}},
      {"RbfPlain", true, kCategoricalTarget, false, true,
       [](NeuralSettings& s) { s.SetActivFnHiddenLayer(VXNNCommon::kRadialBasis); }},
      {"RbfNormalizedBothTargets", true, kBothTargets, false, true,
       [](NeuralSettings& s) { s.SetActivFnHiddenLayer(VXNNCommon::kNormalizedRadialBasis); }},
  };
  return shapes;
}

AnyModel Build(const Shape& shape) {
  AnyModel m = MakeAny(shape.rbf, shape.targets, 150, 0, shape.adjust, shape.encoded);
  EXPECT_TRUE(m.Algorithm());
  if (shape.train) {
    EXPECT_TRUE(m.Algorithm()->Train(150, 0).IsOK());
  }
  return m;
}

// 300 records to score, laid out Stride apart. Some raw ones cannot be
// scored: a category outside c's three (50003) or a missing input (50018),
// at the first block's edges and inside later blocks. Encoded ones have
// nothing to refuse.
std::vector<double> Rows(const Shape& shape) {
  std::vector<Record> records = MakeRecords(300, 31);
  if (shape.encoded) {
    const std::vector<Record> train = MakeRecords(150, 1);
    std::vector<double> rows;
    for (const Record& r : records) {
      const std::vector<double> in = EncodeInputsByHand(train, r);
      rows.insert(rows.end(), in.begin(), in.end());
      rows.insert(rows.end(), {99.0, -99.0});
    }
    return rows;
  }
  const std::vector<std::pair<int, std::pair<int, double>>> spoilt{
      {5, {kC, 7.0}},   {40, {kX, kMissing}},  {95, {kV, kMissing}},
      {96, {kC, -1.0}}, {200, {kX, kMissing}}, {299, {kC, 3.0}}};
  for (const auto& s : spoilt) records[s.first][s.second.first] = s.second.second;
  std::vector<double> rows;
  for (const Record& r : records) rows.insert(rows.end(), r.GetAll(), r.GetAll() + kInStride);
  return rows;
}

int Width(const Shape& shape) { return shape.encoded ? 5 : 3; }
int Stride(const Shape& shape) { return shape.encoded ? kEncodedStride : kInStride; }

// Record by record through Score(in, out): each record's outputs (missing
// when it is refused) and the first refusal's status.
struct Expected {
  std::vector<std::vector<double>> outputs;
  std::vector<VXStatus> statuses;
};

Expected ScoreEach(const INeuralAlgorithm& a, const std::vector<double>& rows, int width,
                   int stride, int nOutputs) {
  Expected e;
  for (std::size_t at = 0; at < rows.size(); at += static_cast<std::size_t>(stride)) {
    Record in(std::vector<double>(rows.begin() + at, rows.begin() + at + width));
    Record out;
    e.statuses.push_back(a.Score(in, out));
    if (e.statuses.back().IsOK())
      e.outputs.emplace_back(out.GetAll(), out.GetAll() + out.Size());
    else
      e.outputs.emplace_back(nOutputs, kMissing);
  }
  return e;
}

class ScoreRowsAgreement : public ::testing::TestWithParam<Shape> {};

// Under the reference kernel both paths run the layers' own code record by
// record: the same bits. Under a vector kernel the MLP's per-record Score
// adds each unit's sum along one record's row (two interleaved partial
// sums) and ScoreRows along a register tile of the block (one running
// sum), and the RBF's per-record Score takes the C library's exponential
// where the block takes the kernel's: the same values up to a few rounding
// errors per sum. Outputs here are at most a few units in size, and these
// shapes measured at most 6.5 DBL_EPSILON apart; 32 DBL_EPSILON leaves
// room for that while a slip in any one sum or activation moves an output
// by far more.
TEST_P(ScoreRowsAgreement, EqualsScoreRecordByRecordAtEveryBlockEdge) {
  const Shape& shape = GetParam();
  AnyModel m = Build(shape);
  const INeuralAlgorithm& a = *m.Algorithm();
  const std::vector<double> rows = Rows(shape);
  KernelGuard guard;
  for (PassKernel kernel : VXNeural::AvailablePassKernels()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
    Record probe;
    ASSERT_TRUE(a.Score(Record(std::vector<double>(Width(shape), 0.0)), probe).IsOK());
    const int nOutputs = probe.Size();
    ASSERT_EQ(nOutputs, shape.targets == kBothTargets        ? 3
                        : shape.targets == kContinuousTarget ? 1
                                                             : 2);
    const Expected e = ScoreEach(a, rows, Width(shape), Stride(shape), nOutputs);
    const int outStride = nOutputs + 2;
    double worst = 0.0;
    for (int n : {0, 1, 95, 96, 97, 300}) {
      SCOPED_TRACE(n);
      std::vector<double> out(static_cast<std::size_t>(n) * outStride + 1, kUntouched);
      const VXStatus status = a.ScoreRows(rows.data(), n, Stride(shape), out.data(), outStride);
      VXStatus first;
      for (int i = 0; i < n && first.IsOK(); ++i) first = e.statuses[static_cast<std::size_t>(i)];
      EXPECT_EQ(status, first);
      for (int i = 0; i < n; ++i) {
        const double* o = &out[static_cast<std::size_t>(i) * outStride];
        const std::vector<double>& x = e.outputs[static_cast<std::size_t>(i)];
        for (int j = 0; j < nOutputs; ++j) {
          if (kernel == PassKernel::kReference || x[static_cast<std::size_t>(j)] == kMissing) {
            EXPECT_EQ(o[j], x[static_cast<std::size_t>(j)]) << i << " " << j;
          } else {
            EXPECT_NEAR(o[j], x[static_cast<std::size_t>(j)], 32 * DBL_EPSILON) << i << " " << j;
            worst = std::max(worst, std::fabs(o[j] - x[static_cast<std::size_t>(j)]));
          }
        }
        for (int j = nOutputs; j < outStride; ++j) EXPECT_EQ(o[j], kUntouched) << i;
      }
      EXPECT_EQ(out.back(), kUntouched);
    }
    RecordProperty(std::string("largest_difference_") + VXNeural::PassKernelName(kernel),
                   std::to_string(worst / DBL_EPSILON) + " eps");
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ScoreRowsAgreement, ::testing::ValuesIn(Shapes()),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                           return std::string(info.param.name);
                         });

// The refusals named by the first failure, worked out from the records
// spoilt in Rows: a bad category first (record 5), a missing input first
// (a block starting at 40 would see it first; here, from record 0, the
// category comes first at any n past 5).
TEST(ScoreRows, TheFirstRefusalIsTheStatusAndItsNeighboursAreScored) {
  const Shape& shape = Shapes()[0];
  AnyModel m = Build(shape);
  const INeuralAlgorithm& a = *m.Algorithm();
  const std::vector<double> rows = Rows(shape);
  struct Case {
    int first, n, code;
    std::vector<int> refused;
  };
  const std::vector<Case> cases{{0, 5, 0, {}},
                                {0, 6, 50003, {5}},
                                {6, 90, 50018, {40, 95}},
                                {41, 60, 50018, {95, 96}},
                                {96, 10, 50003, {96}},
                                {97, 203, 50018, {200, 299}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    std::vector<double> out(static_cast<std::size_t>(c.n) * 2, kUntouched);
    const VXStatus status = a.ScoreRows(&rows[static_cast<std::size_t>(c.first) * kInStride], c.n,
                                        kInStride, out.data(), 2);
    EXPECT_EQ(status.GetErrorCode(), c.code);
    EXPECT_EQ(status.GetSeverity(), c.code == 0 ? 0 : -1);
    std::vector<int> refused;
    for (int i = 0; i < c.n; ++i) {
      const double p0 = out[2 * i], p1 = out[2 * i + 1];
      if (p0 == kMissing && p1 == kMissing) {
        refused.push_back(c.first + i);
      } else {
        // Scored: two class probabilities.
        EXPECT_NEAR(p0 + p1, 1.0, 1e-15) << c.first + i;
        EXPECT_GT(p0, 0.0);
        EXPECT_GT(p1, 0.0);
      }
    }
    EXPECT_EQ(refused, c.refused);
  }
}

// Every refusal of an argument, with nothing written; strides are checked
// whatever n is. The model has 3 input fields and 2 output units.
TEST(ScoreRows, RefusesBadArgumentsWithoutWriting) {
  AnyModel m = Build(Shapes()[0]);
  const INeuralAlgorithm& a = *m.Algorithm();
  const std::vector<double> rows = Rows(Shapes()[0]);
  struct Case {
    const char* what;
    int n;
    bool inNull, outNull;
    int inStride, outStride, code;
  };
  const std::vector<Case> cases{
      {"negative count", -1, false, false, 3, 2, 50010},
      {"no records", 1, true, false, 3, 2, 50010},
      {"no outputs", 1, false, true, 3, 2, 50011},
      {"records narrower than the inputs", 2, false, false, 2, 2, 50010},
      {"negative record stride", 2, false, false, -3, 2, 50010},
      {"outputs narrower than the units", 2, false, false, 3, 1, 50011},
      {"narrow stride with no records", 0, false, false, 2, 2, 50010},
      {"nothing to score, nothing given", 0, true, true, 3, 2, 0},
      {"exact widths", 2, false, false, 3, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> out(8, kUntouched);
    const VXStatus status = a.ScoreRows(c.inNull ? nullptr : rows.data(), c.n, c.inStride,
                                        c.outNull ? nullptr : out.data(), c.outStride);
    ExpectStatus(status, c.code);
    if (c.code != 0) {
      EXPECT_EQ(out, std::vector<double>(8, kUntouched));
    }
  }
}

// A cancelled algorithm scores nothing: every output missing, error 1, as
// its one-record Score finds nothing to score either.
TEST(ScoreRows, ACancelledAlgorithmGivesMissingOutputs) {
  host_doubles::CountdownCancel cancel;
  AnyModel m = Build({"Cancelled", false, kCategoricalTarget, false, true,
                      [&](NeuralSettings& s) { s.SetCancelPointer(&cancel); }});
  const INeuralAlgorithm& a = *m.Algorithm();
  const std::vector<double> rows = Rows(Shapes()[0]);
  std::vector<double> out(10, kUntouched);
  ASSERT_TRUE(a.ScoreRows(rows.data(), 5, kInStride, out.data(), 2).IsOK());
  EXPECT_NE(out[0], kMissing);
  cancel.Arm();
  out.assign(10, kUntouched);
  ExpectStatus(a.ScoreRows(rows.data(), 5, kInStride, out.data(), 2), 1);
  EXPECT_EQ(out, std::vector<double>(10, kMissing));
  EXPECT_TRUE(m.Algorithm()->Score(InputsOf(MakeRecords(1, 3)[0])).IsMissing());
}

// Two threads scoring one algorithm at once get what one thread gets, bit
// for bit, under every kernel. The algorithm is a freshly restored one, so
// that its first encodings (which look the encoders up) run in both
// threads together.
TEST(ScoreRows, TwoThreadsOnOneAlgorithmGetTheSingleThreadResults) {
  KernelGuard guard;
  for (const Shape* shape : {&Shapes()[1], &Shapes()[7]}) {
    SCOPED_TRACE(shape->name);
    AnyModel m = Build(*shape);
    const std::string saved = Save(*m.Algorithm(), false);
    const std::vector<double> rows = Rows(*shape);
    const int n = 300, outStride = 3;
    for (PassKernel kernel : VXNeural::AvailablePassKernels()) {
      SCOPED_TRACE(VXNeural::PassKernelName(kernel));
      ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
      std::vector<double> single(n * outStride);
      m.Algorithm()->ScoreRows(rows.data(), n, kInStride, single.data(), outStride);
      auto restored = m.Restore(saved, false);
      ASSERT_TRUE(restored->algorithm);
      const INeuralAlgorithm& a = *restored->algorithm;
      std::vector<double> first(n * outStride), second(n * outStride);
      VXStatus s1, s2;
      std::thread t1([&] {
        for (int k = 0; k < 4; ++k) s1 = a.ScoreRows(rows.data(), n, kInStride, first.data(), 3);
      });
      std::thread t2([&] {
        for (int k = 0; k < 4; ++k) s2 = a.ScoreRows(rows.data(), n, kInStride, second.data(), 3);
      });
      t1.join();
      t2.join();
      EXPECT_EQ(s1, VXStatus(50003, false));
      EXPECT_EQ(s2, s1);
      EXPECT_EQ(first, single);
      EXPECT_EQ(second, single);
    }
  }
}

}  // namespace
