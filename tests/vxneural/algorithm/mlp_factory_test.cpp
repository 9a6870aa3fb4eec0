// MLPFactory: every refusal with its code and what the factory keeps
// between the two steps of a restore.

#include "common/saved_forms.h"
#include "mlp_driver_fixtures.h"

namespace {

using namespace mlpdriver;

class MlpFactoryTest : public testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    fModel = MakeModel(kCategoricalTarget, 80, 20);
    ASSERT_TRUE(fModel->algorithm);
    fBinary = Save(*fModel->algorithm, false);
    fXML = Save(*fModel->algorithm, true);
  }
  void TearDown() override { testing::internal::GetCapturedStderr(); }
  // made must be null, with code in the factory's status, and standard
  // error since the last check must hold err.
  void ExpectRefusal(INeuralAlgorithm* made, int code, const std::string& err = "") {
    std::unique_ptr<INeuralAlgorithm> owned(made);
    EXPECT_EQ(made, nullptr);
    ExpectStatus(f.GetStatus(), code);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
    testing::internal::CaptureStderr();
  }
  void ExpectListRefusal(const NNVarList* list, int code, const std::string& err = "") {
    EXPECT_EQ(list, nullptr);
    ExpectRefusal(nullptr, code, err);
  }
  static std::unique_ptr<std::istringstream> Bad(const std::string& text) {
    auto in = std::make_unique<std::istringstream>(text);
    in->setstate(std::ios::failbit);
    return in;
  }
  std::unique_ptr<Model> fModel;
  std::string fBinary, fXML;
  VectorRecordIter fEmpty{std::vector<Record>{}};
  MLPFactory f;
};

TEST_F(MlpFactoryTest, SourcesStreamsAndTheFirstStepAreCheckedInTurn) {
  Model& m = *fModel;
  VectorRecordIter train(m.trainRecords);
  ExpectRefusal(f.CreateNeuralAlgorithm(m.settings, fEmpty, nullptr), 50014);
  ExpectRefusal(f.CreateNeuralAlgorithm(m.settings, m.list, fEmpty, nullptr, nullptr), 50014);
  ExpectRefusal(f.CreateNeuralAlgorithm(m.settings, train, &fEmpty), 50015);
  ExpectRefusal(f.CreateNeuralAlgorithm(m.settings, m.list, train, &fEmpty, nullptr), 50015);
  std::istringstream in(fBinary);
  ExpectRefusal(f.RestoreNeuralAlgorithmFromBinary(in, fEmpty, nullptr), 50014);
  ExpectRefusal(f.RestoreNeuralAlgorithmFromBinary(in, train, &fEmpty), 50015);
  EXPECT_EQ(in.tellg(), 0) << "nothing read";
  // The one-step XML restore leaves the sources to the preparation, whose
  // status comes through.
  std::istringstream xmlIn(fXML);
  ExpectRefusal(f.RestoreNeuralAlgorithmFromXML(xmlIn, fEmpty, nullptr), 50004);

  ExpectRefusal(f.RestoreNeuralAlgorithmFromBinary(*Bad(fBinary), train, nullptr), 50016);
  ExpectRefusal(f.RestoreNeuralAlgorithmFromXML(*Bad(fXML), train, nullptr), 50016);
  ExpectListRefusal(f.RestoreNNVarListFromBinary(*Bad(fBinary)), 50016);
  ExpectListRefusal(f.RestoreNNVarListFromXML(*Bad(fXML)), 50016);

  ExpectRefusal(f.FinishRestoringAlgorithmFromBinary(in, train, nullptr), 50017);
  ExpectRefusal(f.FinishRestoringAlgorithmFromXML(in, train, nullptr), 50017);

  // A refused second step keeps what the first step read.
  for (bool xml : {false, true}) {
    std::istringstream saved(xml ? fXML : fBinary);
    ASSERT_NE(xml ? f.RestoreNNVarListFromXML(saved) : f.RestoreNNVarListFromBinary(saved),
              nullptr);
    auto finish = [&](std::istream& s, MultiPassRecordIter& t, MultiPassRecordIter* v) {
      return xml ? f.FinishRestoringAlgorithmFromXML(s, t, v)
                 : f.FinishRestoringAlgorithmFromBinary(s, t, v);
    };
    ExpectRefusal(finish(saved, fEmpty, nullptr), 50014);
    ExpectRefusal(finish(saved, train, &fEmpty), 50015);
    ExpectRefusal(finish(*Bad(""), train, nullptr), 50016);
    std::unique_ptr<INeuralAlgorithm> a(finish(saved, train, nullptr));
    ASSERT_TRUE(a) << f.GetStatus();
    EXPECT_EQ(Save(*a, false), fBinary);
  }
}

TEST_F(MlpFactoryTest, SettingsAndVariableListsMustBeValidAndAgree) {
  Model& m = *fModel;
  MLPSettings noRecords = m.settings;
  noRecords.SetNTrainRecords(0);
  ExpectRefusal(f.CreateNeuralAlgorithm(noRecords, *m.train, nullptr), 50012);
  ExpectRefusal(f.CreateNeuralAlgorithm(noRecords, m.list, *m.train, nullptr, nullptr), 50012);

  NNVarList constant = m.list;
  constant.AddContVar("k", "", 1.0, 1.0, 1.0, 0.0, INNVariable::kInput, INNVariable::kReal);
  ExpectRefusal(f.CreateNeuralAlgorithm(m.settings, constant, *m.train, nullptr, nullptr), 50009);
  NNVarList moreInputs = m.list;
  moreInputs.SetVariableRole(moreInputs.FindVariable("z"), INNVariable::kInput);
  ExpectRefusal(f.CreateNeuralAlgorithm(m.settings, moreInputs, *m.train, nullptr, nullptr), 50010);
  NNVarList threeCategories = m.list;
  threeCategories.RemoveVar("y");
  threeCategories.AddCatVar("y", "", 3, INNVariable::kNumericCategorical, INNVariable::kOutput,
                            INNVariable::kInteger);
  MLPSettings twoCategories(m.list, 80);
  ExpectRefusal(f.CreateNeuralAlgorithm(twoCategories, threeCategories, *m.train, nullptr, nullptr),
                50011);
  // Checked before the sources are read.
  EXPECT_TRUE(m.train->IsGood());
}

// A damaged component of a saved model gives 50006 or 50007 (see the saved
// model tests) with the component's own message (see its folder); here what
// is the factory's own.
TEST_F(MlpFactoryTest, SavedFormsThatDoNotReadAreRefused) {
  VectorRecordIter train(fModel->trainRecords);
  const std::string settingsError = "Error reading MLPSettings!\n";
  // A document that is not a saved model is not read past its start: null,
  // the status left OK, nothing kept.
  std::istringstream c("<?xml version=\"1.0\"?><nothing/>"), c2(c.str());
  ExpectRefusal(f.RestoreNeuralAlgorithmFromXML(c, train, nullptr), 0);
  std::istringstream first(fXML), c3(fXML);
  ASSERT_NE(f.RestoreNNVarListFromXML(first), nullptr);
  ExpectListRefusal(f.RestoreNNVarListFromXML(c2), 0);
  ExpectRefusal(f.FinishRestoringAlgorithmFromXML(c3, train, nullptr), 50017);

  // Settings that read cleanly but claim a network far larger than the rest
  // of the stream could hold are refused before anything is sized by them.
  MLPSettings huge = fModel->Mlp().GetMLPSettings();
  const std::size_t settingsSize = saved_forms::Saved(huge, false).size();
  huge.SetNumHiddenUnits(50000000, 1);
  std::stringstream lying;
  huge.WriteObject(lying);
  lying << fBinary.substr(settingsSize);
  ExpectRefusal(f.RestoreNeuralAlgorithmFromBinary(lying, train, nullptr), 50006, settingsError);
}

}  // namespace
