// MLPFactory: every refusal with its code, the test-record count, what the
// factory keeps between the two steps of a restore, and that nothing it
// built survives a refusal (the sanitizer build checks the memory; a
// scratch directory checks the temporary files).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mlp_driver_fixtures.h"

namespace {

using namespace mlpdriver;

std::string Save(INeuralAlgorithm& a, bool xml) {
  std::stringstream out;
  EXPECT_EQ(xml ? a.SaveStateXML(out) : a.SaveState(out), VXStatus());
  return out.str();
}

void ExpectRefusal(MLPFactory& factory, INeuralAlgorithm* made, int code) {
  std::unique_ptr<INeuralAlgorithm> owned(made);
  EXPECT_EQ(made, nullptr);
  ExpectStatus(factory.GetStatus(), code, -1);
}

class MlpFactoryTest : public testing::Test {
 protected:
  void SetUp() override {
    fModel = MakeModel(kCategoricalTarget, 80, 20);
    ASSERT_TRUE(fModel->algorithm);
    fBinary = Save(*fModel->algorithm, false);
    fXML = Save(*fModel->algorithm, true);
  }
  std::unique_ptr<Model> fModel;
  std::string fBinary;
  std::string fXML;
  VectorRecordIter fEmpty{std::vector<Record>{}};
};

TEST_F(MlpFactoryTest, SourcesThatAreNotGoodAreRefusedFirst) {
  Model& m = *fModel;
  VectorRecordIter train(m.trainRecords);
  MLPFactory f;
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, fEmpty, nullptr), 50014);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, m.list, fEmpty, nullptr, nullptr), 50014);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, train, &fEmpty), 50015);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, m.list, train, &fEmpty, nullptr), 50015);
  std::istringstream in(fBinary);
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromBinary(in, fEmpty, nullptr), 50014);
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromBinary(in, train, &fEmpty), 50015);
  EXPECT_EQ(in.tellg(), 0) << "nothing read";

  // A refused second step keeps what the first step read.
  ASSERT_NE(f.RestoreNNVarListFromBinary(in), nullptr);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromBinary(in, fEmpty, nullptr), 50014);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromBinary(in, train, &fEmpty), 50015);
  std::unique_ptr<INeuralAlgorithm> a(f.FinishRestoringAlgorithmFromBinary(in, train, nullptr));
  EXPECT_TRUE(a) << f.GetStatus();

  std::istringstream xml(fXML);
  ASSERT_NE(f.RestoreNNVarListFromXML(xml), nullptr);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromXML(xml, fEmpty, nullptr), 50014);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromXML(xml, train, &fEmpty), 50015);
}

TEST_F(MlpFactoryTest, TheOneStepXMLRestoreLeavesTheSourcesToThePreparation) {
  // It does not look at the sources itself; an empty training source then
  // fails the preparation, whose status comes through.
  std::istringstream in(fXML);
  MLPFactory f;
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromXML(in, fEmpty, nullptr), 50004);
}

TEST_F(MlpFactoryTest, SettingsWithoutTrainingRecordsAreRefused) {
  Model& m = *fModel;
  MLPSettings settings = m.settings;
  settings.SetNTrainRecords(0);
  MLPFactory f;
  ExpectRefusal(f, f.CreateNeuralAlgorithm(settings, *m.train, nullptr), 50012);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(settings, m.list, *m.train, nullptr, nullptr), 50012);
}

TEST_F(MlpFactoryTest, TheVariableListMustBeValidAndMatchTheSettings) {
  Model& m = *fModel;
  MLPFactory f;
  NNVarList constant = m.list;
  constant.AddContVar("k", "", 1.0, 1.0, 1.0, 0.0, INNVariable::kInput, INNVariable::kReal);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, constant, *m.train, nullptr, nullptr),
                50009);
  NNVarList noOutput = m.list;
  noOutput.SetVariableRole(noOutput.FindVariable("y"), INNVariable::kUnused);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, noOutput, *m.train, nullptr, nullptr),
                50009);

  NNVarList moreInputs = m.list;
  moreInputs.SetVariableRole(moreInputs.FindVariable("z"), INNVariable::kInput);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(m.settings, moreInputs, *m.train, nullptr, nullptr),
                50010);

  MLPSettings threeCategories(m.list, 80);
  NNVarList other = MakeList(m.trainRecords, kCategoricalTarget);
  other.RemoveVar("y");
  other.AddCatVar("y", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                  INNVariable::kInteger);
  ExpectRefusal(f, f.CreateNeuralAlgorithm(threeCategories, other, *m.train, nullptr, nullptr),
                50011);
  // Checked before the sources are read.
  EXPECT_TRUE(m.train->IsGood());
}

TEST_F(MlpFactoryTest, StreamsThatAreNotGoodAreRefused) {
  Model& m = *fModel;
  VectorRecordIter train(m.trainRecords);
  MLPFactory f;
  auto bad = [](const std::string& text) {
    auto in = std::make_unique<std::istringstream>(text);
    in->setstate(std::ios::failbit);
    return in;
  };
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromBinary(*bad(fBinary), train, nullptr), 50016);
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromXML(*bad(fXML), train, nullptr), 50016);
  EXPECT_EQ(f.RestoreNNVarListFromBinary(*bad(fBinary)), nullptr);
  ExpectStatus(f.GetStatus(), 50016, -1);
  EXPECT_EQ(f.RestoreNNVarListFromXML(*bad(fXML)), nullptr);
  ExpectStatus(f.GetStatus(), 50016, -1);

  std::istringstream in(fBinary);
  ASSERT_NE(f.RestoreNNVarListFromBinary(in), nullptr);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromBinary(*bad(""), train, nullptr), 50016);
  std::istringstream xml(fXML);
  ASSERT_NE(f.RestoreNNVarListFromXML(xml), nullptr);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromXML(*bad(""), train, nullptr), 50016);
}

TEST_F(MlpFactoryTest, FinishingWithoutAFirstStepIsRefused) {
  Model& m = *fModel;
  VectorRecordIter train(m.trainRecords);
  MLPFactory f;
  std::istringstream in(fBinary);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromBinary(in, train, nullptr), 50017);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromXML(in, train, nullptr), 50017);
  // A first step that failed keeps nothing either.
  std::istringstream garbage("not a model");
  testing::internal::CaptureStderr();
  EXPECT_EQ(f.RestoreNNVarListFromBinary(garbage), nullptr);
  testing::internal::GetCapturedStderr();
  ExpectStatus(f.GetStatus(), 50006, -1);
  ExpectRefusal(f, f.FinishRestoringAlgorithmFromBinary(in, train, nullptr), 50017);
}

TEST_F(MlpFactoryTest, SettingsOrListsThatDoNotReadAreRefused) {
  Model& m = *fModel;
  VectorRecordIter train(m.trainRecords);
  MLPFactory f;
  std::string notSettings = fBinary;
  notSettings[0] = 'X';
  std::istringstream a(notSettings);
  testing::internal::CaptureStderr();
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromBinary(a, train, nullptr), 50006);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error reading MLPSettings!\n");

  // A damaged list: its tag follows the settings.
  std::string notList = fBinary;
  notList[notList.find("VARL")] = 'W';
  std::istringstream b(notList);
  testing::internal::CaptureStderr();
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromBinary(b, train, nullptr), 50006);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error reading NNVarList!\n");
  std::istringstream b2(notList);
  testing::internal::CaptureStderr();
  EXPECT_EQ(f.RestoreNNVarListFromBinary(b2), nullptr);
  testing::internal::GetCapturedStderr();
  ExpectStatus(f.GetStatus(), 50006, -1);

  std::istringstream c("<?xml version=\"1.0\"?><nothing/>");
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromXML(c, train, nullptr), 50007);
  std::string xml = fXML;
  xml.replace(xml.find("\"NNVarList\""), 11, "\"NNVarLisp\"");
  std::istringstream d(xml);
  testing::internal::CaptureStderr();
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromXML(d, train, nullptr), 50007);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failure reading NNVarList!\n");
  std::istringstream e(xml);
  testing::internal::CaptureStderr();
  EXPECT_EQ(f.RestoreNNVarListFromXML(e), nullptr);
  testing::internal::GetCapturedStderr();
  ExpectStatus(f.GetStatus(), 50007, -1);
}

// Settings that read cleanly but claim a network far larger than the rest
// of the stream could hold are refused before anything is sized by them.
TEST_F(MlpFactoryTest, SettingsClaimingANetworkTheStreamCannotHoldAreRefused) {
  Model& m = *fModel;
  VectorRecordIter train(m.trainRecords);
  std::stringstream saved;
  m.Mlp().GetMLPSettings().WriteObject(saved);
  MLPSettings huge = m.Mlp().GetMLPSettings();
  huge.SetNumHiddenUnits(50000000, 1);
  ASSERT_EQ(huge.GetNumHiddenUnits(1), 50000000);
  std::stringstream lying;
  huge.WriteObject(lying);
  lying << fBinary.substr(saved.str().size());

  MLPFactory f;
  testing::internal::CaptureStderr();
  ExpectRefusal(f, f.RestoreNeuralAlgorithmFromBinary(lying, train, nullptr), 50006);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error reading MLPSettings!\n");
}

TEST_F(MlpFactoryTest, AnUnknownTestCountIsCountedAndTheSourceRewound) {
  const std::vector<Record> raw = MakeRecords(60, 2);
  VectorRecordIter train(EncodeByHand(raw, raw, kCategoricalTarget));
  CountingSource test(EncodeByHand(raw, MakeRecords(40, 3), kCategoricalTarget));
  MLPSettings settings(5, {2}, 60);
  ASSERT_EQ(settings.GetNTestRecords(), 0);
  MLPFactory f;
  std::unique_ptr<INeuralAlgorithm> a(f.CreateNeuralAlgorithm(settings, train, &test));
  ASSERT_TRUE(a);
  EXPECT_EQ(settings.GetNTestRecords(), 40);
  EXPECT_EQ(a->GetSettings()->GetNTestRecords(), 40);
  EXPECT_EQ(test.Position(), 0u);
  EXPECT_EQ(test.Rewinds(), 1);
  EXPECT_FALSE(settings.GetHasVarList());

  // A known count is left alone.
  CountingSource known(EncodeByHand(raw, MakeRecords(40, 3), kCategoricalTarget));
  settings.SetNTestRecords(15);
  std::unique_ptr<INeuralAlgorithm> b(f.CreateNeuralAlgorithm(settings, train, &known));
  ASSERT_TRUE(b);
  EXPECT_EQ(settings.GetNTestRecords(), 15);
  EXPECT_EQ(known.Rewinds(), 0);
}

// Names temporary files in a directory of the test's own.
class MlpFactoryFiles : public MlpFactoryTest {
 protected:
  void SetUp() override {
    MlpFactoryTest::SetUp();
    VXCommon_1_2::VXDefaultTempFileNameMaker names("", "vxnn-factory-test");
    fDir = names.GetTempFileName() + ".d";
    ASSERT_TRUE(std::filesystem::create_directory(fDir));
    fNames = std::make_unique<VXCommon_1_2::VXDefaultTempFileNameMaker>(fDir);
  }
  void TearDown() override { std::filesystem::remove_all(fDir); }
  bool DirEmpty() const { return std::filesystem::is_empty(fDir); }
  std::string fDir;
  std::unique_ptr<VXCommon_1_2::VXDefaultTempFileNameMaker> fNames;
};

TEST_F(MlpFactoryFiles, AnAlgorithmThatFailsToConstructTakesItsPreparatorWithIt) {
  Model& m = *fModel;
  MLPSettings settings = WithoutOptimizer(m.settings);
  settings.SetTempFileNameMaker(fNames.get());
  settings.SetMaxRecordsInMemory(10);
  MLPFactory f;
  ExpectRefusal(f, f.CreateNeuralAlgorithm(settings, m.list, *m.train, nullptr, nullptr), 50001);
  EXPECT_TRUE(DirEmpty());
  ExpectRefusal(f, f.CreateNeuralAlgorithm(settings, *m.train, nullptr), 50001);

  // The same settings with an optimizer do use the directory.
  MLPSettings good = m.settings;
  good.SetTempFileNameMaker(fNames.get());
  good.SetMaxRecordsInMemory(10);
  m.train->Rewind();
  std::unique_ptr<INeuralAlgorithm> a(
      f.CreateNeuralAlgorithm(good, m.list, *m.train, nullptr, nullptr));
  ASSERT_TRUE(a) << f.GetStatus();
  EXPECT_FALSE(DirEmpty());
  a.reset();
  EXPECT_TRUE(DirEmpty());
}

TEST_F(MlpFactoryFiles, APreparationErrorIsTheFactorysStatus) {
  Model& m = *fModel;
  std::vector<Record> bad = m.trainRecords;
  for (Record& r : bad) r[kC] = 9.0;
  VectorRecordIter train(bad);
  MLPSettings settings = m.settings;
  settings.SetTempFileNameMaker(fNames.get());
  settings.SetMaxRecordsInMemory(10);
  MLPFactory f;
  ExpectRefusal(f, f.CreateNeuralAlgorithm(settings, m.list, train, nullptr, nullptr), 50004);
  EXPECT_TRUE(DirEmpty());
}

TEST_F(MlpFactoryTest, TheHostOwnsWhatTheFactoryHandsOver) {
  Model& m = *fModel;
  std::unique_ptr<INeuralAlgorithm> a;
  std::unique_ptr<INeuralAlgorithm> restored;
  VectorRecordIter train(m.trainRecords);
  {
    MLPFactory f;
    a.reset(f.CreateNeuralAlgorithm(m.settings, m.list, *m.train, nullptr, nullptr));
    ASSERT_TRUE(a);
    EXPECT_EQ(f.GetStatus(), VXStatus());
    std::istringstream in(fBinary);
    restored.reset(f.RestoreNeuralAlgorithmFromBinary(in, train, nullptr));
    ASSERT_TRUE(restored);
    // A first step whose list is never collected is released with the
    // factory.
    std::istringstream again(fBinary);
    ASSERT_NE(f.RestoreNNVarListFromBinary(again), nullptr);
    std::istringstream twice(fXML);
    ASSERT_NE(f.RestoreNNVarListFromXML(twice), nullptr);
  }
  EXPECT_TRUE(a->Train(80, -1).IsOK());
  EXPECT_TRUE(restored->Train(80, -1).IsOK());
  EXPECT_EQ(a->GetAlgorithmType(), VXNNCommon::kMLP);
}

}  // namespace
