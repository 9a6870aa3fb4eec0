// The C++ side of the Python package: trains a model on columns handed over
// from numpy or pandas, through the same steps `vxnn train` takes on a CSV
// file (field kinds, variable list, split, size selection, refit), and
// scores columns with the model it restored from its own saved form, so
// that what Python holds is exactly what a file would hold.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "cli/Console.h"
#include "data/CsvTable.h"
#include "data/OutputFile.h"
#include "data/Records.h"
#include "data/RowSource.h"
#include "model/ModelFile.h"
#include "report/Report.h"
#include "training/Training.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/network/PassThreads.h"

namespace py = pybind11;

namespace vxnn {
namespace {

// ---------------------------------------------------------------------------
// Columns from Python

// One column of the caller's data, owned here so that training can read it
// without the interpreter: numbers (NaN: missing) or category codes into
// fTexts (negative: missing).
struct Column {
  bool fNumeric = true;
  std::vector<double> fValues;
  std::vector<std::int64_t> fCodes;
  std::vector<std::string> fTexts;
};

struct Table {
  std::vector<std::string> fHeader;
  std::vector<Column> fColumns;
  std::size_t fRows = 0;
};

// The text a CSV file would hold for a number: the shortest that reads
// back as the same double, so that the model equals the one trained on the
// data written out and read by `vxnn train`.
void NumberText(double value, std::string& out) {
  char buf[32];
  const auto done = std::to_chars(buf, buf + sizeof buf, value);
  out.assign(buf, done.ptr);
}

// The text of a number read as a category, as the Python side writes it
// (and a CSV file holds it): a whole number without a decimal point.
void CategoryText(double value, std::string& out) {
  if (value == std::floor(value) && std::fabs(value) < 1e16) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", value);
    out = buf;
  } else {
    NumberText(value, out);
  }
}

// The table's rows as text cells, made on every pass: the training reads
// the rows a few times before it holds the encoded records itself.
class ColumnRows : public RowSource {
 public:
  explicit ColumnRows(std::shared_ptr<const Table> table)
      : fTable(std::move(table)), fRow(fTable->fColumns.size()) {}
  const std::vector<std::string>& Header() const override { return fTable->fHeader; }
  const std::string& Name() const override { return fName; }
  void Rewind() override { fPos = 0; }
  const std::vector<std::string>* Next() override {
    if (fPos >= fTable->fRows) return nullptr;
    for (std::size_t c = 0; c < fRow.size(); ++c) {
      const Column& col = fTable->fColumns[c];
      if (col.fNumeric) {
        const double v = col.fValues[fPos];
        if (std::isnan(v))
          fRow[c].clear();
        else
          NumberText(v, fRow[c]);
      } else {
        const std::int64_t code = col.fCodes[fPos];
        if (code < 0)
          fRow[c].clear();
        else
          fRow[c] = col.fTexts[static_cast<std::size_t>(code)];
      }
    }
    ++fPos;
    return &fRow;
  }

 private:
  std::shared_ptr<const Table> fTable;
  std::vector<std::string> fRow;
  std::string fName = "the data";
  std::size_t fPos = 0;
};

// The error of an infinite number, which the estimators refuse (NaN is
// the missing value).
py::value_error InfiniteError(const std::string& column) {
  return py::value_error(
      "Input X contains infinity or a value too large for dtype('float64') "
      "(column " +
      column + "); missing values are NaN");
}

// A column from Python: a 1-d float64 array, or a pair (codes, texts).
Column ColumnOf(const py::handle& item, std::size_t rows, const std::string& name) {
  Column c;
  if (py::isinstance<py::tuple>(item)) {
    const auto pair = item.cast<py::tuple>();
    if (pair.size() != 2) throw py::value_error("a categorical column is a pair (codes, texts)");
    const auto codes = pair[0].cast<py::array_t<std::int64_t, py::array::forcecast>>();
    c.fNumeric = false;
    c.fTexts = pair[1].cast<std::vector<std::string>>();
    if (codes.ndim() != 1 || static_cast<std::size_t>(codes.shape(0)) != rows)
      throw py::value_error("every column must have one value per row");
    const auto view = codes.unchecked<1>();
    c.fCodes.resize(rows);
    for (std::size_t i = 0; i < rows; ++i) {
      const std::int64_t code = view(static_cast<py::ssize_t>(i));
      if (code >= static_cast<std::int64_t>(c.fTexts.size()))
        throw py::value_error("a category code beyond the column's categories");
      c.fCodes[i] = code;
    }
    return c;
  }
  const auto values = item.cast<py::array_t<double, py::array::forcecast>>();
  if (values.ndim() != 1 || static_cast<std::size_t>(values.shape(0)) != rows)
    throw py::value_error("every column must have one value per row");
  const auto view = values.unchecked<1>();
  c.fValues.resize(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    c.fValues[i] = view(static_cast<py::ssize_t>(i));
    if (std::isinf(c.fValues[i])) throw InfiniteError(name);
  }
  return c;
}

std::size_t RowsOf(const py::list& columns) {
  if (columns.empty()) throw py::value_error("no columns");
  const py::handle first = columns[0];
  if (py::isinstance<py::tuple>(first))
    return first.cast<py::tuple>()[0].cast<py::array>().shape(0);
  return first.cast<py::array>().shape(0);
}

// ---------------------------------------------------------------------------
// Options

template <typename T>
std::optional<T> Get(const py::dict& d, const char* key) {
  if (!d.contains(key) || d[key].is_none()) return std::nullopt;
  return d[key].cast<T>();
}

TrainOptions OptionsOf(const py::dict& d) {
  TrainOptions o;
  const std::string network = Get<std::string>(d, "network").value_or("mlp");
  if (network != "mlp" && network != "rbf") throw py::value_error("network must be mlp or rbf");
  o.fNetwork = network == "rbf" ? NetworkKind::kRBF : NetworkKind::kMLP;
  if (auto v = Get<double>(d, "test_fraction")) o.fTestFraction = *v;
  if (auto v = Get<unsigned>(d, "partition_seed")) o.fPartitionSeed = *v;
  o.fSeed = Get<unsigned>(d, "seed");
  o.fSamplingSeed = Get<unsigned>(d, "sampling_seed");
  o.fMethod = Get<std::string>(d, "method");
  o.fTrainingType = Get<std::string>(d, "training_type");
  o.fMiniBatchSize = Get<int>(d, "mini_batch_size");
  if (auto units = Get<std::vector<int>>(d, "hidden_units")) {
    o.fHiddenUnits = *units;
    if (o.fNetwork == NetworkKind::kMLP) o.fHiddenLayers = static_cast<int>(units->size());
  }
  o.fHiddenActivation = Get<std::string>(d, "hidden_activation");
  o.fInputScaling = Get<std::string>(d, "input_scaling");
  o.fLearningRate = Get<double>(d, "learning_rate");
  o.fMomentum = Get<double>(d, "momentum");
  o.fMaxDataPasses = Get<int>(d, "max_data_passes");
  o.fMaxTime = Get<double>(d, "max_time");
  o.fErrorChange = Get<double>(d, "error_change");
  o.fOverlap = Get<double>(d, "overlap");
  o.fEarlyStopping = Get<bool>(d, "early_stopping");
  o.fFolds = Get<int>(d, "folds");
  const std::string selection = Get<std::string>(d, "size_selection").value_or("auto");
  if (selection == "auto")
    o.fSizeSelection = SizeSelectionMode::kAuto;
  else if (selection == "cv")
    o.fSizeSelection = SizeSelectionMode::kCV;
  else if (selection == "rule")
    o.fSizeSelection = SizeSelectionMode::kRule;
  else
    throw py::value_error("size_selection must be auto, cv or rule");
  // None (refit="auto") leaves vxnn's default.
  if (auto v = Get<bool>(d, "refit")) o.fRefit = *v;
  if (auto v = Get<bool>(d, "importance")) o.fImportance = *v;
  o.fMemoryBudget = Get<long>(d, "memory_budget");
  if (auto v = Get<std::string>(d, "temp_dir")) o.fTempDir = *v;
  return o;
}

// ---------------------------------------------------------------------------
// Progress and cancellation while the interpreter waits

struct ProgressEvent {
  std::string fPhase;
  int fDataPasses = 0;
  double fTrainError = 0.0, fTestError = 0.0, fAccuracy = 0.0, fElapsed = 0.0;
  int fHiddenUnits = 0;
};

double OrNaN(double v) { return VXMV::IsMissing(v) ? std::nan("") : v; }

py::dict EventDict(const ProgressEvent& e) {
  py::dict d;
  d["phase"] = e.fPhase;
  d["data_passes"] = e.fDataPasses;
  d["train_error"] = e.fTrainError;
  d["test_error"] = e.fTestError;
  d["accuracy"] = e.fAccuracy;
  d["elapsed"] = e.fElapsed;
  d["hidden_units"] = e.fHiddenUnits;
  return d;
}

// A Python exception taken out of the interpreter's error state, to be put
// back once the training thread has ended.
struct PendingError {
  PyObject *fType = nullptr, *fValue = nullptr, *fTrace = nullptr;
  bool Set() const { return fType != nullptr; }
  void Take() { PyErr_Fetch(&fType, &fValue, &fTrace); }
  [[noreturn]] void Raise() {
    PyErr_Restore(fType, fValue, fTrace);
    throw py::error_already_set();
  }
};

// Runs work on a thread of its own while this thread, without the
// interpreter lock, wakes every 50 ms to hand the progress events to the
// callback and to look for Ctrl-C. A KeyboardInterrupt, or an exception
// from the callback, raises the cancel flag, waits for the work to end and
// is raised here; an exception of the work is raised here after it ended.
template <typename Work>
void RunCancellable(Work work, std::atomic<bool>& cancel, std::mutex& mutex,
                    std::condition_variable& wake, std::deque<ProgressEvent>& events,
                    const py::object& callback) {
  std::exception_ptr failure;
  bool done = false;
  PendingError pending;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
      wake.notify_all();
    });
    for (;;) {
      std::deque<ProgressEvent> ready;
      bool finished = false;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(50));
        ready.swap(events);
        finished = done;
      }
      if (!pending.Set()) {
        py::gil_scoped_acquire acquire;
        if (!callback.is_none()) {
          for (const ProgressEvent& e : ready) {
            PyObject* said = PyObject_CallOneArg(callback.ptr(), EventDict(e).ptr());
            if (said == nullptr) {
              pending.Take();
              break;
            }
            Py_DECREF(said);
          }
        }
        if (!pending.Set() && PyErr_CheckSignals() != 0) pending.Take();
        if (pending.Set()) cancel.store(true);
      }
      if (finished) break;
    }
    worker.join();
  }
  if (pending.Set()) pending.Raise();
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------
// The model

std::string SavedBytes(const INeuralAlgorithm& a, bool xml) {
  std::ostringstream out;
  const VXCommon_1_2::VXStatus status = xml ? a.SaveStateXML(out) : a.SaveState(out);
  if (!status.IsOK() || !out)
    throw InputError("the model could not be saved (status " +
                     std::to_string(status.GetErrorCode()) + ")");
  return out.str();
}

// A trained model as the Python side holds it: restored from its binary
// saved form, so that a pickled or saved copy is the same model bit for bit.
class Model {
 public:
  explicit Model(LoadedModel model) : fModel(std::move(model)) {
    const NNVarList& list = fModel.VarList();
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      const auto role = list.GetVariableRole(v);
      if (role == INNVariable::kInput) fInputs.push_back(v);
      if (role == INNVariable::kOutput) fTargets.push_back(v);
    }
    if (fTargets.size() != 1)
      throw InputError("the model predicts " + std::to_string(fTargets.size()) +
                       " targets; these estimators handle models of one");
    fUnits = OutputUnits();
  }

  static std::unique_ptr<Model> FromBytes(const std::string& bytes) {
    return std::make_unique<Model>(LoadModelFromBytes(bytes, "the saved model"));
  }
  static std::unique_ptr<Model> Load(const std::string& path) {
    return std::make_unique<Model>(LoadModel(path));
  }

  py::bytes ToBytes() const { return py::bytes(SavedBytes(*fModel.fAlgorithm, false)); }

  void Save(const std::string& path, bool xml) const {
    SaveModel(*fModel.fAlgorithm, path, xml ? ModelFormat::kXML : ModelFormat::kBinary, std::cout);
  }

  void ExportPMML(const std::string& path) const {
    std::ostringstream text;
    const VXCommon_1_2::VXStatus status = fModel.fAlgorithm->ExportModelXML(text, 0, nullptr);
    if (!status.IsOK() || text.str().empty())
      throw InputError("the model cannot be exported (status " +
                       std::to_string(status.GetErrorCode()) + ")");
    OutputFile file(path, std::cout, "cannot write the PMML document");
    file.Stream() << text.str();
    file.Commit();
  }

  // Every variable: name, role, whether categorical, and its categories'
  // labels (numbers written shortest for a numeric categorical variable).
  py::list Variables() const {
    const NNVarList& list = fModel.VarList();
    py::list out;
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      const INNVariable& var = *list.GetVarAt(v);
      const auto role = list.GetVariableRole(v);
      py::dict d;
      d["name"] = var.GetVariableName();
      d["role"] = role == INNVariable::kInput    ? "input"
                  : role == INNVariable::kOutput ? "target"
                                                 : "unused";
      const auto level = var.GetMeasureLevel();
      d["categorical"] = level != INNVariable::kContinuous;
      d["numeric_labels"] = level == INNVariable::kNumericCategorical;
      d["labels"] =
          level == INNVariable::kContinuous ? std::vector<std::string>() : CategoryLabels(var);
      out.append(d);
    }
    return out;
  }

  std::string Kind() const { return KindName(fModel.fKind); }
  int HiddenUnits() const { return fModel.fAlgorithm->GetNumberOfHiddenUnits(); }
  int DataPasses() const { return fModel.fAlgorithm->GetNumberOfDataPasses(); }

  // For each class text, the output unit of the target category it names
  // (-1: none): by text for a category of text, by value for a number.
  std::vector<int> ClassUnits(const std::vector<std::string>& texts) const {
    const INNVariable& target = *fModel.VarList().GetVarAt(fTargets[0]);
    const std::vector<std::string> labels = CategoryLabels(target);
    const bool numeric = target.GetMeasureLevel() == INNVariable::kNumericCategorical;
    std::vector<int> units;
    for (const std::string& t : texts) {
      int found = -1;
      double x = 0, y = 0;
      const bool isNumber = numeric && ParseNumber(t, x);
      for (std::size_t k = 0; k < labels.size() && found < 0; ++k)
        if (numeric ? isNumber && ParseNumber(labels[k], y) && x == y : labels[k] == t)
          found = static_cast<int>(k);
      units.push_back(found);
    }
    return units;
  }

  // The network's outputs for the rows of columns (named by names, every
  // input of the model among them): the target's category probabilities,
  // or its predicted value. unknownIsError: a category the model does not
  // know, or text where it reads numbers, raises ValueError instead of
  // being imputed. order, when not empty, names the output unit of each
  // column of the result (ClassUnits: the classes' order).
  py::array_t<double> Predict(const py::list& columns, const std::vector<std::string>& names,
                              bool unknownIsError, const std::vector<int>& order);

 private:
  int OutputUnits() const {
    const INNVariable& target = *fModel.VarList().GetVarAt(fTargets[0]);
    return target.GetMeasureLevel() == INNVariable::kContinuous ? 1
                                                                : target.GetNumberOfCategories();
  }

  LoadedModel fModel;
  std::vector<int> fInputs, fTargets;
  int fUnits = 0;
};

// How one input is read from its column: a number copied (NaN: fill), or a
// category code looked up in values (one per text of the column).
struct InputReader {
  const double* fNumbers = nullptr;
  py::ssize_t fStride = 0;
  double fFill = 0.0;  // the value of a missing number
  // Continuous variable read from a column of text, or categorical read from
  // numbers: the value of each distinct cell, read once.
  const std::int64_t* fCodes = nullptr;
  py::ssize_t fCodeStride = 0;
  std::vector<double> fValues;  // per code, after the fill of a missing cell (code -1)
  bool fNumbersAsText = false;  // categorical read from a numeric column
  std::unordered_map<double, double> fNumberValues;
  int fVariable = 0;
};

// A number that is not finite: NaN is missing and takes the fill value;
// an infinite one is refused (infinite gets its variable) and scores as
// the fill value until the error is raised.
double Unusual(double v, const InputReader& r, int& infinite) {
  if (std::isinf(v)) infinite = r.fVariable;
  return r.fFill;
}

// Whether every value of n rows of width values (rows stride apart) is
// finite. x - x is 0 for a finite x and NaN otherwise, so the test needs no
// branch per value and the compiler can take several at once.
bool Finite(const double* x, std::size_t n, int width, py::ssize_t stride) {
  bool finite = true;
  for (std::size_t i = 0; i < n; ++i, x += stride) {
    double zero = 0.0;
    for (int k = 0; k < width; ++k) zero += x[k] - x[k];
    finite = finite && zero == 0.0;
  }
  return finite;
}

py::array_t<double> Model::Predict(const py::list& columns, const std::vector<std::string>& names,
                                   bool unknownIsError, const std::vector<int>& order) {
  const NNVarList& list = fModel.VarList();
  if (columns.size() != names.size()) throw py::value_error("one name per column is needed");
  const std::size_t rows = columns.empty() ? 0 : RowsOf(columns);
  const RecordMaker maker(list, names, false, "X", MissingInputs::kImpute,
                          unknownIsError ? UnknownCategories::kDrop : UnknownCategories::kImpute);
  std::vector<py::array> keep;  // alive until the scoring is done
  std::vector<InputReader> readers(fInputs.size());
  for (std::size_t k = 0; k < fInputs.size(); ++k) {
    const int v = fInputs[k];
    InputReader& r = readers[k];
    r.fVariable = v;
    const INNVariable& var = *list.GetVarAt(v);
    const int column = maker.ColumnOf(v);
    const py::handle item = columns[static_cast<std::size_t>(column)];
    CellProblem problem;
    const auto valueOf = [&](const std::string& text, const std::string& shown) {
      const double value = maker.ReadValue(v, text, problem);
      if (problem != CellProblem::kNone)
        throw py::value_error("column \"" + var.GetVariableName() + "\": " +
                              (problem == CellProblem::kUnseenCategory
                                   ? "category \"" + shown + "\" was not seen in fit"
                                   : "\"" + shown + "\" is not a number"));
      return value;
    };
    if (py::isinstance<py::tuple>(item)) {
      const auto pair = item.cast<py::tuple>();
      auto codes = pair[0].cast<py::array_t<std::int64_t, py::array::forcecast>>();
      const auto texts = pair[1].cast<std::vector<std::string>>();
      if (codes.ndim() != 1 || static_cast<std::size_t>(codes.shape(0)) != rows)
        throw py::value_error("every column must have one value per row");
      r.fCodes = codes.data();
      r.fCodeStride = codes.strides(0) / static_cast<py::ssize_t>(sizeof(std::int64_t));
      keep.push_back(codes);
      r.fValues.push_back(valueOf("", ""));
      // Only codes that occur are read, so that an unseen category nobody
      // uses raises nothing.
      std::vector<char> used(texts.size(), 0);
      for (std::size_t i = 0; i < rows; ++i) {
        const std::int64_t c = r.fCodes[static_cast<py::ssize_t>(i) * r.fCodeStride];
        if (c >= static_cast<std::int64_t>(texts.size()))
          throw py::value_error("a category code beyond the column's categories");
        if (c >= 0) used[static_cast<std::size_t>(c)] = 1;
      }
      for (std::size_t t = 0; t < texts.size(); ++t)
        r.fValues.push_back(used[t] ? valueOf(texts[t], texts[t]) : VXMV::gMissingValue);
    } else {
      auto values = item.cast<py::array_t<double, py::array::forcecast>>();
      if (values.ndim() != 1 || static_cast<std::size_t>(values.shape(0)) != rows)
        throw py::value_error("every column must have one value per row");
      r.fNumbers = values.data();
      r.fStride = values.strides(0) / static_cast<py::ssize_t>(sizeof(double));
      keep.push_back(values);
      r.fFill = valueOf("", "");
      if (var.GetMeasureLevel() != INNVariable::kContinuous) {
        r.fNumbersAsText = true;
        std::string text;
        for (std::size_t i = 0; i < rows; ++i) {
          const double x = r.fNumbers[static_cast<py::ssize_t>(i) * r.fStride];
          if (std::isnan(x) || r.fNumberValues.count(x)) continue;
          CategoryText(x, text);
          r.fNumberValues[x] = valueOf(text, text);
        }
      }
    }
  }

  std::vector<int> columnUnits = order;
  if (columnUnits.empty())
    for (int u = 0; u < fUnits; ++u) columnUnits.push_back(u);
  for (const int u : columnUnits)
    if (u < 0 || u >= fUnits) throw py::value_error("an output unit out of range");
  const std::size_t width_out = columnUnits.size();
  py::array_t<double> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(width_out)});
  double* o = out.mutable_data();
  const bool continuous =
      fUnits == 1 && list.GetVarAt(fTargets[0])->GetMeasureLevel() == INNVariable::kContinuous;
  bool failed = false;
  int infinite = -1;  // a variable holding an infinite value, if any
  {
    // ScoreRows keeps its buffers to itself: several Python threads may
    // score one model at once.
    py::gil_scoped_release release;
    const int width = static_cast<int>(readers.size());
    bool plainNumbers = true;
    for (const InputReader& r : readers)
      plainNumbers = plainNumbers && r.fNumbers && !r.fNumbersAsText;
    // The inputs side by side in the rows of one array, in the model's
    // order (a C-ordered float64 array whose columns are all inputs): a
    // chunk of finite rows goes to the library where it lies, uncopied.
    bool inPlace = plainNumbers && !readers.empty();
    for (std::size_t k = 0; inPlace && k < readers.size(); ++k)
      inPlace = readers[k].fNumbers == readers[0].fNumbers + k &&
                readers[k].fStride == readers[0].fStride && readers[0].fStride >= width;
    // Rows go to the library a chunk at a time, so that the raw records
    // cost a fixed amount of memory whatever the number of rows.
    constexpr std::size_t kChunk = 4096;
    std::vector<double> raw(kChunk * readers.size());
    std::vector<double> units(kChunk * static_cast<std::size_t>(fUnits));
    NNOutputList decode(list);
    for (std::size_t first = 0; first < rows; first += kChunk) {
      const std::size_t n = std::min(kChunk, rows - first);
      const double* in = raw.data();
      int inStride = width;
      if (inPlace &&
          Finite(readers[0].fNumbers + first * readers[0].fStride, n, width, readers[0].fStride)) {
        in = readers[0].fNumbers + first * readers[0].fStride;
        inStride = static_cast<int>(readers[0].fStride);
      } else if (plainNumbers) {
        // Row by row, so that the rows of a C-ordered array are read in
        // the order they lie in memory.
        double* x = raw.data();
        for (std::size_t i = first; i < first + n; ++i)
          for (const InputReader& r : readers) {
            const double v = r.fNumbers[static_cast<py::ssize_t>(i) * r.fStride];
            *x++ = std::isfinite(v) ? v : Unusual(v, r, infinite);
          }
      } else {
        for (std::size_t k = 0; k < readers.size(); ++k) {
          const InputReader& r = readers[k];
          double* x = raw.data() + k;
          for (std::size_t i = first; i < first + n; ++i, x += width) {
            const auto at = static_cast<py::ssize_t>(i);
            if (r.fCodes) {
              *x = r.fValues[static_cast<std::size_t>(r.fCodes[at * r.fCodeStride] + 1)];
            } else {
              const double v = r.fNumbers[at * r.fStride];
              *x = !std::isfinite(v)  ? Unusual(v, r, infinite)
                   : r.fNumbersAsText ? r.fNumberValues.at(v)
                                      : v;
            }
          }
        }
      }
      const VXCommon_1_2::VXStatus status =
          fModel.fAlgorithm->ScoreRows(in, static_cast<int>(n), inStride, units.data(), fUnits);
      if (!status.IsOK()) failed = true;
      double* row = o + first * width_out;
      for (std::size_t i = 0; i < n; ++i, row += width_out) {
        double* u = units.data() + i * static_cast<std::size_t>(fUnits);
        if (continuous && !VXMV::IsMissing(u[0])) u[0] = decode.SetOutputs(u);
        for (std::size_t c = 0; c < width_out; ++c) row[c] = OrNaN(u[columnUnits[c]]);
      }
    }
  }
  if (infinite >= 0) throw InfiniteError(list.GetVarAt(infinite)->GetVariableName());
  if (failed) throw py::value_error("some rows could not be scored");
  return out;
}

// ---------------------------------------------------------------------------
// Training

py::dict Fit(const py::list& columns, const std::vector<std::string>& names, int target,
             const py::dict& options, const py::object& callback) {
  if (columns.size() != names.size()) throw py::value_error("one name per column is needed");
  if (target < 0 || target >= static_cast<int>(names.size()))
    throw py::value_error("the target column is out of range");
  auto table = std::make_shared<Table>();
  table->fHeader = names;
  table->fRows = RowsOf(columns);
  for (std::size_t c = 0; c < names.size(); ++c)
    table->fColumns.push_back(ColumnOf(columns[c], table->fRows, names[c]));

  TrainOptions o = OptionsOf(options);
  o.fDescribe.fTargets = {names[static_cast<std::size_t>(target)]};
  // Every kind is the caller's: nothing is guessed from the texts.
  for (std::size_t c = 0; c < names.size(); ++c)
    (table->fColumns[c].fNumeric ? o.fDescribe.fContinuous : o.fDescribe.fCategorical)
        .push_back(names[c]);
  std::atomic<bool> cancel{false};
  o.fCancelRequest = &cancel;

  std::ostringstream quiet;
  ProgressBar progress(quiet, false);
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<ProgressEvent> events;
  if (!callback.is_none())
    progress.SetObserver([&](const std::string& phase, VXCommon_1_2::ProgressReport& report) {
      ProgressEvent e;
      e.fPhase = phase;
      e.fDataPasses = report.DiscreteMeasure("dataPasses");
      e.fTrainError = OrNaN(report.ScaleMeasure("trainError"));
      e.fTestError = OrNaN(report.ScaleMeasure("testError"));
      e.fAccuracy = OrNaN(report.ScaleMeasure("accuracy"));
      e.fElapsed = OrNaN(report.ScaleMeasure("elapsedTime"));
      e.fHiddenUnits = report.DiscreteMeasure("hiddenUnits");
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(std::move(e));
      wake.notify_all();
    });

  std::unique_ptr<TrainResult> result;
  std::string bytes;
  const RowOpener open = [table] { return std::make_unique<ColumnRows>(table); };
  RunCancellable(
      [&] {
        result = TrainModel(open, o, progress, true);
        bytes = SavedBytes(*result->fAlgorithm, false);
      },
      cancel, mutex, wake, events, callback);

  py::dict info;
  info["model"] = Model::FromBytes(bytes);
  // The importance of each column, 0 for one the model does not use.
  std::vector<double> importance(names.size(), 0.0);
  int k = 0;
  for (int v = 0; v < static_cast<int>(result->fList->Size()); ++v) {
    if (result->fList->GetVariableRole(v) != INNVariable::kInput) continue;
    const std::string name = result->fList->GetVarAt(v)->GetVariableName();
    for (std::size_t c = 0; c < names.size(); ++c)
      if (names[c] == name && k < static_cast<int>(result->fImportance.size()))
        importance[c] = result->fImportance[static_cast<std::size_t>(k)];
    ++k;
  }
  info["importance"] = result->fImportance.empty() ? py::object(py::none()) : py::cast(importance);
  // The training error per record after each step of the measured run.
  std::vector<double> curve;
  const double records = std::max<double>(1.0, static_cast<double>(result->fTrainCounts.fKept));
  for (const TrainingStep& s : progress.TrainingSteps())
    if (!VXMV::IsMissing(s.fTrainError)) curve.push_back(s.fTrainError / records);
  info["loss_curve"] = curve;
  const INeuralAlgorithm& a = *result->fAlgorithm;
  info["n_iter"] = a.GetNumberOfDataPasses();
  info["hidden_units"] = a.GetNumberOfHiddenUnits();
  info["hidden_choice"] = HiddenChoiceText(result->fHiddenChoice);
  info["stop_reason"] = StopReasonText(result->MeasuredModel().GetStopReason());
  info["refit_records"] = result->fRefitRecords;
  info["seconds"] = result->fWallSeconds;
  return info;
}

}  // namespace
}  // namespace vxnn

PYBIND11_MODULE(_vxneural, m) {
  using vxnn::Model;
  m.doc() = "The C++ library behind the vxneural estimators.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vxnn::InputError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const vxnn::Interrupted&) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
    }
  });
  py::class_<Model>(m, "Model")
      .def_static("from_bytes", &Model::FromBytes)
      .def_static("load", &Model::Load)
      .def("to_bytes", &Model::ToBytes)
      .def("save", &Model::Save, py::arg("path"), py::arg("xml") = false)
      .def("export_pmml", &Model::ExportPMML)
      .def("variables", &Model::Variables)
      .def("kind", &Model::Kind)
      .def("hidden_units", &Model::HiddenUnits)
      .def("data_passes", &Model::DataPasses)
      .def("class_units", &Model::ClassUnits)
      .def("predict", &Model::Predict, py::arg("columns"), py::arg("names"),
           py::arg("unknown_is_error") = false, py::arg("order") = std::vector<int>());
  // As for the vxnn program: every core the process may use, unless the
  // environment variable VXNN_THREADS says otherwise. The model is the same
  // for any count.
  if (!std::getenv("VXNN_THREADS")) VXNeural::SetPassThreads(VXNeural::UsableCores());
  m.def("get_threads", &VXNeural::GetPassThreads);
  m.def("set_threads", [](int threads) {
    if (!VXNeural::SetPassThreads(threads))
      throw vxnn::InputError("threads must lie between 1 and " +
                             std::to_string(VXNeural::kMaxPassThreads));
  });
  m.def("fit", &vxnn::Fit, py::arg("columns"), py::arg("names"), py::arg("target"),
        py::arg("options"), py::arg("callback") = py::none());
}
