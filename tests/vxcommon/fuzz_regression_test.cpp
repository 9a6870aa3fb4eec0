// Inputs that once made the XML object stream do needless work: long string
// values and names were read, escaped and decoded one range test after
// another per byte. The readers now take runs of ordinary bytes at once;
// these cases pin where such a run must stop and what it leaves consumed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "vxcommon/XMLStream.h"

namespace {

using namespace VXXML_1_2;

struct RunCase {
  const char* name;
  std::string document;
  std::string objectName;  // empty: the document is a string value
  bool accepted;
  std::string value;        // the string read, when accepted
  std::streamoff consumed;  // where a refusal leaves the stream (-1: failed)
};

class PlainRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(PlainRuns, StopWhereTheConstructSays) {
  const RunCase& c = GetParam();
  std::istringstream in(c.document);
  std::string value;
  const bool accepted =
      c.objectName.empty() ? ParseValue(in, value) : ParseStartObj(in, c.objectName);
  ASSERT_EQ(accepted, c.accepted);
  if (accepted && c.objectName.empty()) {
    EXPECT_EQ(value, c.value);
  }
  if (!accepted) {
    EXPECT_EQ(in.good() ? static_cast<std::streamoff>(in.tellg()) : -1, c.consumed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    XMLStream, PlainRuns,
    ::testing::Values(
        RunCase{"TextWithReferences", "<string>a&amp;b&lt;c'\"d</string>", "", true, "a&b<c'\"d",
                0},
        RunCase{"TextEndsAtTheStreamEnd", "<string>abc", "", false, "", -1},
        RunCase{"HexText", "<string enc=\"hex\">00ff41</string>", "", true,
                std::string("\0\xff"
                            "A",
                            3),
                0},
        RunCase{"NameWithTheOtherQuote", "<object name='a\"b'>", "a\"b", true, "", 0},
        RunCase{"NameWithReference", "<object name=\"a&quot;b\">", "a\"b", true, "", 0},
        // Twice the name's length is read, and one byte more, then refused.
        RunCase{"NameLongerThanAnyMatch", "<object name=\"abcdefgh\">", "ab", false, "", 19},
        RunCase{"NameCutByTheEnd", "<object name=\"ab", "ab", false, "", -1},
        RunCase{"NameCutByMarkup", "<object name=\"a<b\">", "a<b", false, "", 16}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
