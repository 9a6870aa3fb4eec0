// `vxnn score` over files cut into pieces and scored on several threads:
// the output, the notices and the errors are those of a plain reading of
// the file row by row, whatever the number of threads.
#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "TestHost.h"
#include "commands/Commands.h"
#include "data/CsvChunks.h"
#include "data/Records.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/PassThreads.h"

namespace {

using testhost::Scratch;
using vxnn::CsvReader;
using vxnn::InputError;
using vxnn::kScoreChunkRows;

// The process's thread count for one test, put back when it ends.
struct Threads {
  const int fBefore = VXNeural::GetPassThreads();
  ~Threads() { VXNeural::SetPassThreads(fBefore); }
};

using Rows = std::vector<std::pair<long, std::vector<std::string>>>;

// Every row of a reader with the line it began on, added to rows as read,
// so that the rows before an error are there when it is thrown.
void ReadRows(CsvReader& reader, Rows& rows) {
  while (const std::vector<std::string>* row = reader.Next()) {
    rows.emplace_back(reader.Line(), *row);
    // A row's plain text, when given, is the row as the writer writes it.
    if (reader.PlainText().empty()) continue;
    std::ostringstream written;
    vxnn::WriteCsvRow(written, *row);
    EXPECT_EQ(std::string(reader.PlainText()) + "\n", written.str());
  }
}

// Cut into pieces of `rows` rows and read piece by piece, a text gives the
// rows, lines and error one reader of the whole text gives; the pieces put
// together are the text.
TEST(ScorePieces, ReadAsTheWholeFileReads) {
  const std::string texts[] = {
      "a,b\n1,2\n3,4\n5,6\n7,8\n",
      "a,b\n1,2\n3,4\n5,6",                                   // no line feed at the end
      "a,b\r\n1,2\r\n\r\n3,4\r\n\r\n\r\n5,6\r\n",             // CR LF, blank lines
      "a,b\n\n\n1,2\n  \n3,4\n\t\n5,6\n",                     // lines of blanks
      "a,b\n\"x\ny\",2\n\"p,\nq\n\",3\n4,\"\"\"\n\"\n5,6\n",  // line feeds in quotes
      " \"a\" , b \n \"1\" ,\"say \"\"hi\"\"\"\n3,4\n",       // blanks around quotes
      "a,b\n1,\n,2\n,\n1,2\r3,4\n",                           // empty fields, a carriage return
      "a,b\n1,2\n3\n5,6\n",                                   // a short row
      "a,b\n1,2\n\"x\"y,2\n5,6\n7,8\n",                       // broken quoting
      "a,b\n1,2\n3,4\n\"open,2\n5,6\n",                       // a quote never closed
  };
  for (const std::string& text : texts) {
    std::string wholeError;
    Rows whole;
    {
      CsvReader reader(text.data(), text.size(), "t.csv");
      try {
        ReadRows(reader, whole);
      } catch (const InputError& e) {
        wholeError = e.what();
      }
    }
    for (std::size_t rows : {1u, 2u, 3u}) {
      std::istringstream in(text);
      vxnn::CsvChunker chunker(in);
      std::string piece, joined;
      long line = 0;
      ASSERT_TRUE(chunker.Next(rows + 1, piece, line)) << text;
      EXPECT_EQ(line, 1);
      joined = piece;
      std::string error;
      Rows got;
      CsvReader first(piece.data(), piece.size(), "t.csv");
      const std::vector<std::string> header = first.Header();
      try {
        ReadRows(first, got);
        while (chunker.Next(rows, piece, line)) {
          joined += piece;
          CsvReader reader(piece.data(), piece.size(), "t.csv", header, line);
          ReadRows(reader, got);
        }
      } catch (const InputError& e) {
        error = e.what();
      }
      EXPECT_EQ(error, wholeError) << rows << " rows a piece: " << text;
      EXPECT_EQ(got, whole) << rows << " rows a piece: " << text;
      if (error.empty()) {
        EXPECT_EQ(joined, text) << rows;
      }
    }
  }
}

// The scorer's numbers read as strtod reads them, whichever way is taken.
TEST(ScorePieces, NumbersReadAsStrtodReadsThem) {
  const char* cells[] = {"1.5",    "-0.25",
                         "0.1",    "123456789012345678",
                         "1e-320", "2.2250738585072011e-308",
                         "1e400",  "+3",
                         " 2 ",    "0x1p3",
                         "nan",    "-inf",
                         "1e",     ".5",
                         "5.",     "-0",
                         "1x",     "1,5"};
  for (const char* cell : cells) {
    const std::string text = cell;
    double got = -7;
    const vxnn::NumberText kind = vxnn::ReadNumber(text, got);
    // The reading the fast way must agree with: strtod over the text without
    // its blanks, whole, finite.
    std::size_t b = text.find_first_not_of(" \t"), e = text.find_last_not_of(" \t");
    const std::string core = text.substr(b, e - b + 1);
    char* end = nullptr;
    const double want = std::strtod(core.c_str(), &end);
    if (end != core.c_str() + core.size()) {
      EXPECT_EQ(kind, vxnn::NumberText::kText) << cell;
    } else if (!std::isfinite(want)) {
      EXPECT_EQ(kind, vxnn::NumberText::kNonFinite) << cell;
    } else {
      ASSERT_EQ(kind, vxnn::NumberText::kFinite) << cell;
      EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << cell;
    }
  }
}

// The prediction cells of a row as a reading of the file row by row gives
// them: the one-record Score, printf's digits.
std::string Digits(double value, int digits) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*g", digits, value);
  return buf;
}

// What `vxnn score` wrote before it ran on threads: each row read from
// the whole file, scored alone, its cells and predictions written out.
// Rows from `stop` on are left out.
std::string ScoredRowByRow(const std::string& modelPath, const std::string& data,
                           std::size_t stop = SIZE_MAX) {
  vxnn::LoadedModel model = vxnn::LoadModel(modelPath);
  const NNVarList& list = model.VarList();
  std::istringstream in(data);
  CsvReader reader(in, "t.csv");
  const vxnn::RecordMaker maker(list, reader.Header(), false, "t.csv", vxnn::MissingInputs::kImpute,
                                vxnn::UnknownCategories::kImpute);
  std::vector<std::string> header = reader.Header();
  const auto columns = vxnn::PredictionColumns(
      list, model.Settings().GetActivFnOutputLayer() == VXNNCommon::kSoftMax);
  header.insert(header.end(), columns.begin(), columns.end());
  std::ostringstream out;
  vxnn::WriteCsvRow(out, header);
  VXCommon_1_2::Record record;
  vxnn::ScoringRecord inputs(list);
  for (std::size_t i = 0; i < stop; ++i) {
    const std::vector<std::string>* row = reader.Next();
    if (!row) break;
    std::vector<std::string> cells = *row;
    const NNOutputList* outputs = nullptr;
    if (!maker.Make(*row, record, false)) outputs = &model.fAlgorithm->Score(inputs.Of(record));
    if (outputs && outputs->IsMissing()) outputs = nullptr;
    int k = 0;
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
      if (!outputs) break;
      const INNOutput* o = outputs->GetOutputAt(k++);
      if (const auto* cont = dynamic_cast<const NNContOutput*>(o)) {
        cells.push_back(Digits(cont->GetRealOutput(), 10));
      } else if (const auto* cat = dynamic_cast<const NNCategOutput*>(o)) {
        cells.push_back(vxnn::CategoryLabel(*list.GetVarAt(v), cat->GetWinningIndex()));
        for (double p : cat->GetOutputs()) cells.push_back(Digits(p, 6));
        cells.push_back(Digits(cat->GetMaxOutput(), 6));
      }
    }
    if (!outputs) cells.resize(row->size() + columns.size());
    vxnn::WriteCsvRow(out, cells);
  }
  return out.str();
}

// The lines of a file of n rows, header first: two numbers, a category, a
// note and a target, with an empty number every 11th row, a category the
// models never saw every 13th (when unseen) and a note holding a comma and
// a line feed every 5th.
std::vector<std::string> DataLines(std::size_t n, bool crlf, bool unseen = true) {
  const std::string eol = crlf ? "\r\n" : "\n";
  std::vector<std::string> lines{"x1,x2,g,note,y" + eol};
  for (std::size_t i = 0; i < n; ++i) {
    const double x1 = std::sin(0.37 * static_cast<double>(i)) * 2,
                 x2 = std::cos(0.11 * static_cast<double>(i));
    std::string line =
        (i % 11 == 3 ? std::string() : std::to_string(x1)) + "," + std::to_string(x2) + ",";
    line += unseen && i % 13 == 5 ? "new" : std::string(1, "abc"[i % 3]);
    line += i % 5 == 0 ? ",\"n," + std::to_string(i) + "\n.\"" : "," + std::to_string(i);
    lines.push_back(line + "," + (x1 + static_cast<double>(i % 3) > 0.5 ? "up" : "down") + eol);
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l;
  return text;
}

class ScoreThreads : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    fScratch = new Scratch;
    fScratch->Write("train.csv", Join(DataLines(300, false, false)));
    // Both output forms: probabilities of a SoftMax layer, and the units
    // of another.
    for (const char* model : {"soft", "sigmoid"}) {
      const std::string extra = std::string(model) == "soft" ? "" : " --output-activation sigmoid";
      std::string err;
      ASSERT_EQ(fScratch->Run("train @train.csv --target y --ignore note --no-importance "
                              "--no-progress --no-refit -o @" +
                                  std::string(model) + extra,
                              nullptr, &err),
                0)
          << err;
    }
  }
  static void TearDownTestSuite() { delete fScratch; }

  // Scores with each count of threads; the output and the notices of each.
  static std::vector<std::pair<int, std::pair<std::string, std::string>>> Score(
      const std::string& model, const std::string& file, int* code = nullptr) {
    const Threads restore;
    std::vector<std::pair<int, std::pair<std::string, std::string>>> runs;
    for (int threads : {1, 2, 3, 8}) {
      VXNeural::SetPassThreads(threads);
      std::string out, err;
      const int c = fScratch->Run("score @" + model + " @" + file, &out, &err);
      if (code) *code = c;
      runs.push_back({threads, {out, err}});
    }
    return runs;
  }

  static Scratch* fScratch;
};

Scratch* ScoreThreads::fScratch = nullptr;

// Files that end just before, at and just after the edge of a piece, and
// one of several pieces, with LF and CR LF line ends: the same bytes with
// 1, 2, 3 and 8 threads, and those of a plain reading row by row.
TEST_F(ScoreThreads, OutputIsTheSameForAnyThreadCount) {
  const std::size_t k = kScoreChunkRows;
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, k - 1, k, k + 1, 3 * k + 7}) {
    for (const bool crlf : {false, true}) {
      const std::string data = Join(DataLines(n, crlf));
      fScratch->Write("data.csv", data);
      for (const char* model : {"soft", "sigmoid"}) {
        const std::string expected = ScoredRowByRow(*fScratch / model, data);
        ASSERT_THAT(expected, testing::HasSubstr(std::string(model) == "soft" ? ",probability_y\n"
                                                                              : ",output_y\n"));
        const auto runs = Score(model, "data.csv");
        for (const auto& [threads, run] : runs) {
          EXPECT_EQ(run.second, runs[0].second.second) << threads << " threads";
          EXPECT_TRUE(run.first == expected)
              << model << ", " << n << " rows, " << threads << " threads, crlf " << crlf;
          const std::string notice =
              n > 3 ? "vxnn: " + std::to_string((n + 7) / 11) + " missing input" : std::string();
          EXPECT_EQ(run.second.rfind(notice, 0), 0u) << run.second;
        }
      }
    }
  }
}

// A malformed row several pieces down, and another further on that a
// thread may meet first: the first one is reported, with its line, after
// the rows above it, and a file given with -o keeps what it held.
TEST_F(ScoreThreads, TheFirstMalformedRowIsReportedWithItsLine) {
  const std::size_t k = kScoreChunkRows;
  const std::vector<std::string> lines = DataLines(3 * k + 50, false);
  const struct {
    std::size_t fRow;
    std::string fBad, fError;
  } cases[] = {
      {2 * k + 6, "1,2\n", ": 2 fields where the header has 5\n"},
      {k + 3, "\"x\"y,1,a,b,up\n", " (error parsing"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> bad = lines;
    bad.insert(bad.begin() + 1 + 3 * k + 20, "1,2,3\n");  // a later one, never reported
    bad.insert(bad.begin() + 1 + c.fRow, c.fBad);
    // Its line: one past the line feeds above it.
    long line = 1;
    for (std::size_t i = 0; i < 1 + c.fRow; ++i)
      line += std::count(bad[i].begin(), bad[i].end(), '\n');
    const std::string data = Join(bad);
    fScratch->Write("bad.csv", data);
    const std::string error = "vxnn: error: " + (*fScratch / "bad.csv") + ": " +
                              (c.fBad[0] == '"' ? "malformed CSV near line " : "line ") +
                              std::to_string(line) + c.fError;
    const std::string before = ScoredRowByRow(*fScratch / "soft", data, c.fRow);
    int code = 0;
    for (const auto& [threads, run] : Score("soft", "bad.csv", &code)) {
      EXPECT_TRUE(run.first == before) << threads << " threads";
      EXPECT_THAT(run.second, testing::HasSubstr(error)) << threads << " threads";
    }
    EXPECT_EQ(code, 1);
    const Threads restore;
    for (int threads : {1, 3}) {
      VXNeural::SetPassThreads(threads);
      fScratch->Write("out.csv", "kept\n");
      EXPECT_EQ(fScratch->Run("score @soft @bad.csv -o @out.csv"), 1);
      EXPECT_EQ(testhost::Slurp(*fScratch / "out.csv"), "kept\n") << threads << " threads";
    }
  }
}

}  // namespace
