// The report page, built by `vxnn train --report` and `vxnn report` for
// every shape of network: what it draws is checked against the model's
// structure view and the data, the page against an XML parser, and the
// finished page in a real browser.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <sstream>

#include "HtmlReport.h"
#include "ModelFile.h"
#include "Records.h"
#include "TestHost.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = VXNN_DATA_DIR;

using testhost::Count;
using testhost::Slurp;

bool WellFormed(const fs::path& page) {
  return std::system(("xmllint --noout " + page.string() + " 2>/dev/null").c_str()) == 0;
}

// Wide whole-number data (many inputs, three classes), and a small table
// whose field and category names need escaping.
void WriteWide(const fs::path& path, int inputs, int rows) {
  std::ofstream f(path);
  for (int i = 0; i < inputs; ++i) f << "p" << i << ",";
  f << "label\n";
  unsigned s = 7;
  for (int r = 0; r < rows; ++r) {
    int sum = 0;
    for (int i = 0; i < inputs; ++i) {
      s = s * 1103515245u + 12345u;
      const int v = static_cast<int>((s >> 16) % 16);
      sum += i < 5 ? v : 0;
      f << v << ",";
    }
    f << "c" << sum % 3 << "\n";
  }
}

void WriteAwkward(const fs::path& path) {
  std::ofstream f(path);
  f << "<a&b>,plain,\"k\"\"ind\"\n";
  for (int r = 0; r < 90; ++r)
    f << r % 10 << "." << r % 7 << "," << (r * 37) % 11 << "," << (r % 10 < 5 ? "x<y" : "p&q")
      << "\n";
}

struct Case {
  const char* fName;
  std::string fData;
  std::string fOptions;  // separated by spaces
  bool fCategorical;
  bool fCurve;  // an error per data pass is drawn
};

class HtmlReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gDir = fs::temp_directory_path() / ("vxnn-html-" + std::to_string(getpid()));
    fs::create_directories(gDir);
    WriteWide(gDir / "wide.csv", 300, 60);
    WriteAwkward(gDir / "awkward.csv");
  }
  static void TearDownTestSuite() { fs::remove_all(gDir); }

  // Trains with --report and returns the page; the model goes to
  // <name>.model.
  static std::string Train(const Case& c) {
    const fs::path stem = gDir / c.fName;
    std::vector<std::string> args{"train",        c.fData,
                                  "--model",      stem.string() + ".model",
                                  "--report",     stem.string() + ".html",
                                  "--no-progress"};
    std::istringstream options(c.fOptions);
    for (std::string o; options >> o;) args.push_back(o);
    std::string err;
    EXPECT_EQ(testhost::Run(args, nullptr, &err), 0) << err;
    return Slurp(gDir / (std::string(c.fName) + ".html"));
  }
  // What the saved model's structure view holds, read while the model
  // lives (the view points into its variable list).
  struct Shape {
    std::vector<int> fUnits;  // per layer
    int fInputs = 0;          // input variables
    bool fRbf = false;
    int fCentres = 0;           // RBF hidden units that are not the bias
    std::vector<int> fWeights;  // per pair of layers; RBF centres are not weights
    int Total() const { return std::accumulate(fUnits.begin(), fUnits.end(), 0); }
  };
  static Shape ShapeOf(const std::string& name) {
    const vxnn::LoadedModel model = vxnn::LoadModel((gDir / (name + ".model")).string());
    const std::unique_ptr<NNStructure> s(model.fAlgorithm->GetStructure());
    Shape shape;
    for (int l = 0; l < s->GetNumLayers(); ++l) {
      shape.fUnits.push_back(s->GetNumUnits(l));
      if (l == 0) continue;
      shape.fWeights.push_back(0);
      for (int u = 0; u < s->GetNumUnits(l); ++u)
        shape.fWeights.back() += static_cast<int>(s->GetVecParm(l, u).size());
    }
    shape.fInputs = model.VarList().GetNumInputVars();
    shape.fRbf = s->GetAlgorithmType() == VXNNCommon::kRBF;
    if (shape.fRbf) {
      shape.fCentres = s->GetNumUnits(1) - (s->IsBiasUnit(1, 0) ? 1 : 0);
      shape.fWeights.front() = 0;
    }
    return shape;
  }
  static fs::path gDir;
};
fs::path HtmlReportTest::gDir;

// A small hidden layer, so that every unit is drawn (the wide case tests
// the cap).
std::vector<Case> Cases() {
  return {
      {"mlp1_class", kData + "/iris.csv", "--target species --hidden-units 6", true, true},
      {"mlp0_regr", kData + "/diabetes.csv", "--target progression --hidden-layers 0", false, true},
      {"mlp2_class", kData + "/wine.csv", "--target cultivar --hidden-layers 2 --hidden-units 5,3",
       true, true},
      {"rbf_class", kData + "/iris.csv", "--target species --network rbf", true, false},
  };
}

// Every page is well-formed XML, draws every unit of the structure view,
// a bar per input, the confusion matrix or one point per test record, and
// the error curve when training has one.
TEST_F(HtmlReportTest, TrainedPagesDrawWhatTheModelHolds) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.fName);
    const std::string page = Train(c);
    ASSERT_FALSE(page.empty());
    const fs::path file = gDir / (std::string(c.fName) + ".html");
    EXPECT_TRUE(WellFormed(file));

    const Shape s = ShapeOf(c.fName);
    EXPECT_EQ(Count(page, "<circle class=\"unit "), s.Total());
    EXPECT_EQ(Count(page, "<rect class=\"more\""), 0);
    int weights = 0;
    for (int w : s.fWeights) weights += std::min(w, static_cast<int>(vxnn::kMaxWeightsDrawn));
    EXPECT_EQ(Count(page, "class=\"weight\""), weights);
    EXPECT_EQ(Count(page, "<rect class=\"bar\""), s.fInputs);
    if (c.fCategorical) {
      // A square of cells, one per actual and predicted category.
      const int categories = s.fUnits.back();
      EXPECT_EQ(Count(page, "<td class=\"cell"), categories * categories);
      EXPECT_EQ(Count(page, "<td class=\"cell diag\""), categories);
      EXPECT_EQ(Count(page, "class=\"pt\""), 0);
    } else {
      // Every test record of the default 70/30 split is one point.
      const std::string note = "Predictions on the ";
      const std::size_t at = page.find(note);
      ASSERT_NE(at, std::string::npos);
      EXPECT_EQ(Count(page, "class=\"pt\""), std::atoi(page.c_str() + at + note.size()));
      EXPECT_EQ(Count(page, "<td class=\"cell"), 0);
    }
    EXPECT_EQ(Count(page, "<polyline class=\"train\""), c.fCurve ? 1 : 0);
    EXPECT_EQ(Count(page, "<polyline class=\"test\""), c.fCurve ? 1 : 0);
    EXPECT_EQ(Count(page, "<table class=\"centres\""), s.fRbf ? 1 : 0);
    EXPECT_EQ(Count(page, "class=\"unit centre\""), s.fCentres);
    // Self-contained: nothing is fetched, nothing runs.
    for (const char* outside : {"<script", "src=", "href=", "url(", "@import"})
      EXPECT_EQ(Count(page, outside), 0) << outside;
  }
}

// Hundreds of inputs: each layer shows at most the cap, the rest in one
// node, so the page stays small.
TEST_F(HtmlReportTest, WideNetworksAreCapped) {
  const std::string page =
      Train({"wide", (gDir / "wide.csv").string(),
             "--target label --hidden-units 30 --max-data-passes 5 --continuous p0", true, true});
  int drawn = 0, capped = 0;
  for (const int n : ShapeOf("wide").fUnits) {
    drawn += n > vxnn::kMaxUnitsDrawn ? vxnn::kMaxUnitsDrawn - 1 : n;
    capped += n > vxnn::kMaxUnitsDrawn ? 1 : 0;
  }
  EXPECT_EQ(capped, 2);  // the inputs and the hidden layer
  EXPECT_EQ(Count(page, "<circle class=\"unit "), drawn);
  EXPECT_EQ(Count(page, "<rect class=\"more\""), capped);
  // The largest weights between the drawn inputs and hidden units; every
  // drawn hidden unit (the bias too) feeds the three outputs.
  EXPECT_EQ(Count(page, "class=\"weight\""),
            static_cast<int>(vxnn::kMaxWeightsDrawn) + (vxnn::kMaxUnitsDrawn - 1) * 3);
  EXPECT_EQ(Count(page, "<rect class=\"bar\""), vxnn::kMaxImportanceBars);
  EXPECT_NE(page.find("270 more inputs"), std::string::npos);
  EXPECT_LT(page.size(), 250u * 1024);
}

TEST_F(HtmlReportTest, TextFromTheDataIsEscaped) {
  const std::string page =
      Train({"awkward", (gDir / "awkward.csv").string(), "--target k\"ind", true, true});
  EXPECT_TRUE(WellFormed(gDir / "awkward.html"));
  for (const char* raw : {"<a&b>", "x<y", "p&q", "k\"ind"}) EXPECT_EQ(Count(page, raw), 0) << raw;
  EXPECT_EQ(vxnn::HtmlEscape("'&amp;"), "&#39;&amp;amp;");
  // The field in the network, the bars and the summary; the categories in
  // the matrix's rows and columns.
  EXPECT_GE(Count(page, "&lt;a&amp;b&gt;"), 3);
  EXPECT_GE(Count(page, "x&lt;y"), 2);
  EXPECT_GE(Count(page, "p&amp;q"), 2);
  EXPECT_GE(Count(page, "k&quot;ind"), 1);
}

// `vxnn report` on a saved model: the same drawing, the figures on the
// file given, and the curve explained rather than drawn.
TEST_F(HtmlReportTest, ReportCommandOnASavedModel) {
  Train(Cases()[0]);
  const fs::path page = gDir / "saved.html";
  std::string err;
  ASSERT_EQ(testhost::Run({"report", (gDir / "mlp1_class.model").string(), kData + "/iris.csv",
                           "-o", page.string()},
                          nullptr, &err),
            0)
      << err;
  const std::string text = Slurp(page);
  EXPECT_TRUE(WellFormed(page));
  EXPECT_EQ(Count(text, "<circle class=\"unit "), ShapeOf("mlp1_class").Total());
  EXPECT_EQ(Count(text, "<rect class=\"bar\""), 4);
  EXPECT_EQ(Count(text, "<td class=\"cell"), 9);
  EXPECT_NE(text.find("the 150 records of"), std::string::npos);
  EXPECT_EQ(Count(text, "<polyline"), 0);
  EXPECT_NE(text.find("train with --report FILE"), std::string::npos);

  // Refusals: no output file, a model that is not one.
  EXPECT_EQ(testhost::Run({"report", (gDir / "mlp1_class.model").string(), kData + "/iris.csv"}),
            2);
  EXPECT_EQ(
      testhost::Run({"report", kData + "/iris.csv", kData + "/iris.csv", "-o", page.string()}), 1);
}

// Thinning keeps every stride-th record, the stride a power of two, and
// never more points than asked.
TEST_F(HtmlReportTest, ScatterIsThinnedEvenly) {
  Train(Cases()[1]);
  vxnn::LoadedModel model = vxnn::LoadModel((gDir / "mlp0_regr.model").string());
  const vxnn::CsvTable table = vxnn::ReadCsvFile(kData + "/diabetes.csv");
  const vxnn::RecordMaker maker(model.VarList(), table.fHeader, true, "diabetes");
  std::vector<VXCommon_1_2::Record> records;
  VXCommon_1_2::Record r;
  for (const auto& row : table.fRows)
    if (!maker.Make(row, r, true)) records.push_back(r);
  const int target = model.VarList().FindVariable("progression");
  VXCommon_1_2::VectorRecordIter source(records);
  for (const std::size_t max : {1000u, 442u, 100u, 7u, 1u}) {
    SCOPED_TRACE(max);
    const auto series = vxnn::PredictedVsActual(*model.fAlgorithm, model.VarList(), source, max);
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(series[0].fRecords, records.size());
    const std::size_t n = series[0].fPoints.size();
    EXPECT_LE(n, max);
    EXPECT_GT(n, std::min<std::size_t>(max, records.size()) / 2);
    std::size_t stride = 1;
    while ((records.size() + stride - 1) / stride > n) stride *= 2;
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_LT(i * stride, records.size());
      EXPECT_EQ(series[0].fPoints[i].first, records[i * stride][target]) << i;
    }
  }
}

// The page in a real browser: it renders something and logs no error.
TEST_F(HtmlReportTest, BrowserRendersThePage) {
  const char* browser = nullptr;
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-headless-shell"})
    if (fs::exists(candidate)) browser = candidate;
  if (!browser) GTEST_SKIP() << "no chromium installed";
  const std::string page = Train(Cases()[2]);
  ASSERT_FALSE(page.empty());
  const fs::path shot = gDir / "shot.png", log = gDir / "browser.log";
  const std::string command =
      "timeout 90 " + std::string(browser) +
      " --headless --disable-gpu --no-sandbox --hide-scrollbars --no-first-run"
      " --enable-logging=stderr --v=0 --user-data-dir=" +
      (gDir / "profile").string() + " --window-size=1000,760 --screenshot=" + shot.string() +
      " file://" + (gDir / "mlp2_class.html").string() + " >" + log.string() + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << Slurp(log);
  ASSERT_TRUE(fs::exists(shot)) << Slurp(log);
  // Console messages and failed loads are logged as "CONSOLE" lines or
  // "Failed to load".
  const std::string messages = Slurp(log);
  EXPECT_EQ(Count(messages, "CONSOLE"), 0) << messages;
  EXPECT_EQ(Count(messages, "Failed to load"), 0) << messages;

  // The screenshot's compressed size tells how much is drawn: a blank page
  // takes a few kilobytes, this page's text alone some 75, and with its
  // network, bars and matrix well over twice that.
  EXPECT_GT(fs::file_size(shot), 120u * 1024) << "the drawings are missing from the screenshot";
}

}  // namespace
