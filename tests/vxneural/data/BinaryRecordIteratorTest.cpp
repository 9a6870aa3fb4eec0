// The temporary-file record source: reading one record ahead, rewinding,
// damaged files, and deletion of the file with the iterator.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "DataTestHelpers.h"
#include "vxneural/data/BinaryRecordIterator.h"

using datatest::Values;
using VXCommon_1_2::Record;
using VXNeural::BinaryRecordIterator;

namespace {

class BinaryRecordIteratorTest : public datatest::ScratchDirTest {
 protected:
  // Writes records of width 3 (record i holds i, -i, i/4) and extraBytes
  // bytes after them, and returns the file rewound, as the preparator hands
  // it over.
  std::FILE* MakeFile(const std::string& name, int records, int extraBytes = 0) {
    std::FILE* f = std::fopen(Path(name).c_str(), "w+b");
    EXPECT_NE(f, nullptr);
    for (int i = 0; i < records; ++i) {
      const double v[3] = {double(i), double(-i), i / 4.0};
      std::fwrite(v, sizeof(double), 3, f);
    }
    for (int i = 0; i < extraBytes; ++i) std::fputc(0x7f, f);
    std::rewind(f);
    return f;
  }

  static std::vector<double> Expected(int i) { return {double(i), double(-i), i / 4.0}; }
};

}  // namespace

TEST_F(BinaryRecordIteratorTest, ThreeRecordsThenEndAndTheSameAfterRewind) {
  BinaryRecordIterator it(MakeFile("three", 3), 3, Path("three"));
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(it.IsGood()) << "pass " << pass << " record " << i;
      const Record* r = it.Next();
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(Values(*r), Expected(i));
    }
    EXPECT_FALSE(it.IsGood()) << "false right after the third record";
    EXPECT_EQ(it.GetStatus(), 1);
    EXPECT_EQ(it.Next(), nullptr);
    if (pass == 0) {
      EXPECT_EQ(it.Rewind(), 0);
    }
  }
}

TEST_F(BinaryRecordIteratorTest, EmptyFileIsAtEndAtOnce) {
  BinaryRecordIterator it(MakeFile("empty", 0), 3, Path("empty"));
  EXPECT_EQ(it.GetStatus(), 1);
  EXPECT_EQ(it.Next(), nullptr);
  EXPECT_EQ(it.Rewind(), 1);
}

TEST_F(BinaryRecordIteratorTest, PartialTrailingRecordEndsInError) {
  // A whole trailing double, and a few stray bytes: neither is a record.
  for (int extra : {8, 3, 8 * 3 - 1}) {
    const std::string name = "partial" + std::to_string(extra);
    BinaryRecordIterator it(MakeFile(name, 2, extra), 3, Path(name));
    for (int pass = 0; pass < 2; ++pass) {
      EXPECT_EQ(Values(*it.Next()), Expected(0));
      ASSERT_TRUE(it.IsGood());
      EXPECT_EQ(Values(*it.Next()), Expected(1)) << "the last whole record is handed out";
      EXPECT_EQ(it.GetStatus(), 3) << "extra bytes " << extra;
      EXPECT_EQ(it.Next(), nullptr);
      it.Rewind();
    }
  }
}

TEST_F(BinaryRecordIteratorTest, FileShorterThanOneRecord) {
  BinaryRecordIterator it(MakeFile("short", 0, 20), 3, Path("short"));
  EXPECT_EQ(it.GetStatus(), 3);
  EXPECT_EQ(it.Next(), nullptr);
}

TEST_F(BinaryRecordIteratorTest, DestructionDeletesTheFile) {
  {
    BinaryRecordIterator it(MakeFile("owned", 2), 3, Path("owned"));
    EXPECT_TRUE(std::filesystem::exists(Path("owned")));
    it.Next();
  }
  EXPECT_FALSE(std::filesystem::exists(Path("owned")));

  // Without a name the file is only closed; the test removes it.
  {
    BinaryRecordIterator it(MakeFile("anonymous", 1), 3, "");
    EXPECT_EQ(Values(*it.Next()), Expected(0));
  }
  EXPECT_TRUE(std::filesystem::exists(Path("anonymous")));
  std::filesystem::remove(Path("anonymous"));
}

TEST_F(BinaryRecordIteratorTest, NullHandleOrNoWidthIsAnError) {
  testing::internal::CaptureStdout();
  BinaryRecordIterator none(nullptr, 3, "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: file handle is NULL in BinaryRecordIterator constructor\n");
  EXPECT_EQ(none.GetStatus(), 3);
  EXPECT_EQ(none.Next(), nullptr);
  EXPECT_EQ(none.Rewind(), 3);

  BinaryRecordIterator narrow(MakeFile("narrow", 2), 0, Path("narrow"));
  EXPECT_EQ(narrow.GetStatus(), 3);
  EXPECT_EQ(narrow.Next(), nullptr);
}

TEST_F(BinaryRecordIteratorTest, RecordStaysValidUntilTheNextCall) {
  BinaryRecordIterator it(MakeFile("valid", 2), 3, Path("valid"));
  const Record* first = it.Next();
  const std::vector<double> held = Values(*first);
  EXPECT_EQ(held, Expected(0));
  const Record* second = it.Next();
  EXPECT_EQ(Values(*second), Expected(1));
}
