#include "vxcommon/Record.h"

#include <typeinfo>
#include <utility>

namespace VXCommon_1_2 {

bool Record::Resize(int n) {
  if (n < 0) return false;
  fValues.resize(static_cast<std::size_t>(n), 0.0);
  return true;
}

VectorRecordIter::VectorRecordIter(std::vector<Record> records)
    : fOwned(std::move(records)), fRecords(&fOwned) {}

VectorRecordIter VectorRecordIter::Borrow(const std::vector<Record>& records) {
  VectorRecordIter iter;
  iter.fRecords = &records;
  return iter;
}

// A moved iterator must point at its own copy, not at the source's member.
VectorRecordIter::VectorRecordIter(VectorRecordIter&& other) noexcept
    : fOwned(std::move(other.fOwned)),
      fRecords(other.fRecords == &other.fOwned ? &fOwned : other.fRecords),
      fPos(other.fPos) {
  other.fOwned.clear();
  other.fRecords = &other.fOwned;
  other.fPos = 0;
}

VectorRecordIter& VectorRecordIter::operator=(VectorRecordIter&& other) noexcept {
  if (this != &other) {
    const bool owned = other.fRecords == &other.fOwned;
    fOwned = std::move(other.fOwned);
    fRecords = owned ? &fOwned : other.fRecords;
    fPos = other.fPos;
    other.fOwned.clear();
    other.fRecords = &other.fOwned;
    other.fPos = 0;
  }
  return *this;
}

VectorRecordIter::~VectorRecordIter() = default;

bool VectorRecordIter::IsGood() { return fPos < fRecords->size(); }

const Record* VectorRecordIter::Next() {
  if (fPos >= fRecords->size()) return nullptr;
  return &(*fRecords)[fPos++];
}

int VectorRecordIter::NextRows(const double** rows, int max, int width) {
  if (typeid(*this) != typeid(VectorRecordIter)) return -1;
  return HandOutRows(rows, max, width);
}

// The records stay in the vector, so a block of them is handed out as is.
int VectorRecordIter::HandOutRows(const double** rows, int max, int width) {
  int n = 0;
  while (n < max && fPos < fRecords->size()) {
    const Record& record = (*fRecords)[fPos++];
    if (record.Size() >= width) rows[n++] = record.GetAll();
  }
  return n;
}

int VectorRecordIter::GetStatus() { return IsGood() ? kGood : kEndOfData; }

int VectorRecordIter::Rewind() {
  fPos = 0;
  return GetStatus();
}

}  // namespace VXCommon_1_2
