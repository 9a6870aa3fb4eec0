// PMML export as the algorithm drives it. A model trained on records encoded
// by the host, without a variable list, has no fields to describe: its
// export writes nothing at all and leaves the algorithm's status and state
// as they were, even when its settings ask for predictor importance. A
// model with a list names in its output layer the normalization its
// settings' confidence method asks for.

#include <unistd.h>

#include "persist/PMMLExport.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/algorithm/rbf_fixtures.h"
#include "vxneural/variables/NNCatVar.h"

namespace {

using namespace mlpdriver;

template <class M>
void ExpectNothingWritten(M& m) {
  ASSERT_NE(m.algorithm, nullptr);
  INeuralAlgorithm& a = *m.algorithm;
  ASSERT_EQ(a.GetVarList(), nullptr);
  ASSERT_TRUE(a.Train(static_cast<int>(m.trainRecords.size()), -1).IsOK());
  ASSERT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
  const VXStatus before = a.GetStatus();

  std::ostringstream out;
  const VXStatus returned = a.ExportModelXML(out, 0, nullptr);
  EXPECT_TRUE(out.str().empty()) << out.str().substr(0, 200);
  EXPECT_EQ(returned, before);
  EXPECT_EQ(a.GetStatus(), before);
  EXPECT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
}

TEST(PmmlWithoutList, PerceptronAndRBFNetworkWriteNothingAndKeepTheirStatus) {
  for (const bool sensitivity : {false, true}) {
    SCOPED_TRACE(sensitivity ? "importance asked" : "importance not asked");
    ExpectNothingWritten(*MakeModel(
        kCategoricalTarget, 60, 0, 1, [&](MLPSettings& s) { s.SetComputeSensitivity(sensitivity); },
        true));
    ExpectNothingWritten(*MakeRbf(
        kContinuousTarget, 60, 0, [&](RBFSettings& s) { s.SetComputeSensitivity(sensitivity); },
        true));
  }
}

TEST(PmmlOutputLayer, NormalizationFollowsTheConfidenceMethod) {
  const struct {
    NeuralSettings::CONFIDENCE_METHOD method;
    const char *shown, *notShown;
  } cases[] = {{NeuralSettings::kConfidenceNone, "softmax", "simplemax"},
               {NeuralSettings::kConfidenceSoftMax, "softmax", "simplemax"},
               {NeuralSettings::kConfidenceSimpleMax, "simplemax", "softmax"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    auto m = MakeModel(kCategoricalTarget, 60, 0, 1,
                       [&](MLPSettings& s) { s.SetConfidenceMethod(c.method); });
    ASSERT_TRUE(m->algorithm->Train(60, -1).IsOK());
    std::ostringstream out;
    ASSERT_TRUE(m->algorithm->ExportModelXML(out, 0, nullptr).IsOK());
    const std::string attribute = "normalizationMethod=\"";
    EXPECT_NE(out.str().find(attribute + c.shown + "\""), std::string::npos);
    EXPECT_EQ(out.str().find(attribute + c.notShown + "\""), std::string::npos);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// The documents' metadata, checked whole against what the export rules give
// for each storage and measure level, written out by hand below.

namespace {

using VXXML_1_2::XMLElement;
using Strings = std::vector<std::string>;

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

// "Name(attribute=value, ...)", attributes in document order.
std::string Render(const XMLElement& e) {
  std::string text = e.GetName() + "(";
  for (std::size_t i = 0; i < e.Attributes().size(); ++i)
    text += (i ? ", " : "") + e.Attributes()[i].first + "=" + e.Attributes()[i].second;
  return text + ")";
}

std::vector<const XMLElement*> ChildElements(const XMLElement& e, const std::string& name = "") {
  std::vector<const XMLElement*> children;
  for (const auto& node : e.Children())
    if (const auto* child = dynamic_cast<const XMLElement*>(node.get()))
      if (name.empty() || child->GetName() == name) children.push_back(child);
  return children;
}

Strings Rendered(const std::vector<const XMLElement*>& elements) {
  Strings text;
  for (const XMLElement* e : elements) text.push_back(Render(*e));
  return text;
}

// The element at a path of child names, or null.
const XMLElement* At(const XMLElement& root, const Strings& path) {
  const XMLElement* e = &root;
  for (const std::string& name : path)
    if (e == nullptr || (e = e->FindChild(name)) == nullptr) return nullptr;
  return e;
}

enum Kind { kCont, kNumCat, kStrCat };
const auto kIn = INNVariable::kInput, kOut = INNVariable::kOutput;

struct FieldCase {
  const char* name;
  Kind kind;
  INNVariable::VariableRole role;
  INNVariable::VariableStorage storage;
  bool ordinal, flag;
  // The data field's attributes after its name and label, its children;
  // the statistics document's measure and storage.
  const char *optype, *dataType;
  Strings children;
  const char *measure, *storageText;
};

// Inputs, then targets; the user-missing declarations are those of
// DeclareUserMissing.
// clang-format off
const FieldCase kFields[] = {
    {"real", kCont, kIn, INNVariable::kReal, false, false, "continuous", "double",
     {"Extension(extender=vxneural, name=invalidRangeLower, value=-100)",
      "Extension(extender=vxneural, name=invalidRangeUpper, value=-50)",
      "Value(value=9.5, displayValue=nine and a half, property=missing)",
      "Value(value=-1, property=missing)"},
     "continuous", "real"},
    {"count", kCont, kIn, INNVariable::kInteger, false, false, "continuous", "double",
     {"Extension(extender=vxneural, name=invalidRangeUpper, value=0)"},
     "continuous", "integer"},
    {"date", kCont, kIn, INNVariable::kDate, false, false, "continuous", "dateDaysSince[1970]",
     {}, "continuous", "date"},
    {"time", kCont, kIn, INNVariable::kTime, false, false, "continuous", "timeSeconds",
     {}, "continuous", "time"},
    {"stamp", kCont, kIn, INNVariable::kTimestamp, false, false,
     "continuous", "dateTimeSecondsSince[1970]", {}, "continuous", "timestamp"},
    {"plain", kCont, kIn, INNVariable::kUndefinedStorage, false, false, "continuous", "double",
     {}, "continuous", "none"},
    {"grade", kNumCat, kIn, INNVariable::kInteger, true, false, "ordinal", "double",
     {"Value(value=1)", "Value(value=2)", "Value(value=3)", "Value(value=0, property=missing)"},
     "ordinal", "integer"},
    {"colour", kStrCat, kIn, INNVariable::kString, false, false, "categorical", "string",
     {"Value(value=red)",
      "Value(value=green)",
      "Value(value=blue)",
      "Value(value=?, displayValue=unknown, property=missing)",
      "Value(value=, property=missing)"},
     "nominal", "string"},
    {"flag", kNumCat, kIn, INNVariable::kReal, false, true, "categorical", "double",
     {"Extension(extender=vxneural, name=flagTypeTrueValue, value=1)",
      "Extension(extender=vxneural, name=invalidRangeLower, value=5)",
      "Value(value=0)",
      "Value(value=1)"},
     "flag", "real"},
    {"size", kNumCat, kOut, INNVariable::kInteger, false, false, "categorical", "integer",
     {"Value(value=1)", "Value(value=2)", "Value(value=3)"},
     "nominal", "integer"},
    {"tone", kStrCat, kOut, INNVariable::kInteger, true, false, "ordinal", "string",
     {"Value(value=low)", "Value(value=high)"},
     "ordinal", "integer"},
    {"level", kNumCat, kOut, INNVariable::kReal, false, false, "categorical", "double",
     {"Value(value=0.5)", "Value(value=1.5)"},
     "nominal", "real"},
    {"amount", kCont, kOut, INNVariable::kDate, false, false, "continuous", "dateDaysSince[1970]",
     {}, "continuous", "date"},
};
// clang-format on
constexpr int kInputs = 9;

std::vector<double> NumericCategories(const std::string& name) {
  if (name == "grade" || name == "size") return {1, 2, 3};
  if (name == "flag") return {0, 1};
  return {0.5, 1.5};
}
Strings StringCategories(const std::string& name) {
  return name == "colour" ? Strings{"red", "green", "blue"} : Strings{"low", "high"};
}

void DeclareUserMissing(NNVarList& list) {
  ASSERT_TRUE(list.AddDiscreteUserMissing(0, 9.5, "nine and a half"));
  ASSERT_TRUE(list.AddDiscreteUserMissing(0, -1.0, ""));
  ASSERT_TRUE(list.SetMissingInterval(0, -100.0, -50.0));
  ASSERT_TRUE(list.SetMissingInterval(1, kMissing, 0.0));
  ASSERT_TRUE(list.AddDiscreteUserMissing(6, 0.0, ""));
  ASSERT_TRUE(list.AddDiscreteUserMissing(7, std::string("?"), "unknown"));
  ASSERT_TRUE(list.AddDiscreteUserMissing(7, std::string(), ""));
  ASSERT_TRUE(list.SetMissingInterval(8, 5.0, kMissing));
}

// The list of kFields, each labelled "L" and its name, with "real"
// replaced by 0.25 when missing; and records over it (categories as codes).
struct MetadataModel {
  NNVarList list;
  std::vector<Record> records;
  std::unique_ptr<VectorRecordIter> source;
  MLPSettings settings;
  std::unique_ptr<INeuralAlgorithm> algorithm;

  MetadataModel() { Build(); }

  void Build() {
    for (const FieldCase& f : kFields) {
      const std::string label = std::string("L") + f.name;
      int index = -1;
      if (f.kind == kCont)
        index = list.AddContVar(f.name, label, 0.0, 1.0, 0.5, 0.08, f.role, f.storage);
      else if (f.kind == kNumCat)
        index = list.AddCatVar(f.name, label, NumericCategories(f.name), f.role, f.storage);
      else
        index = list.AddCatVar(f.name, label, StringCategories(f.name), f.role, f.storage);
      ASSERT_GE(index, 0) << f.name;
      auto* cat = dynamic_cast<NNCatVar*>(list.GetVarAt(index));
      if (f.ordinal) cat->SetOrdinalFlag(true);
      if (f.flag) cat->SetBinaryFlag(true, 1);
    }
    DeclareUserMissing(list);
    ASSERT_TRUE(list.SetMissingValueReplacement(0, "0.25"));
    for (int i = 0; i < 40; ++i) {
      Record r;
      r.Resize(static_cast<int>(list.Size()));
      for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
        const int n = list.GetVarAt(v)->GetNumberOfCategories();
        r[v] = kFields[v].kind == kCont ? 0.5 + 0.45 * std::sin(1.7 * i + v) : (i + v) % n;
      }
      records.push_back(r);
    }
    source = std::make_unique<VectorRecordIter>(records);
    settings = MLPSettings(list, 40);
    settings.SetMaxNDataPasses(3);
    settings.SetNumHiddenUnits(2, 1);
    algorithm.reset(MLPFactory().CreateNeuralAlgorithm(settings, list, *source, nullptr, nullptr));
    ASSERT_TRUE(algorithm);
    ASSERT_TRUE(algorithm->Train(40, -1).IsOK());
  }

  std::unique_ptr<XMLElement> Document(bool statistics) const {
    const auto& mlp = dynamic_cast<const MLPAlgorithm&>(*algorithm);
    const VXNeural::detail::ExportSource source{mlp.GetNetwork(), mlp.GetSettings(),
                                                mlp.GetVarList(), nullptr};
    return std::unique_ptr<XMLElement>(statistics ? VXNeural::detail::BuildStatDocument(source)
                                                  : VXNeural::detail::BuildPMMLDocument(source));
  }
};

TEST(PmmlMetadata, DataDictionaryAndMiningSchemaFollowEachStorageAndMeasureLevel) {
  MetadataModel m;
  ASSERT_TRUE(m.algorithm);
  const std::unique_ptr<XMLElement> pmml = m.Document(false);
  ASSERT_TRUE(pmml);
  const XMLElement* dict = At(*pmml, {"DataDictionary"});
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(Render(*dict), "DataDictionary(numberOfFields=13)");
  const std::vector<const XMLElement*> fields = ChildElements(*dict);
  ASSERT_EQ(fields.size(), std::size(kFields));
  Strings schema;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldCase& f = kFields[i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(Render(*fields[i]), std::string("DataField(name=") + f.name + ", displayName=L" +
                                      f.name + ", optype=" + f.optype + ", dataType=" + f.dataType +
                                      ")");
    EXPECT_EQ(Rendered(ChildElements(*fields[i])), f.children);
    std::string mining = std::string("MiningField(name=") + f.name;
    if (i == 0) mining += ", missingValueReplacement=0.25";
    schema.push_back(mining + (f.role == kOut ? ", usageType=predicted)" : ")"));
  }
  const XMLElement* mining = At(*pmml, {"NeuralNetwork", "MiningSchema"});
  ASSERT_NE(mining, nullptr);
  EXPECT_EQ(Rendered(ChildElements(*mining)), schema);
}

TEST(PmmlMetadata, StatisticsDocumentDescribesEveryFieldAndCountsThePredictors) {
  MetadataModel m;
  ASSERT_TRUE(m.algorithm);
  const std::unique_ptr<XMLElement> stats = m.Document(true);
  ASSERT_TRUE(stats);
  const XMLElement* fields = At(*stats, {"DataModel", "Fields"});
  ASSERT_NE(fields, nullptr);
  EXPECT_EQ(Render(*fields), "Fields(count=13)");
  Strings expected;
  for (const FieldCase& f : kFields)
    expected.push_back(std::string("Field(name=") + f.name + ", displayLabel=L" + f.name +
                       ", role=" + (f.role == kIn ? "input" : "target") + ", measure=" + f.measure +
                       ", storage=" + f.storageText + ")");
  EXPECT_EQ(Rendered(ChildElements(*fields)), expected);

  // One summary per target, in target order, each counting the input
  // variables (not their units, nor the targets) and the network's weights.
  const XMLElement* model = At(*stats, {"PMMLModel"});
  ASSERT_NE(model, nullptr);
  const auto& mlp = dynamic_cast<const MLPAlgorithm&>(*m.algorithm);
  const std::string modelSize = std::to_string(mlp.GetNetwork()->GetNumWeights());
  Strings targets, statistics;
  for (const XMLElement* summary : ChildElements(*model, "PredictiveSummary")) {
    targets.push_back(*summary->GetAttribute("targetField"));
    statistics.push_back(Render(*ChildElements(*summary, "Statistic").at(0)) + " " +
                         Render(*ChildElements(*summary, "Statistic").at(1)));
  }
  EXPECT_EQ(targets, (Strings{"size", "tone", "level", "amount"}));
  const std::string counts = "Statistic(name=predictors, value=" + std::to_string(kInputs) +
                             ") Statistic(name=modelSize, value=" + modelSize + ")";
  EXPECT_EQ(statistics, Strings(4, counts));
}

}  // namespace

// ---------------------------------------------------------------------------
// The export as an operation of the algorithm: the importance pass goes
// through the public gate, the document is written even when the pass
// fails, and the export ends by looking at the cancel object.

namespace {

// A categorical-target perceptron with importance asked for, a cancel object
// and a listener that counts the importance pass's reports. Its encoded
// training records are kept in a temporary file of the test's naming, more
// than one block of it; with damaged, the category units of a record of the
// second block are zeroed there after training, as a damaged file would
// have them: the importance pass then meets a record with no active
// category.
struct ExportModel : VXCommon_1_2::VXTempFileNameMaker {
  std::string GetTempFileName() override {
    // The process id keeps test programs run side by side apart.
    file = ::testing::TempDir() + "pmml_export_model_" + std::to_string(getpid()) + ".tmp";
    return file;
  }

  CountdownCancel cancel;
  int reports = 0;
  FunctionListener listener{[this](VXCommon_1_2::ProgressReport&) { ++reports; }};
  std::vector<Record> records;
  NNVarList list;
  std::unique_ptr<VectorRecordIter> source;
  std::unique_ptr<INeuralAlgorithm> algorithm;
  std::string file;

  explicit ExportModel(bool damaged) {
    records = MakeRecords(kRecords, 3);
    list = MakeList(records, kCategoricalTarget);
    source = std::make_unique<VectorRecordIter>(records);
    MLPSettings settings(list, kRecords);
    settings.SetNumHiddenUnits(3, 1);
    settings.SetMaxNDataPasses(20);
    settings.SetComputeSensitivity(true);
    settings.SetCancelPointer(&cancel);
    settings.SetMaxRecordsInMemory(10);
    settings.SetTempFileNameMaker(this);
    algorithm.reset(MLPFactory().CreateNeuralAlgorithm(settings, list, *source, nullptr, nullptr));
    if (!algorithm || !algorithm->Train(kRecords, -1).IsOK()) return;
    algorithm->SetProgressListener(&listener);
    if (damaged) Damage();
  }

  static constexpr int kRecords = 5000;
  // Record 4900 of the file: x, the three units of c, v, then the target's
  // two.
  void Damage() const {
    std::FILE* f = std::fopen(file.c_str(), "r+b");
    ASSERT_NE(f, nullptr) << file;
    const double zeros[3] = {0.0, 0.0, 0.0};
    ASSERT_EQ(std::fseek(f, static_cast<long>((4900 * 7 + 1) * sizeof(double)), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(zeros, sizeof(double), 3, f), 3u);
    std::fclose(f);
  }
};

TEST(PmmlExportOperation, GateCancelAndFailedImportanceGiveTheirStatusesAndStates) {
  enum Before { kNothing, kCancelPending, kStoredError, kDamagedFile, kCancelDuringPass };
  const struct {
    const char* name;
    Before before;
    bool statistics;
    // What the export returns and leaves stored, the state after it,
    // whether the document was written and with importance, and the
    // importance pass ran.
    VXStatus status;
    VXNNCommon::AlgorithmStatus state;
    bool written, importance, ran;
  } cases[] = {
      {"plain", kNothing, false, VXStatus(), VXNNCommon::kTrained, true, true, true},
      {"statistics", kNothing, true, VXStatus(), VXNNCommon::kTrained, true, false, false},
      {"cancel pending", kCancelPending, false, VXStatus(1, false), VXNNCommon::kCancelled, true,
       false, false},
      {"cancel pending, statistics", kCancelPending, true, VXStatus(1, false),
       VXNNCommon::kCancelled, true, false, false},
      {"stored error", kStoredError, false, VXStatus(50018, false), VXNNCommon::kTrained, true,
       false, false},
      {"stored error, statistics", kStoredError, true, VXStatus(50018, false), VXNNCommon::kTrained,
       true, false, false},
      {"no active category", kDamagedFile, false, VXStatus(50008, false), VXNNCommon::kTrained,
       true, false, true},
      {"cancel during the pass", kCancelDuringPass, false, VXStatus(1, false),
       VXNNCommon::kCancelled, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExportModel m(c.before == kDamagedFile);
    ASSERT_TRUE(m.algorithm);
    INeuralAlgorithm& a = *m.algorithm;
    ASSERT_EQ(a.GetAlgorithmStatus(), VXNNCommon::kTrained);
    if (c.before == kStoredError) {
      Record scoring = m.records[0];
      scoring[kX] = kMissing;
      EXPECT_TRUE(a.Score(scoring).IsMissing());
      ASSERT_EQ(a.GetStatus(), VXStatus(50018, false));
    }
    if (c.before == kCancelPending) m.cancel.Arm(0);
    // The pass asks before each record.
    if (c.before == kCancelDuringPass) m.cancel.Arm(10);

    std::ostringstream out;
    const VXStatus returned =
        c.statistics ? a.ExportModelStatXML(out, 0, nullptr) : a.ExportModelXML(out, 0, nullptr);
    EXPECT_EQ(returned, c.status);
    EXPECT_EQ(a.GetStatus(), c.status);
    EXPECT_EQ(a.GetAlgorithmStatus(), c.state);
    const std::string root = c.statistics ? "<StatXML " : "<PMML ";
    EXPECT_EQ(Count(out.str(), root), c.written ? 1 : 0);
    EXPECT_EQ(Count(out.str(), "importance=\""), c.importance ? 3 : 0);
    EXPECT_EQ(m.reports > 0, c.ran);
  }
}

// The model's stop reason reaches the network with the PMML export: the
// statistics document names it when written after that export, and the
// network's own undefined reason when written before.
TEST(PmmlExportOperation, StatisticsCarryTheStopReasonInEitherOrder) {
  const char* const kNames[] = {
      "kStoppedUndefined",        "kStoppedMaxTime",         "kStoppedMaxDataPasses",
      "kStoppedErrorChangeLimit", "kStoppedErrorRatioLimit", "kStoppedSmallGradient",
      "kStoppedVerifyingCycle",   "kStoppedAccuracy",        "kStoppedComputed"};
  for (const bool rbf : {false, true}) {
    for (const bool statisticsFirst : {true, false}) {
      SCOPED_TRACE(std::string(rbf ? "RBF" : "MLP") +
                   (statisticsFirst ? ", statistics first" : ", PMML first"));
      AnyModel m = MakeAny(rbf, kCategoricalTarget, 60, 0, {});
      INeuralAlgorithm& a = *m.Algorithm();
      ASSERT_TRUE(a.Train(60, -1).IsOK());
      const int reason = a.GetStopReason();
      ASSERT_GT(reason, 0);
      ASSERT_LE(reason, 8);
      EXPECT_EQ(reason == VXNNCommon::kStoppedComputed, rbf);
      std::ostringstream pmml, stats;
      if (statisticsFirst) {
        ASSERT_EQ(a.ExportModelStatXML(stats, 0, nullptr), VXStatus());
      }
      ASSERT_EQ(a.ExportModelXML(pmml, 0, nullptr), VXStatus());
      if (!statisticsFirst) {
        ASSERT_EQ(a.ExportModelStatXML(stats, 0, nullptr), VXStatus());
      }
      // The statistics name the reason the network was given by the PMML
      // export; written first, they name the network's own, undefined one.
      const int named = statisticsFirst ? VXNNCommon::kStoppedUndefined : reason;
      EXPECT_EQ(Count(stats.str(), std::string("stoppingRule=\"") + kNames[named] + "\""), 1);
    }
  }
}

}  // namespace
