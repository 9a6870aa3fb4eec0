// Settings and stop rules through both saved forms: every stored field comes
// back, what is not stored stays as the reader had it, and damaged streams
// fail with the documented message and exception.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"

using namespace VXNNCommon;
using VXNeural::IOException;

namespace {

const std::string kMLPSettingsError = "Error reading MLPSettings!\n";
const std::string kRBFSettingsError = "Error reading RBFSettings!\n";
const std::string kNeuralSettingsError = "Error reading NeuralSettings!\n";
const std::string kStopRulesError = "Error reading MLPStopRules!\n";

struct Listener : VXCommon_1_2::ProgressListener {
  void Report(VXCommon_1_2::ProgressReport&) override {}
};
struct Cancel : VXCommon_1_2::VXQueryCancel {
  bool QueryCancel() override { return false; }
};
struct NameMaker : VXCommon_1_2::VXTempFileNameMaker {
  std::string GetTempFileName() override { return "x"; }
};

// Runs a read that must fail; returns what it wrote to standard error, or
// "no exception" when it did not throw.
std::string FailedRead(const std::function<void()>& read) {
  testing::internal::CaptureStderr();
  bool thrown = false;
  try {
    read();
  } catch (IOException* e) {
    delete e;
    thrown = true;
  }
  const std::string err = testing::internal::GetCapturedStderr();
  return thrown ? err : "no exception";
}

void PutInt(std::string& bytes, std::size_t offset, int32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
}

// Every field differs from its default.
MLPSettings Customized() {
  MLPSettings s(12, {3, 1, 4}, 5000);
  s.SetNumHiddenLayers(2);
  s.SetNumHiddenUnits(9, 1);
  s.SetNumHiddenUnits(4, 2);
  s.SetTrainingMethodAndType(kGradientDescent, kMiniBatch);
  s.SetMiniBatchSize(77);
  s.SetCorrection(0.125);
  s.SetRandomWeightRange(-0.3, 0.7);
  s.SetLambdaInit(1e-6);
  s.SetSigmaInit(2e-5);
  s.SetUpperDelta(0.8);
  s.SetLowerDelta(0.2);
  s.SetLambdaReduction(0.3);
  s.SetEtaInit(0.5);
  s.SetEtaLow(0.002);
  s.SetEtaHigh(0.2);
  s.SetAlpha(0.8);
  s.SetAlphaReduction(0.7);
  s.SetNEpochs(12.0);
  s.SetBetaInit(0.03);
  s.SetNHiddenUnitsRange(2, 40);
  s.SetMinRelativeChangeError(0.002);
  s.SetMinErrorRatio(0.003);
  s.SetGradientNormLimit(1e-5);
  s.SetAccuracy(95.5);
  s.SetMaxNDataPasses(321);
  s.SetMaxNStepsTrackError(8);
  s.SetMaxTime(30.25);
  s.SetCheckTrainErrVerifyingCycle(true);
  s.SetTimeForExpertArch(45.5);
  s.SetNSkippedReports(3);
  s.SetActivFnHiddenLayer(kSigmoid);
  s.SetStandInputs(kMinRange);
  s.SetStandOutputs(kMinRangeSymmetric);
  s.SetRandomSeed(4000000000u);
  s.SetRandomSeedSampling(77u);
  s.SetUsePortableRNG(false);
  s.SetMaxRecordsInMemory(4321);
  s.SetNTestRecords(250);
  s.SetHasVarList(true);
  s.SetComputeSensitivity(true);
  s.SetListWiseDeletion(true);
  s.SetConfidenceMethod(NeuralSettings::kConfidenceSimpleMax);
  s.SetModelID(42);
  s.SetOutputMEInfo(true);
  return s;
}

void ExpectSameStored(const MLPSettings& a, const MLPSettings& b) {
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a.NeedNewNetwork(b));
  EXPECT_TRUE(*a.GetStopRules() == *b.GetStopRules());
  EXPECT_EQ(a.GetNumHiddenUnits(1), b.GetNumHiddenUnits(1));
  EXPECT_EQ(a.GetNumHiddenUnits(2), b.GetNumHiddenUnits(2));
  EXPECT_EQ(a.GetUserSetNHidUnits(), b.GetUserSetNHidUnits());
  EXPECT_EQ(a.GetRandomSeed(), b.GetRandomSeed());
  EXPECT_EQ(a.GetRandomSeedSampling(), b.GetRandomSeedSampling());
  EXPECT_EQ(a.GetUsePortableRNG(), b.GetUsePortableRNG());
  EXPECT_EQ(a.GetHasVarList(), b.GetHasVarList());
  EXPECT_EQ(a.GetMiniBatchSize(), b.GetMiniBatchSize());
  EXPECT_EQ(a.GetUserSetMiniBatchSize(), b.GetUserSetMiniBatchSize());
  EXPECT_EQ(a.GetUpdateType(), b.GetUpdateType());
  EXPECT_EQ(a.GetEtaInit(), b.GetEtaInit());
  EXPECT_EQ(a.GetEtaLow(), b.GetEtaLow());
  EXPECT_EQ(a.GetEtaHigh(), b.GetEtaHigh());
  EXPECT_EQ(a.GetAlpha(), b.GetAlpha());
  EXPECT_EQ(a.GetAlphaReduction(), b.GetAlphaReduction());
  EXPECT_EQ(a.GetNEpochs(), b.GetNEpochs());
  EXPECT_EQ(a.GetBetaInit(), b.GetBetaInit());
  EXPECT_EQ(a.GetMinNHiddenUnits(), b.GetMinNHiddenUnits());
  EXPECT_EQ(a.GetMaxNHiddenUnits(), b.GetMaxNHiddenUnits());
  EXPECT_EQ(a.GetNWeights(), b.GetNWeights());
}

// A reader whose unstored state must survive the read.
MLPSettings PreparedReader(Listener& l, Cancel& c, NameMaker& m) {
  MLPSettings r;
  r.SetProgressListener(&l);
  r.SetCancelPointer(&c);
  r.SetTempFileNameMaker(&m);
  r.SetTempFileDir("/reader/dir");
  r.SetModelName(false, "reader");
  r.SetInputXMLAsRetraining(false);
  r.SetUISettings({{"a", "b"}});
  return r;
}

void ExpectReaderStateKept(const MLPSettings& r, Listener& l, Cancel& c, NameMaker& m) {
  EXPECT_EQ(r.GetProgressListener(), &l);
  EXPECT_EQ(r.GetCancelPointer(), &c);
  EXPECT_EQ(r.GetTempFileNameMaker(), &m);
  EXPECT_EQ(r.GetTempFileDir(), "/reader/dir");
  bool useDefault = true;
  std::string name;
  ASSERT_TRUE(r.GetModelName(useDefault, name));
  EXPECT_FALSE(useDefault);
  EXPECT_EQ(name, "reader");
  EXPECT_FALSE(r.GetInputXMLAsRetraining());
  EXPECT_EQ(r.GetUISettings().size(), 1u);
}

std::string BinaryOf(const MLPSettings& s) {
  std::stringstream out;
  s.WriteObject(out);
  return out.str();
}

std::string XmlOf(const MLPSettings& s) {
  std::stringstream out;
  s.WriteObjectXML(out);
  return out.str();
}

// Offsets in the binary form of Customized(): the MLP block is 150 bytes
// (tag 6, 3 doubles, 4 ints, 12 doubles, 2 ints), the stop rules 70, then
// the "NS" block.
constexpr std::size_t kStopRulesAt = 150;
constexpr std::size_t kNSAt = 220;
// Inside "NS": tag 2, then 11 ints up to the hidden-layer count.
constexpr std::size_t kOutUnitsAt = kNSAt + 2 + 9 * 4;
constexpr std::size_t kHiddenLayersAt = kNSAt + 2 + 10 * 4;
constexpr std::size_t kHiddenActAt = kNSAt + 2 + 3 * 4;
// After 2 hidden sizes, the user flag, 3 categories, 2 seeds and 7 ints.
constexpr std::size_t kConfidenceAt = kNSAt + 2 + 11 * 4 + 2 * 4 + 4 + 3 * 4 + 2 * 4 + 7 * 4;

}  // namespace

TEST(StopRulesPersist, BinaryRecordIs70BytesAndRoundTrips) {
  MLPStopRules a;
  a.SetMinRelativeChangeError(0.5);
  a.SetMinErrorRatio(0.25);
  a.SetGradientNormLimit(1e-9);
  a.SetAccuracy(99.0);
  a.SetMaxNDataPasses(17);
  a.SetMaxNStepsTrackError(-3);
  a.SetMaxTime(1.5);
  a.SetCheckTrainErrVerifyingCycle(true);
  a.SetTimeForExpertArch(2.5);
  std::stringstream s;
  EXPECT_EQ(a.WriteObject(s), 70);
  const std::string bytes = s.str();
  ASSERT_EQ(bytes.size(), 70u);
  EXPECT_EQ(bytes.substr(0, 6), "MLPStR");
  // Max data passes right after the four doubles, then the steps.
  EXPECT_EQ(bytes.substr(38, 4), std::string("\x11\0\0\0", 4));
  EXPECT_EQ(bytes.substr(42, 4), std::string("\xfd\xff\xff\xff", 4));
  MLPStopRules b;
  EXPECT_EQ(b.ReadObject(s), 70);
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(b.GetMaxNDataPassesSet());
}

TEST(StopRulesPersist, XmlRoundTrip) {
  MLPStopRules a;
  a.SetMaxTime(7.0);
  a.SetCheckTrainErrVerifyingCycle(true);
  a.SetMaxNDataPasses(9);
  std::stringstream s;
  EXPECT_EQ(a.WriteObjectXML(s), 10);
  MLPStopRules b;
  EXPECT_EQ(b.ReadObjectXML(s), 10);
  EXPECT_TRUE(a == b);
}

TEST(StopRulesPersist, FlagsAreTrueOnlyForOne) {
  MLPStopRules a;
  a.SetMaxNDataPasses(5);
  a.SetCheckTrainErrVerifyingCycle(true);
  std::stringstream s;
  a.WriteObject(s);
  std::string bytes = s.str();
  PutInt(bytes, 46, 2);
  PutInt(bytes, 58, -1);
  std::stringstream in(bytes);
  MLPStopRules b;
  b.ReadObject(in);
  EXPECT_FALSE(b.GetMaxNDataPassesSet());
  EXPECT_FALSE(b.GetCheckTrainErrVerifyingCycle());
  EXPECT_EQ(b.GetMaxNDataPasses(), 5);
}

TEST(StopRulesPersist, DamagedStreamsFail) {
  MLPStopRules a;
  a.SetMaxTime(3.0);
  std::stringstream s;
  a.WriteObject(s);
  const std::string bytes = s.str();
  std::string wrongTag = bytes;
  wrongTag[5] = 'X';
  MLPStopRules b;
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(wrongTag);
              b.ReadObject(in);
            }),
            kStopRulesError);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(bytes.substr(0, n));
                b.ReadObject(in);
              }),
              kStopRulesError)
        << "truncated at " << n;
  }
  // A failed read leaves the rules as they were.
  EXPECT_TRUE(b == MLPStopRules());

  std::stringstream xml;
  a.WriteObjectXML(xml);
  const std::string text = xml.str();
  for (std::size_t n = 0; n < text.find_last_not_of(" \n") + 1; n += 7) {
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(text.substr(0, n));
                b.ReadObjectXML(in);
              }),
              kStopRulesError)
        << "truncated at " << n;
  }
}

TEST(MLPSettingsPersist, BinaryRoundTripKeepsReaderCallBacks) {
  const MLPSettings a = Customized();
  std::stringstream s;
  const int written = a.WriteObject(s);
  const std::string bytes = s.str();
  EXPECT_EQ(static_cast<std::size_t>(written), bytes.size());
  // 150 + 70 + (98 + 4 * 2 hidden sizes + 4 * 3 categories).
  EXPECT_EQ(bytes.size(), 338u);
  EXPECT_EQ(bytes.substr(0, 6), "MLPSet");
  EXPECT_EQ(bytes.substr(kStopRulesAt, 6), "MLPStR");
  EXPECT_EQ(bytes.substr(kNSAt, 2), "NS");

  Listener l;
  Cancel c;
  NameMaker m;
  MLPSettings b = PreparedReader(l, c, m);
  EXPECT_EQ(b.ReadObject(s), written);
  ExpectSameStored(a, b);
  ExpectReaderStateKept(b, l, c, m);
  EXPECT_EQ(b.GetRandomSeed(), 4000000000u);
  EXPECT_EQ(b.GetConfidenceMethod(), NeuralSettings::kConfidenceSimpleMax);
  EXPECT_EQ(b.GetNumOutCategories(), (std::vector<int>{3, 1, 4}));
  // The weight count is derived again: 13 * 9 + 10 * 4 + 5 * 8.
  EXPECT_EQ(b.GetNWeights(), 197);
}

TEST(MLPSettingsPersist, XmlRoundTripKeepsReaderCallBacks) {
  const MLPSettings a = Customized();
  const std::string text = XmlOf(a);
  const std::size_t outer = text.find("MLPSettings");
  const std::size_t rules = text.find("MLPStopRules");
  const std::size_t base = text.find("NeuralSettings");
  ASSERT_NE(outer, std::string::npos);
  EXPECT_LT(outer, rules);
  EXPECT_LT(rules, base);

  Listener l;
  Cancel c;
  NameMaker m;
  MLPSettings b = PreparedReader(l, c, m);
  std::stringstream in(text);
  std::stringstream out;
  EXPECT_EQ(b.ReadObjectXML(in), a.WriteObjectXML(out));
  ExpectSameStored(a, b);
  ExpectReaderStateKept(b, l, c, m);
  // Written again, the same text.
  EXPECT_EQ(XmlOf(b), text);
}

TEST(MLPSettingsPersist, DefaultSettingsRoundTrip) {
  const MLPSettings a(10, {3}, 1000);
  std::stringstream bin(BinaryOf(a));
  MLPSettings b;
  b.ReadObject(bin);
  ExpectSameStored(a, b);
  EXPECT_EQ(b.GetNWeights(), 115);
  std::stringstream xml(XmlOf(a));
  MLPSettings c;
  c.ReadObjectXML(xml);
  ExpectSameStored(a, c);
}

TEST(MLPSettingsPersist, ConfidenceMethodReadsAsOneTwoOrNone) {
  std::string bytes = BinaryOf(Customized());
  MLPSettings b;
  PutInt(bytes, kConfidenceAt, 1);
  std::stringstream one(bytes);
  b.ReadObject(one);
  EXPECT_EQ(b.GetConfidenceMethod(), NeuralSettings::kConfidenceSoftMax);
  PutInt(bytes, kConfidenceAt, 7);
  std::stringstream seven(bytes);
  b.ReadObject(seven);
  EXPECT_EQ(b.GetConfidenceMethod(), NeuralSettings::kConfidenceNone);
  EXPECT_EQ(b.GetModelID(), 42);
}

TEST(MLPSettingsPersist, WrongTagsNameTheirObject) {
  const std::string bytes = BinaryOf(Customized());
  const MLPSettings before(5, {2}, 100);
  struct Case {
    std::size_t at;
    std::string message;
  } cases[] = {{0, kMLPSettingsError},
               {kStopRulesAt + 3, kStopRulesError},
               {kNSAt + 1, kNeuralSettingsError}};
  for (const Case& k : cases) {
    std::string bad = bytes;
    bad[k.at] = '?';
    MLPSettings b = before;
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(bad);
                b.ReadObject(in);
              }),
              k.message);
    ExpectSameStored(before, b);
  }
}

TEST(MLPSettingsPersist, ImplausibleValuesAreRefused) {
  const std::string bytes = BinaryOf(Customized());
  struct Case {
    std::size_t at;
    int32_t value;
  } cases[] = {
      {kHiddenLayersAt, 0x7fffffff},  // count beyond the stream
      {kHiddenLayersAt, -1},
      {kOutUnitsAt, 9},         // categories sum to 8
      {kHiddenActAt, 6},        // no such activation
      {kNSAt + 2 + 4, 3},       // no such algorithm type
      {kNSAt + 2 + 7 * 4, -2},  // negative inputs
  };
  for (const Case& k : cases) {
    std::string bad = bytes;
    PutInt(bad, k.at, k.value);
    MLPSettings b;
    EXPECT_EQ(FailedRead([&] {
                std::stringstream in(bad);
                b.ReadObject(in);
              }),
              kNeuralSettingsError)
        << "offset " << k.at << " value " << k.value;
  }
  // An unknown training method in the MLP block.
  std::string bad = bytes;
  PutInt(bad, 6 + 3 * 8 + 2 * 4, 3);
  MLPSettings b;
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(bad);
              b.ReadObject(in);
            }),
            kMLPSettingsError);
}

TEST(MLPSettingsPersist, EveryTruncationFails) {
  const std::string bytes = BinaryOf(Customized());
  const std::set<std::string> messages = {kMLPSettingsError, kStopRulesError, kNeuralSettingsError};
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    MLPSettings b;
    const std::string err = FailedRead([&] {
      std::stringstream in(bytes.substr(0, n));
      b.ReadObject(in);
    });
    EXPECT_EQ(messages.count(err), 1u) << "truncated at " << n << ": " << err;
  }
  const std::string text = XmlOf(Customized());
  for (std::size_t n = 0; n < text.find_last_not_of(" \n") + 1; n += 3) {
    MLPSettings b;
    const std::string err = FailedRead([&] {
      std::stringstream in(text.substr(0, n));
      b.ReadObjectXML(in);
    });
    EXPECT_EQ(messages.count(err), 1u) << "truncated at " << n << ": " << err;
  }
}

TEST(MLPSettingsPersist, CorruptedBytesNeverCrash) {
  // Each single-byte change either reads or fails cleanly; the sanitizer
  // build checks that nothing is read out of bounds or leaked.
  const std::string bytes = BinaryOf(Customized());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (unsigned char flip : {0x01, 0x80, 0xff}) {
      std::string bad = bytes;
      bad[i] = static_cast<char>(bad[i] ^ flip);
      std::stringstream in(bad);
      MLPSettings b;
      testing::internal::CaptureStderr();
      try {
        b.ReadObject(in);
      } catch (IOException* e) {
        delete e;
      }
      testing::internal::GetCapturedStderr();
    }
  }
}

TEST(MLPSettingsPersist, XmlValueOfTheWrongTypeFails) {
  std::string text = XmlOf(Customized());
  // The first seed is stored as unsigned; an int element there is a
  // different type.
  const std::size_t at = text.find("<unsigned>");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, std::strlen("<unsigned>4000000000</unsigned>"), "<int>4</int>");
  MLPSettings b;
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(text);
              b.ReadObjectXML(in);
            }),
            kNeuralSettingsError);
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(XmlOf(Customized()));
              RBFSettings r;
              r.ReadObjectXML(in);
            }),
            kRBFSettingsError);
}

TEST(RBFSettingsPersist, RoundTripsThroughBothForms) {
  RBFSettings a(6, {2, 1}, 300);
  a.SetNumHiddenUnits(11, 1);
  a.SetOverlapFactor(2.75);
  a.SetNHiddenUnitsRange(3, 30);
  a.SetExpertOneDataPass(false);
  a.SetActivFnHiddenLayer(kRadialBasis);
  a.ComputeNWeights();
  a.SetRandomSeed(5);

  std::stringstream bin;
  const int written = a.WriteObject(bin);
  EXPECT_EQ(bin.str().substr(0, 6), "RBFSet");
  // Tag, overlap, 4 ints, then "NS".
  EXPECT_EQ(bin.str().substr(30, 2), "NS");
  std::stringstream xml;
  a.WriteObjectXML(xml);

  Cancel c;
  for (int form = 0; form < 2; ++form) {
    RBFSettings b;
    b.SetCancelPointer(&c);
    if (form == 0) {
      EXPECT_EQ(b.ReadObject(bin), written);
    } else {
      b.ReadObjectXML(xml);
    }
    EXPECT_TRUE(a == b);
    EXPECT_EQ(b.GetCancelPointer(), &c);
    EXPECT_EQ(b.GetOverlapFactor(), 2.75);
    EXPECT_EQ(b.GetMinNHiddenUnits(), 3);
    EXPECT_EQ(b.GetMaxNHiddenUnits(), 30);
    EXPECT_FALSE(b.GetExpertOneDataPass());
    EXPECT_EQ(b.GetNWeights(), 12 * 3);
    EXPECT_EQ(b.GetNumHiddenUnits(1), 11);
    EXPECT_EQ(b.GetActivFnHiddenLayer(), kRadialBasis);
    EXPECT_EQ(b.GetRandomSeed(), 5u);
  }
}

TEST(RBFSettingsPersist, DamagedStreamsFail) {
  const RBFSettings a(6, {2, 1}, 300);
  std::stringstream bin;
  a.WriteObject(bin);
  const std::string bytes = bin.str();
  std::string bad = bytes;
  bad[2] = 'X';
  RBFSettings b;
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(bad);
              b.ReadObject(in);
            }),
            kRBFSettingsError);
  EXPECT_EQ(FailedRead([&] {
              std::stringstream in(BinaryOf(MLPSettings(6, {2, 1}, 300)));
              b.ReadObject(in);
            }),
            kRBFSettingsError);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::string err = FailedRead([&] {
      std::stringstream in(bytes.substr(0, n));
      b.ReadObject(in);
    });
    EXPECT_TRUE(err == kRBFSettingsError || err == kNeuralSettingsError) << n << ": " << err;
  }
  // Nothing was half-read into the reader.
  EXPECT_TRUE(b == RBFSettings());
}

TEST(NeuralSettingsPersist, BaseAloneRoundTrips) {
  NeuralSettings a(kMLP, 7, {1, 1}, 40);
  a.SetNTestRecords(3);
  std::stringstream bin;
  a.WriteObject(bin);
  EXPECT_EQ(bin.str().substr(0, 2), "NS");
  NeuralSettings b;
  b.ReadObject(bin);
  EXPECT_TRUE(a == b);
  std::stringstream xml;
  a.WriteObjectXML(xml);
  NeuralSettings c;
  c.ReadObjectXML(xml);
  EXPECT_TRUE(a == c);
}

TEST(SettingsDisplay, NamesTheFieldsAndEnumerations) {
  std::ostringstream out;
  Customized().Display(out);
  const std::string text = out.str();
  for (const char* expected :
       {"Start of MLPSettings display\n", "Random weights range: (-0.3, 0.7)\n",
        "Training method = Gradient Descent\n", "Size of mini-batch is specified by user.\n",
        "The base:\nStart of NeuralSettings display\n", "Algorithm Type = MLP\n",
        "Activation Function for hidden layers = Sigmoid\n",
        "Standardization option for input data = Subtract min and divide by range\n",
        "The flag of feConfidenceMethod is: SimpleMax\n", "End of NeuralSettings display\n",
        "Number of weights in the network = 197\nEnd of MLPSettings display\n"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
  }
  std::ostringstream rules;
  MLPStopRules().Display(rules);
  EXPECT_NE(
      rules.str().find("Check training error in verifying cycle when test data present = no\n"),
      std::string::npos);
}
