// The report page, built by `vxnn train --report` and `vxnn report` for
// every shape of network: what it draws is checked against the model's
// structure view and the data, the page against an XML parser, and the
// finished page in a real browser. And the predictor importance of `vxnn
// report` and `vxnn export --data`: a saved model's importance comes from the
// data file's own records, so over the records a model was trained on it is
// the training's importance; without records the exported document has none
// (a restored model sees no real records of its own).
#include <gmock/gmock.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "TestHost.h"
#include "data/Records.h"
#include "model/ModelFile.h"
#include "report/HtmlReport.h"
#include "vxcommon/VXMissing.h"

namespace fs = std::filesystem;

namespace {

using testhost::Count;
using testhost::kData;
using testhost::Slurp;
using testing::HasSubstr;

bool WellFormed(const fs::path& page) {
  return std::system(("xmllint --noout " + page.string() + " 2>/dev/null").c_str()) == 0;
}

struct Case {
  const char* fName;
  std::string fData;
  std::string fOptions;  // separated by spaces
  bool fCategorical;
  bool fCurve;  // an error per data pass is drawn
  // Units (bias units among them), weights (an RBF network's centres are
  // not weights), inputs and RBF centres the page draws.
  int fUnits = 0, fWeights = 0, fInputs = 0, fCentres = 0;
};

class HtmlReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gScratch = new testhost::Scratch;
    // Wide whole-number data (many inputs, three classes).
    std::ofstream wide(Path("wide.csv"));
    for (int i = 0; i < 300; ++i) wide << "p" << i << ",";
    wide << "label\n";
    for (int r = 0; r < 60; ++r) {
      for (int i = 0; i < 300; ++i) wide << (r * 7 + i * i * 13) % 16 << ",";
      wide << "c" << r % 3 << "\n";
    }
    // A small table whose field and category names need escaping.
    std::ofstream awkward(Path("awkward.csv"));
    awkward << "<a&b>,plain,\"k\"\"ind\"\n";
    for (int r = 0; r < 90; ++r)
      awkward << r % 10 << "." << r % 7 << "," << (r * 37) % 11 << ","
              << (r % 10 < 5 ? "x<y" : "p&q") << "\n";
    // The ragged copy of iris ends in a row of two fields after some
    // fifteen good ones.
    const std::string iris = Slurp(kData + "/iris.csv");
    gScratch->Write("ragged.csv", iris.substr(0, iris.rfind('\n', 400) + 1) + "1,2\n");
    gScratch->Write("no_target.csv",
                    "sepal_length,sepal_width,petal_length,petal_width\n1,2,3,4\n");
  }
  static void TearDownTestSuite() { delete gScratch; }
  static std::string Path(const std::string& name) { return *gScratch / name; }

  // Trains with --report and returns the page; the model goes to
  // <name>.model.
  static std::string Train(const Case& c) {
    std::vector<std::string> args = testhost::Args(c.fOptions);
    const std::vector<std::string> head{"train",        c.fData,
                                        "--model",      Path(c.fName) + ".model",
                                        "--report",     Path(c.fName) + ".html",
                                        "--no-progress"};
    args.insert(args.begin(), head.begin(), head.end());
    std::string err;
    EXPECT_EQ(testhost::Run(args, nullptr, &err), 0) << err;
    return Slurp(Path(c.fName) + ".html");
  }
  // The exit code of the command line (split at spaces, "@" standing for the
  // test's folder); text gets what was written to both streams.
  static int RunVxnn(std::string line, std::string* text = nullptr) {
    std::string out, err;
    const int code = gScratch->Run(line, &out, &err);
    if (text) *text = err + out;
    return code;
  }
  static testhost::Scratch* gScratch;
};
testhost::Scratch* HtmlReportTest::gScratch = nullptr;

// A small hidden layer, so that every unit is drawn (the wide case tests
// the cap). Iris: 4 inputs and a bias, 6 hidden units and a bias, 3
// classes: 5 + 7 + 3 units, 6 x 5 + 3 x 7 weights. Diabetes without a
// hidden layer: 10 inputs and a bias, one output. Wine: 13 inputs, 5 and 3
// hidden units, 3 classes: 14 + 6 + 4 + 3 units, 5 x 14 + 3 x 6 + 3 x 4
// weights. RBF on iris by the size rule, without bias units: 4 inputs,
// 2 x (4 + 3) centres and 3 outputs, each weighing the 14 centres.
std::vector<Case> Cases() {
  return {
      {"mlp1_class", kData + "/iris.csv", "--target species --hidden-units 6", true, true, 15, 51,
       4},
      {"mlp0_regr", kData + "/diabetes.csv", "--target progression --hidden-layers 0", false, true,
       12, 11, 10},
      {"mlp2_class", kData + "/wine.csv", "--target cultivar --hidden-layers 2 --hidden-units 5,3",
       true, true, 27, 100, 13},
      {"rbf_class", kData + "/iris.csv", "--target species --network rbf --size-selection rule",
       true, false, 21, 42, 4, 14},
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
    EXPECT_TRUE(WellFormed(Path(c.fName) + ".html"));

    EXPECT_EQ(Count(page, "<circle class=\"unit "), c.fUnits);
    EXPECT_EQ(Count(page, "<rect class=\"more\""), 0);
    EXPECT_EQ(Count(page, "class=\"weight\""), c.fWeights);
    EXPECT_EQ(Count(page, "<rect class=\"bar\""), c.fInputs);
    if (c.fCategorical) {
      // A square of cells, one per actual and predicted category (three
      // in each data set).
      EXPECT_EQ(Count(page, "<td class=\"cell"), 9);
      EXPECT_EQ(Count(page, "<td class=\"cell diag\""), 3);
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
    EXPECT_EQ(Count(page, "<table class=\"centres\""), c.fCentres ? 1 : 0);
    EXPECT_EQ(Count(page, "class=\"unit centre\""), c.fCentres);
    // Self-contained: nothing is fetched, nothing runs.
    for (const char* outside : {"<script", "src=", "href=", "url(", "@import"})
      EXPECT_EQ(Count(page, outside), 0) << outside;
  }
}

// Hundreds of inputs: each layer shows at most the cap, the rest in one
// node, so the page stays small.
TEST_F(HtmlReportTest, WideNetworksAreCapped) {
  const std::string page =
      Train({"wide", Path("wide.csv"),
             "--target label --hidden-units 30 --max-data-passes 5 --continuous p0", true, true});
  // 301 input and 31 hidden units: each layer drawn as all but one of the
  // cap and a node for the rest; the 3 outputs in full.
  EXPECT_EQ(Count(page, "<circle class=\"unit "), 2 * (vxnn::kMaxUnitsDrawn - 1) + 3);
  EXPECT_EQ(Count(page, "<rect class=\"more\""), 2);
  // The largest weights between the drawn inputs and hidden units; every
  // drawn hidden unit (the bias too) feeds the three outputs.
  EXPECT_EQ(Count(page, "class=\"weight\""),
            static_cast<int>(vxnn::kMaxWeightsDrawn) + (vxnn::kMaxUnitsDrawn - 1) * 3);
  EXPECT_EQ(Count(page, "<rect class=\"bar\""), vxnn::kMaxImportanceBars);
  EXPECT_THAT(page, HasSubstr("270 more inputs"));
  EXPECT_LT(page.size(), 250u * 1024);

  // Per layer, from the model's own structure view: the heading gives its
  // units, and the units drawn in its column and the "+N" beside them add
  // up to them.
  const vxnn::LoadedModel model = vxnn::LoadModel(Path("wide.model"));
  const std::unique_ptr<const NNStructure> s(model.fAlgorithm->GetStructure());
  const std::regex layer("<text class=\"layer\" x=\"([0-9.]+)\" y=\"16\">[a-z]+ \\(([0-9]+)\\)");
  int l = 0;
  for (std::sregex_iterator m(page.begin(), page.end(), layer), end; m != end; ++m, ++l) {
    SCOPED_TRACE(l);
    const std::string x = (*m)[1];
    ASSERT_LT(l, s->GetNumLayers());
    const int units = s->GetNumUnits(l);
    EXPECT_EQ(std::stoi((*m)[2]), units);
    const int drawn = Count(page, "cx=\"" + x + "\"");
    const std::regex more("class=\"moretext\" x=\"" + x + "\"[^>]*>\\+([0-9]+)<");
    std::smatch plus;
    const int hidden = std::regex_search(page, plus, more) ? std::stoi(plus[1]) : 0;
    EXPECT_EQ(hidden, units - drawn);
    EXPECT_EQ(hidden, units > vxnn::kMaxUnitsDrawn ? units - (vxnn::kMaxUnitsDrawn - 1) : 0);
  }
  EXPECT_EQ(l, 3);
}

TEST_F(HtmlReportTest, TextFromTheDataIsEscaped) {
  const std::string page = Train({"awkward", Path("awkward.csv"), "--target k\"ind", true, true});
  EXPECT_TRUE(WellFormed(Path("awkward.html")));
  for (const char* raw : {"<a&b>", "x<y", "p&q", "k\"ind"}) EXPECT_EQ(Count(page, raw), 0) << raw;
  EXPECT_EQ(vxnn::HtmlEscape("'&amp;"), "&#39;&amp;amp;");
  // The field in the network, the bars and the summary; the categories in
  // the matrix's rows and columns.
  EXPECT_GE(Count(page, "&lt;a&amp;b&gt;"), 3);
  EXPECT_GE(Count(page, "x&lt;y"), 2);
  EXPECT_GE(Count(page, "p&amp;q"), 2);
  EXPECT_GE(Count(page, "k&quot;ind"), 1);
}

// Thinning keeps every stride-th record, the stride a power of two, and
// never more points than asked.
TEST_F(HtmlReportTest, ScatterIsThinnedEvenly) {
  Train(Cases()[1]);
  vxnn::LoadedModel model = vxnn::LoadModel(Path("mlp0_regr.model"));
  const vxnn::CsvTable table = testhost::Shipped("diabetes.csv");
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

// ---- numbers and positions of the drawings -------------------------------

// The element of the page that is an svg of the class.
std::string Svg(const std::string& page, const std::string& cls) {
  const std::size_t at = page.find("class=\"" + cls + "\"");
  if (at == std::string::npos) return "";
  return page.substr(at, page.find("</svg>", at) - at);
}

// A tick label: its position along its axis (x for the horizontal axis, y
// for the vertical one) and its text, in the order drawn.
struct Tick {
  double fPos;
  std::string fLabel;
};
std::vector<Tick> Ticks(const std::string& svg, bool horizontal) {
  const std::regex tick(
      "<text class=\"tick\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\" "
      "text-anchor=\"(middle|end)\">([^<]*)<");
  std::vector<Tick> ticks;
  for (std::sregex_iterator m(svg.begin(), svg.end(), tick), end; m != end; ++m)
    if (((*m)[3] == "middle") == horizontal)
      ticks.push_back({std::stod((*m)[horizontal ? 1 : 2]), (*m)[4]});
  return ticks;
}
std::vector<std::string> Labels(const std::vector<Tick>& ticks) {
  std::vector<std::string> labels;
  for (const Tick& t : ticks) labels.push_back(t.fLabel);
  return labels;
}
// Where value v lies on an axis whose values a and b are drawn at pa and pb.
double Along(double v, double a, double pa, double b, double pb) {
  return pa + (v - a) / (b - a) * (pb - pa);
}

// Predicted against actual: both axes labelled with the same round values,
// the actual values growing to the right and the predicted ones upwards,
// and every point where its two labels put it.
TEST(ReportGeometry, ScatterPointsSitWhereTheAxesSay) {
  const struct {
    std::vector<std::pair<double, double>> fPoints;  // (actual, predicted)
    std::vector<std::string> fTicks;
  } cases[] = {
      // 12..95: a fifth of the range is 16.6, the round step above it 20.
      {{{12, 20}, {47, 40}, {30, 33}, {95, 88}}, {"0", "20", "40", "60", "80", "100"}},
      // -3.2..2.2: a fifth is 1.08, the step 2.
      {{{-3.2, -2.5}, {0.4, 0.1}, {1.7, 2.2}}, {"-4", "-2", "0", "2", "4"}},
      // 0.31..0.342: a fifth is 0.0064, the step 0.01.
      {{{0.31, 0.342}, {0.33, 0.32}}, {"0.31", "0.32", "0.33", "0.34", "0.35"}},
      // 0.3..0.7, bounds on the step 0.1: no tick beyond either.
      {{{0.3, 0.45}, {0.7, 0.52}, {0.5, 0.38}}, {"0.3", "0.4", "0.5", "0.6", "0.7"}},
      {{{0.06, 0.1}, {0.14, 0.12}}, {"0.06", "0.08", "0.1", "0.12", "0.14"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fTicks.front());
    vxnn::ReportPage p;
    vxnn::TargetFigures t;
    t.fName = "y";
    p.fTargets = {t};
    p.fScatter = {{"y", c.fPoints, c.fPoints.size()}};
    std::ostringstream page;
    vxnn::WriteHtmlReport(page, p);
    const std::string svg = Svg(page.str(), "scatter");
    const std::vector<Tick> xs = Ticks(svg, true), ys = Ticks(svg, false);
    ASSERT_EQ(Labels(xs), c.fTicks);
    ASSERT_EQ(Labels(ys), c.fTicks);
    const double lo = std::stod(c.fTicks.front()), hi = std::stod(c.fTicks.back());
    // The dashed diagonal joins (lo, lo) to (hi, hi): its ends fix where
    // the vertical axis puts lo and hi (its labels sit on the text's
    // baseline, a few pixels off).
    std::smatch ideal;
    ASSERT_TRUE(std::regex_search(svg, ideal,
                                  std::regex("class=\"ideal\" x1=\"([-0-9.]+)\" y1=\"([-0-9.]+)\" "
                                             "x2=\"([-0-9.]+)\" y2=\"([-0-9.]+)\"")));
    const double yLo = std::stod(ideal[2]), yHi = std::stod(ideal[4]);
    EXPECT_NEAR(std::stod(ideal[1]), xs.front().fPos, 0.11);
    EXPECT_NEAR(std::stod(ideal[3]), xs.back().fPos, 0.11);
    EXPECT_LT(yHi, yLo) << "larger predictions must be drawn higher";
    for (std::size_t i = 1; i < xs.size(); ++i) {
      EXPECT_GT(xs[i].fPos, xs[i - 1].fPos) << "labels grow to the right";
      EXPECT_LT(ys[i].fPos, ys[i - 1].fPos) << "labels grow upwards";
      EXPECT_NEAR(ys[i].fPos, Along(std::stod(ys[i].fLabel), lo, yLo, hi, yHi), 6.0);
    }
    const std::regex point("class=\"pt\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"");
    std::size_t k = 0;
    for (std::sregex_iterator m(svg.begin(), svg.end(), point), end; m != end; ++m, ++k) {
      ASSERT_LT(k, c.fPoints.size());
      const auto [actual, predicted] = c.fPoints[k];
      EXPECT_NEAR(std::stod((*m)[1]), Along(actual, lo, xs.front().fPos, hi, xs.back().fPos), 0.11);
      EXPECT_NEAR(std::stod((*m)[2]), Along(predicted, lo, yLo, hi, yHi), 0.11);
    }
    EXPECT_EQ(k, c.fPoints.size());
  }
}

// The error per record against the data passes: round labels on both axes
// (whole passes), the error growing upwards from 0, the passes to the right,
// and the training curve's points where the labels put them.
TEST(ReportGeometry, ErrorCurveTicksAreRoundAndThePointsFollowThem) {
  const struct {
    int fPasses;
    double fFirst, fLast;  // error per record after the first and the last pass
    std::vector<std::string> fX, fY;
  } cases[] = {
      // Passes 1..37: a fifth is 7.2, the step 10; errors up to 0.4: the
      // step 0.1, and no tick past 0.4.
      {37, 0.4, 0.118, {"0", "10", "20", "30", "40"}, {"0", "0.1", "0.2", "0.3", "0.4"}},
      // Passes 1..3: the step is never below one pass; errors up to 2.6:
      // a fifth is 0.52, the step 1.
      {3, 2.6, 1.1, {"1", "2", "3"}, {"0", "1", "2", "3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fPasses);
    vxnn::ReportPage p;
    p.fTrainRecords = 100;
    std::vector<std::pair<double, double>> expected;
    for (int i = 1; i <= c.fPasses; ++i) {
      const double e = c.fFirst + (c.fLast - c.fFirst) * (i - 1) / (c.fPasses - 1);
      p.fCurve.push_back({i, e * p.fTrainRecords, VXMV::gMissingValue});
      expected.emplace_back(i, e);
    }
    std::ostringstream page;
    vxnn::WriteHtmlReport(page, p);
    const std::string svg = Svg(page.str(), "curve");
    const std::vector<Tick> xs = Ticks(svg, true), ys = Ticks(svg, false);
    ASSERT_EQ(Labels(xs), c.fX);
    ASSERT_EQ(Labels(ys), c.fY);
    // Each label of the error axis has its grid line, at the value's height.
    std::vector<double> grid;
    const std::regex line("class=\"grid\" x1=\"[-0-9.]+\" x2=\"[-0-9.]+\" y1=\"([-0-9.]+)\"");
    for (std::sregex_iterator m(svg.begin(), svg.end(), line), end; m != end; ++m)
      grid.push_back(std::stod((*m)[1]));
    ASSERT_EQ(grid.size(), ys.size());
    for (std::size_t i = 1; i < xs.size(); ++i)
      EXPECT_GT(xs[i].fPos, xs[i - 1].fPos) << "passes grow to the right";
    for (std::size_t i = 1; i < grid.size(); ++i)
      EXPECT_LT(grid[i], grid[i - 1]) << "the error grows upwards";
    const double x0 = std::stod(c.fX.front()), x1 = std::stod(c.fX.back());
    const double y0 = std::stod(c.fY.front()), y1 = std::stod(c.fY.back());
    std::smatch train;
    ASSERT_TRUE(std::regex_search(svg, train, std::regex("class=\"train\" points=\"([^\"]*)\"")));
    std::istringstream points(train[1]);
    std::size_t k = 0;
    double px = 0, py = 0;
    char comma = 0;
    for (; points >> px >> comma >> py; ++k) {
      ASSERT_LT(k, expected.size());
      EXPECT_NEAR(px, Along(expected[k].first, x0, xs.front().fPos, x1, xs.back().fPos), 0.11);
      EXPECT_NEAR(py, Along(expected[k].second, y0, grid.front(), y1, grid.back()), 0.11);
    }
    EXPECT_EQ(k, expected.size());
  }
}

// The page in a real browser: it renders something and logs no error.
TEST_F(HtmlReportTest, BrowserRendersThePage) {
  const char* browser = nullptr;
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-headless-shell"})
    if (fs::exists(candidate)) browser = candidate;
  if (!browser) GTEST_SKIP() << "no chromium installed";
  ASSERT_FALSE(Train(Cases()[2]).empty());
  const std::string shot = Path("shot.png"), log = Path("browser.log");
  const std::string command =
      "timeout 90 " + std::string(browser) +
      " --headless --disable-gpu --no-sandbox --hide-scrollbars --no-first-run"
      " --enable-logging=stderr --v=0 --user-data-dir=" +
      Path("profile") + " --window-size=1000,760 --screenshot=" + shot + " file://" +
      Path("mlp2_class.html") + " >" + log + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << Slurp(log);
  ASSERT_TRUE(fs::exists(shot)) << Slurp(log);
  // Console messages and failed loads are logged as "CONSOLE" lines or
  // "Failed to load".
  EXPECT_THAT(Slurp(log), testing::AllOf(testing::Not(HasSubstr("CONSOLE")),
                                         testing::Not(HasSubstr("Failed to load"))));
  // The screenshot's compressed size tells how much is drawn: a blank page
  // takes a few kilobytes, this page's text alone some 75, and with its
  // network, bars and matrix well over twice that.
  EXPECT_GT(fs::file_size(shot), 120u * 1024) << "the drawings are missing from the screenshot";
}

using ReportImportance = HtmlReportTest;

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

TEST_F(ReportImportance, SavedModelsPageAndItsImportanceOverTheTrainingRecords) {
  ASSERT_EQ(RunVxnn("train data/iris.csv --target species --test-fraction 0 --model @m.model "
                    "--hidden-units 6 --no-progress --summary-json @s.json"),
            0);
  const auto summary = nlohmann::json::parse(Slurp(Path("s.json")));
  ASSERT_EQ(summary["importance"].size(), 4u);

  std::string err;
  ASSERT_EQ(RunVxnn("report @m.model data/iris.csv -o @all.html --importance-records 0", &err), 0)
      << err;
  const std::string html = Slurp(Path("all.html"));
  EXPECT_THAT(html, HasSubstr("Computed over the first 150 complete records"));
  // `vxnn report` on a saved model: the same drawing as the trained page's,
  // the figures on the file given, and the curve explained rather than drawn.
  EXPECT_TRUE(WellFormed(Path("all.html")));
  EXPECT_EQ(Count(html, "<circle class=\"unit "), Cases()[0].fUnits);
  EXPECT_EQ(Count(html, "<td class=\"cell"), 9);
  EXPECT_THAT(html, HasSubstr("the 150 records of"));
  EXPECT_EQ(Count(html, "<polyline"), 0);
  EXPECT_THAT(html, HasSubstr("train with --report FILE"));
  // Refusals: no output file, a model that is not one.
  EXPECT_EQ(RunVxnn("report @m.model data/iris.csv"), 2);
  EXPECT_EQ(RunVxnn("report data/iris.csv data/iris.csv -o @none.html"), 1);
  const auto bars = PageImportance(html);
  ASSERT_EQ(bars.size(), 4u);
  ASSERT_EQ(
      RunVxnn("export @m.model --pmml @m.pmml --data data/iris.csv --importance-records 0", &err),
      0)
      << err;
  EXPECT_THAT(err,
              HasSubstr("with predictor importance from 150 records of " + kData + "/iris.csv"));
  const auto exported = PmmlImportance(Slurp(Path("m.pmml")));
  ASSERT_EQ(exported.size(), 4u);
  for (const auto& imp : summary["importance"]) {
    const double want = imp["importance"];
    EXPECT_NEAR(bars.at(imp["input"]), want, 5e-4 * want + 1e-12) << imp["input"];
    EXPECT_NEAR(exported.at(imp["input"]), want, 1e-12) << imp["input"];
  }
  ASSERT_EQ(RunVxnn("export @m.model --pmml @bare.pmml"), 0);
  EXPECT_THAT(Slurp(Path("bare.pmml")),
              testing::AllOf(HasSubstr("<MiningField name=\"sepal_width\""),
                             testing::Not(HasSubstr("importance="))));
}

// The reader stops at the records asked for: a damaged row further on is
// never reached, while a reader asked for every record meets it.
TEST_F(ReportImportance, OnlyTheRecordsAskedForAreRead) {
  ASSERT_EQ(
      RunVxnn(
          "train data/iris.csv --target species --model @m2.model --no-progress --no-importance"),
      0);
  const struct {
    std::string line;
    int code;
    std::string text;  // in the page, or in the error
  } cases[] = {
      // The page's own measure reads the whole file.
      {"report @m2.model @ragged.csv -o @r.html --importance-records 5", 1, "ragged.csv"},
      {"export @m2.model --pmml @p5.pmml --data @ragged.csv --importance-records 5", 0,
       "from 5 records"},
      {"export @m2.model --pmml @p0.pmml --data @ragged.csv --importance-records 0", 1,
       "ragged.csv"},
      {"export @m2.model --pmml @nt.pmml --data @no_target.csv", 1, "no column \"species\""},
      {"export @m2.model --pmml @pn.pmml --data @ragged.csv --importance-records -1", 2,
       "--importance-records"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string text;
    EXPECT_EQ(RunVxnn(c.line, &text), c.code);
    EXPECT_THAT(text, HasSubstr(c.text));
  }
  EXPECT_FALSE(fs::exists(Path("p0.pmml")));
  EXPECT_FALSE(fs::exists(Path("nt.pmml")));
}

}  // namespace
