// Faults the host's environment can throw at the library while it prepares
// the data: a temporary directory that cannot be written, a disk that fills
// while records are spilled to a file, a record source that fails half way
// through a pass; and a progress listener that asks to stop. Each must end in its documented
// code, never a crash or a hang, and leave no temporary file behind.
//
// The tests may run as root, where file modes do not deny writes, so an
// unwritable directory is a path under a regular file, a directory that does
// not exist, or a name maker that gives no name. A full disk is a file-size
// limit in a forked child: with SIGXFSZ ignored, writes past it fail.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/scratch_dir.h"
#include "vxneural/algorithm/rbf_fixtures.h"
#include "vxneural/evaluation/NNOutputStatistics.h"

namespace mlpdriver {
namespace {

using scratch_dir::ScratchDir;
constexpr int kTempFileFailed = 50002, kTrainNotGood = 50014, kTestNotGood = 50015;

// Hands out names from `good` until told to fail, then `bad`.
struct SwitchMaker : VXCommon_1_2::VXTempFileNameMaker {
  explicit SwitchMaker(std::string dir) : fGood(std::move(dir)) {}
  std::string GetTempFileName() override {
    return fFailing ? fBad : fGood + "/f" + std::to_string(++fCount);
  }
  std::string fGood, fBad;
  bool fFailing = false;
  int fCount = 0;
};

// A model over raw records whose temporary files go to dir, with the records
// in files (budget of one) or in memory.
std::unique_ptr<Model> MakeHosted(const ScratchDir& dir, bool inFiles,
                                  VXCommon_1_2::VXTempFileNameMaker* maker,
                                  const std::function<void(MLPSettings&)>& more = {}) {
  return MakeModel(kCategoricalTarget, 40, 10, 1, [&](MLPSettings& s) {
    s.SetTempFileDir(dir.Path());
    s.SetTempFileNameMaker(maker);
    s.SetMaxRecordsInMemory(inFiles ? 1 : 100000);
    s.SetMaxNDataPasses(3);
    if (more) more(s);
  });
}

TEST(UnwritableTemporaryDirectory, PreparingGives50002AndLeavesNothing) {
  const struct {
    const char* what;
    std::string dir;  // under the scratch directory
    bool maker;       // a maker naming files there, instead of the directory
  } cases[] = {{"a directory under a regular file", "plain/sub", false},
               {"a directory that does not exist", "missing", false},
               {"a maker naming a file under a regular file", "plain/sub", true},
               {"a maker that gives no name", "", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    std::ofstream(scratch.Path() + "/plain") << "x";
    SwitchMaker maker(scratch.Path());
    maker.fBad = c.dir.empty() ? "" : scratch.Path() + "/" + c.dir + "/f";
    maker.fFailing = true;
    ScratchDir settingsDir;  // unused by the maker's cases
    auto m = MakeModel(kCategoricalTarget, 40, 10, 1, [&](MLPSettings& s) {
      s.SetTempFileDir(c.maker ? settingsDir.Path() : scratch.Path() + "/" + c.dir);
      if (c.maker) s.SetTempFileNameMaker(&maker);
      s.SetMaxRecordsInMemory(1);
    });
    EXPECT_EQ(m->algorithm, nullptr);
    ExpectStatus(m->factory.GetStatus(), kTempFileFailed);
    EXPECT_EQ(scratch.Count(), 1) << "only the regular file";
    EXPECT_EQ(settingsDir.Count(), 0);
  }
}

// Runs body in a child whose files may not grow past `bytes`; the child's
// exit code is the number of failed checks, which the parent expects 0.
void WithFileSizeLimit(rlim_t bytes, const std::function<int()>& body) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    _exit(body());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "checks failed in the child";
}

TEST(DiskFullDuringSpill, PreparingGives50002AndRemovesThePartialFile) {
  // 2000 records of 7 units are 112000 bytes: the file fills at 16 KiB.
  ScratchDir scratch;
  WithFileSizeLimit(16384, [&] {
    auto m = MakeModel(kCategoricalTarget, 2000, 0, 1, [&](MLPSettings& s) {
      s.SetTempFileDir(scratch.Path());
      s.SetMaxRecordsInMemory(1);
    });
    const VXStatus s = m->factory.GetStatus();
    return (m->algorithm != nullptr) + (s != VXStatus(kTempFileFailed, false)) +
           (scratch.Count() != 0);
  });
  EXPECT_EQ(scratch.Count(), 0);
}

// Raw records that fail after `failAt` records of a pass: the source either
// turns not good with an error status, or keeps saying it is good while
// handing out nothing (its status an error). A reader that keeps asking is
// let go after 1000 empty answers, so that the test fails instead of hanging.
class FailingSource : public VXCommon_1_2::MultiPassRecordIter {
 public:
  FailingSource(std::vector<Record> records, std::size_t failAt, bool claimsGood)
      : fRecords(std::move(records)), fFailAt(failAt), fClaimsGood(claimsGood) {}
  ~FailingSource() override { ExpectLetGo(); }
  bool IsGood() override {
    return fPos < fRecords.size() && (fPos < fFailAt || (fClaimsGood && fEmptyAnswers < 1000));
  }
  const Record* Next() override {
    if (fPos < fFailAt && fPos < fRecords.size()) return &fRecords[fPos++];
    ++fEmptyAnswers;
    return nullptr;
  }
  int GetStatus() override {
    if (fPos >= fFailAt) return kError;
    return fPos < fRecords.size() ? kGood : kEndOfData;
  }
  int Rewind() override {
    ExpectLetGo();
    fPos = 0;
    fEmptyAnswers = 0;
    return GetStatus();
  }
  void ExpectLetGo() const { EXPECT_LE(fEmptyAnswers, 1) << "asked again after the failure"; }

 private:
  std::vector<Record> fRecords;
  std::size_t fPos = 0;
  std::size_t fFailAt;
  bool fClaimsGood;
  int fEmptyAnswers = 0;
};

TEST(SourceFailingMidPass, PreparingGivesTheSourceCodeAndLeavesNothing) {
  const struct {
    const char* what;
    bool testFails, claimsGood, inFiles;
    int code;
  } cases[] = {
      {"training source turns bad, records in files", false, false, true, kTrainNotGood},
      {"training source turns bad, records in memory", false, false, false, kTrainNotGood},
      {"training source hands out nothing", false, true, true, kTrainNotGood},
      {"test source turns bad", true, false, true, kTestNotGood},
      {"test source hands out nothing, records in memory", true, true, false, kTestNotGood},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    MLPSettings settings = MakeHosted(scratch, c.inFiles, nullptr)->settings;
    const std::vector<Record> raw = MakeRecords(40, 1);
    FailingSource train(raw, c.testFails ? 1000 : 15, c.claimsGood);
    FailingSource test(MakeRecords(10, 101), c.testFails ? 4 : 1000, c.claimsGood);
    NNVarList list = MakeList(raw, kCategoricalTarget);
    MLPFactory factory;
    std::unique_ptr<INeuralAlgorithm> a(
        factory.CreateNeuralAlgorithm(settings, list, train, &test, nullptr));
    EXPECT_EQ(a, nullptr);
    ExpectStatus(factory.GetStatus(), c.code);
    EXPECT_EQ(scratch.Count(), 0);
  }
}

TEST(ListenerAsksToStop, EveryReportingOperationEndsCancelledAndLeavesNothing) {
  const struct {
    const char* what;
    bool rbf, trainFirst;
    std::function<VXStatus(INeuralAlgorithm&)> run;
  } cases[] = {
      {"MLP training", false, false, [](INeuralAlgorithm& a) { return a.Train(40, -1); }},
      {"MLP architecture search", false, false,
       [](INeuralAlgorithm& a) { return a.SelectArchitecture(); }},
      {"RBF centre search", true, false,
       [](INeuralAlgorithm& a) { return a.SelectArchitecture(); }},
      {"MLP sensitivity", false, true,
       [](INeuralAlgorithm& a) {
         std::vector<double> importance;
         return a.ComputeSensitivity(importance);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    CountdownCancel cancel;
    FunctionListener listener([&](VXCommon_1_2::ProgressReport&) { cancel.Arm(); });
    auto settings = [&](NeuralSettings& s) {
      s.SetTempFileDir(scratch.Path());
      s.SetMaxRecordsInMemory(1);
      s.SetCancelPointer(&cancel);
      s.SetComputeSensitivity(true);
    };
    auto mlp = c.rbf ? nullptr : MakeModel(kCategoricalTarget, 40, 10, 1, settings);
    auto rbf = c.rbf ? MakeRbf(kCategoricalTarget, 40, 10, settings) : nullptr;
    INeuralAlgorithm& a = *(c.rbf ? rbf->algorithm : mlp->algorithm);
    const int files = scratch.Count();
    if (c.trainFirst) {
      ASSERT_EQ(a.Train(40, -1), VXStatus());
    }
    a.SetProgressListener(&listener);
    ExpectStatus(c.run(a), 1);
    EXPECT_GE(listener.fReports, 1);
    EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kCancelled);
    EXPECT_EQ(scratch.Count(), files);
    (c.rbf ? rbf->algorithm : mlp->algorithm).reset();
    EXPECT_EQ(scratch.Count(), 0);
  }
}

}  // namespace
}  // namespace mlpdriver
