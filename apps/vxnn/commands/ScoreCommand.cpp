#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/Console.h"
#include "commands/Commands.h"
#include "data/CsvChunks.h"
#include "data/Records.h"
#include "report/Report.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/PassThreads.h"

namespace vxnn {

namespace {

// value as printf's "%.*g" writes it, without printf's cost: the scorer
// writes several such numbers for every row of files of millions of rows.
void AppendDigits(std::string& out, double value, int digits) {
  char buf[48];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
  out.append(buf, r.ptr);
}

bool OutputsAreProbabilities(const NeuralSettings& s) {
  return s.GetActivFnOutputLayer() == VXNNCommon::kSoftMax;
}

constexpr std::size_t kProblemKinds = 4;  // the values of CellProblem
static_assert(static_cast<std::size_t>(CellProblem::kNotANumber) + 1 == kProblemKinds,
              "a count per kind of problem");

// One piece of the data file and what scoring it gave: the output rows in
// CSV form, the counts, and what ended it early.
struct ScoredPiece {
  std::string fText;  // the piece's bytes, whole rows
  long fFirstLine = 1;
  std::string fOut;
  // A malformed row: the rows before it are in fOut, and the run stops
  // with this message, as it would reading the file row by row.
  std::string fInputError;
  std::exception_ptr fFailure;  // anything else that went wrong
  std::size_t fRead = 0;
  int fRefused = 0;
  std::array<int, kProblemKinds> fProblems{};
  long fImputedCells = 0, fImputedRecords = 0, fUnknownCells = 0, fUnknownRecords = 0;
  bool fDone = false;  // guarded by the pipeline's lock
};

// Parses, encodes, scores and writes out pieces; one per thread, for its
// buffers are its own. The model and the maker are only read.
class PieceScorer {
 public:
  PieceScorer(const LoadedModel& model, const RecordMaker& maker,
              const std::vector<std::string>& header, const std::string& name, std::size_t columns)
      : fModel(model),
        fMaker(maker),
        fHeader(header),
        fName(name),
        fColumns(columns),
        fOutputs(model.VarList()) {
    const NNVarList& list = model.VarList();
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      const auto role = list.GetVariableRole(v);
      if (role == INNVariable::kInput) fInputVars.push_back(v);
      if (role != INNVariable::kOutput) continue;
      const INNVariable& var = *list.GetVarAt(v);
      fOutputVars.push_back(&var);
      std::vector<std::string> labels;
      for (const std::string& label : CategoryLabels(var)) {
        labels.emplace_back();
        AppendCsvField(labels.back(), label, false);
      }
      fLabels.push_back(std::move(labels));
    }
    fUnits = fOutputs.GetNUnits();
  }

  // The piece's rows, read from its own bytes.
  void Score(ScoredPiece& piece) {
    CsvReader reader(piece.fText.data(), piece.fText.size(), fName, fHeader, piece.fFirstLine);
    Score(reader, piece);
  }

  // The rows reader hands out, into piece.
  void Score(CsvReader& reader, ScoredPiece& piece) {
    fEcho.clear();
    fEchoEnd.clear();
    fSlot.clear();
    fInputs.clear();
    int scored = 0;
    try {
      while (const std::vector<std::string>* row = reader.Next()) {
        ++piece.fRead;
        // The input cells pass through as they were read, before the
        // predictions; a plain line is those cells as the writer writes them.
        const bool sole = row->size() + fColumns == 1;
        const std::string_view plain = reader.PlainText();
        if (!plain.empty() && !sole) {
          fEcho.append(plain.data(), plain.size());
        } else {
          for (std::size_t j = 0; j < row->size(); ++j) {
            if (j) fEcho += ',';
            AppendCsvField(fEcho, (*row)[j], sole);
          }
        }
        fEchoEnd.push_back(fEcho.size());
        int imputed = 0, unknown = 0;
        const RecordIssue issue = fMaker.Make(*row, fRecord, false, &imputed, &unknown);
        piece.fImputedCells += imputed;
        piece.fImputedRecords += imputed > 0;
        piece.fUnknownCells += unknown;
        piece.fUnknownRecords += unknown > 0;
        if (issue) {
          ++piece.fProblems[static_cast<std::size_t>(issue.fProblem)];
          fSlot.push_back(-1);
          continue;
        }
        for (const int v : fInputVars) fInputs.push_back(fRecord[v]);
        fSlot.push_back(scored++);
      }
    } catch (const InputError& e) {
      piece.fInputError = e.what();
    }
    const int width = static_cast<int>(fInputVars.size());
    fUnitValues.resize(static_cast<std::size_t>(scored) * static_cast<std::size_t>(fUnits));
    // A record the model refuses gets missing outputs, as the one-record
    // Score gives a missing output list; the status says no more than that.
    (void)fModel.fAlgorithm->ScoreRows(fInputs.data(), scored, width, fUnitValues.data(), fUnits);

    std::string& out = piece.fOut;
    out.reserve(fEcho.size() + fSlot.size() * (fColumns * 10 + 1));
    std::size_t from = 0;
    for (std::size_t i = 0; i < fSlot.size(); ++i) {
      out.append(fEcho, from, fEchoEnd[i] - from);
      from = fEchoEnd[i];
      const double* units =
          fSlot[i] < 0 ? nullptr : fUnitValues.data() + static_cast<std::size_t>(fSlot[i]) * fUnits;
      if (units && Refused(units)) {
        units = nullptr;
        ++piece.fRefused;
      }
      if (units)
        AppendPredictions(out, units);
      else
        out.append(fColumns, ',');
      out += '\n';
    }
  }

 private:
  // ScoreRows gives every unit of a record it refuses the missing value.
  bool Refused(const double* units) const {
    for (int u = 0; u < fUnits; ++u)
      if (units[u] != VXMV::gMissingValue) return false;
    return true;
  }

  // The prediction cells of one scored record, in PredictionColumns order,
  // each after its comma: the output list reads the units as it does for
  // the one-record Score.
  void AppendPredictions(std::string& out, const double* units) {
    fOutputs.SetOutputs(units);
    for (std::size_t k = 0; k < fOutputVars.size(); ++k) {
      const INNOutput* o = fOutputs.GetOutputAt(static_cast<int>(k));
      if (const auto* cont = dynamic_cast<const NNContOutput*>(o)) {
        out += ',';
        AppendDigits(out, cont->GetRealOutput(), 10);
      } else if (const auto* cat = dynamic_cast<const NNCategOutput*>(o)) {
        out += ',';
        const int code = cat->GetWinningIndex();
        const std::vector<std::string>& labels = fLabels[k];
        if (code >= 0 && code < static_cast<int>(labels.size()))
          out += labels[static_cast<std::size_t>(code)];
        else
          AppendCsvField(out, CategoryLabel(*fOutputVars[k], code), false);
        for (double p : cat->GetOutputs()) {
          out += ',';
          AppendDigits(out, p, 6);
        }
        out += ',';
        AppendDigits(out, cat->GetMaxOutput(), 6);
      }
    }
  }

  const LoadedModel& fModel;
  const RecordMaker& fMaker;
  const std::vector<std::string>& fHeader;
  const std::string& fName;
  std::size_t fColumns;  // prediction columns
  NNOutputList fOutputs;
  std::vector<int> fInputVars;
  std::vector<const INNVariable*> fOutputVars;
  std::vector<std::vector<std::string>> fLabels;  // per target, per code, CSV-quoted
  int fUnits = 0;
  VXCommon_1_2::Record fRecord;
  std::string fEcho;                  // the rows' input cells
  std::vector<std::size_t> fEchoEnd;  // where each row's cells end in fEcho
  std::vector<int> fSlot;             // per row: its place among the scored, or -1
  std::vector<double> fInputs;        // the scored rows' inputs, row after row
  std::vector<double> fUnitValues;    // their output units, row after row
};

// The counts of the whole run.
struct ScoreTotals {
  std::size_t fRead = 0;
  int fRefused = 0;
  std::array<int, kProblemKinds> fProblems{};
  long fImputedCells = 0, fImputedRecords = 0, fUnknownCells = 0, fUnknownRecords = 0;

  void Add(const ScoredPiece& p) {
    fRead += p.fRead;
    fRefused += p.fRefused;
    for (std::size_t k = 0; k < kProblemKinds; ++k) fProblems[k] += p.fProblems[k];
    fImputedCells += p.fImputedCells;
    fImputedRecords += p.fImputedRecords;
    fUnknownCells += p.fUnknownCells;
    fUnknownRecords += p.fUnknownRecords;
  }
};

// A scored piece goes to the output, and its counts to the totals, in the
// file's order. A piece that stopped early ends the run with its error
// after its rows, as reading row by row would.
void Deliver(ScoredPiece& piece, std::ostream& sink, ScoreTotals& totals) {
  if (piece.fFailure) std::rethrow_exception(piece.fFailure);
  sink.write(piece.fOut.data(), static_cast<std::streamsize>(piece.fOut.size()));
  totals.Add(piece);
  if (!piece.fInputError.empty()) throw InputError(piece.fInputError);
}

// The worker threads of one run, each with its PieceScorer, taking pieces
// in the order they were queued. The caller reads the pieces and writes
// them out; the workers only compute.
class ScorePool {
 public:
  ScorePool(int threads, const std::function<std::unique_ptr<PieceScorer>()>& make) {
    try {
      for (int t = 0; t < threads; ++t)
        fThreads.emplace_back(
            [this, scorer = std::shared_ptr<PieceScorer>(make())] { Work(*scorer); });
    } catch (...) {
      Stop();
      throw;
    }
  }
  ~ScorePool() { Stop(); }
  ScorePool(const ScorePool&) = delete;
  ScorePool& operator=(const ScorePool&) = delete;

  void Queue(ScoredPiece* piece) {
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fQueue.push_back(piece);
    }
    fWork.notify_one();
  }
  void WaitFor(const ScoredPiece& piece) {
    std::unique_lock<std::mutex> lock(fMutex);
    fDone.wait(lock, [&] { return piece.fDone; });
  }

 private:
  // Stops the workers after the pieces they hold (a run that failed leaves
  // the rest unscored) and waits for them.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fStop = true;
    }
    fWork.notify_all();
    for (std::thread& t : fThreads) t.join();
    fThreads.clear();
  }

  void Work(PieceScorer& scorer) {
    for (;;) {
      ScoredPiece* piece = nullptr;
      {
        std::unique_lock<std::mutex> lock(fMutex);
        fWork.wait(lock, [&] { return fStop || !fQueue.empty(); });
        if (fStop) return;
        piece = fQueue.front();
        fQueue.pop_front();
      }
      try {
        scorer.Score(*piece);
      } catch (...) {
        piece->fFailure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(fMutex);
        piece->fDone = true;
      }
      fDone.notify_all();
    }
  }

  std::mutex fMutex;
  std::condition_variable fWork, fDone;
  std::deque<ScoredPiece*> fQueue;
  bool fStop = false;
  std::vector<std::thread> fThreads;
};

}  // namespace

std::vector<std::string> PredictionColumns(const NNVarList& list, bool probabilities) {
  const std::string prefix = probabilities ? "probability_" : "output_";
  std::vector<std::string> columns;
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNVariable& var = *list.GetVarAt(v);
    const std::string name = var.GetVariableName();
    columns.push_back("predicted_" + name);
    if (var.GetMeasureLevel() == INNVariable::kContinuous) continue;
    for (const std::string& label : CategoryLabels(var))
      columns.push_back(prefix + name + "_" + label);
    columns.push_back(prefix + name);
  }
  return columns;
}

namespace {

// The counts and messages of a whole run on err.
void ReportTotals(const ScoreTotals& totals, std::ostream& err) {
  if (totals.fImputedCells > 0)
    err << "vxnn: " << totals.fImputedCells << " missing input"
        << (totals.fImputedCells == 1 ? "" : "s") << " in " << totals.fImputedRecords << " record"
        << (totals.fImputedRecords == 1 ? "" : "s")
        << " filled in with the training mean, or most frequent category\n";
  if (totals.fUnknownCells > 0)
    err << "vxnn: " << totals.fUnknownCells << " input" << (totals.fUnknownCells == 1 ? "" : "s")
        << " in " << totals.fUnknownRecords << " record" << (totals.fUnknownRecords == 1 ? "" : "s")
        << " with a value the model does not know (a new category, or text in a numeric "
           "column) filled in with the most frequent training category, or the training mean\n";

  std::vector<std::pair<CellProblem, int>> leftOut;
  for (std::size_t k = 0; k < kProblemKinds; ++k)
    if (totals.fProblems[k] > 0)
      leftOut.emplace_back(static_cast<CellProblem>(k), totals.fProblems[k]);
  int unscored = totals.fRefused;
  for (const auto& p : leftOut) unscored += p.second;
  if (unscored > 0) {
    std::string why = LeftOutText(leftOut);
    if (totals.fRefused > 0)
      why += std::string(why.empty() ? "" : ", ") + std::to_string(totals.fRefused) +
             " refused by the model";
    err << "vxnn: " << unscored << " of " << totals.fRead
        << " records could not be scored and have empty predictions (" << why << ")\n";
  }
}

// Text carried in the doubles of an exchange, eight bytes to a double.
void PackText(const std::string& text, std::vector<double>& out) {
  const std::size_t at = out.size();
  out.resize(at + (text.size() + 7) / 8, 0.0);
  if (!text.empty()) std::memcpy(out.data() + at, text.data(), text.size());
}

// One process's piece of a round of a --distributed score, as exchanged:
// whether it had one, its counts, how it ended, and its output rows.
constexpr std::size_t kPieceHead = 9 + kProblemKinds;

void PackPiece(bool has, const ScoredPiece& p, std::vector<double>& out) {
  out.clear();
  std::string failure = p.fInputError;
  if (p.fFailure) {
    try {
      std::rethrow_exception(p.fFailure);
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "scoring failed";
    }
  }
  out.push_back(has ? 1.0 : 0.0);
  out.push_back(static_cast<double>(p.fRead));
  out.push_back(p.fRefused);
  for (int n : p.fProblems) out.push_back(n);
  out.push_back(static_cast<double>(p.fImputedCells));
  out.push_back(static_cast<double>(p.fImputedRecords));
  out.push_back(static_cast<double>(p.fUnknownCells));
  out.push_back(static_cast<double>(p.fUnknownRecords));
  out.push_back(static_cast<double>(p.fOut.size()));
  out.push_back(static_cast<double>(failure.size()));
  PackText(p.fOut, out);
  PackText(failure, out);
}

// A piece of count doubles from PackPiece: false when it had none.
// Throws InputError when the values are not a piece.
bool UnpackPiece(const double* at, std::size_t count, ScoredPiece& p) {
  if (count < kPieceHead) throw InputError("the processes' exchange was malformed");
  if (at[0] == 0.0) return false;
  std::size_t i = 1;
  p.fRead = static_cast<std::size_t>(at[i++]);
  p.fRefused = static_cast<int>(at[i++]);
  for (int& n : p.fProblems) n = static_cast<int>(at[i++]);
  p.fImputedCells = static_cast<long>(at[i++]);
  p.fImputedRecords = static_cast<long>(at[i++]);
  p.fUnknownCells = static_cast<long>(at[i++]);
  p.fUnknownRecords = static_cast<long>(at[i++]);
  const auto outBytes = static_cast<std::size_t>(at[i++]);
  const auto failureBytes = static_cast<std::size_t>(at[i++]);
  const std::size_t outDoubles = (outBytes + 7) / 8, failureDoubles = (failureBytes + 7) / 8;
  if (count != kPieceHead + outDoubles + failureDoubles)
    throw InputError("the processes' exchange was malformed");
  p.fOut.assign(reinterpret_cast<const char*>(at + i), outBytes);
  p.fInputError.assign(reinterpret_cast<const char*>(at + i + outDoubles), failureBytes);
  return true;
}

// What every scoring run begins with. The file is cut into pieces of whole
// rows, scored apart and written in the file's order: memory holds a few
// pieces per thread whatever the size of the file. The first piece holds
// the header and the first rows; reading the header reads the first row
// too, so a malformed first row is reported before anything is written.
struct ScoreStart {
  explicit ScoreStart(const ScoreCommand& c)
      : model(LoadModel(c.fModel)), in(c.fData, std::ios::binary) {
    if (!in) throw InputError(c.fData + ": cannot open the file");
    chunker = std::make_unique<CsvChunker>(in);
    if (!chunker->Next(1 + kScoreChunkRows, first.fText, first.fFirstLine)) first.fText.clear();
    firstReader = std::make_unique<CsvReader>(first.fText.data(), first.fText.size(), c.fData);
    input = firstReader->Header();
    maker = std::make_unique<RecordMaker>(model.VarList(), input, false, c.fData, c.fMissingInputs,
                                          c.fUnknownCategories);
    columns = PredictionColumns(model.VarList(), OutputsAreProbabilities(model.Settings()));
    header = input;
    header.insert(header.end(), columns.begin(), columns.end());
  }
  ScoreStart(const ScoreStart&) = delete;
  ScoreStart& operator=(const ScoreStart&) = delete;

  LoadedModel model;
  std::ifstream in;
  std::unique_ptr<CsvChunker> chunker;
  ScoredPiece first;
  std::unique_ptr<CsvReader> firstReader;
  std::vector<std::string> input;  // the file's columns
  std::unique_ptr<RecordMaker> maker;
  std::vector<std::string> columns;  // the predictions'
  std::vector<std::string> header;   // the output's: input, then columns
};

// `vxnn score --distributed`: the file's pieces of kScoreChunkRows rows are
// dealt out in turn, piece k to process k % size; each process reads the
// whole file but parses and scores only its own pieces. A round scores one
// piece on every process, and one exchange brings every piece of the round
// to every process in rank order, which is the file's: the first process
// writes them out as it goes, so no process holds more than a round of
// output, and every process learns of a malformed row where one process
// would meet it, and stops there too.
int ScoreShared(const ScoreCommand& c, std::ostream& out, std::ostream& err) {
  VXNeural::PassCombiner& combiner = *c.fCombiner;
  const int rank = combiner.Rank(), size = combiner.Size();
  ScoreStart start(c);
  const LoadedModel& model = start.model;
  CsvChunker& chunker = *start.chunker;

  std::unique_ptr<OutputFile> file;
  if (rank == 0) {
    file = std::make_unique<OutputFile>(c.fOutput.empty() ? "-" : c.fOutput, out,
                                        "cannot write the predictions");
    WriteCsvRow(file->Stream(), start.header);
  }
  PieceScorer scorer(model, *start.maker, start.input, c.fData, start.columns.size());
  ScoreTotals totals;
  std::vector<double> local, all;
  std::vector<int> counts;
  for (bool firstRound = true;; firstRound = false) {
    if (InterruptCancel::Interrupted()) throw Interrupted("interrupted");
    // This round's pieces, one per process; the first piece, which holds
    // the header, is the first process's.
    ScoredPiece mine;
    bool has = false;
    for (int r = 0; r < size; ++r) {
      ScoredPiece piece;
      if (firstRound && r == 0) {
        if (rank == 0) {
          has = true;
          try {
            scorer.Score(*start.firstReader, start.first);
          } catch (...) {
            start.first.fFailure = std::current_exception();
          }
        }
        continue;
      }
      if (!chunker.Next(kScoreChunkRows, piece.fText, piece.fFirstLine)) break;
      if (r != rank) continue;
      has = true;
      try {
        scorer.Score(piece);
      } catch (...) {
        piece.fFailure = std::current_exception();
      }
      mine = std::move(piece);
    }
    PackPiece(has, firstRound && rank == 0 ? start.first : mine, local);
    if (!combiner.AllGather(local, all, counts) || counts.size() != static_cast<std::size_t>(size))
      throw InputError("the processes' exchange failed");
    bool any = false;
    const double* at = all.data();
    for (int count : counts) {
      ScoredPiece piece;
      const bool had = UnpackPiece(at, static_cast<std::size_t>(count), piece);
      at += count;
      if (!had) continue;
      any = true;
      if (file)
        Deliver(piece, file->Stream(), totals);
      else {
        totals.Add(piece);
        if (!piece.fInputError.empty()) throw InputError(piece.fInputError);
      }
    }
    if (!any) break;
  }
  if (file) file->Commit();
  ReportTotals(totals, err);
  return 0;
}

}  // namespace

int RunScore(const ScoreCommand& c, std::ostream& out, std::ostream& err) {
  if (c.fCombiner) return ScoreShared(c, out, err);
  ScoreStart start(c);
  const LoadedModel& model = start.model;
  CsvChunker& chunker = *start.chunker;

  // A run that stops half way (a malformed row far down a large file, or
  // Ctrl-C) leaves the output file as it was.
  OutputFile file(c.fOutput.empty() ? "-" : c.fOutput, out, "cannot write the predictions");
  std::ostream& sink = file.Stream();

  WriteCsvRow(sink, start.header);

  const auto makeScorer = [&] {
    return std::make_unique<PieceScorer>(model, *start.maker, start.input, c.fData,
                                         start.columns.size());
  };
  ScoreTotals totals;
  if (InterruptCancel::Interrupted()) throw Interrupted("interrupted");
  makeScorer()->Score(*start.firstReader, start.first);
  Deliver(start.first, sink, totals);
  const int threads = VXNeural::GetPassThreads();
  if (threads <= 1) {
    // One thread: the same pieces, scored where they are read.
    const std::unique_ptr<PieceScorer> scorer = makeScorer();
    std::string text;
    long line = 0;
    while (chunker.Next(kScoreChunkRows, text, line)) {
      if (InterruptCancel::Interrupted()) throw Interrupted("interrupted");
      ScoredPiece piece;
      piece.fText.swap(text);
      piece.fFirstLine = line;
      scorer->Score(piece);
      Deliver(piece, sink, totals);
    }
  } else {
    // Declared before the pool, so that the workers have stopped before
    // the pieces they may still hold are freed.
    std::deque<std::unique_ptr<ScoredPiece>> order;
    ScorePool pool(threads, makeScorer);
    const std::size_t inFlight = 3 * static_cast<std::size_t>(threads);
    bool more = true;
    for (;;) {
      while (more && order.size() < inFlight) {
        auto piece = std::make_unique<ScoredPiece>();
        more = chunker.Next(kScoreChunkRows, piece->fText, piece->fFirstLine);
        if (!more) break;
        pool.Queue(piece.get());
        order.push_back(std::move(piece));
      }
      if (order.empty()) break;
      if (InterruptCancel::Interrupted()) throw Interrupted("interrupted");
      pool.WaitFor(*order.front());
      Deliver(*order.front(), sink, totals);
      order.pop_front();
    }
  }
  file.Commit();
  ReportTotals(totals, err);
  return 0;
}

}  // namespace vxnn
