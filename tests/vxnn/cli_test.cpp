// The vxnn program itself, run on the shipped datasets and on broken copies
// of them: exit codes, what it prints, and the figures it reports checked
// against its own predictions.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "TestHost.h"
#include "cli/Version.h"
#include "data/Partition.h"
#include "vxneural/network/PassKernel.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinary = std::string(VXNN_BINARY_DIR) + "/bin/vxnn";
using testhost::kData;
using testing::HasSubstr;

struct Outcome {
  int fCode = -1;
  std::string fOut, fErr;
};

using testhost::Slurp;
using testhost::Spit;

using testhost::CsvText;
int Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// Starts vxnn in dir with its output going to files there. The command line
// is split at spaces (see testhost::Args); a leading "+" stands for training
// on iris without saving.
pid_t Start(const fs::path& dir, const std::string& line) {
  const std::vector<std::string> args = testhost::Args(
      line[0] == '+' ? "train data/iris.csv --target species --no-save" + line.substr(1) : line);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    dup2(open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    std::vector<char*> argv{const_cast<char*>(kBinary.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kBinary.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

Outcome Finish(const fs::path& dir, pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            Slurp(dir / ".stdout"), Slurp(dir / ".stderr")};
  fs::remove(dir / ".stdout");
  fs::remove(dir / ".stderr");
  return r;
}

class Vxnn : public testing::Test {
 protected:
  Outcome Go(const std::string& line) { return Finish(fDir, Start(fDir, line)); }
  nlohmann::json Json(const std::string& line) {
    const Outcome r = Go(line);
    EXPECT_EQ(r.fCode, 0) << r.fErr;
    return nlohmann::json::parse(r.fOut);
  }

  const testhost::Scratch fScratch;
  const fs::path fDir = fScratch.fDir;
};

// The test figure of one target recomputed from `vxnn score` output on
// the given records: accuracy, or the squared error over that of
// predicting their mean.
double FigureFromScores(const vxnn::CsvTable& table, const vxnn::CsvTable& scored,
                        const std::string& target, bool categorical,
                        const std::vector<std::size_t>& rows) {
  const int actual = table.Column(target), predicted = scored.Column("predicted_" + target);
  if (categorical) {
    int hits = 0;
    for (std::size_t i : rows) hits += table.fRows[i][actual] == scored.fRows[i][predicted];
    return static_cast<double>(hits) / rows.size();
  }
  double mean = 0.0, sse = 0.0, ss = 0.0;
  for (std::size_t i : rows) mean += std::stod(table.fRows[i][actual]) / rows.size();
  for (std::size_t i : rows) {
    const double y = std::stod(table.fRows[i][actual]);
    sse += std::pow(y - std::stod(scored.fRows[i][predicted]), 2);
    ss += (y - mean) * (y - mean);
  }
  return sse / ss;
}

struct Shipped {
  const char* fName;
  const char* fFile;
  const char* fTarget;
  bool fCategorical;
  // An RBF network: the options after "--network rbf", the summary's
  // "chosen" key, the centre line after the count and the count's bounds.
  std::string fRbf = "";
  const char* fChosen = "";
  std::string fHow = "";
  int fLow = 0, fHigh = 0;
};

void PrintTo(const Shipped& d, std::ostream* os) { *os << d.fName; }

class OnShippedData : public Vxnn, public testing::WithParamInterface<Shipped> {};

// Trains with the defaults (or an RBF network), saves the model in both
// forms, scores the whole file with each and recomputes the summary's test
// figure from the predictions on the records the split held out; eval on
// the whole file agrees with the same predictions.
TEST_P(OnShippedData, SummaryAgreesWithThePredictionsOfBothSavedForms) {
  const Shipped& d = GetParam();
  const std::string data = kData + "/" + d.fFile, target = d.fTarget;
  const bool rbf = !d.fRbf.empty();
  const std::string train = "train " + data + " --target " + target +
                            (rbf ? " --network rbf --no-importance --no-refit " : " --no-refit ") +
                            d.fRbf;
  const Outcome trained = Go(train + " --model m.bin --summary-json s.json");
  ASSERT_EQ(trained.fCode, 0) << trained.fErr;
  ASSERT_EQ(Go(train + " --model m.xml --format xml").fCode, 0);
  nlohmann::json s = nlohmann::json::parse(Slurp(fDir / "s.json"));
  EXPECT_EQ(Slurp(fDir / "m.bin").rfind(rbf ? "RBFSet" : "MLPSet", 0), 0u);
  EXPECT_EQ(Slurp(fDir / "m.xml").rfind("<?xml", 0), 0u);

  const vxnn::CsvTable table = vxnn::ReadCsvFile(data);
  const std::size_t n = table.fRows.size();
  EXPECT_EQ(nlohmann::json({s["data"]["records"], s["data"]["test_records"], s["model_file"]}),
            nlohmann::json({n, std::round(0.3 * n), "m.bin"}));
  const Outcome binary = Go("score m.bin " + data);
  ASSERT_EQ(binary.fCode, 0) << binary.fErr;
  EXPECT_EQ(binary.fErr, "");
  EXPECT_EQ(Go("score m.xml " + data).fOut, binary.fOut);
  const vxnn::CsvTable scored = testhost::CsvFromText(binary.fOut);
  ASSERT_EQ(scored.fRows.size(), n);
  EXPECT_TRUE(std::equal(table.fHeader.begin(), table.fHeader.end(), scored.fHeader.begin()));

  const vxnn::Partition split = vxnn::SplitRecords(n, 0.3, 12345);
  nlohmann::json& summary = s["targets"][0];
  EXPECT_EQ(summary["name"], target);
  const double figure = FigureFromScores(table, scored, target, d.fCategorical, split.fTest);
  const char* key = d.fCategorical ? "accuracy" : "relative_error";
  EXPECT_NEAR(summary["test"][key].get<double>(), figure, 1e-6);
  if (d.fCategorical) {
    // The confusion matrix counts the same predictions; each record's
    // probabilities sum to 1 (an RBF network's outputs need not) and the
    // winner's is the largest.
    const std::string figures = (rbf ? "output_" : "probability_") + target;
    const std::vector<std::string> categories = summary["categories"];
    auto index = [&](const std::string& c) {
      return std::find(categories.begin(), categories.end(), c) - categories.begin();
    };
    const int actual = table.Column(target), predicted = scored.Column("predicted_" + target);
    std::vector<std::vector<double>> confusion(categories.size(),
                                               std::vector<double>(categories.size(), 0.0));
    for (std::size_t i : split.fTest) {
      const auto& row = scored.fRows[i];
      ++confusion.at(index(row[actual])).at(index(row[predicted]));
      double sum = 0.0, top = -HUGE_VAL;
      for (const auto& c : categories) {
        const int column = scored.Column(figures + "_" + c);
        ASSERT_GE(column, 0) << figures << "_" << c;
        sum += std::stod(row[column]);
        top = std::max(top, std::stod(row[column]));
      }
      EXPECT_NEAR(rbf ? 1.0 : sum, 1.0, 1e-5);
      EXPECT_NEAR(std::stod(row[scored.Column(figures)]), top, 1e-6);
    }
    EXPECT_EQ(summary["test"]["confusion_matrix"], nlohmann::json(confusion));
  }
  if (!rbf) {
    EXPECT_GT(d.fCategorical ? figure : 1.0 - figure, d.fCategorical ? 0.8 : 0.2);
  }

  std::vector<std::size_t> all(n);
  for (std::size_t i = 0; i < n; ++i) all[i] = i;
  nlohmann::json e = Json("eval m.xml " + data + " --json");
  EXPECT_EQ(e["evaluated_records"], n);
  EXPECT_NEAR(FigureFromScores(table, scored, target, d.fCategorical, all),
              e["targets"][0][key].get<double>(), 1e-6);
  if (!rbf) {
    // The importances rank every input and sum to 1.
    double total = 0.0;
    for (const auto& imp : s["importance"]) total += imp["importance"].get<double>();
    EXPECT_NEAR(total, 1.0, 1e-9);
    EXPECT_EQ(s["importance"].size(), table.fHeader.size() - 1);
    return;
  }
  const double centres = s["training"]["hidden_units"]["count"];
  EXPECT_EQ(nlohmann::json({s["network"]["kind"], s["network"]["units_per_layer"][1],
                            s["training"]["hidden_units"]["chosen"]}),
            nlohmann::json({"rbf", centres, d.fChosen}));
  EXPECT_GE(centres, d.fLow);
  EXPECT_LE(centres, d.fHigh);
  const std::string count = std::to_string(static_cast<int>(centres));
  EXPECT_THAT(trained.fOut, HasSubstr("\nCentres: " + count + ", " + d.fHow + "\n"));
  EXPECT_THAT(trained.fOut, testing::Not(HasSubstr("n/a")));
}

// iris: 4 inputs and 3 output units, so the clustering chooses among 1..14
// when given the lower bound alone.
INSTANTIATE_TEST_SUITE_P(
    Files, OnShippedData,
    testing::Values(Shipped{"species", "iris.csv", "species", true},
                    Shipped{"cultivar", "wine.csv", "cultivar", true},
                    Shipped{"progression", "diabetes.csv", "progression", false},
                    Shipped{"rbf_iris_clustering", "iris.csv", "species", true,
                            "--min-hidden-units 1", "clustering",
                            "chosen by the clustering between 1 and 14", 1, 14},
                    Shipped{"rbf_diabetes_search", "diabetes.csv", "progression", false,
                            "--select-architecture --min-hidden-units 2 --max-hidden-units 6",
                            "test error", "chosen by test error among 2..6 candidates", 2, 6}),
    [](const auto& info) { return std::string(info.param.fName); });

TEST_F(Vxnn, RBFSearchWithoutTestRecordsChoosesByBIC) {
  const nlohmann::json h = Json(
      "train data/wine.csv --target cultivar --network rbf --select-architecture "
      "--search-pass-per-candidate --test-fraction 0 --max-hidden-units 5 --no-save "
      "--json")["training"]["hidden_units"];
  EXPECT_EQ(nlohmann::json({h["chosen"], h["low"], h["high"]}), nlohmann::json({"bic", 1, 5}));
  EXPECT_GE(h["count"].get<double>(), 1.0);
  EXPECT_LE(h["count"].get<double>(), 5.0);
}

// Three records with a declared missing value, two with an empty input
// (one of them among the three) and one with an empty target, and a
// constant column. Dropped, the five records are left out; filled in, only
// the one without its target is, and five inputs in four records are.
TEST_F(Vxnn, MissingValuesAndConstantInputsAreSetAside) {
  vxnn::CsvTable t = testhost::Shipped("iris.csv");
  t.fHeader.push_back("site");
  for (auto& row : t.fRows) row.push_back("north");
  t.fRows[3][0] = t.fRows[50][0] = "NA";
  t.fRows[120][2] = "-1";
  t.fRows[7][1] = t.fRows[3][1] = t.fRows[99][4] = "";
  Spit(fDir / "gaps.csv", CsvText(t));
  for (const auto& [policy, leftOut, cells, records] :
       {std::tuple<std::string, double, double, double>{"drop", 5, 0, 0}, {"impute", 1, 5, 4}}) {
    nlohmann::json s = Json(
        "train gaps.csv --target species --missing sepal_length=NA --missing petal_length=-1 "
        "--max-data-passes 5 --json --no-save --missing-inputs " +
        policy);
    double out = 0, in = 0, filled = 0;
    for (const char* set : {"left_out_of_training", "left_out_of_test"})
      for (const auto& m : s["data"][set]) out += m.get<double>();
    for (const char* set : {"imputed_training", "imputed_test"}) {
      in += s["data"][set]["inputs"].get<double>();
      filled += s["data"][set]["records"].get<double>();
    }
    EXPECT_EQ(std::make_tuple(out, in, filled), std::make_tuple(leftOut, cells, records)) << policy;
    EXPECT_EQ(s["data"]["unused_constant_inputs"], nlohmann::json::array({"site"}));
    EXPECT_EQ(s["importance"].size(), 4u);
  }
}

// An empty input, a record with two (one of them nan), text in a number
// column, and a category (sex 3) the model never saw: filled in, all four
// are scored (the text and the new category count as values the model does
// not know); dropped, none of the four.
TEST_F(Vxnn, UnscorableRecordsGetEmptyPredictionsAndAreCounted) {
  ASSERT_EQ(Go("train data/diabetes.csv --target progression --model d --categorical sex").fCode,
            0);
  vxnn::CsvTable t = testhost::Shipped("diabetes.csv");
  t.fRows[0][2] = t.fRows[1][2] = "";
  t.fRows[1][3] = "nan";
  t.fRows[5][3] = "high";
  t.fRows[9][1] = "3";
  Spit(fDir / "bad.csv", CsvText(t));
  const Outcome r = Go("score d bad.csv --missing-inputs drop --unknown-categories drop");
  EXPECT_EQ(r.fCode, 0);
  EXPECT_EQ(r.fErr.rfind("vxnn: 4 of 442 records could not be scored", 0), 0u) << r.fErr;
  EXPECT_EQ(Lines(r.fErr), 1);
  const vxnn::CsvTable scored = testhost::CsvFromText(r.fOut);
  ASSERT_EQ(scored.fRows.size(), 442u);
  const int p = scored.Column("predicted_progression");
  for (int i : {0, 1, 5, 9}) EXPECT_EQ(scored.fRows[i][p], "") << i;
  for (int i : {2, 4, 10, 441}) EXPECT_NE(scored.fRows[i][p], "") << i;
  EXPECT_EQ(scored.fRows[5][3], "high");  // input cells pass through
  const Outcome filled = Go("score d bad.csv");
  EXPECT_EQ(filled.fErr,
            "vxnn: 3 missing inputs in 2 records filled in with the training mean, or most "
            "frequent category\nvxnn: 2 inputs in 2 records with a value the model does not know "
            "(a new category, or text in a numeric column) filled in with the most frequent "
            "training category, or the training mean\n");
  const vxnn::CsvTable imputed = testhost::CsvFromText(filled.fOut);
  for (int i : {0, 1, 5, 9}) EXPECT_NE(imputed.fRows[i][p], "") << i;
  // The text takes the training mean of its column, as an empty cell does.
  t.fRows[5][3] = "";
  Spit(fDir / "empty.csv", CsvText(t));
  EXPECT_EQ(testhost::CsvFromText(Go("score d empty.csv").fOut).fRows[5][p], imputed.fRows[5][p]);

  // Scoring needs no target column.
  vxnn::CsvTable inputs = testhost::Shipped("diabetes.csv");
  inputs.fHeader.pop_back();
  for (auto& row : inputs.fRows) row.pop_back();
  Spit(fDir / "inputs.csv", CsvText(inputs));
  const Outcome s = Go("score d inputs.csv");
  EXPECT_EQ(s.fErr, "");
  EXPECT_EQ(testhost::CsvFromText(s.fOut).fRows.size(), 442u);

  const Outcome e = Go("eval d bad.csv --missing-inputs drop --unknown-categories drop");
  EXPECT_EQ(e.fCode, 0);
  EXPECT_THAT(e.fOut, HasSubstr("438 records evaluated of 442"));
  const nlohmann::json j = Json("eval d bad.csv --json");
  EXPECT_EQ(
      nlohmann::json({j["evaluated_records"], j["imputed"]["inputs"], j["imputed"]["records"]}),
      nlohmann::json({442, 3, 2}));
}

// The model's variable list follows the file's columns, so the target may
// come first or stand between the inputs; the encoded records, and so the
// model and its predictions, are those of the target last, and each model
// scores a file of any column order alike.
TEST_F(Vxnn, PredictionsDoNotDependOnWhereTheTargetColumnStands) {
  const vxnn::CsvTable iris = testhost::Shipped("iris.csv");
  const auto moved = [&](std::ptrdiff_t to) {
    vxnn::CsvTable t = iris;
    auto move = [to](std::vector<std::string>& row) {
      std::rotate(row.begin() + to, row.end() - 1, row.end());
    };
    move(t.fHeader);
    for (auto& row : t.fRows) move(row);
    return CsvText(t);
  };
  Spit(fDir / "first.csv", moved(0));
  Spit(fDir / "between.csv", moved(2));
  ASSERT_EQ(Go("train data/iris.csv --target species --model last").fCode, 0);
  ASSERT_EQ(Go("train first.csv --target species --model first").fCode, 0);
  ASSERT_EQ(Go("train between.csv --target species --model between").fCode, 0);
  const auto predictions = [&](const std::string& model, const std::string& file) {
    const Outcome r = Go("score " + model + " " + file);
    EXPECT_EQ(r.fCode, 0) << r.fErr;
    EXPECT_EQ(r.fErr, "") << model << " on " << file;
    const vxnn::CsvTable scored = testhost::CsvFromText(r.fOut);
    std::vector<std::vector<std::string>> cells;
    for (const auto& row : scored.fRows)
      cells.emplace_back(row.end() - 5, row.end());  // the label, three probabilities, the top one
    return cells;
  };
  const auto expected = predictions("last", "data/iris.csv");
  ASSERT_EQ(expected.size(), 150u);
  for (const char* model : {"last", "first", "between"})
    for (const char* file : {"data/iris.csv", "first.csv", "between.csv"})
      EXPECT_EQ(predictions(model, file), expected) << model << " on " << file;
}

// Every command run with its exit code and a text of its output: help on
// standard output, and bad input as one line on standard error.
TEST_F(Vxnn, ExitCodesAndOneLineErrors) {
  Spit(fDir / "header.csv", "a,b,t\n");
  Spit(fDir / "constant.csv", "a,b,t\n1,2,x\n3,4,x\n5,1,x\n");
  Spit(fDir / "text.model", "this is not a model\n");
  Spit(fDir / "empty.model", "");
  // Damaged models: cut short, in either form.
  // -o names the model file as --model does, alone or with the same path.
  ASSERT_EQ(Go("train data/iris.csv --target species -o m.bin").fCode, 0);
  ASSERT_EQ(Go("train data/iris.csv --target species -o m.xml --model m.xml --format xml").fCode,
            0);
  for (const std::string name : {"m.bin", "m.xml"}) {
    const std::string whole = Slurp(fDir / name);
    Spit(fDir / ("cut." + name), whole.substr(0, whole.size() / 3));
  }
  vxnn::CsvTable renamed = testhost::Shipped("iris.csv");
  renamed.fHeader[4] = "kind";
  Spit(fDir / "renamed.csv", CsvText(renamed));
  const struct {
    const char* fLine;
    int fCode;
    std::string fText;
  } cases[] = {
      {"train --help", 0, "--memory-budget"},
      {"score --help", 0, "Usage"},
      {"train absent.csv --target t", 1, "absent.csv: cannot open the file"},
      {"train header.csv --target t", 1, "no records below the header"},
      {"train data/iris.csv --target colour", 1,
       "--target names \"colour\", which is not a column"},
      {"train data/iris.csv --target specis", 1,
       "--target names \"specis\", which is not a column (did you mean \"species\"?)"},
      {"+ --missing Species=?", 1,
       "--missing names \"Species\", which is not a column (did you mean \"species\"?)"},
      {"train constant.csv --target t", 1, "target \"t\" is constant"},
      {"+ --continuous species", 1, "column \"species\" holds text and cannot be continuous"},
      {"+ --test-fraction 1.5", 2, "--test-fraction: must lie in [0, 1), not 1.5"},
      {"+ --method newton", 2, "--method: newton not in {scg,gd}"},
      {"+ --method scg --training-type online", 1,
       "--method scg trains in batch only; use --method gd for online training"},
      {"+ --mini-batch-size 10", 1, "--mini-batch-size applies to --training-type minibatch"},
      {"+ --training-type minibatch --mini-batch-size 200", 1,
       "--mini-batch-size must lie between 2 and 105"},
      {"+ --hidden-units 3,2,1", 1, "--hidden-units: at most 2 hidden layers"},
      {"+ --hidden-layers 1 --hidden-units 3,2", 1,
       "--hidden-units gives 2 layer sizes for 1 hidden layers"},
      {"+ --hidden-activation softmax", 2,
       "--hidden-activation: softmax not in {tanh,sigmoid,radial-basis,normalized-radial-basis}"},
      {"+ --hidden-activation radial-basis", 1,
       "--hidden-activation radial-basis applies to --network rbf"},
      {"+ --max-data-passes 0", 2, "--max-data-passes: must be at least 1, not 0"},
      {"+ --overlap 1.5", 1, "--overlap applies to --network rbf"},
      {"+ --search-pass-per-candidate", 1, "--search-pass-per-candidate applies to --network rbf"},
      {"+ --network rbf --method gd", 1,
       "--method does not apply to --network rbf (its centres come from clustering and its "
       "output weights from least squares)"},
      {"+ --network rbf --hidden-layers 2", 1, "--network rbf has exactly one hidden layer"},
      {"+ --network rbf --hidden-activation tanh", 1,
       "--hidden-activation must be radial-basis or normalized-radial-basis for --network rbf"},
      {"+ --network rbf --overlap 0", 2, "--overlap: must be finite and above 0, not 0"},
      {"+ --network rbf --hidden-units 0", 2, "--hidden-units: must be at least 1, not 0"},
      {"+ --network rbf --hidden-units 4 --max-hidden-units 6", 1,
       "--hidden-units sets the number of centres; drop --select-architecture, "
       "--min-hidden-units and --max-hidden-units"},
      {"+ --network rbf --min-hidden-units 6 --max-hidden-units 5", 1,
       "the hidden-unit range needs 1 <= --min-hidden-units <= --max-hidden-units"},
      {"+ --network rbf --search-pass-per-candidate", 1,
       "--search-pass-per-candidate applies to --select-architecture"},
      {"train data/iris.csv --target species --model no/such/dir/m", 1,
       "no/such/dir/m: cannot write the model file"},
      {"train data/iris.csv --target species -o a.model --model b.model", 1,
       "-o and --model give different model paths (\"a.model\" and \"b.model\"); give one"},
      {"train data/iris.csv", 2, "--target is required"},
      {"+ --colour", 2, "--colour"},
      {"", 2, "subcommand"},
      {"score text.model data/iris.csv", 1, "text.model: not a vxnn model file"},
      {"score empty.model data/iris.csv", 1, "the model file is empty"},
      {"eval absent.model data/iris.csv", 1, "absent.model: cannot open the model file"},
      {"inspect data/iris.csv", 1, "not a vxnn model file"},
      {"score m.bin data/wine.csv", 1,
       "no column \"sepal_length\", which the model needs as an input"},
      {"eval m.bin renamed.csv", 1, "no column \"species\", which the model predicts"},
      {"export m.bin --pmml m.pmml --stats m.stat.xml", 0,
       "PMML written to m.pmml\nstatistics written to m.stat.xml\n"},
      {"export m.bin --pmml no/x.pmml", 1, "no/x.pmml: cannot write the document"},
      {"export m.bin --pmml - --stats -", 1,
       "--pmml and --stats both write to standard output (-); give one of them a file"},
      {"train data/iris.csv --target species --model - --report -", 1,
       "--model and --report both write to standard output (-); give one of them a file"},
      {"score m.bin data/iris.csv --unknown-categories keep", 2, "--unknown-categories: keep"},
      {"eval m.bin data/iris.csv --unknown-categories Impute", 2, "--unknown-categories: Impute"},
      {"report m.bin data/iris.csv -o p.html --unknown-categories", 2, "--unknown-categories"},
      {"score m.bin data/iris.csv -o .", 1, ".: is a directory; give a file name"},
      {"report m.bin data/iris.csv -o .", 1, ".: is a directory; give a file name"},
      {"score cut.m.bin data/iris.csv", 1, "cut.m.bin: the model file is damaged"},
      {"eval cut.m.xml data/iris.csv", 1, "cut.m.xml: the model file is damaged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fLine);
    const Outcome r = Go(c.fLine);
    EXPECT_EQ(r.fCode, c.fCode) << r.fErr;
    EXPECT_THAT(c.fCode ? r.fErr : r.fOut, HasSubstr(c.fText));
    if (c.fCode == 0) continue;
    EXPECT_EQ(r.fOut, "");
    EXPECT_THAT(r.fErr, testing::StartsWith("vxnn: error: "));
    EXPECT_EQ(Lines(r.fErr), 1) << r.fErr;
  }
  // Nothing is left half written.
  EXPECT_FALSE(fs::exists(fDir / "no"));
  EXPECT_FALSE(fs::exists(fDir / "p.html"));
  for (const auto& entry : fs::directory_iterator(fDir))
    EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
}

// --version: the release, the banners of the two components as models
// trained in this process give them, and the kernel choice as the library
// states it here, in the program's own environment and with VXNN_KERNEL
// pinning the reference kernel.
TEST_F(Vxnn, VersionNamesTheComponentsAndTheKernel) {
  std::vector<std::string> banners;
  for (const vxnn::NetworkKind kind : {vxnn::NetworkKind::kMLP, vxnn::NetworkKind::kRBF}) {
    vxnn::TrainOptions o = testhost::ForTarget("species");
    o.fNetwork = kind;
    banners.push_back(
        testhost::Train(testhost::Shipped("iris.csv"), o)->fAlgorithm->GetComponentVersion());
  }
  ASSERT_NE(banners[0], banners[1]);
  std::string available;
  for (const VXNeural::PassKernel k : VXNeural::AvailablePassKernels())
    available += std::string(available.empty() ? "" : ", ") + VXNeural::PassKernelName(k);
  const auto expected = [&](const char* kernel) {
    return "vxnn " + std::string(vxnn::ProgramVersion()) + "\n" + banners[0] + "\n" + banners[1] +
           "\npass kernel: " + kernel + " (available: " + available + ")\n";
  };
  EXPECT_THAT(vxnn::ProgramVersion(), testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+"));

  const char* pinned = std::getenv("VXNN_KERNEL");
  const std::string saved = pinned ? pinned : "";
  unsetenv("VXNN_KERNEL");
  Outcome r = Go("--version");
  EXPECT_EQ(r.fCode, 0) << r.fErr;
  EXPECT_EQ(r.fErr, "");
  // Unpinned, the widest kernel the processor runs: the last one listed.
  EXPECT_EQ(r.fOut, expected(VXNeural::PassKernelName(VXNeural::AvailablePassKernels().back())));
  setenv("VXNN_KERNEL", "reference", 1);
  r = Go("--version");
  EXPECT_EQ(r.fCode, 0) << r.fErr;
  EXPECT_EQ(r.fOut, expected("reference"));
  if (pinned)
    setenv("VXNN_KERNEL", saved.c_str(), 1);
  else
    unsetenv("VXNN_KERNEL");
}

// One rule for a value outside an option's fixed list: the command line
// refuses it while it parses (exit code 2), in one line that names the
// option, the value and the values allowed. The table is every option with
// a fixed list; each command's help must show exactly these lists, so that
// an option losing its check, or a new one with a list, fails here.
TEST_F(Vxnn, EveryFixedListRefusesOtherValuesWhileParsing) {
  const struct {
    const char* fCommand;  // with its required arguments
    const char* fOption;
    const char* fValues;
  } cases[] = {
      {"train data/iris.csv --target species", "--network", "mlp,rbf,auto"},
      {"train data/iris.csv --target species", "--format", "binary,xml"},
      {"train data/iris.csv --target species", "--missing-inputs", "impute,drop"},
      {"train data/iris.csv --target species", "--size-selection", "auto,cv,rule"},
      {"train data/iris.csv --target species", "--early-stopping", "auto,on,off"},
      {"train data/iris.csv --target species", "--method", "scg,gd"},
      {"train data/iris.csv --target species", "--training-type", "batch,minibatch,online"},
      {"train data/iris.csv --target species", "--hidden-activation",
       "tanh,sigmoid,radial-basis,normalized-radial-basis"},
      {"train data/iris.csv --target species", "--output-activation",
       "softmax,identity,tanh,sigmoid"},
      {"train data/iris.csv --target species", "--input-scaling", "standard,range"},
      {"score m.model data/iris.csv", "--missing-inputs", "impute,drop"},
      {"score m.model data/iris.csv", "--unknown-categories", "impute,drop"},
      {"eval m.model data/iris.csv", "--missing-inputs", "impute,drop"},
      {"eval m.model data/iris.csv", "--unknown-categories", "impute,drop"},
      {"report m.model data/iris.csv -o p.html", "--missing-inputs", "impute,drop"},
      {"report m.model data/iris.csv -o p.html", "--unknown-categories", "impute,drop"},
  };
  std::map<std::string, std::set<std::string>> listed, shown;
  for (const auto& c : cases) {
    const std::string command = c.fCommand;
    const std::string name = command.substr(0, command.find(' '));
    listed[name].insert(std::string(c.fOption) + " TEXT:{" + c.fValues + "}");
    for (const std::string value : {"Impute", "tree", "scg,gd"}) {
      const std::string line = command + " " + c.fOption + "=" + value;
      SCOPED_TRACE(line);
      const Outcome r = Go(line);
      EXPECT_EQ(r.fCode, 2);
      EXPECT_EQ(r.fOut, "");
      EXPECT_EQ(r.fErr, "vxnn: error: " + std::string(c.fOption) + ": " + value + " not in {" +
                            c.fValues + "} (see vxnn --help)\n");
    }
  }
  for (const char* name : {"train", "score", "eval", "inspect", "export", "report", "demo"}) {
    const Outcome help = Go(std::string(name) + " --help");
    ASSERT_EQ(help.fCode, 0);
    std::istringstream lines(help.fOut);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t start = line.find("--"), open = line.find(":{");
      if (start != std::string::npos && open != std::string::npos)
        shown[name].insert(line.substr(start, line.find('}', open) + 1 - start));
    }
    EXPECT_EQ(shown[name], listed[name]) << name;
  }
}

// A number's range that does not depend on the data is checked while the
// command line parses, as a fixed list is: exit code 2, before any file is
// read, in one line that states the range and the value given. The bounds
// themselves pass the parser (the run then stops at the missing file).
TEST_F(Vxnn, ParsedRangesStateTheRuleAndTheValue) {
  const struct {
    const char* fCommand;  // with its required arguments
    const char* fOption;
    const char* fRule;                 // what the error line says of the range
    std::vector<const char*> fOut;     // values outside it
    std::vector<const char*> fBounds;  // values at its edges, inside it
  } cases[] = {
      {"train", "--test-fraction", "must lie in [0, 1)", {"1.5", "1", "-0.1"}, {"0", "0.99"}},
      {"train", "--folds", "must lie between 2 and 20", {"1", "21"}, {"2", "20"}},
      {"train", "--max-levels", "must be at least 0", {"-1"}, {"0"}},
      {"train", "--hidden-layers", "must lie between 0 and 2", {"-1", "3"}, {"0", "2"}},
      {"train", "--hidden-units", "must be at least 1", {"0", "-3"}, {"1", "1,1"}},
      {"train", "--learning-rate", "must be above 0", {"0", "-1"}, {"1e-9"}},
      {"train", "--min-learning-rate", "must be above 0", {"0"}, {"1e-9"}},
      {"train", "--momentum", "must lie in [0, 1)", {"1", "-0.5"}, {"0", "0.999"}},
      {"train", "--weight-range", "must be above 0", {"0"}, {"0.001"}},
      {"train", "--max-data-passes", "must be at least 1", {"0"}, {"1"}},
      {"train", "--max-time", "must be above 0", {"0"}, {"0.5"}},
      {"train", "--error-change", "must be at least 0", {"-1e-9"}, {"0"}},
      {"train", "--error-ratio", "must be at least 0", {"-1"}, {"0"}},
      {"train", "--gradient-norm", "must be at least 0", {"-1"}, {"0"}},
      {"train", "--stop-accuracy", "must lie in (0, 100]", {"0", "100.5"}, {"0.5", "100"}},
      {"train", "--steps-without-improvement", "must be at least 1", {"0"}, {"1"}},
      {"train", "--min-hidden-units", "must be at least 1", {"0"}, {"1"}},
      {"train", "--max-hidden-units", "must be at least 1", {"0"}, {"1"}},
      {"train", "--overlap", "must be finite and above 0", {"0", "-2", "inf"}, {"0.01"}},
      {"train", "--max-selection-time", "must be above 0", {"0"}, {"0.5"}},
      {"train", "--memory-budget", "must be at least 1", {"0"}, {"1"}},
      {"train", "--importance-sample", "must be at least 0", {"-1"}, {"0"}},
      {"train", "--threads", "must lie between 1 and 256", {"0", "257"}, {"1", "256"}},
      {"report", "--importance-records", "must be at least 0", {"-1"}, {"0"}},
      {"export", "--importance-records", "must be at least 0", {"-1"}, {"0"}},
  };
  const std::map<std::string, std::string> required = {
      {"train", "train absent.csv --target species"},
      {"report", "report absent.model absent.csv -o p.html"},
      {"export", "export absent.model --pmml p.pmml --data absent.csv"}};
  for (const auto& c : cases) {
    for (const char* value : c.fOut) {
      const std::string line = required.at(c.fCommand) + " " + c.fOption + " " + value;
      SCOPED_TRACE(line);
      const Outcome r = Go(line);
      EXPECT_EQ(r.fCode, 2);
      EXPECT_EQ(r.fOut, "");
      EXPECT_EQ(r.fErr, "vxnn: error: " + std::string(c.fOption) + ": " + c.fRule + ", not " +
                            value + " (see vxnn --help)\n");
    }
    for (const char* value : c.fBounds) {
      const std::string line = required.at(c.fCommand) + " " + c.fOption + " " + value;
      SCOPED_TRACE(line);
      const Outcome r = Go(line);
      EXPECT_EQ(r.fCode, 1) << r.fErr;
      EXPECT_THAT(r.fErr, HasSubstr("absent."));
    }
  }
}

// The options a run was given reach the model and the summary: those read
// straight into the training options (seeds, the hidden units) and those
// the summary reports from the options the result holds (the split, the
// handling of missing inputs).
TEST_F(Vxnn, TrainOptionsReachTheSummaryAsGiven) {
  const nlohmann::json j = Json(
      "+ --no-progress --json --test-fraction 0.2 --partition-seed 5 --missing-inputs drop "
      "--seed 7 --sampling-seed 9 --hidden-units 6");
  const vxnn::Partition split = vxnn::SplitRecords(150, 0.2, 5);
  EXPECT_EQ(j["data"]["test_fraction"], 0.2);
  EXPECT_EQ(j["data"]["partition_seed"], 5);
  EXPECT_EQ(j["data"]["training_records"], split.fTrain.size());
  EXPECT_EQ(j["data"]["test_records"], split.fTest.size());
  EXPECT_EQ(j["data"]["missing_inputs"], "drop");
  EXPECT_EQ(j["training"]["weight_seed"], 7);
  EXPECT_EQ(j["training"]["sampling_seed"], 9);
  EXPECT_EQ(j["network"]["units_per_layer"], nlohmann::json::parse("[4, 6, 3]"));
}

TEST_F(Vxnn, CtrlCCancelsTrainingAndLeavesNoFileBehind) {
  // Records kept in a temporary file by a small memory budget, and stop
  // rules that never end the run by themselves.
  fs::create_directory(fDir / "tmp");
  const pid_t pid =
      Start(fDir,
            "train data/diabetes.csv --target progression --memory-budget 100 --temp-dir tmp "
            "--max-data-passes 1000000 --max-time 300 --error-change 0 "
            "--error-ratio 0 --gradient-norm 0 --test-fraction 0 --model big.model");
  // Interrupt once the encoded records are in their temporary file.
  for (int i = 0; i < 200 && fs::is_empty(fDir / "tmp"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(fs::is_empty(fDir / "tmp"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGINT);
  const Outcome r = Finish(fDir, pid);
  EXPECT_EQ(r.fCode, 130);
  EXPECT_EQ(r.fErr, "vxnn: error: interrupted; nothing was saved\n");
  EXPECT_TRUE(fs::is_empty(fDir / "tmp"));
  EXPECT_FALSE(fs::exists(fDir / "big.model"));
  EXPECT_FALSE(fs::exists(fDir / "big.model.partial"));
}

TEST_F(Vxnn, DemoRunsTheWholeJob) {
  const Outcome r = Go("demo");
  ASSERT_EQ(r.fCode, 0) << r.fErr;
  for (const char* text : {"accuracy", "confusion matrix", "Predictor importance",
                           "binary model: 45 of 45 predictions identical",
                           "XML    model: 45 of 45 predictions identical", "predicted setosa",
                           "Report page written to vxnn-demo-report.html",
                           "PMML 4.0 document written to vxnn-demo.pmml"})
    EXPECT_THAT(r.fOut, HasSubstr(text));
  // The PMML document gives the four measurements their importances.
  EXPECT_EQ(testhost::Count(Slurp(fDir / "vxnn-demo.pmml"), "importance="), 4);
  // The report page and the document are all the demo leaves behind.
  EXPECT_TRUE(fs::remove(fDir / "vxnn-demo-report.html"));
  EXPECT_TRUE(fs::remove(fDir / "vxnn-demo.pmml"));
  EXPECT_TRUE(fs::is_empty(fDir));
}

// The structure view of `vxnn inspect` on both saved forms: layers and unit
// counts always, every unit's weights with --weights.
TEST_F(Vxnn, InspectShowsTheLayersAndOnRequestTheWeights) {
  const std::string train = "train data/iris.csv --target species --hidden-units 3,2 --model ";
  ASSERT_EQ(Go(train + "m").fCode, 0);
  ASSERT_EQ(Go(train + "x --format xml").fCode, 0);
  const Outcome text = Go("inspect m");
  ASSERT_EQ(text.fCode, 0) << text.fErr;
  for (const char* line :
       {"Structure: MLP, 4 layers; hidden activation TanH, output activation SoftMax\n",
        "  layer 0 (input): 5 units (1 bias)\n", "  layer 1 (hidden): 4 units (1 bias)\n",
        "  layer 2 (hidden): 3 units (1 bias)\n", "  layer 3 (output): 3 units\n",
        "species       target   categorical (text)    3 categories: setosa, versicolor, "
        "virginica"})
    EXPECT_THAT(text.fOut, HasSubstr(line));
  EXPECT_THAT(text.fOut, testing::Not(HasSubstr(": weights")));
  const Outcome withWeights = Go("inspect m --weights");
  EXPECT_THAT(withWeights.fOut, HasSubstr("    unit 0 bias\n    unit 1 sepal_length\n"));
  EXPECT_THAT(withWeights.fOut, HasSubstr("    unit 2 species[2]: weights "));

  // In JSON, each unit above the input layer has one weight per unit of the
  // layer below.
  const nlohmann::json unit =
      Json("inspect x --json --weights")["structure"]["layers"][3]["unit_list"][1];
  EXPECT_EQ(unit["weights"].size(), 3u);
  EXPECT_EQ(unit["category"], 1.0);
}

}  // namespace
