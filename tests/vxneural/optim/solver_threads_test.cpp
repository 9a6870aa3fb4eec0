// The output solvers' passes on the pass threads: the cross-products, the
// solved weights and the errors are the same bits for 1, 2, 3 and 8
// threads with every kernel, and agree with sums worked out here record by
// record in long double.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <valarray>
#include <vector>

#include "common/in_process_combiner.h"
#include "common/pass_settings.h"
#include "network/SharedRun.h"
#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/VXRandom.h"
#include "vxneural/network/network_fixtures.h"
#include "vxneural/optim/LinearRegr.h"
#include "vxneural/optim/MultiVariateRegression.h"
#include "vxneural/optim/RBFLinReg.h"

namespace {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

const int kThreadCounts[] = {1, 2, 3, 8};

// Everything a pass leaves that must not depend on the thread count.
struct Outcome {
  std::vector<double> values;  // matrix, output weights, errors
  bool operator==(const Outcome& o) const {
    return values.size() == o.values.size() &&
           std::memcmp(values.data(), o.values.data(), values.size() * sizeof(double)) == 0;
  }
};

void Append(Outcome& o, const std::valarray<double>& v) {
  o.values.insert(o.values.end(), std::begin(v), std::end(v));
}

Outcome OutcomeOf(const MultiVariateRegression& r, const NNetwork& net, double error) {
  Outcome o;
  Append(o, r.GetMatrix());
  std::valarray<double> w;
  net.GetWeights(w);
  Append(o, w);
  o.values.push_back(error);
  return o;
}

// z = (1 when the constant is in, the regressors, the targets) of each
// record, worked out from the layer's definition: exp(-d / 2) with d the
// sum of (x_i - c_ji)^2 / a_j over the centres in use, 0 for the units
// above, divided by their sum when normalised.
std::vector<std::vector<long double>> ZRows(const NNetwork& net, const std::vector<Record>& records,
                                            bool hidden, bool constant) {
  std::vector<std::vector<long double>> rows;
  const int nIn = net.GetNumInputs(), nOut = net.GetNumOutputs();
  for (const Record& rec : records) {
    const double* x = rec.GetAll();
    std::vector<long double> z;
    if (constant) z.push_back(1.0L);
    if (hidden) {
      const auto* h = static_cast<const RBFHiddenLayer*>(net.GetLayer(1));
      std::vector<long double> u(static_cast<std::size_t>(h->GetNumUnits()), 0.0L);
      long double sum = 0.0L;
      for (int j = 0; j < h->GetNumCenters(); ++j) {
        long double d = 0.0L;
        for (int i = 0; i < nIn; ++i) {
          const long double diff = static_cast<long double>(x[i]) - h->GetCenters()[j][i];
          d += diff * diff / h->GetUnitVariance(j);
        }
        u[static_cast<std::size_t>(j)] = std::exp(-0.5L * d);
        sum += u[static_cast<std::size_t>(j)];
      }
      if (h->GetActivationFunction() == VXNNCommon::kNormalizedRadialBasis)
        for (long double& v : u) v /= sum;
      z.insert(z.end(), u.begin(), u.end());
    } else {
      z.insert(z.end(), x, x + nIn);
    }
    z.insert(z.end(), x + nIn, x + nIn + nOut);
    rows.push_back(std::move(z));
  }
  return rows;
}

// The packed sums of z z^T agree with the long double ones within 1e-12 of
// the sum of the terms' magnitudes: each sum adds at most a thousand
// rounded terms (about 1000 x 1.1e-16 of that magnitude), and the kernels'
// exponentials are within a few units in the last place.
void ExpectSums(const MultiVariateRegression& r, const std::vector<std::vector<long double>>& z) {
  const int m = static_cast<int>(z[0].size());
  ASSERT_EQ(r.GetMatrix().size(), std::size_t(m) * (m + 1) / 2);
  ASSERT_EQ(r.GetCaseCount(), int(z.size()));
  std::size_t at = 0;
  for (int a = 0; a < m; ++a)
    for (int b = 0; b <= a; ++b, ++at) {
      long double sum = 0.0L, size = 0.0L;
      for (const auto& row : z) {
        sum += row[a] * row[b];
        size += std::fabs(row[a] * row[b]);
      }
      ASSERT_NEAR(r.GetMatrix()[at], double(sum), 1e-12 * double(size) + 1e-300)
          << "entry (" << a << ", " << b << ")";
    }
}

// An RBF network of 5 inputs, a continuous and a 3-class target, 7 hidden
// units of which 6 are in use, with random centres and widths.
struct RbfCase {
  RBFSettings settings{5, {1, 3}, 1000};
  std::unique_ptr<NNetwork> net;
  explicit RbfCase(VXNNCommon::ActivationFunction f) {
    settings.SetActivFnHiddenLayer(f);
    settings.SetNumHiddenUnits(7, 1);
    net = std::make_unique<NNetwork>(settings);
    VXRandom rng(5, true);
    net->RandomizeWeights(rng, -1.0, 1.0);
    net->GetRBFHiddenLayer()->SetNumCenters(6);
  }
};

TEST(SolverPassThreads, RbfTrainingPassIsTheSameBitsForAnyThreadCount) {
  pass_settings::Restore guard;
  // 1000 records: ten whole blocks and a part, read in batches whose size
  // follows the thread count.
  const std::vector<Record> records = network_fixtures::MakeRecords(5, {1, 3}, 1000, 21);
  for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels())
    for (auto f : {VXNNCommon::kRadialBasis, VXNNCommon::kNormalizedRadialBasis}) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(kernel)) +
                   (f == VXNNCommon::kRadialBasis ? ", plain" : ", normalised"));
      ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
      Outcome first;
      for (int threads : kThreadCounts) {
        ASSERT_TRUE(VXNeural::SetPassThreads(threads));
        RbfCase c(f);
        RBFLinReg solver(&c.settings, c.net.get());
        VectorRecordIter source(records);
        ASSERT_EQ(solver.TrainPass(source, 100000), VXStatus());
        EXPECT_EQ(solver.GetNRecordsProcessed(), 1000);
        const Outcome o = OutcomeOf(*solver.GetRegression(), *c.net, solver.GetEstError());
        if (threads == 1) {
          first = o;
          ExpectSums(*solver.GetRegression(),
                     ZRows(*c.net, records, true, f == VXNNCommon::kRadialBasis));
        } else {
          EXPECT_TRUE(o == first) << threads << " threads";
        }
      }
    }
}

// Weights far from the first records' fit that the later records follow
// up to a little noise: the update's fit of all records is worse than they
// are on old and new records together, so it keeps them and reports their
// error, the trained error plus half their squared errors on the new
// records.
std::valarray<double> Planted() {
  return {0.5, 2.0, -1.5, 1.0, -0.5, 1.0, 2.0, -2.0, 1.5, -1.0, 0.5, 2.5};
}

std::vector<Record> FollowingPlanted(int n, unsigned seed) {
  const std::valarray<double> w = Planted();
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Record> records;
  for (int r = 0; r < n; ++r) {
    std::vector<double> v{u(gen), u(gen), u(gen)};
    for (int t = 0; t < 3; ++t)
      v.push_back(w[4 * t] + w[4 * t + 1] * v[0] + w[4 * t + 2] * v[1] + w[4 * t + 3] * v[2] +
                  0.05 * u(gen));
    records.emplace_back(std::move(v));
  }
  return records;
}

TEST(SolverPassThreads, UpdatesAndInputRegressionsAreTheSameBitsForAnyThreadCount) {
  pass_settings::Restore guard;
  const std::vector<Record> first = network_fixtures::MakeRecords(3, {1, 2}, 500, 1),
                            later = FollowingPlanted(400, 2);
  std::vector<Record> all = first;
  all.insert(all.end(), later.begin(), later.end());
  const std::valarray<double> w = Planted();
  long double newSquares = 0.0L;
  for (const Record& r : later)
    for (int t = 0; t < 3; ++t) {
      long double o = w[std::size_t(t) * 4];
      for (int i = 0; i < 3; ++i) o += w[std::size_t(t) * 4 + 1 + i] * r[i];
      newSquares += (o - r[3 + t]) * (o - r[3 + t]);
    }
  for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
    Outcome firstOutcome;
    for (int threads : kThreadCounts) {
      ASSERT_TRUE(VXNeural::SetPassThreads(threads));
      MLPSettings settings(3, {1, 2}, 500);
      settings.SetNumHiddenLayers(0);
      settings.SetActivFnOutputLayer(VXNNCommon::kIdentity);
      NNetwork net(settings);
      LinearRegr solver(&settings, &net);
      VectorRecordIter source(first), more(later);
      VXStatus status;
      ASSERT_EQ(solver.Train(status, source, nullptr, 100000, 0), VXStatus());
      const double trained = solver.GetEstError();
      ASSERT_EQ(net.SetWeights(w), 12);
      bool changed = true;
      ASSERT_EQ(solver.Update(status, source, more, 100000, changed), VXStatus());
      EXPECT_EQ(solver.GetNRecordsProcessed(), 900);
      EXPECT_FALSE(changed);
      // About 400 squares of a few hundredths: the sum is good to far
      // better than 1e-12 of itself in any order of addition.
      EXPECT_NEAR(solver.GetEstError(), trained + 0.5 * double(newSquares),
                  1e-12 * (trained + double(newSquares)));
      const Outcome o = OutcomeOf(*solver.GetRegression(), net, solver.GetEstError());
      if (threads == 1) {
        firstOutcome = o;
        ExpectSums(*solver.GetRegression(), ZRows(net, all, false, true));
      } else {
        EXPECT_TRUE(o == firstOutcome) << threads << " threads";
      }
    }
  }
}

// Several candidates fed by one pass, as the centre search feeds them: each
// gets the sums its own training pass would form, for any thread count.
TEST(SolverPassThreads, OnePassForManySolversGivesEachItsOwnPassSums) {
  pass_settings::Restore guard;
  const std::vector<Record> records = network_fixtures::MakeRecords(5, {1, 3}, 700, 8);
  for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels()) {
    SCOPED_TRACE(VXNeural::PassKernelName(kernel));
    ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
    std::vector<Outcome> firstOutcomes;
    for (int threads : kThreadCounts) {
      ASSERT_TRUE(VXNeural::SetPassThreads(threads));
      std::vector<std::unique_ptr<RBFSettings>> settings;
      std::vector<std::unique_ptr<NNetwork>> nets;
      std::vector<std::unique_ptr<RBFLinReg>> solvers;
      std::vector<RBFLinReg*> fed;
      for (int k : {2, 4, 9}) {
        settings.push_back(std::make_unique<RBFSettings>(5, std::vector<int>{1, 3}, 700));
        settings.back()->SetNumHiddenUnits(k, 1);
        nets.push_back(std::make_unique<NNetwork>(*settings.back()));
        VXRandom rng(unsigned(k), true);
        nets.back()->RandomizeWeights(rng, -1.0, 1.0);
        solvers.push_back(std::make_unique<RBFLinReg>(settings.back().get(), nets.back().get()));
        fed.push_back(solvers.back().get());
      }
      VectorRecordIter source(records);
      // A limit below the records: the pass stops there.
      EXPECT_EQ(RBFLinReg::AddRecords(fed, source, 650, [] { return false; }), 650);
      EXPECT_EQ(source.GetStatus(), VXCommon_1_2::RecordIterator::kGood);
      for (std::size_t s = 0; s < solvers.size(); ++s) {
        EXPECT_EQ(solvers[s]->GetNRecordsProcessed(), 650);
        ASSERT_EQ(solvers[s]->Solve(), VXStatus());
        const Outcome o =
            OutcomeOf(*solvers[s]->GetRegression(), *nets[s], solvers[s]->GetEstError());
        if (threads == 1) {
          firstOutcomes.push_back(o);
          // The candidate's own training pass over the same records.
          RBFLinReg own(settings[s].get(), nets[s].get());
          VectorRecordIter again(records);
          ASSERT_EQ(own.TrainPass(again, 650), VXStatus());
          EXPECT_TRUE(OutcomeOf(*own.GetRegression(), *nets[s], own.GetEstError()) == o);
        } else {
          EXPECT_TRUE(o == firstOutcomes[s]) << threads << " threads, candidate " << s;
        }
      }
    }
  }
}

// The source and the stop question stay on the calling thread, and no
// record is read after the yes: stopping at the 150th question leaves 149
// records read and added, whatever the thread count.
TEST(SolverPassThreads, StopsBeforeTheRecordAfterTheYes) {
  pass_settings::Restore guard;
  const std::vector<Record> records = network_fixtures::MakeRecords(5, {1, 3}, 400, 3);
  for (VXNeural::PassKernel kernel : VXNeural::AvailablePassKernels())
    for (int threads : kThreadCounts) {
      SCOPED_TRACE(std::string(VXNeural::PassKernelName(kernel)) + ", " + std::to_string(threads) +
                   " threads");
      ASSERT_TRUE(VXNeural::SetPassKernel(kernel));
      ASSERT_TRUE(VXNeural::SetPassThreads(threads));
      RbfCase c(VXNNCommon::kNormalizedRadialBasis);
      RBFLinReg solver(&c.settings, c.net.get());
      VectorRecordIter source(records);
      const std::thread::id caller = std::this_thread::get_id();
      int asked = 0;
      bool elsewhere = false;
      const int read = RBFLinReg::AddRecords({&solver}, source, 100000, [&] {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        return ++asked == 150;
      });
      EXPECT_EQ(read, 149);
      EXPECT_EQ(asked, 150);
      EXPECT_FALSE(elsewhere);
      EXPECT_EQ(solver.GetRegression()->GetCaseCount(), 149);
      // The next record is still the source's to give.
      const Record* next = source.Next();
      ASSERT_NE(next, nullptr);
      EXPECT_EQ(std::memcmp(next->GetAll(), records[149].GetAll(), records[149].Size() * 8), 0);
    }
}

}  // namespace

namespace {

// A shared solver pass whose exchange fails (a broken connection) ends the
// training pass and an update alike with 50021: neither solves with the
// sums of one process's share, and an update keeps the weights it had.
TEST(SolverPass, AFailedExchangeSolvesNothing) {
  pass_settings::Restore guard;
  ASSERT_TRUE(VXNeural::SetPassKernel(VXNeural::PassKernel::kBaseline));
  const std::vector<Record> records = network_fixtures::MakeRecords(5, {1, 3}, 300, 8);
  RbfCase c(VXNNCommon::kRadialBasis);
  RBFLinReg solver(&c.settings, c.net.get());
  VectorRecordIter source(records);
  ASSERT_EQ(solver.TrainPass(source, 100000), VXStatus());
  std::valarray<double> before;
  c.net->GetWeights(before);
  VXStatus trained, updated;
  bool changed = true;
  in_process::RunProcesses(1, [&](int, in_process::Combiner& combiner) {
    combiner.FailAt(1);
    VXNeural::detail::SetRunCombiner(&combiner);
    VXNeural::detail::ShareSource(&source, 0, &combiner);
    updated = solver.Update(source, 100000, changed);
    combiner.FailAt(2);
    trained = solver.TrainPass(source, 100000);
    VXNeural::detail::ShareSource(&source, 0, nullptr);
    VXNeural::detail::SetRunCombiner(nullptr);
  });
  EXPECT_EQ(updated.GetErrorCode(), 50021);
  EXPECT_TRUE(updated.IsError());
  EXPECT_FALSE(changed);
  std::valarray<double> after;
  c.net->GetWeights(after);
  EXPECT_EQ(std::memcmp(&before[0], &after[0], before.size() * sizeof(double)), 0);
  EXPECT_EQ(trained.GetErrorCode(), 50021);
}

}  // namespace
