// The temporary-file record source: reading one record ahead, rewinding,
// damaged files, and deletion of the file with the iterator.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "DataTestHelpers.h"
#include "common/text_checks.h"
#include "vxneural/data/BinaryRecordIterator.h"

using datatest::Values;
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
};

// Every whole record is handed out, IsGood turning false with the last one;
// a partial trailing record (a whole stray double or a few bytes) ends the
// data in error; the same again after Rewind.
TEST_F(BinaryRecordIteratorTest, WholeRecordsThenEndOrError) {
  struct Case {
    int records, extraBytes, endStatus;
  } const cases[] = {{3, 0, 1}, {0, 0, 1}, {2, 8, 3}, {2, 3, 3}, {2, 23, 3}, {0, 20, 3}};
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.records) + "-" + std::to_string(c.extraBytes);
    BinaryRecordIterator it(MakeFile(name, c.records, c.extraBytes), 3, Path(name));
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < c.records; ++i) {
        ASSERT_TRUE(it.IsGood()) << name << " record " << i;
        const VXCommon_1_2::Record* r = it.Next();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(Values(*r), (std::vector<double>{double(i), double(-i), i / 4.0}));
      }
      EXPECT_FALSE(it.IsGood()) << name;
      EXPECT_EQ(it.GetStatus(), c.endStatus) << name;
      EXPECT_EQ(it.Next(), nullptr);
      EXPECT_EQ(it.Rewind(), c.records > 0 ? 0 : c.endStatus) << name;
    }
  }
}

TEST_F(BinaryRecordIteratorTest, DestructionDeletesANamedFile) {
  {
    BinaryRecordIterator it(MakeFile("owned", 2), 3, Path("owned"));
    it.Next();
  }
  EXPECT_FALSE(std::filesystem::exists(Path("owned")));
  // Without a name the file is only closed; the test removes it.
  { BinaryRecordIterator it(MakeFile("anonymous", 1), 3, ""); }
  EXPECT_TRUE(std::filesystem::remove(Path("anonymous")));
}

TEST_F(BinaryRecordIteratorTest, NullHandleOrNoWidthIsAnError) {
  testing::internal::CaptureStdout();
  BinaryRecordIterator none(nullptr, 3, "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: file handle is NULL in BinaryRecordIterator constructor\n");
  BinaryRecordIterator narrow(MakeFile("narrow", 2), 0, Path("narrow"));
  for (BinaryRecordIterator* it : {&none, &narrow}) {
    EXPECT_EQ(it->GetStatus(), 3);
    EXPECT_EQ(it->Next(), nullptr);
    EXPECT_EQ(it->Rewind(), 3);
  }
}

}  // namespace
