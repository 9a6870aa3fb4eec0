// "did you mean": the edit distance worked out by hand, the one column one
// edit away, and the error line of every option that names a column.
#include <gmock/gmock.h>

#include "TestHost.h"
#include "data/NameSuggestion.h"

namespace {

using vxnn::EditDistance;
using vxnn::OneEditAway;

// Each pair's distance, counted by hand; the distance is the same both ways.
TEST(EditDistance, CountsInsertionsDeletionsReplacementsAndNeighbourSwaps) {
  const struct {
    const char *fA, *fB;
    std::size_t fDistance;
  } cases[] = {
      {"", "", 0},
      {"", "abc", 3},  // three insertions
      {"species", "species", 0},
      {"specis", "species", 1},             // insert e
      {"speciess", "species", 1},           // delete s
      {"spacies", "species", 1},            // a -> e
      {"sepcies", "species", 1},            // swap e and p
      {"Species", "species", 1},            // S -> s: bytes, not letters
      {"ab", "ba", 1},                      // one swap
      {"abc", "cba", 2},                    // a and c are not neighbours: two replacements
      {"ab", "bca", 3},                     // a swapped pair takes no further edit
      {"kitten", "sitting", 3},             // k -> s, e -> i, insert g
      {"flaw", "lawn", 2},                  // delete f, insert n
      {"sepal_length", "petal_length", 2},  // s -> p, p -> t
      {"x", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fA) + " / " + c.fB);
    EXPECT_EQ(EditDistance(c.fA, c.fB), c.fDistance);
    EXPECT_EQ(EditDistance(c.fB, c.fA), c.fDistance);
  }
}

TEST(OneEditAway, NamesTheOnlyColumnOneEditAway) {
  const std::vector<std::string> iris = testhost::Shipped("iris.csv").fHeader;
  const struct {
    std::vector<std::string> fNames;
    const char* fTyped;
    const char* fAnswer;
  } cases[] = {
      {iris, "specis", "species"},
      {iris, "sepal_widht", "sepal_width"},
      {iris, "petal_lengths", "petal_length"},
      {iris, "Petal_width", "petal_width"},
      {iris, "colour", ""},        // nothing near
      {iris, "spcis", ""},         // two edits
      {iris, "species", ""},       // a column is no edit away
      {{"x1", "x2"}, "x3", ""},    // two columns one edit away: no guess
      {{"x1", "x1"}, "x2", "x1"},  // one column, named twice
      {{}, "a", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fTyped);
    EXPECT_EQ(OneEditAway(c.fTyped, c.fNames), c.fAnswer);
  }
}

// Every option that names a column says which column was meant, and a name
// near none says nothing more.
TEST(OneEditAway, EveryColumnOptionSuggestsTheColumn) {
  const vxnn::CsvTable iris = testhost::Shipped("iris.csv");
  const struct {
    void (*fSet)(vxnn::DescribeOptions&);
    const char* fMessage;
  } cases[] = {
      {[](vxnn::DescribeOptions& o) { o.fTargets = {"specis"}; },
       "--target names \"specis\", which is not a column (did you mean \"species\"?)"},
      {[](vxnn::DescribeOptions& o) { o.fContinuous = {"sepal_lenght"}; },
       "--continuous names \"sepal_lenght\", which is not a column (did you mean "
       "\"sepal_length\"?)"},
      {[](vxnn::DescribeOptions& o) { o.fCategorical = {"petal_width2"}; },
       "--categorical names \"petal_width2\", which is not a column (did you mean "
       "\"petal_width\"?)"},
      {[](vxnn::DescribeOptions& o) { o.fIgnore = {"sepal_widt"}; },
       "--ignore names \"sepal_widt\", which is not a column (did you mean \"sepal_width\"?)"},
      {[](vxnn::DescribeOptions& o) { o.fMissing["Species"] = {"?"}; },
       "--missing names \"Species\", which is not a column (did you mean \"species\"?)"},
      {[](vxnn::DescribeOptions& o) { o.fIgnore = {"colour"}; },
       "--ignore names \"colour\", which is not a column"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fMessage);
    vxnn::DescribeOptions o = testhost::Targets({"species"});
    c.fSet(o);
    try {
      vxnn::PlanFields(iris, o);
      ADD_FAILURE() << "no error";
    } catch (const vxnn::InputError& e) {
      EXPECT_STREQ(e.what(), c.fMessage);
    }
  }
}

}  // namespace
