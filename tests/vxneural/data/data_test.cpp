// The data module: the preparator (the encoded-record layout, skipping
// rules, the memory budget and the temporary-file route, one-pass reading
// of the host's sources) and the record sources it hands over. The
// temporary-file source: whole records read in blocks, on either side of a
// block boundary; the end found whether or not it falls on one; a damaged
// tail that ends the data in error after the whole records before it; and
// rewinding. The in-memory buffer: reading order and status, and its two
// saved forms including damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/alloc_counter.h"
#include "common/host_doubles.h"
#include "common/saved_forms.h"
#include "common/scratch_dir.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/record_fields.h"
#include "vxneural/variables/NNVarList.h"

using namespace saved_forms;
using host_doubles::CountingSource;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using VXNeural::BinaryRecordIterator;
using VXNeural::RecordBufferIter;

namespace {

std::vector<double> Values(const Record& r) {
  return std::vector<double>(r.GetAll(), r.GetAll() + r.Size());
}

constexpr double kMissing = VXMV::gMissingValue;

// A raw record of the worked list below: x, c, u (whatever), y.
Record Raw(double x, double c, double y) { return Record(std::vector<double>{x, c, 123.0, y}); }

// The encoding worked out by hand for the worked list. Min/range on 0..10
// has slope 1/10 and intercept -0.0; writing x * slope keeps the rounding
// of the encoder's x * slope + intercept, so results compare exactly.
std::vector<double> Encoded(double x, int c, int y) {
  const double slope = 1.0 / 10.0;
  return {x * slope + -(slope * 0.0), c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0,
          c == 2 ? 1.0 : 0.0,         y == 0 ? 1.0 : 0.0, y == 1 ? 1.0 : 0.0};
}

// Records first .. first + count - 1 of a generated source; encoded record i.
std::vector<Record> Generate(int first, int count) {
  std::vector<Record> records;
  for (int i = first; i < first + count; ++i) records.push_back(Raw(i % 11, i % 3, (i / 3) % 2));
  return records;
}
std::vector<double> EncodedAt(int i) { return Encoded(i % 11, i % 3, (i / 3) % 2); }

// Checks that source holds encoded records first .. first + count - 1.
void ExpectSource(VXCommon_1_2::MultiPassRecordIter* source, int first, int count) {
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->Rewind(), 0);
  for (int i = first; i < first + count; ++i) {
    const Record* r = source->Next();
    ASSERT_NE(r, nullptr) << "record " << i;
    ASSERT_EQ(Values(*r), EncodedAt(i)) << "record " << i;
  }
  EXPECT_FALSE(source->IsGood());
}

// A fresh directory per test; Entries lists it in name order. TearDown
// fails the test when anything is left in it, then removes it.
class PreparatorTest : public testing::Test {
 protected:
  // x: continuous input on 0..10 (min/range: x / 10) with the user-missing
  // value 99; c: input with 3 categories; u: unused; y: output with 2
  // categories. W = 1 + 3 + 2.
  PreparatorTest() {
    fList.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
    fList.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                    INNVariable::kInteger);
    fList.AddContVar("u", "", 0.0, 1.0, 0.5, 0.1, INNVariable::kUnused, INNVariable::kReal);
    fList.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                    INNVariable::kInteger);
    fList.AddDiscreteUserMissing(0, 99.0, "no answer");
  }
  MLPSettings Settings(int nTrain, int nTest, long budget) {
    MLPSettings s(fList, nTrain);
    s.SetStandInputs(VXNNCommon::kMinRange);
    s.SetNTestRecords(nTest);
    s.SetMaxRecordsInMemory(budget);
    s.SetTempFileNameMaker(fNames.get());
    return s;
  }
  void TearDown() override {
    EXPECT_EQ(Entries(), std::vector<std::string>{}) << "temporary files left behind";
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fScratch.Path()))
      names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  scratch_dir::ScratchDir fScratch;
  // Names temporary files in the scratch directory.
  std::unique_ptr<VXCommon_1_2::VXDefaultTempFileNameMaker> fNames =
      std::make_unique<VXCommon_1_2::VXDefaultTempFileNameMaker>(fScratch.Path());
  NNVarList fList;
};

TEST_F(PreparatorTest, EncodedLayoutSkippingCodesAndScoringRecords) {
  const MLPSettings s = Settings(10, 0, 1000);
  NNDataPreparator p(fList, s, nullptr, nullptr);
  EXPECT_EQ(p.GetRecordWidth(), 6);
  const VXStatus ok, skipped(50003, true);
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Record raw;
    std::vector<double> encoded;
    VXStatus status;
  } const cases[] = {
      {Raw(5, 2, 0), {0.5, 0, 0, 1, 1, 0}, ok},
      // The unused field does not matter.
      {Record(std::vector<double>{10, 0, kMissing, 1}), Encoded(10, 0, 1), ok},
      // Codes are truncated toward zero.
      {Raw(5, 2.9, 1), Encoded(5, 2, 1), ok},
      {Raw(5, -0.5, 1), Encoded(5, 0, 1), ok},
      // A missing continuous value, or a user-missing one, is missing in its unit.
      {Raw(kMissing, 1, 0), {kMissing, 0, 1, 0, 1, 0}, ok},
      {Raw(99, 1, 0), {kMissing, 0, 1, 0, 1, 0}, ok},
      // A record shorter than the list reads as missing fields.
      {Record(std::vector<double>{5, 1}), {0.5, 0, 1, 0, 0, 0}, skipped},
  };
  Record out;  // reused, so every field must be overwritten
  for (const Case& c : cases) {
    EXPECT_EQ(p.EncodeRecord(c.raw, out), c.status) << &c - cases;
    EXPECT_EQ(Values(out), c.encoded) << &c - cases;
  }
  // A bad code leaves its units at zero; the other fields are still encoded.
  for (double c : {3.0, -1.0, 1e300, -1e300, kMissing, inf, std::nan("")}) {
    EXPECT_EQ(p.EncodeRecord(Raw(5, c, 1), out), skipped) << c;
    EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 0, 0, 1})) << c;
  }

  // Scoring reads a record of the inputs alone (x, c) and fills the input
  // units only.
  NNDataPreparator q(fList, s, nullptr, nullptr);  // its status still fresh
  const auto inputs = [](double x, double c) { return Record(std::vector<double>{x, c}); };
  out = Record(std::vector<double>(6, 9.0));
  EXPECT_TRUE(q.EncodeInputs(inputs(5, 2), out).IsOK());
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 1, 9, 9}));
  EXPECT_EQ(q.EncodeInputs(inputs(kMissing, 2), out), VXStatus(50018, false));
  EXPECT_EQ(q.EncodeInputs(inputs(5, kMissing), out), VXStatus(50018, false));
  EXPECT_EQ(q.EncodeInputs(Record(std::vector<double>{5}), out), VXStatus(50018, false));
  // An invalid code is an error here, and the other inputs are still done.
  EXPECT_EQ(q.EncodeInputs(inputs(5, 3), out), VXStatus(50003, false));
  EXPECT_EQ(out[0], 0.5);
  Record shortOut;
  EXPECT_TRUE(q.EncodeInputs(inputs(2, 0), shortOut).IsOK());
  EXPECT_EQ(Values(shortOut), (std::vector<double>{0.2, 1, 0, 0}));
  EXPECT_TRUE(q.GetStatus().IsOK()) << "scoring leaves the preparator's status alone";
}

// A scoring record holds one field per input, in list order, wherever the
// target and the unused variables stand in the list; its input units are
// those the training encoding gives the full record of the same values.
// Inputs: x continuous on 0..10 (min/range: 0.5 for 5), c with 3
// categories (code 2), z continuous on -2..2 (0.75 for 1); target y with 2
// categories; u unused.
TEST(ScoringRecord, HoldsTheInputsAloneWhereverTheTargetStands) {
  const std::vector<double> expected = {0.5, 0, 0, 1, 0.75};
  for (const std::string order : {"yxcz", "xycz", "xcyuz", "uyxcz", "xczy"}) {
    SCOPED_TRACE(order);
    NNVarList list;
    std::vector<double> full;  // the training record: one field per variable
    for (const char v : order) {
      switch (v) {
        case 'x':
          list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
          full.push_back(5);
          break;
        case 'c':
          list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                         INNVariable::kInteger);
          full.push_back(2);
          break;
        case 'z':
          list.AddContVar("z", "", -2.0, 2.0, 0.0, 1.0, INNVariable::kInput, INNVariable::kReal);
          full.push_back(1);
          break;
        case 'y':
          list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                         INNVariable::kInteger);
          full.push_back(1);
          break;
        default:
          list.AddContVar("u", "", 0.0, 1.0, 0.5, 0.1, INNVariable::kUnused, INNVariable::kReal);
          full.push_back(0.25);
      }
    }
    MLPSettings s(list, 10);
    s.SetStandInputs(VXNNCommon::kMinRange);
    NNDataPreparator p(list, s, nullptr, nullptr);
    Record scored, trained;
    ASSERT_EQ(p.EncodeInputs(Record(std::vector<double>{5, 2, 1}), scored), VXStatus());
    EXPECT_EQ(Values(scored), expected);
    ASSERT_EQ(p.EncodeRecord(Record(full), trained), VXStatus());
    EXPECT_EQ(std::vector<double>(trained.GetAll(), trained.GetAll() + 5), expected);
    // Each input is read from its own field: a missing or bad value there
    // is that input's.
    EXPECT_EQ(p.EncodeInputs(Record(std::vector<double>{5, 2, kMissing}), scored),
              VXStatus(50018, false));
    EXPECT_EQ(p.EncodeInputs(Record(std::vector<double>{5, 2}), scored), VXStatus(50018, false));
    EXPECT_EQ(p.EncodeInputs(Record(std::vector<double>{5, 3, 1}), scored), VXStatus(50003, false));
    EXPECT_EQ(Values(scored), (std::vector<double>{0.5, 0, 0, 0, 0.75}));
  }
}

// Five continuous inputs on 0..8 make one run of linear maps (min/range:
// v / 8, exact in binary); a missing value in any of its places refuses the record and
// clears every unit, a value next to the missing one does not. The pointer
// form encodes as the record form does.
TEST(ScoringRecord, AMissingValueAnywhereInARunOfInputs) {
  NNVarList list;
  for (const char* name : {"a", "b", "c", "d", "e"})
    list.AddContVar(name, "", 0.0, 8.0, 4.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  MLPSettings s(list, 10);
  s.SetStandInputs(VXNNCommon::kMinRange);
  NNDataPreparator p(list, s, nullptr, nullptr);
  const double nearMissing = std::nextafter(kMissing, 0.0);
  struct Case {
    int at;
    double value;
    VXStatus status;
    std::vector<double> units;
  };
  const std::vector<Case> cases{
      {-1, 0.0, VXStatus(), {0.125, 0.25, 0.375, 0.5, 0.625}},
      {0, kMissing, VXStatus(50018, false), std::vector<double>(5, 0.0)},
      {1, kMissing, VXStatus(50018, false), std::vector<double>(5, 0.0)},
      {3, kMissing, VXStatus(50018, false), std::vector<double>(5, 0.0)},
      {4, kMissing, VXStatus(50018, false), std::vector<double>(5, 0.0)},
      {2, nearMissing, VXStatus(), {0.125, 0.25, nearMissing / 8.0, 0.5, 0.625}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    std::vector<double> values{1, 2, 3, 4, 5};
    if (c.at >= 0) values[static_cast<std::size_t>(c.at)] = c.value;
    Record scored;
    EXPECT_EQ(p.EncodeInputs(Record(values), scored), c.status);
    EXPECT_EQ(Values(scored), c.units);
    std::vector<double> units(5, 9.0);
    EXPECT_EQ(p.EncodeInputs(values.data(), 5, units.data()), c.status);
    EXPECT_EQ(units, c.units);
  }
}

// Without a name maker the C library makes each file in the settings'
// directory, under six characters of its own and no prefix; a file lives as
// long as the encoded source over it. A directory that cannot hold a file
// gives 50002 and leaves nothing behind.
TEST_F(PreparatorTest, WithoutANameMakerTheFileIsMadeInTheSettingsDirectory) {
  MLPSettings s = Settings(3, 0, 1);
  s.SetTempFileNameMaker(nullptr);
  s.SetTempFileDir(fScratch.Path());
  NNDataPreparator p(fList, s, nullptr, nullptr);
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> first, second;
  for (auto* owned : {&first, &second}) {
    CountingSource source(Generate(0, 3));
    VXCommon_1_2::MultiPassRecordIter* encoded = nullptr;
    int written = 0;
    ASSERT_EQ(p.EncodeToTempFile(source, 3, encoded, written), VXStatus());
    owned->reset(encoded);
    EXPECT_EQ(written, 3);
    ExpectSource(encoded, 0, 3);
  }
  const std::vector<std::string> names = Entries();
  ASSERT_EQ(names.size(), 2u) << "one file per encoded source";
  for (const std::string& name : names) {
    const std::filesystem::path path(name);
    EXPECT_EQ(path.parent_path(), std::filesystem::path(fScratch.Path()));
    const std::string file = path.filename().string();
    EXPECT_EQ(file.size(), 6u) << file;
    EXPECT_TRUE(std::all_of(file.begin(), file.end(), [](char c) { return std::isalnum(c); }))
        << file;
    EXPECT_EQ(std::filesystem::file_size(path), 3u * 6u * sizeof(double));
  }
  std::vector<std::string> held = {dynamic_cast<BinaryRecordIterator&>(*first).GetFileName(),
                                   dynamic_cast<BinaryRecordIterator&>(*second).GetFileName()};
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, names) << "each source holds its own file";
  first.reset();
  EXPECT_EQ(Entries().size(), 1u);
  second.reset();
  EXPECT_EQ(Entries(), std::vector<std::string>{});

  // A directory under a regular file cannot exist.
  const std::string plain = fScratch.Path() + "/plain";
  std::ofstream(plain) << "x";
  s.SetTempFileDir(plain + "/sub");
  NNDataPreparator q(fList, s, nullptr, nullptr);
  CountingSource source(Generate(0, 3));
  VXCommon_1_2::MultiPassRecordIter* encoded = nullptr;
  int written = 7;
  EXPECT_EQ(q.EncodeToTempFile(source, 3, encoded, written), VXStatus(50002, false));
  EXPECT_EQ(encoded, nullptr);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(q.GetStatus(), VXStatus(50002, false));
  EXPECT_EQ(Entries(), std::vector<std::string>{plain});
  std::filesystem::remove(plain);
}

// The budget decides source by source between memory and a file of bare
// records; each source is read once, only as far as needed (the limits count
// records kept, not read), and rewound; a skipped record stops nothing, and
// Prepare answers with the status of the last pass.
TEST_F(PreparatorTest, BudgetOnePassAndSkipping) {
  struct Case {
    int trainHeld, nTrain, testHeld, nTest;
    long budget;
    bool trainInFile, testInFile, badTrainRecord;
  } const cases[] = {
      {600, 600, 300, 300, 1000, false, false, false},
      {700, 600, 450, 400, 1000, false, true, false},
      {700, 600, 450, 400, 100, true, true, false},
      {9, 9, 0, 0, 10, false, false, false},
      {10, 10, 5, 5, 10, true, false, false},
      {10, 10, 10, 10, 10, true, true, false},
      {6, 6, 3, 3, 10, false, false, false},
      {6, 6, 4, 4, 10, false, true, false},
      {12, 12, 9, 9, 10, true, false, false},
      {4, 4, 0, 0, 1000, false, false, true},
      {4, 4, 0, 0, 2, true, false, true},
      {3, 10, 2, 2, 1000, false, false, true},
  };
  for (const Case& c : cases) {
    const std::string label = std::to_string(&c - cases);
    std::vector<Record> records = Generate(0, c.trainHeld);
    if (c.badTrainRecord) records.insert(records.begin() + 1, Raw(5, 3, 0));
    CountingSource train(records), test(Generate(1000, c.testHeld));
    const MLPSettings s = Settings(c.nTrain, c.nTest, c.budget);
    NNDataPreparator p(fList, s, &train, c.nTest > 0 ? &test : nullptr);
    const bool lastPassSkipped = c.badTrainRecord && c.nTest == 0;
    EXPECT_EQ(p.Prepare(s), lastPassSkipped ? VXStatus(50003, true) : VXStatus()) << label;
    const int kept = std::min(c.trainHeld, c.nTrain);
    EXPECT_EQ(p.GetNTrainRecordsWritten(), kept);
    EXPECT_EQ(train.LongestRun(), std::min(c.trainHeld, c.nTrain) + c.badTrainRecord) << label;
    EXPECT_EQ(train.Rewinds(), 1);
    EXPECT_EQ(train.Position(), 0u);
    ExpectSource(p.GetTrainData(), 0, kept);
    std::vector<std::string> files;
    for (auto [data, inFile, first, count] :
         {std::tuple{p.GetTrainData(), c.trainInFile, 0, kept},
          std::tuple{p.GetTestData(), c.testInFile, 1000, c.nTest}}) {
      if (count == 0) continue;
      auto* file = dynamic_cast<BinaryRecordIterator*>(data);
      EXPECT_EQ(file != nullptr, inFile) << label;
      EXPECT_EQ(dynamic_cast<VXNeural::RecordBufferIter*>(data) != nullptr, !inFile) << label;
      if (file == nullptr) continue;
      files.push_back(file->GetFileName());
      std::ifstream in(file->GetFileName(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      // Bare records of 6 native doubles; ExpectSource reads them all back.
      ASSERT_EQ(bytes.size(), 8u * 6 * static_cast<std::size_t>(count)) << label;
      EXPECT_EQ(std::memcmp(bytes.data(), EncodedAt(first).data(), 48), 0) << label;
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(Entries(), files) << label;
    if (c.nTest == 0) continue;
    EXPECT_EQ(p.GetNTestRecordsWritten(), c.nTest);
    EXPECT_EQ(test.LongestRun(), c.nTest);
    EXPECT_EQ(test.Rewinds(), 1);
    ExpectSource(p.GetTestData(), 1000, c.nTest);
  }
}

TEST_F(PreparatorTest, NoGoodTrainingRecordGives50004AndSkipsTheTestPass) {
  for (long budget : {1000L, 1L}) {
    CountingSource train({Raw(1, 5, 0), Raw(1, 1, 2)}), test(Generate(0, 3));
    const MLPSettings s = Settings(10, 3, budget);
    NNDataPreparator p(fList, s, &train, &test);
    EXPECT_EQ(p.Prepare(s), VXStatus(50004, false)) << "budget " << budget;
    EXPECT_EQ(p.GetTrainData(), nullptr);
    EXPECT_EQ(p.GetTestData(), nullptr);
    EXPECT_EQ(train.Rewinds(), 1) << "rewound whatever the outcome";
    EXPECT_EQ(test.LongestRun() + test.Rewinds(), 0);
    EXPECT_TRUE(Entries().empty());
  }
  // A failed test pass after a training file: only the training file stays.
  CountingSource train(Generate(0, 8)), test({Raw(1, 1, 5)});
  const MLPSettings s = Settings(8, 1, 4);
  NNDataPreparator p(fList, s, &train, &test);
  EXPECT_EQ(p.Prepare(s), VXStatus(50004, false));
  EXPECT_NE(dynamic_cast<BinaryRecordIterator*>(p.GetTrainData()), nullptr);
  EXPECT_EQ(p.GetTestData(), nullptr);
  EXPECT_EQ(Entries().size(), 1u);
  EXPECT_EQ(test.Rewinds(), 1);
}

// Record r of width w holds r * w + i at column i.
double Value(int r, int w, int i) { return static_cast<double>(r) * w + i; }

// A file of records and then extraBytes bytes of 0x7f, rewound, as the
// preparator hands it over.
std::FILE* WriteRecords(std::FILE* f, int width, int records, int extraBytes) {
  std::vector<double> row(static_cast<std::size_t>(width));
  for (int r = 0; r < records; ++r) {
    for (int i = 0; i < width; ++i) row[static_cast<std::size_t>(i)] = Value(r, width, i);
    std::fwrite(row.data(), sizeof(double), row.size(), f);
  }
  for (int b = 0; b < extraBytes; ++b) std::fputc(0x7f, f);
  std::rewind(f);
  return f;
}

// The count the writer gave (negative: none; a known count sizes the block
// to it), the width, the whole records and stray bytes in the file, and the
// status at the end of the first pass. Width 1000: a little over 32 records
// fit in a block.
TEST(BinaryRecordIterator, WholeRecordsAcrossBlocksThenEndOrError) {
  const struct {
    long long written;
    int width, records, extraBytes, endStatus;
  } cases[] = {{-1, 3, 3, 0, 1},
               {-1, 3, 0, 0, 1},
               {-1, 3, 2, 8, 3},
               {-1, 3, 2, 23, 3},
               {-1, 3, 0, 20, 3},
               {-1, 1000, 31, 0, 1},
               {-1, 1000, 32, 0, 1},
               {-1, 1000, 33, 0, 1},
               {-1, 1000, 100, 0, 1},
               {-1, 1000, 65, 13, 3},
               {-1, 1000, 64, 8000, 1},
               // Fewer records than written is a failure too.
               {5, 2, 5, 0, 1},
               {5, 2, 3, 0, 3},
               {5, 2, 0, 0, 3},
               {5, 2, 4, 0, 3},
               {3, 2, 5, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " wide, " + std::to_string(c.records) + " records, " +
                 std::to_string(c.extraBytes) + " bytes, " + std::to_string(c.written) +
                 " written");
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    BinaryRecordIterator it(WriteRecords(file, c.width, c.records, c.extraBytes), c.width, "",
                            c.written);
    // A whole extra record of 0x7f bytes is a record like any other. A
    // failed file fails for good: after the first pass nothing is read.
    const int whole = c.records + c.extraBytes / (c.width * 8);
    const bool damaged = c.endStatus == 3;
    for (int pass = 0; pass < 2; ++pass) {
      int n = 0;
      bool intact = true;
      while (it.IsGood()) {
        const VXCommon_1_2::Record* r = it.Next();
        ASSERT_NE(r, nullptr);
        if (n < c.records)
          for (int i = 0; i<c.width; i += c.width> 97 ? 97 : 1)
            intact = intact && (*r)[i] == Value(n, c.width, i);
        ++n;
      }
      EXPECT_TRUE(intact);
      EXPECT_EQ(n, damaged && pass > 0 ? 0 : whole);
      EXPECT_EQ(it.GetStatus(), c.endStatus);
      EXPECT_EQ(it.Next(), nullptr);
      EXPECT_EQ(it.Rewind(), whole > 0 && !damaged ? 0 : c.endStatus);
    }
  }
}

// --- The in-memory buffer ---------------------------------------------------

Record Rec(std::vector<double> v) { return Record(std::move(v)); }

// A buffer of width 2 and capacity 4 holding three records, its cursor
// after the first.
std::unique_ptr<RecordBufferIter> Three() {
  auto b = std::make_unique<RecordBufferIter>(2, 4);
  EXPECT_TRUE(b->Add(Rec({1.0, -1.0})));
  EXPECT_TRUE(b->Add(Rec({2.5, VXMV::gMissingValue})));
  EXPECT_TRUE(b->Add(Rec({-0.0, 1e-300})));
  EXPECT_NE(b->Next(), nullptr);
  return b;
}

const std::string kBinaryMessage = "Error reading RecordBufferIter!\n";
const std::string kXmlMessage = "Error restoring VXNeural::RecordBufferIter from XML.\n";

TEST(RecordBufferIter, LastRecordEndsTheDataAsItIsHandedOutRowByRowOrInBlocks) {
  RecordBufferIter b(2, 3);
  EXPECT_EQ(b.GetStatus(), 1) << "a new buffer is empty";
  EXPECT_EQ(b.Rewind(), 1);
  EXPECT_EQ(b.Next(), nullptr);
  ASSERT_TRUE(b.Add(Rec({1, 2})));
  ASSERT_TRUE(b.Add(Rec({3, 4})));
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_TRUE(b.IsGood());
    EXPECT_EQ(Values(*b.Next()), (std::vector<double>{1, 2}));
    EXPECT_TRUE(b.IsGood());
    EXPECT_EQ(Values(*b.Next()), (std::vector<double>{3, 4}));
    EXPECT_FALSE(b.IsGood());
    EXPECT_EQ(b.Next(), nullptr);
    EXPECT_EQ(b.Rewind(), 0);
  }
  // A record added while the cursor is at the end makes the buffer readable
  // again from where it stands.
  EXPECT_EQ(b.Skip(10), 2);
  ASSERT_TRUE(b.Add(Rec({5, 6})));
  EXPECT_TRUE(b.IsGood());
  EXPECT_EQ(Values(*b.Next()), (std::vector<double>{5, 6}));
  b.Rewind();
  EXPECT_EQ(b.Skip(1), 1);
  EXPECT_EQ((*b.Next())[0], 3.0);
  // Blocks of rows from the cursor on, in place, then the end; a reader
  // wanting wider records than the buffer's gets none and the buffer is read.
  b.Rewind();
  ASSERT_EQ(b.Next()->GetAll()[0], 1.0);
  const double* rows[4] = {};
  ASSERT_EQ(b.NextRows(rows, 1, 2), 1);
  EXPECT_EQ(rows[0], b.GetRecordAt(1)->GetAll());
  ASSERT_EQ(b.NextRows(rows, 4, 1), 1);
  EXPECT_EQ(rows[0][1], 6.0);
  EXPECT_FALSE(b.IsGood());
  EXPECT_EQ(b.NextRows(rows, 4, 2), 0);
  b.Rewind();
  EXPECT_EQ(b.NextRows(rows, 4, 3), 0);
  EXPECT_FALSE(b.IsGood());

  b.Empty();
  EXPECT_EQ(b.GetCount(), 0);
  EXPECT_EQ(b.GetStatus(), 1);
  EXPECT_TRUE(b.Add(Rec({9, 9})));
  EXPECT_EQ((*b.Next())[0], 9.0);
}

// A capacity alone (a damaged saved model's record count can be anything)
// makes no records: storage follows the records added, and a refill after
// Empty reuses it.
TEST(RecordBufferIter, StorageFollowsTheRecordsAddedNotTheCapacity) {
  using alloc_counter::Allocations;
  std::unique_ptr<RecordBufferIter> b;
  EXPECT_LE(Allocations([&] { b = std::make_unique<RecordBufferIter>(1, 1 << 30); }), 2);
  EXPECT_EQ(b->GetStatus(), 1);
  const Record r = Rec({7.0});
  EXPECT_EQ(Allocations([&] {
              for (int i = 0; i < 3; ++i) EXPECT_TRUE(b->Add(r));
            }),
            3);
  b->Empty();
  EXPECT_EQ(Allocations([&] {
              for (int i = 0; i < 3; ++i) EXPECT_TRUE(b->Add(r));
            }),
            0);
  EXPECT_EQ(b->GetCount(), 3);
}

// Width, capacity, count, cursor, status, then the records' values bitwise
// (-0.0 and the missing value included).
TEST(RecordBufferIterPersist, LayoutFieldByField) {
  record_fields::ExpectFields(
      *Three(), [] { return std::make_unique<RecordBufferIter>(5, 1); }, "RBI", "RecordBufferIter",
      [](auto& s) {
        s.I(2).I(4).I(3).I(1).I(0).D(1.0).D(-1.0).D(2.5).D(VXMV::gMissingValue).D(-0.0).D(1e-300);
      });
}

TEST(RecordBufferIterPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  const auto three = Three();
  RecordBufferIter b(2, 2);
  b.Add(Rec({42, 43}));
  ExpectReadersRobust(*three, b, {kBinaryMessage}, {kXmlMessage});
  std::vector<std::string> damaged = {stream_faults::Replaced(Saved(*three, false), "RBI", "RBX")};
  // Width, capacity, count, index, status that no buffer has: a negative
  // width, a negative capacity, more records than room, a cursor beyond the
  // records, a negative cursor, no such status, records of width 0, far more
  // records than the stream holds.
  const int headers[][5] = {{-2, 4, 1, 0, 0}, {2, -4, 0, 0, 1},           {2, 1, 2, 0, 0},
                            {2, 4, 1, 2, 0},  {2, 4, 1, -1, 0},           {2, 4, 1, 0, 2},
                            {0, 4, 3, 0, 0},  {2, 1 << 30, 1 << 30, 0, 0}};
  for (const auto& h : headers) {
    std::stringstream s;
    VXNeural::detail::BinWriter w(s);
    w.Tag("RBI");
    for (int v : h) w.Int(v);
    w.Double(1.0).Double(2.0);
    damaged.push_back(s.str());
  }
  ExpectAllRefused(b, false, damaged, {kBinaryMessage});
  // A count above the capacity is refused in the XML form too.
  std::stringstream bad;
  VXNeural::detail::XmlWriter w(bad, "RecordBufferIter", 1);
  w.Int(1).Int(0).Int(1).Int(0).Int(0).Double(1.0);
  w.End();
  ExpectAllRefused(
      b, true,
      {bad.str(), stream_faults::Replaced(Saved(*three, true), "RecordBufferIter", "Buffer")},
      {kXmlMessage});
}

}  // namespace
