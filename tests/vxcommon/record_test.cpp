// Records, the in-memory record source, temporary file names and the host
// variable list: what it holds and what it owns.
#include "vxcommon/Record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/scratch_dir.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/VXVarList.h"

namespace {

using VXCommon_1_2::IVXVariable;
using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXCatVar;
using VXCommon_1_2::VXContVar;
using VXCommon_1_2::VXDefaultTempFileNameMaker;
using VXCommon_1_2::VXVarList;
using VXXML_1_2::XMLElement;
namespace fs = std::filesystem;

std::vector<Record> ThreeRecords() {
  return {Record({1.0, 2.0}), Record({3.0, VXMV::gMissingValue}), Record({5.0, 6.0})};
}

// Reads a source to its end, returning the first field of each record (-1,
// in no record, for a missing one); stops early if the status disagrees.
std::vector<double> Drain(VectorRecordIter& source) {
  std::vector<double> firsts;
  while (source.IsGood() && source.GetStatus() == RecordIterator::kGood) {
    const Record* record = source.Next();
    firsts.push_back(record != nullptr ? (*record)[0] : -1.0);
  }
  EXPECT_EQ(source.GetStatus(), RecordIterator::kEndOfData);
  EXPECT_EQ(source.Next(), nullptr);
  return firsts;
}

TEST(RecordTest, ResizeKeepsValuesAndRefusesNegativeSizes) {
  Record r(3);
  r[1] = 2.5;
  EXPECT_TRUE(r.Resize(5));
  EXPECT_EQ(std::vector<double>(r.GetAll(), r.GetAll() + r.Size()),
            (std::vector<double>{0, 2.5, 0, 0, 0}));
  EXPECT_FALSE(r.Resize(-1));
  EXPECT_EQ(r.Size(), 5);
  EXPECT_EQ(Record(-4).Size(), 0);
}

TEST(VectorRecordIterTest, CopyingSourceReadsAndRewinds) {
  std::vector<Record> records = ThreeRecords();
  VectorRecordIter source(records);
  records[0][0] = 100.0;  // the source holds its own copy
  EXPECT_EQ(source.Count(), 3u);
  EXPECT_EQ(Drain(source), (std::vector<double>{1.0, 3.0, 5.0}));
  EXPECT_EQ(source.Rewind(), RecordIterator::kGood);
  EXPECT_EQ((*source.Next())[1], 2.0);
  EXPECT_TRUE(VXMV::IsMissing((*source.Next())[1]));

  VectorRecordIter empty(std::vector<Record>{});
  EXPECT_FALSE(empty.IsGood());
  EXPECT_EQ(empty.Next(), nullptr);
  EXPECT_EQ(empty.Rewind(), RecordIterator::kEndOfData);
}

// Blocks of rows where the vector holds them, short records passed over.
TEST(VectorRecordIterTest, RowsInPlaceSkippingShortRecords) {
  std::vector<Record> records = ThreeRecords();
  records.insert(records.begin() + 1, Record(std::vector<double>{7.0}));
  auto source = VectorRecordIter::Borrow(records);
  const double* rows[3] = {};
  ASSERT_EQ(source.NextRows(rows, 2, 2), 2);
  EXPECT_EQ(rows[0], records[0].GetAll());
  EXPECT_EQ(rows[1], records[2].GetAll());
  ASSERT_EQ(source.NextRows(rows, 3, 2), 1);
  EXPECT_EQ(rows[0][0], 5.0);
  EXPECT_EQ(source.NextRows(rows, 3, 2), 0);
  EXPECT_FALSE(source.IsGood());
}

// A derived source may change what Next hands out, so it is read with Next.
TEST(VectorRecordIterTest, DerivedSourceIsNotReadPastItsNext) {
  struct Filtering : VectorRecordIter {
    using VectorRecordIter::VectorRecordIter;
    const Record* Next() override { return VectorRecordIter::Next(); }
  } source(ThreeRecords());
  const double* rows[3] = {};
  EXPECT_EQ(source.NextRows(rows, 3, 2), -1);
  EXPECT_TRUE(source.IsGood());
}

TEST(TempNameTest, UniqueNamesInTheDirectorySkippingExistingFiles) {
  const scratch_dir::ScratchDir scratch;
  const fs::path dir = scratch.Path();
  VXDefaultTempFileNameMaker first(dir.string(), "run"), second(dir.string(), "run");
  std::set<std::string> seen;
  for (int k = 0; k < 100; ++k) {
    for (VXDefaultTempFileNameMaker* maker : {&first, &second}) {
      const fs::path name = maker->GetTempFileName();
      EXPECT_EQ(name.parent_path(), dir);
      EXPECT_EQ(name.filename().string().rfind("run-", 0), 0u) << name;
      EXPECT_EQ(name.extension(), ".tmp");
      EXPECT_TRUE(seen.insert(name.string()).second) << name;
    }
  }
  VXDefaultTempFileNameMaker names(dir.string(), "p");
  const std::string one = names.GetTempFileName();
  ASSERT_EQ(one.substr(one.size() - 6), "-1.tmp");
  const std::string stem = one.substr(0, one.size() - 6);
  std::ofstream(stem + "-2.tmp") << "taken";
  EXPECT_EQ(names.GetTempFileName(), stem + "-3.tmp");
  EXPECT_FALSE(fs::exists(stem + "-3.tmp"));

  // By default, the system's temporary directory.
  EXPECT_EQ(fs::path(VXDefaultTempFileNameMaker().GetTempFileName()).parent_path(),
            fs::temp_directory_path());
}

XMLElement* Format(const std::string& pattern) {
  XMLElement* element = XMLElement::Create("FieldFormat");
  element->AddAttribute("pattern", pattern);
  return element;
}

TEST(VarListTest, HoldsVariablesInOrder) {
  // The list's storage grows by doubling, so the slot after its third
  // variable is spare capacity, which an index check off by one would read.
  // Blocks of the sizes that storage takes, filled with ones and freed just
  // before, make that slot hold garbage rather than a null by luck.
  {
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    for (const std::size_t bytes : {8, 16, 32, 64})
      for (int k = 0; k < 8; ++k) {
        blocks.emplace_back(new unsigned char[bytes]);
        std::fill_n(blocks.back().get(), bytes, 0xFF);
      }
  }
  VXVarList list;
  EXPECT_EQ(list.Add(new VXContVar("age", "Age", IVXVariable::kRoleInput, 2, 18, 90, 40, 2)), 0);
  auto* colour = new VXCatVar("colour", "", IVXVariable::kRoleTarget, 3, false, 2);
  colour->SetStringValues({"red", "blue"});
  EXPECT_EQ(list.Add(colour), 1);
  auto* code = new VXCatVar("code", "Code", IVXVariable::kRoleBoth, 1, true, 5);
  EXPECT_EQ(list.Add(code), 2);
  EXPECT_EQ(list.Add(nullptr), -1);
  EXPECT_EQ(list.Size(), 3);
  EXPECT_EQ(list.GetVarAt(-1), nullptr);
  EXPECT_EQ(list.GetVarAt(3), nullptr);
  EXPECT_EQ(list.GetVarAt(2)->GetMeasureLevel(), IVXVariable::kNumericCategorical);
  // The number of values is what was given, not the declared count.
  EXPECT_EQ(colour->GetNumberOfValues(), 2);
  EXPECT_EQ(code->GetNumberOfCategories(), 5);
  EXPECT_EQ(code->GetNumberOfValues(), 0);
  code->SetNumericValues({1.0, 2.0, 4.0});
  EXPECT_EQ(code->GetNumberOfValues(), 3);
  // An empty replacement of a missing value is a replacement.
  EXPECT_EQ(code->GetMissingValueReplacement(), nullptr);
  code->SetMissingValueReplacement("");
  ASSERT_NE(code->GetMissingValueReplacement(), nullptr);
  EXPECT_EQ(*code->GetMissingValueReplacement(), "");
}

// Run under the sanitizer build: each replaced or cleared element is freed
// once, and a clone outlives the list it came from.
TEST(VarListTest, OwnsFieldFormatElements) {
  std::unique_ptr<XMLElement> variableCopy, listCopy;
  {
    VXVarList list;
    EXPECT_EQ(list.GetFieldFormatsElement(), nullptr);
    list.SetFieldFormatsElement(Format("first"));
    list.SetFieldFormatsElement(Format("second"));
    auto* v = new VXContVar("x", "", 3, 2, 0, 1, 0.5, 0.1);
    v->SetFieldFormatElement(Format("0.00"));
    v->SetFieldFormatElement(Format("0.000"));
    list.Add(v);
    auto* w = new VXCatVar("y", "", 3, 3, false, 0);
    w->SetFieldFormatElement(Format("cleared"));
    w->SetFieldFormatElement(nullptr);
    EXPECT_EQ(w->GetFieldFormatElement(), nullptr);
    list.Add(w);
    variableCopy.reset(list.GetVarAt(0)->GetFieldFormatElement()->Clone());
    listCopy.reset(list.GetFieldFormatsElement()->Clone());
  }
  EXPECT_EQ(*variableCopy->GetAttribute("pattern"), "0.000");
  EXPECT_EQ(*listCopy->GetAttribute("pattern"), "second");
}

}  // namespace
