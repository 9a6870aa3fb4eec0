#include "vxneural/data/BinaryRecordIterator.h"

#include <algorithm>
#include <iostream>
#include <utility>
#include <vector>

#include "persist/Display.h"

namespace VXNeural {

using VXCommon_1_2::Record;

BinaryRecordIterator::BinaryRecordIterator(std::FILE* file, int width, std::string fileName)
    : fCurrent(width),
      fLookAhead(width),
      fFile(file),
      fWidth(width),
      fFileName(std::move(fileName)),
      fStatus(kGood) {
  if (fFile == nullptr) {
    std::cout << "Error: file handle is NULL in BinaryRecordIterator constructor\n";
    fStatus = kError;
  } else if (fWidth < 1) {
    // Records without values would make every read succeed without moving.
    fStatus = kError;
  } else {
    ReadAhead();
  }
}

BinaryRecordIterator::~BinaryRecordIterator() {
  if (fFile != nullptr) std::fclose(fFile);
  if (!fFileName.empty()) std::remove(fFileName.c_str());
}

void BinaryRecordIterator::ReadAhead() {
  std::copy_n(fLookAhead.GetAll(), fLookAhead.Size(), fCurrent.GetAll());
  if (fStatus != kGood) return;
  // Read bytes, not doubles: a trailing partial double must count as a
  // partial record, which an element count would hide.
  const std::size_t bytes = sizeof(double) * static_cast<std::size_t>(fWidth);
  const std::size_t got = std::fread(fLookAhead.GetAll(), 1, bytes, fFile);
  if (got == bytes) return;
  fStatus = (got == 0 && std::feof(fFile) && !std::ferror(fFile)) ? kEndOfData : kError;
}

const Record* BinaryRecordIterator::Next() {
  if (fStatus != kGood) return nullptr;
  ReadAhead();
  return &fCurrent;
}

int BinaryRecordIterator::Rewind() {
  if (fFile == nullptr || fWidth < 1) return fStatus;
  std::clearerr(fFile);
  if (std::fseek(fFile, 0, SEEK_SET) != 0) {
    fStatus = kError;
    return fStatus;
  }
  fStatus = kGood;
  ReadAhead();
  return fStatus;
}

void BinaryRecordIterator::Display(std::ostream& out) const {
  detail::DisplayPrecision precision(out);
  out << "Start of BinaryRecordIterator display\n";
  detail::ShowValue(out, "fFileName = ", fFileName);
  out << "fFile = " << static_cast<const void*>(fFile) << '\n';
  detail::ShowValue(out, "fWidth = ", fWidth);
  detail::ShowValue(out, "fStatus = ", fStatus);
  if (fStatus == kGood) {
    const double* values = fLookAhead.GetAll();
    detail::ShowVector(out, "fLookAhead", std::vector<double>(values, values + fLookAhead.Size()));
  }
  out << "End of BinaryRecordIterator display\n";
}

}  // namespace VXNeural
