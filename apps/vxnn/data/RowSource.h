// The rows of a CSV file that can be read again from the top: a table held
// in memory, or a file re-read on every pass, so that a file of any size
// is described, trained on and scored in a fixed amount of memory.
#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/CsvTable.h"

namespace vxnn {

class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual const std::vector<std::string>& Header() const = 0;
  // The file's name, for messages.
  virtual const std::string& Name() const = 0;
  // Back to the first row below the header.
  virtual void Rewind() = 0;
  // The next row, valid until the next call; null after the last. Throws
  // InputError for malformed input.
  virtual const std::vector<std::string>* Next() = 0;
};

// The rows of a table in memory; the table must outlive the source.
class TableRows : public RowSource {
 public:
  TableRows(const CsvTable& table, std::string name) : fTable(table), fName(std::move(name)) {}
  const std::vector<std::string>& Header() const override { return fTable.fHeader; }
  const std::string& Name() const override { return fName; }
  void Rewind() override { fPos = 0; }
  const std::vector<std::string>* Next() override {
    return fPos < fTable.fRows.size() ? &fTable.fRows[fPos++] : nullptr;
  }

 private:
  const CsvTable& fTable;
  std::string fName;
  std::size_t fPos = 0;
};

// A CSV file read from disk on every pass. A pass that finds another
// header or another number of rows than the first pass did (the file
// changed while it was used) throws InputError.
class CsvFileRows : public RowSource {
 public:
  // Throws InputError when the file cannot be opened or its header is bad.
  explicit CsvFileRows(const std::string& path);
  const std::vector<std::string>& Header() const override { return fHeader; }
  const std::string& Name() const override { return fPath; }
  void Rewind() override;
  const std::vector<std::string>* Next() override;

 private:
  void Open();

  std::string fPath;
  std::ifstream fIn;
  std::unique_ptr<CsvReader> fReader;
  std::vector<std::string> fHeader;
  std::size_t fRow = 0;       // rows handed out in this pass
  std::size_t fRowsSeen = 0;  // rows of the first complete pass
  bool fCounted = false;      // whether fRowsSeen is known
};

// Opens a fresh, independent reader over the same rows, so that two
// record sources over one file never disturb each other's position.
using RowOpener = std::function<std::unique_ptr<RowSource>()>;

RowOpener TableOpener(const CsvTable& table, const std::string& name);
RowOpener FileOpener(const std::string& path);

}  // namespace vxnn
