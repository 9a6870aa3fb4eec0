// The vxnn program itself, run on the shipped datasets and on broken copies
// of them: exit codes, what it prints, and the figures it reports checked
// against its own predictions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "CsvTable.h"
#include "Partition.h"
#include "TestJson.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinary = std::string(VXNN_BINARY_DIR) + "/bin/vxnn";
const std::string kData = VXNN_DATA_DIR;

struct Outcome {
  int fCode = -1;
  std::string fOut, fErr;
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::istringstream in(fErr);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Starts vxnn in dir with its output going to files there.
pid_t Start(const fs::path& dir, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int out = open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
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
  Outcome r;
  r.fCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.fOut = Slurp(dir / ".stdout");
  r.fErr = Slurp(dir / ".stderr");
  fs::remove(dir / ".stdout");
  fs::remove(dir / ".stderr");
  return r;
}

vxnn::CsvTable ReadText(const std::string& text) {
  std::istringstream in(text);
  return vxnn::ReadCsv(in, "output");
}

class Vxnn : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vxnn-cli-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    fDir = name;
  }
  void TearDown() override { fs::remove_all(fDir); }

  Outcome Go(const std::vector<std::string>& args) { return Finish(fDir, Start(fDir, args)); }

  // A run that must fail with one line on standard error.
  void ExpectError(const std::vector<std::string>& args, int code, const std::string& text) {
    const Outcome r = Go(args);
    std::string command;
    for (const auto& a : args) command += a + " ";
    EXPECT_EQ(r.fCode, code) << command << "\n" << r.fErr;
    EXPECT_EQ(r.fOut, "") << command;
    const auto lines = r.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << command << "\n" << r.fErr;
    EXPECT_EQ(lines[0].rfind("vxnn: error: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(text), std::string::npos) << lines[0];
  }

  // The shipped file with one cell replaced per (row, column) pair.
  std::string Damaged(const std::string& file,
                      std::vector<std::tuple<int, int, std::string>> edits) {
    vxnn::CsvTable t = vxnn::ReadCsvFile(kData + "/" + file);
    for (const auto& [row, col, text] : edits) t.fRows[row][col] = text;
    std::ostringstream out;
    vxnn::WriteCsvRow(out, t.fHeader);
    for (const auto& row : t.fRows) vxnn::WriteCsvRow(out, row);
    const std::string path = (fDir / ("damaged-" + file)).string();
    Spit(path, out.str());
    return path;
  }

  fs::path fDir;
};

struct Shipped {
  const char* fFile;
  const char* fTarget;
  bool fCategorical;
};

void PrintTo(const Shipped& d, std::ostream* os) { *os << d.fFile; }

class OnShippedData : public Vxnn, public testing::WithParamInterface<Shipped> {};

// Trains with the defaults, then scores the whole file with the saved
// model and recomputes the test figures of the summary from the
// predictions on the records the split held out.
TEST_P(OnShippedData, SummaryAgreesWithThePredictionsOfTheSavedModel) {
  const Shipped d = GetParam();
  const std::string data = kData + "/" + d.fFile;
  const Outcome train = Go({"train", data, "--target", d.fTarget, "--model", "m.bin", "--json"});
  ASSERT_EQ(train.fCode, 0) << train.fErr;
  EXPECT_EQ(train.fErr, "");
  const testjson::Value summary = testjson::Parse(train.fOut);
  const vxnn::CsvTable table = vxnn::ReadCsvFile(data);
  const std::size_t n = table.fRows.size();
  EXPECT_EQ(summary["data"]["records"].fNumber, n);
  EXPECT_EQ(summary["data"]["test_records"].fNumber, std::round(0.3 * n));
  EXPECT_EQ(summary["model_file"].fString, "m.bin");
  ASSERT_TRUE(fs::exists(fDir / "m.bin"));

  const Outcome score = Go({"score", "m.bin", data});
  ASSERT_EQ(score.fCode, 0) << score.fErr;
  EXPECT_EQ(score.fErr, "");
  const vxnn::CsvTable scored = ReadText(score.fOut);
  ASSERT_EQ(scored.fRows.size(), n);
  const int actual = table.Column(d.fTarget);
  const int predicted = scored.Column(std::string("predicted_") + d.fTarget);
  ASSERT_GE(predicted, 0);
  for (std::size_t c = 0; c < table.fHeader.size(); ++c)
    EXPECT_EQ(scored.fHeader[c], table.fHeader[c]);

  const vxnn::Partition split = vxnn::SplitRecords(n, 0.3, 12345);
  const testjson::Value& target = summary["targets"][0];
  EXPECT_EQ(target["name"].fString, d.fTarget);
  if (d.fCategorical) {
    std::vector<std::string> categories;
    for (const auto& c : target["categories"].fArray) categories.push_back(c.fString);
    auto index = [&](const std::string& s) {
      return static_cast<std::size_t>(std::find(categories.begin(), categories.end(), s) -
                                      categories.begin());
    };
    std::vector<std::vector<double>> confusion(categories.size(),
                                               std::vector<double>(categories.size(), 0.0));
    int hits = 0;
    for (std::size_t i : split.fTest) {
      const auto& row = scored.fRows[i];
      ++confusion.at(index(row[actual])).at(index(row[predicted]));
      hits += row[actual] == row[predicted];
      // The probabilities of the categories sum to 1; the winner's is the largest.
      double sum = 0.0, top = 0.0;
      for (const auto& c : categories) {
        const double p =
            std::stod(row[scored.Column("probability_" + std::string(d.fTarget) + "_" + c)]);
        sum += p;
        top = std::max(top, p);
      }
      EXPECT_NEAR(sum, 1.0, 1e-5);
      EXPECT_NEAR(std::stod(row[scored.Column("probability_" + std::string(d.fTarget))]), top,
                  1e-6);
    }
    const double accuracy = static_cast<double>(hits) / split.fTest.size();
    EXPECT_NEAR(target["test"]["accuracy"].fNumber, accuracy, 1e-9);
    for (std::size_t i = 0; i < categories.size(); ++i)
      for (std::size_t j = 0; j < categories.size(); ++j)
        EXPECT_EQ(target["test"]["confusion_matrix"][i][j].fNumber, confusion[i][j]);
    // Far better than guessing among three classes.
    EXPECT_GT(accuracy, 0.8);
  } else {
    double mean = 0.0;
    for (std::size_t i : split.fTest) mean += std::stod(table.fRows[i][actual]);
    mean /= split.fTest.size();
    double sse = 0.0, ss = 0.0;
    for (std::size_t i : split.fTest) {
      const double y = std::stod(table.fRows[i][actual]);
      const double p = std::stod(scored.fRows[i][predicted]);
      sse += (y - p) * (y - p);
      ss += (y - mean) * (y - mean);
    }
    EXPECT_NEAR(target["test"]["relative_error"].fNumber, sse / ss, 1e-6);
    EXPECT_LT(sse / ss, 0.8);
  }

  // The importances rank every input and sum to 1.
  double total = 0.0;
  for (const auto& imp : summary["importance"].fArray) total += imp["importance"].fNumber;
  EXPECT_NEAR(total, 1.0, 1e-9);
  EXPECT_EQ(summary["importance"].fArray.size(), table.fHeader.size() - 1);

  // eval on the whole file agrees with the predictions on the whole file.
  const Outcome eval = Go({"eval", "m.bin", data, "--json"});
  ASSERT_EQ(eval.fCode, 0) << eval.fErr;
  const testjson::Value figures = testjson::Parse(eval.fOut);
  EXPECT_EQ(figures["evaluated_records"].fNumber, n);
  if (d.fCategorical) {
    int hits = 0;
    for (const auto& row : scored.fRows) hits += row[actual] == row[predicted];
    EXPECT_NEAR(figures["targets"][0]["accuracy"].fNumber, static_cast<double>(hits) / n, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, OnShippedData,
                         testing::Values(Shipped{"iris.csv", "species", true},
                                         Shipped{"wine.csv", "cultivar", true},
                                         Shipped{"diabetes.csv", "progression", false}),
                         [](const auto& info) { return std::string(info.param.fTarget); });

// The test figure of one target recomputed from `vxnn score` output on
// the records the split held out: accuracy, or the squared error over that
// of predicting the test mean.
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

struct RBFCase {
  const char* fName;
  const char* fFile;
  const char* fTarget;
  bool fCategorical;
  std::vector<std::string> fOptions;
  const char* fChosen;  // the summary's "chosen" key
  std::string fHow;     // what the summary's centre line says after the count
  int fLow, fHigh;      // the bounds of the count
};

void PrintTo(const RBFCase& c, std::ostream* os) { *os << c.fName; }

class RBFOnShippedData : public Vxnn, public testing::WithParamInterface<RBFCase> {};

// Trains an RBF network, saves it in both forms, and checks the summary
// against the predictions of each restored model, eval and inspect.
TEST_P(RBFOnShippedData, SummaryAgreesWithBothRestoredForms) {
  const RBFCase& c = GetParam();
  const std::string data = kData + "/" + c.fFile;
  std::vector<std::string> args = {"train",          data,     "--target",       c.fTarget,
                                   "--network",      "rbf",    "--model",        "m.bin",
                                   "--summary-json", "s.json", "--no-importance"};
  args.insert(args.end(), c.fOptions.begin(), c.fOptions.end());
  const Outcome train = Go(args);
  ASSERT_EQ(train.fCode, 0) << train.fErr;
  const testjson::Value s = testjson::Parse(Slurp(fDir / "s.json"));
  const double centres = s["training"]["hidden_units"]["count"].fNumber;
  EXPECT_EQ(s["network"]["kind"].fString, "rbf");
  EXPECT_EQ(s["network"]["centres"].fNumber, centres);
  EXPECT_EQ(s["network"]["units_per_layer"][1].fNumber, centres);
  EXPECT_EQ(s["training"]["hidden_units"]["chosen"].fString, c.fChosen);
  EXPECT_GE(centres, c.fLow);
  EXPECT_LE(centres, c.fHigh);
  const std::string line = "Centres: " + std::to_string(static_cast<int>(centres)) + ", " + c.fHow;
  EXPECT_NE(train.fOut.find("\n" + line + "\n"), std::string::npos) << line << "\n" << train.fOut;
  EXPECT_NE(train.fOut.find("Network: RBF, "), std::string::npos);
  EXPECT_EQ(train.fOut.find("n/a"), std::string::npos) << train.fOut;

  // The same run saved as XML: both forms restore to the same predictions,
  // and those give the summary's test figure.
  args[7] = "m.xml";
  args.insert(args.end(), {"--format", "xml"});
  ASSERT_EQ(Go(args).fCode, 0);
  EXPECT_EQ(Slurp(fDir / "m.bin").rfind("RBFSet", 0), 0u);
  EXPECT_EQ(Slurp(fDir / "m.xml").rfind("<?xml", 0), 0u);
  const Outcome binary = Go({"score", "m.bin", data});
  const Outcome xml = Go({"score", "m.xml", data});
  ASSERT_EQ(binary.fCode, 0) << binary.fErr;
  EXPECT_EQ(binary.fErr, "");
  EXPECT_EQ(binary.fOut, xml.fOut);
  const vxnn::CsvTable table = vxnn::ReadCsvFile(data);
  const vxnn::CsvTable scored = ReadText(binary.fOut);
  ASSERT_EQ(scored.fRows.size(), table.fRows.size());
  const vxnn::Partition split = vxnn::SplitRecords(table.fRows.size(), 0.3, 12345);
  const testjson::Value& target = s["targets"][0]["test"];
  EXPECT_NEAR(FigureFromScores(table, scored, c.fTarget, c.fCategorical, split.fTest),
              c.fCategorical ? target["accuracy"].fNumber : target["relative_error"].fNumber, 1e-6);

  const testjson::Value e = testjson::Parse(Go({"eval", "m.xml", data, "--json"}).fOut);
  std::vector<std::size_t> all(table.fRows.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  EXPECT_NEAR(FigureFromScores(table, scored, c.fTarget, c.fCategorical, all),
              e["targets"][0][c.fCategorical ? "accuracy" : "relative_error"].fNumber, 1e-6);

  const Outcome inspect = Go({"inspect", "m.bin"});
  ASSERT_EQ(inspect.fCode, 0) << inspect.fErr;
  for (const std::string& text :
       {std::to_string(static_cast<int>(centres)) + " centres (Normalized Radial Basis, overlap",
        std::string("method clustering and least squares"), std::string("overlap factor")})
    EXPECT_NE(inspect.fOut.find(text), std::string::npos) << text << "\n" << inspect.fOut;
  const testjson::Value i = testjson::Parse(Go({"inspect", "m.xml", "--json"}).fOut);
  EXPECT_EQ(i["network"]["kind"].fString, "rbf");
  EXPECT_EQ(i["network"]["centres"].fNumber, centres);
  EXPECT_EQ(i["settings"]["hidden_activation"].fString, "Normalized Radial Basis");
}

// iris: 4 inputs and 3 output units, so the default is 2 x 7 centres, and
// the clustering chooses among 1..14 when given the lower bound alone;
// diabetes: 11 input units (sex is categorical) and one output, 24.
INSTANTIATE_TEST_SUITE_P(Files, RBFOnShippedData,
                         testing::Values(RBFCase{"iris",
                                                 "iris.csv",
                                                 "species",
                                                 true,
                                                 {},
                                                 "size rule",
                                                 "twice the input and output units",
                                                 14,
                                                 14},
                                         RBFCase{"iris_clustering",
                                                 "iris.csv",
                                                 "species",
                                                 true,
                                                 {"--min-hidden-units", "1"},
                                                 "clustering",
                                                 "chosen by the clustering between 1 and 14",
                                                 1,
                                                 14},
                                         RBFCase{"diabetes",
                                                 "diabetes.csv",
                                                 "progression",
                                                 false,
                                                 {},
                                                 "size rule",
                                                 "twice the input and output units",
                                                 22,
                                                 22},
                                         RBFCase{"iris_user_set",
                                                 "iris.csv",
                                                 "species",
                                                 true,
                                                 {"--hidden-units", "5"},
                                                 "user-set",
                                                 "user-set",
                                                 5,
                                                 5},
                                         RBFCase{
                                             "wine_range",
                                             "wine.csv",
                                             "cultivar",
                                             true,
                                             {"--min-hidden-units", "4", "--max-hidden-units", "9"},
                                             "clustering",
                                             "chosen by the clustering between 4 and 9",
                                             4,
                                             9},
                                         RBFCase{"diabetes_search",
                                                 "diabetes.csv",
                                                 "progression",
                                                 false,
                                                 {"--select-architecture", "--min-hidden-units",
                                                  "2", "--max-hidden-units", "6"},
                                                 "test error",
                                                 "chosen by test error among 2..6 candidates",
                                                 2,
                                                 6}),
                         [](const auto& info) { return std::string(info.param.fName); });

TEST_F(Vxnn, RBFSearchWithoutTestRecordsChoosesByBIC) {
  const Outcome r = Go({"train", kData + "/wine.csv", "--target", "cultivar", "--network", "rbf",
                        "--select-architecture", "--search-pass-per-candidate", "--test-fraction",
                        "0", "--max-hidden-units", "5", "--no-save", "--json"});
  ASSERT_EQ(r.fCode, 0) << r.fErr;
  const testjson::Value summary = testjson::Parse(r.fOut);
  const testjson::Value& h = summary["training"]["hidden_units"];
  EXPECT_EQ(h["chosen"].fString, "bic");
  EXPECT_EQ(h["low"].fNumber, 1.0);
  EXPECT_EQ(h["high"].fNumber, 5.0);
  EXPECT_GE(h["count"].fNumber, 1.0);
  EXPECT_LE(h["count"].fNumber, 5.0);
}

TEST_F(Vxnn, OptionsOfTheOtherNetworkKindAreRefused) {
  const std::string iris = kData + "/iris.csv";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--network", "rbf", "--method", "gd"}, "--method does not apply to --network rbf"},
      {{"--network", "rbf", "--max-data-passes", "9"},
       "--max-data-passes does not apply to --network rbf"},
      {{"--network", "rbf", "--hidden-units", "4,2"}, "--network rbf has exactly one hidden layer"},
      {{"--network", "rbf", "--hidden-activation", "tanh"},
       "--hidden-activation must be radial-basis or normalized-radial-basis"},
      {{"--network", "rbf", "--select-architecture", "--hidden-units", "3"},
       "--hidden-units sets the number of centres"},
      {{"--overlap", "1.5"}, "--overlap applies to --network rbf"},
      {{"--hidden-activation", "radial-basis"},
       "--hidden-activation radial-basis applies to --network rbf"},
  };
  for (const auto& [extra, message] : cases) {
    std::vector<std::string> args = {"train", iris, "--target", "species", "--no-save"};
    args.insert(args.end(), extra.begin(), extra.end());
    ExpectError(args, 1, message);
  }
  ExpectError({"train", iris, "--target", "species", "--network", "svm"}, 2, "--network");
}

TEST_F(Vxnn, BothSavedFormsScoreAlikeAndAreToldApartByContent) {
  const std::string iris = kData + "/iris.csv";
  ASSERT_EQ(Go({"train", iris, "--target", "species", "--model", "a.model"}).fCode, 0);
  ASSERT_EQ(
      Go({"train", iris, "--target", "species", "--model", "b.model", "--format", "xml"}).fCode, 0);
  EXPECT_EQ(Slurp(fDir / "a.model").rfind("MLPSet", 0), 0u);
  EXPECT_EQ(Slurp(fDir / "b.model").rfind("<?xml", 0), 0u);
  const Outcome a = Go({"score", "a.model", iris});
  const Outcome b = Go({"score", "b.model", iris, "--output", "b.csv"});
  ASSERT_EQ(a.fCode, 0);
  ASSERT_EQ(b.fCode, 0);
  EXPECT_EQ(b.fOut, "");
  EXPECT_EQ(a.fOut, Slurp(fDir / "b.csv"));

  const Outcome ia = Go({"inspect", "a.model"});
  const Outcome ib = Go({"inspect", "b.model"});
  ASSERT_EQ(ia.fCode, 0);
  // Alike but for the first line (file and form) and the processor time,
  // which the two training runs spent differently.
  auto steady = [](const std::string& text) {
    std::istringstream in(text.substr(text.find('\n')));
    std::string kept;
    for (std::string line; std::getline(in, line);)
      if (line.find("processor time") == std::string::npos) kept += line + "\n";
    return kept;
  };
  EXPECT_EQ(steady(ia.fOut), steady(ib.fOut));
  EXPECT_NE(ia.fOut.find("hidden layer of 32 units (TanH)"), std::string::npos) << ia.fOut;
  EXPECT_NE(ia.fOut.find("species       target   categorical (text)    3 categories: setosa, "
                         "versicolor, virginica"),
            std::string::npos);

  const testjson::Value j = testjson::Parse(Go({"inspect", "b.model", "--json"}).fOut);
  EXPECT_EQ(j["model_format"].fString, "xml");
  ASSERT_EQ(j["fields"].fArray.size(), 5u);
  EXPECT_EQ(j["fields"][4]["role"].fString, "target");
  EXPECT_EQ(j["fields"][4]["categories"].fArray.size(), 3u);
  EXPECT_EQ(j["network"]["units_per_layer"][0].fNumber, 4.0);
  EXPECT_EQ(j["settings"]["weight_seed"].fNumber, 12345.0);
}

TEST_F(Vxnn, SameSeedsSameModelOtherSeedsOtherSplit) {
  const std::string wine = kData + "/wine.csv";
  auto trained = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"train", wine, "--target", "cultivar", "--no-save", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Outcome r = Go(args);
    EXPECT_EQ(r.fCode, 0) << r.fErr;
    return testjson::Parse(r.fOut);
  };
  const testjson::Value a = trained({});
  const testjson::Value b = trained({});
  EXPECT_EQ(a["training"]["training_error"].fNumber, b["training"]["training_error"].fNumber);
  EXPECT_EQ(a["training"]["data_passes"].fNumber, b["training"]["data_passes"].fNumber);
  EXPECT_EQ(a["model_file"].fKind, testjson::Value::kNull);
  const testjson::Value c = trained({"--partition-seed", "5", "--seed", "9"});
  EXPECT_EQ(c["data"]["partition_seed"].fNumber, 5.0);
  EXPECT_EQ(c["training"]["weight_seed"].fNumber, 9.0);
  EXPECT_NE(a["training"]["training_error"].fNumber, c["training"]["training_error"].fNumber);
  EXPECT_TRUE(fs::is_empty(fDir));
}

TEST_F(Vxnn, TrainingOptionsReachTheModel) {
  const Outcome r = Go({"train",
                        kData + "/diabetes.csv",
                        "--target",
                        "progression",
                        "--hidden-units",
                        "6,3",
                        "--hidden-activation",
                        "sigmoid",
                        "--method",
                        "gd",
                        "--training-type",
                        "minibatch",
                        "--mini-batch-size",
                        "20",
                        "--max-data-passes",
                        "40",
                        "--summary-json",
                        "s.json",
                        "--model",
                        "m",
                        "--no-importance"});
  ASSERT_EQ(r.fCode, 0) << r.fErr;
  EXPECT_NE(r.fOut.find("hidden layer 2 of 3 units (Sigmoid)"), std::string::npos) << r.fOut;
  EXPECT_NE(r.fOut.find("gradient descent, minibatch of 20 records"), std::string::npos);
  const testjson::Value s = testjson::Parse(Slurp(fDir / "s.json"));
  EXPECT_EQ(s["network"]["units_per_layer"][1].fNumber, 6.0);
  EXPECT_EQ(s["training"]["mini_batch_size"].fNumber, 20.0);
  EXPECT_LE(s["training"]["data_passes"].fNumber, 40.0 + 1.0);  // plus the sample pass
  EXPECT_TRUE(s["importance"].fArray.empty());
  const testjson::Value m = testjson::Parse(Go({"inspect", "m", "--json"}).fOut);
  EXPECT_EQ(m["settings"]["training_type"].fString, "minibatch");
  EXPECT_EQ(m["settings"]["max_data_passes"].fNumber, 40.0);
}

TEST_F(Vxnn, MissingValuesAndConstantInputsAreSetAside) {
  // Three records with a declared missing value, two with an empty cell,
  // and a constant column.
  vxnn::CsvTable t = vxnn::ReadCsvFile(kData + "/iris.csv");
  t.fHeader.push_back("site");
  for (auto& row : t.fRows) row.push_back("north");
  t.fRows[3][0] = "NA";
  t.fRows[50][0] = "NA";
  t.fRows[120][2] = "-1";
  t.fRows[7][1] = "";
  t.fRows[99][4] = "";
  std::ostringstream out;
  vxnn::WriteCsvRow(out, t.fHeader);
  for (const auto& row : t.fRows) vxnn::WriteCsvRow(out, row);
  Spit(fDir / "gaps.csv", out.str());
  const Outcome r =
      Go({"train", "gaps.csv", "--target", "species", "--missing", "sepal_length=NA", "--missing",
          "petal_length=-1", "--missing-inputs", "drop", "--json", "--no-save"});
  ASSERT_EQ(r.fCode, 0) << r.fErr;
  const testjson::Value s = testjson::Parse(r.fOut);
  double leftOut = 0;
  for (const char* set : {"left_out_of_training", "left_out_of_test"})
    for (const auto& m : s["data"][set].fObject) leftOut += m.second.fNumber;
  EXPECT_EQ(leftOut, 5.0);
  ASSERT_EQ(s["data"]["unused_constant_inputs"].fArray.size(), 1u);
  EXPECT_EQ(s["data"]["unused_constant_inputs"][0].fString, "site");
  EXPECT_EQ(s["importance"].fArray.size(), 4u);
}

TEST_F(Vxnn, UnscorableRecordsGetEmptyPredictionsAndAreCounted) {
  ASSERT_EQ(Go({"train", kData + "/diabetes.csv", "--target", "progression", "--model", "d",
                "--categorical", "sex"})
                .fCode,
            0);
  // An empty input, text in a number column, and a category (sex 3) the
  // model never saw.
  const std::string bad = Damaged("diabetes.csv", {{0, 2, ""}, {5, 3, "high"}, {9, 1, "3"}});
  const Outcome r = Go({"score", "d", bad, "--missing-inputs", "drop"});
  EXPECT_EQ(r.fCode, 0);
  const auto lines = r.ErrLines();
  ASSERT_EQ(lines.size(), 1u) << r.fErr;
  EXPECT_EQ(lines[0].rfind("vxnn: 3 of 442 records could not be scored", 0), 0u) << lines[0];
  const vxnn::CsvTable scored = ReadText(r.fOut);
  ASSERT_EQ(scored.fRows.size(), 442u);
  const int p = scored.Column("predicted_progression");
  for (int i : {0, 5, 9}) EXPECT_EQ(scored.fRows[i][p], "") << i;
  for (int i : {1, 4, 10, 441}) EXPECT_NE(scored.fRows[i][p], "") << i;
  EXPECT_EQ(scored.fRows[5][3], "high");  // input cells pass through

  // Scoring needs no target column.
  vxnn::CsvTable inputs = vxnn::ReadCsvFile(kData + "/diabetes.csv");
  std::ostringstream out;
  inputs.fHeader.pop_back();
  vxnn::WriteCsvRow(out, inputs.fHeader);
  for (auto& row : inputs.fRows) {
    row.pop_back();
    vxnn::WriteCsvRow(out, row);
  }
  Spit(fDir / "inputs.csv", out.str());
  const Outcome s = Go({"score", "d", "inputs.csv"});
  EXPECT_EQ(s.fCode, 0) << s.fErr;
  EXPECT_EQ(s.fErr, "");
  EXPECT_EQ(ReadText(s.fOut).fRows.size(), 442u);

  // eval leaves the same three out, and says so.
  const Outcome e = Go({"eval", "d", bad, "--missing-inputs", "drop"});
  EXPECT_EQ(e.fCode, 0);
  EXPECT_NE(e.fOut.find("439 records evaluated of 442"), std::string::npos) << e.fOut;
  EXPECT_EQ(e.ErrLines().size(), 1u);
}

TEST_F(Vxnn, BadInputEndsWithOneLineAndAnExitCode) {
  const std::string iris = kData + "/iris.csv";
  Spit(fDir / "empty.csv", "");
  Spit(fDir / "header.csv", "a,b,t\n");
  Spit(fDir / "ragged.csv", "a,b,t\n1,2,x\n3\n");
  Spit(fDir / "quote.csv", "a,b,t\n1,\"2,x\n");
  Spit(fDir / "constant.csv", "a,b,t\n1,2,x\n3,4,x\n5,1,x\n");
  Spit(fDir / "text.model", "this is not a model\n");
  Spit(fDir / "empty.model", "");

  ExpectError({"train", "absent.csv", "--target", "t"}, 1, "absent.csv: cannot open the file");
  ExpectError({"train", "empty.csv", "--target", "t"}, 1, "the file is empty (no header row)");
  ExpectError({"train", "header.csv", "--target", "t"}, 1, "no records below the header");
  ExpectError({"train", "ragged.csv", "--target", "t"}, 1,
              "ragged.csv: line 3: 1 fields where the header has 3");
  ExpectError({"train", "quote.csv", "--target", "t"}, 1, "malformed CSV");
  ExpectError({"train", iris, "--target", "colour"}, 1,
              "--target names \"colour\", which is not a column");
  ExpectError({"train", "constant.csv", "--target", "t"}, 1, "target \"t\" is constant");
  ExpectError({"train", iris, "--target", "species", "--test-fraction", "1.5"}, 1,
              "--test-fraction must lie in [0, 1)");
  ExpectError({"train", iris, "--target", "species", "--method", "newton"}, 1,
              "--method must be scg or gd");
  ExpectError({"train", iris, "--target", "species", "--model", "no/such/dir/m"}, 1,
              "no/such/dir/m: cannot write the model file");
  ExpectError({"train", iris}, 2, "--target is required");
  ExpectError({"train", iris, "--target", "species", "--colour"}, 2, "--colour");
  ExpectError({"score", "text.model", iris}, 1, "text.model: not a vxnn model file");
  ExpectError({"score", "empty.model", iris}, 1, "the model file is empty");
  ExpectError({"eval", "absent.model", iris}, 1, "absent.model: cannot open the model file");
  ExpectError({"inspect", iris}, 1, "not a vxnn model file");
  ExpectError({}, 2, "subcommand");

  // Damaged models: cut short, in either form.
  ASSERT_EQ(Go({"train", iris, "--target", "species", "--model", "m.bin"}).fCode, 0);
  ASSERT_EQ(Go({"train", iris, "--target", "species", "--model", "m.xml", "--format", "xml"}).fCode,
            0);
  for (const char* name : {"m.bin", "m.xml"}) {
    const std::string whole = Slurp(fDir / name);
    for (const double cut : {0.01, 0.3, 0.9}) {
      Spit(fDir / "cut.model", whole.substr(0, static_cast<std::size_t>(whole.size() * cut)));
      ExpectError({"score", "cut.model", iris}, 1, "cut.model: the model file is damaged");
    }
  }
  // Data that does not fit the model.
  ExpectError({"score", "m.bin", kData + "/wine.csv"}, 1,
              "no column \"sepal_length\", which the model needs as an input");
  const std::string noTarget = Damaged("iris.csv", {});
  vxnn::CsvTable t = vxnn::ReadCsvFile(noTarget);
  t.fHeader[4] = "kind";
  std::ostringstream out;
  vxnn::WriteCsvRow(out, t.fHeader);
  for (const auto& row : t.fRows) vxnn::WriteCsvRow(out, row);
  Spit(fDir / "renamed.csv", out.str());
  ExpectError({"eval", "m.bin", "renamed.csv"}, 1,
              "no column \"species\", which the model predicts");
  EXPECT_FALSE(fs::exists(fDir / "no"));
}

TEST_F(Vxnn, CtrlCCancelsTrainingAndLeavesNoFileBehind) {
  // Enough records, kept in a temporary file by a small memory budget,
  // and stop rules that never end the run by themselves.
  std::ostringstream big;
  big << "a,b,c,y\n";
  unsigned state = 1;
  auto uniform = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 8) & 0xFFFF) / 65536.0;
  };
  for (int i = 0; i < 20000; ++i) {
    const double a = uniform(), b = uniform(), c = uniform();
    big << a << ',' << b << ',' << c << ',' << a * b + c << '\n';
  }
  Spit(fDir / "big.csv", big.str());
  fs::create_directory(fDir / "tmp");
  const pid_t pid = Start(
      fDir,
      {"train",           "big.csv", "--target",          "y",        "--memory-budget", "100",
       "--temp-dir",      "tmp",     "--max-data-passes", "1000000",  "--max-time",      "300",
       "--error-change",  "0",       "--error-ratio",     "0",        "--gradient-norm", "0",
       "--test-fraction", "0",       "--model",           "big.model"});
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
  const Outcome r = Go({"demo"});
  ASSERT_EQ(r.fCode, 0) << r.fErr;
  for (const char* text : {"accuracy", "confusion matrix", "Predictor importance",
                           "binary model: 45 of 45 predictions identical",
                           "XML    model: 45 of 45 predictions identical", "predicted setosa",
                           "Report page written to vxnn-demo-report.html",
                           "PMML 4.0 document written to vxnn-demo.pmml"})
    EXPECT_NE(r.fOut.find(text), std::string::npos) << text << "\n" << r.fOut;
  // The PMML document names the four measurements with their importances.
  const std::string pmml = Slurp(fDir / "vxnn-demo.pmml");
  EXPECT_NE(pmml.find("<PMML version=\"4.0\""), std::string::npos);
  int importances = 0;
  for (std::size_t at = pmml.find("importance="); at != std::string::npos;
       at = pmml.find("importance=", at + 1))
    ++importances;
  EXPECT_EQ(importances, 4);
  // The report page and the document are all the demo leaves behind.
  EXPECT_TRUE(fs::remove(fDir / "vxnn-demo-report.html"));
  EXPECT_TRUE(fs::remove(fDir / "vxnn-demo.pmml"));
  EXPECT_TRUE(fs::is_empty(fDir));
}

TEST_F(Vxnn, HelpForEveryCommand) {
  for (const char* command : {"train", "score", "eval", "inspect", "demo"}) {
    const Outcome r = Go({command, "--help"});
    EXPECT_EQ(r.fCode, 0) << command;
    EXPECT_NE(r.fOut.find("Usage"), std::string::npos) << command;
  }
  EXPECT_NE(Go({"train", "--help"}).fOut.find("--memory-budget"), std::string::npos);
}

}  // namespace

namespace {

// The structure view of `vxnn inspect`: layers and unit counts always,
// every unit's weights with --weights, in text and in JSON; each unit above
// the input layer has one weight per unit of the layer below.
TEST_F(Vxnn, InspectShowsTheLayersAndOnRequestTheWeights) {
  ASSERT_EQ(Go({"train", kData + "/iris.csv", "--target", "species", "--hidden-units", "3,2",
                "--model", "m"})
                .fCode,
            0);
  const Outcome text = Go({"inspect", "m"});
  ASSERT_EQ(text.fCode, 0) << text.fErr;
  for (const char* line :
       {"Structure: MLP, 4 layers; hidden activation TanH, output activation SoftMax\n",
        "  layer 0 (input): 5 units (1 bias)\n", "  layer 1 (hidden): 4 units (1 bias)\n",
        "  layer 2 (hidden): 3 units (1 bias)\n", "  layer 3 (output): 3 units\n"})
    EXPECT_NE(text.fOut.find(line), std::string::npos) << line << text.fOut;
  EXPECT_EQ(text.fOut.find(": weights"), std::string::npos);
  const Outcome withWeights = Go({"inspect", "m", "--weights"});
  EXPECT_NE(withWeights.fOut.find("    unit 0 bias\n    unit 1 sepal_length\n"), std::string::npos)
      << withWeights.fOut;
  EXPECT_NE(withWeights.fOut.find("    unit 2 species[2]: weights "), std::string::npos);

  const testjson::Value plain = testjson::Parse(Go({"inspect", "m", "--json"}).fOut);
  EXPECT_FALSE(plain["structure"]["layers"][1].Has("unit_list"));
  const testjson::Value j = testjson::Parse(Go({"inspect", "m", "--json", "--weights"}).fOut);
  const testjson::Value& layers = j["structure"]["layers"];
  ASSERT_EQ(layers.fArray.size(), 4u);
  const double units[] = {5, 4, 3, 3};
  for (std::size_t l = 0; l < 4; ++l) {
    SCOPED_TRACE(l);
    EXPECT_EQ(layers[l]["units"].fNumber, units[l]);
    const auto& list = layers[l]["unit_list"].fArray;
    ASSERT_EQ(list.size(), static_cast<std::size_t>(units[l]));
    for (const testjson::Value& unit : list) {
      if (l == 0 || unit["bias"].fBool) {
        EXPECT_FALSE(unit.Has("weights"));
        continue;
      }
      EXPECT_EQ(unit["weights"].fArray.size(), static_cast<std::size_t>(units[l - 1]));
    }
  }
  EXPECT_EQ(layers[3]["unit_list"][1]["field"].fString, "species");
  EXPECT_EQ(layers[3]["unit_list"][1]["category"].fNumber, 1.0);
}

}  // namespace
