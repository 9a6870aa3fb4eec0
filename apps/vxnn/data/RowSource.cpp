#include "data/RowSource.h"

namespace vxnn {

CsvFileRows::CsvFileRows(const std::string& path) : fPath(path) {
  Open();
  fHeader = fReader->Header();
}

void CsvFileRows::Open() {
  fReader.reset();
  fIn.close();
  fIn.clear();
  fIn.open(fPath, std::ios::binary);
  if (!fIn) throw InputError(fPath + ": cannot open the file");
  fReader = std::make_unique<CsvReader>(fIn, fPath);
  if (!fHeader.empty() && fReader->Header() != fHeader)
    throw InputError(fPath + ": the header changed while the file was being read");
  fRow = 0;
}

void CsvFileRows::Rewind() {
  if (fRow == 0 && fReader) return;  // still at the top
  Open();
}

const std::vector<std::string>* CsvFileRows::Next() {
  if (!fReader) throw InputError(fPath + ": the file could not be read again");
  const std::vector<std::string>* row = fReader->Next();
  if (row) {
    ++fRow;
    if (fCounted && fRow > fRowsSeen)
      throw InputError(fPath + ": line " + std::to_string(fReader->Line()) +
                       ": the file grew while it was being read");
    return row;
  }
  if (!fCounted) {
    fRowsSeen = fRow;
    fCounted = true;
  } else if (fRow != fRowsSeen) {
    throw InputError(fPath + ": the file has " + std::to_string(fRow) + " records where it had " +
                     std::to_string(fRowsSeen) + " (it changed while it was being read)");
  }
  return nullptr;
}

RowOpener TableOpener(const CsvTable& table, const std::string& name) {
  return [&table, name] { return std::make_unique<TableRows>(table, name); };
}

RowOpener FileOpener(const std::string& path) {
  return [path] { return std::make_unique<CsvFileRows>(path); };
}

}  // namespace vxnn
