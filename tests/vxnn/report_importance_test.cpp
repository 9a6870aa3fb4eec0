// The predictor importance of `vxnn report` and `vxnn export --data`: a
// saved model's importance comes from the data file's own records, so over
// the records a model was trained on it is the training's importance;
// without records the exported document has none (a restored model sees no
// real records of its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "TestHost.h"

namespace fs = std::filesystem;

namespace {

using testhost::Slurp;

// The exit code; text gets what was written to both streams.
int RunVxnn(std::vector<std::string> args, std::string* text = nullptr) {
  std::string out, err;
  const int code = testhost::Run(std::move(args), &out, &err);
  if (text) *text = err + out;
  return code;
}

// Every "<title>NAME: VALUE</title>" of the page's importance bars.
std::map<std::string, double> PageImportance(const std::string& page) {
  std::map<std::string, double> bars;
  for (std::size_t at = page.find("<rect class=\"bar\""); at != std::string::npos;
       at = page.find("<rect class=\"bar\"", at + 1)) {
    const std::size_t b = page.find("<title>", at) + 7, e = page.find("</title>", b);
    const std::string t = page.substr(b, e - b);
    const std::size_t colon = t.rfind(": ");
    bars[t.substr(0, colon)] = std::atof(t.c_str() + colon + 2);
  }
  return bars;
}

// Every importance="VALUE" of the document's mining fields, by field name.
std::map<std::string, double> PmmlImportance(const std::string& pmml) {
  std::map<std::string, double> found;
  const std::string field = "<MiningField name=\"", attr = "importance=\"";
  for (std::size_t at = pmml.find(field); at != std::string::npos; at = pmml.find(field, at + 1)) {
    const std::size_t name = at + field.size(), imp = pmml.find(attr, at);
    if (imp < pmml.find('>', at))
      found[pmml.substr(name, pmml.find('"', name) - name)] = std::atof(&pmml[imp + attr.size()]);
  }
  return found;
}

class ReportImportance : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gDir = fs::temp_directory_path() / ("vxnn_report_importance_" + std::to_string(getpid()));
    fs::create_directories(gDir);
    // x1 decides the class, x2 nudges it, noise does nothing. The ragged
    // copy ends in a row of two fields after some fifteen good ones.
    std::ofstream f(gDir / "data.csv");
    f << "x1,x2,noise,y\n";
    unsigned s = 11;
    auto next = [&s] { return (s = s * 1103515245u + 12345u) / 65536u % 1000 / 1000.0; };
    for (int r = 0; r < 120; ++r) {
      const double x1 = next(), x2 = next(), noise = next();
      f << x1 << "," << x2 << "," << noise << "," << (x1 + 0.3 * x2 > 0.65 ? "hi" : "lo") << "\n";
    }
    f.close();
    const std::string text = Slurp(gDir / "data.csv");
    std::ofstream(gDir / "ragged.csv") << text.substr(0, text.rfind('\n', 400) + 1) << "1,2\n";
    std::ofstream(gDir / "no_target.csv") << "x1,x2,noise\n0.5,0.5,0.5\n";
  }
  static void TearDownTestSuite() { fs::remove_all(gDir); }
  static fs::path gDir;
};
fs::path ReportImportance::gDir;

TEST_F(ReportImportance, OverTheTrainingRecordsItIsTheTrainingsImportance) {
  const std::string data = (gDir / "data.csv").string(), model = (gDir / "m.model").string();
  ASSERT_EQ(RunVxnn({"train", data, "--target", "y", "--test-fraction", "0", "--model", model,
                     "--no-progress", "--summary-json", (gDir / "s.json").string()}),
            0);
  const auto summary = nlohmann::json::parse(Slurp(gDir / "s.json"));
  ASSERT_EQ(summary["importance"].size(), 3u);
  EXPECT_EQ(summary["importance"][0]["input"], "x1");

  std::string err;
  const std::string page = (gDir / "all.html").string();
  ASSERT_EQ(RunVxnn({"report", model, data, "-o", page, "--importance-records", "0"}, &err), 0)
      << err;
  const std::string html = Slurp(page);
  EXPECT_NE(html.find("Computed over the first 120 complete records"), std::string::npos);
  const auto bars = PageImportance(html);
  ASSERT_EQ(bars.size(), 3u);
  const fs::path pmml = gDir / "m.pmml", bare = gDir / "bare.pmml";
  ASSERT_EQ(RunVxnn({"export", model, "--pmml", pmml.string(), "--data", data,
                     "--importance-records", "0"},
                    &err),
            0)
      << err;
  EXPECT_NE(err.find("with predictor importance from 120 records of " + data), std::string::npos);
  const auto exported = PmmlImportance(Slurp(pmml));
  ASSERT_EQ(exported.size(), 3u);
  for (const auto& imp : summary["importance"]) {
    const double want = imp["importance"];
    EXPECT_NEAR(bars.at(imp["input"]), want, 5e-4 * want + 1e-12) << imp["input"];
    EXPECT_NEAR(exported.at(imp["input"]), want, 1e-12) << imp["input"];
  }
  ASSERT_EQ(RunVxnn({"export", model, "--pmml", bare.string()}), 0);
  EXPECT_NE(Slurp(bare).find("<MiningField name=\"noise\""), std::string::npos);
  EXPECT_EQ(Slurp(bare).find("importance="), std::string::npos);
}

// The reader stops at the records asked for: a damaged row further on is
// never reached, while a reader asked for every record meets it.
TEST_F(ReportImportance, OnlyTheRecordsAskedForAreRead) {
  const std::string model = (gDir / "m2.model").string(), ragged = (gDir / "ragged.csv").string();
  ASSERT_EQ(RunVxnn({"train", (gDir / "data.csv").string(), "--target", "y", "--model", model,
                     "--no-progress", "--no-importance"}),
            0);
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string text;  // in the page, or in the error
  } cases[] = {
      {{"report", model, ragged, "-o", (gDir / "r.html").string(), "--importance-records", "5"},
       1,
       "ragged.csv"},  // the page's own measure reads the whole file
      {{"export", model, "--pmml", (gDir / "p5.pmml").string(), "--data", ragged,
        "--importance-records", "5"},
       0,
       "from 5 records"},
      {{"export", model, "--pmml", (gDir / "p0.pmml").string(), "--data", ragged,
        "--importance-records", "0"},
       1,
       "ragged.csv"},
      {{"export", model, "--pmml", (gDir / "nt.pmml").string(), "--data",
        (gDir / "no_target.csv").string()},
       1,
       "no column \"y\""},
      {{"export", model, "--pmml", (gDir / "pn.pmml").string(), "--data", ragged,
        "--importance-records", "-1"},
       2,
       "--importance-records"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    std::string text;
    EXPECT_EQ(RunVxnn(c.args, &text), c.code);
    EXPECT_NE(text.find(c.text), std::string::npos) << text;
  }
  EXPECT_FALSE(fs::exists(gDir / "p0.pmml"));
  EXPECT_FALSE(fs::exists(gDir / "nt.pmml"));
}

}  // namespace
