#include "vxneural/data/RecordBufferIter.h"

#include <algorithm>
#include <cstdint>
#include <istream>
#include <limits>
#include <new>
#include <ostream>
#include <typeinfo>
#include <utility>

#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"

namespace VXNeural {

using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;

namespace {

constexpr const char* kBinaryTag = "RBI";
constexpr const char* kXmlName = "RecordBufferIter";

// The five ints that head both stored forms.
struct Header {
  int width;
  int capacity;
  int count;
  int index;
  int status;
};

// Whether a header read from a stream describes a buffer this class could
// have written. Only the stored records are allocated on reading, so the
// capacity needs no ceiling beyond being a count; records of width 0 are
// never stored, so every stored record costs stream bytes.
bool Plausible(const Header& h) {
  if (h.width < 0 || h.capacity < 0 || h.count < 0 || h.count > h.capacity) return false;
  if (h.width == 0 && h.count != 0) return false;
  if (h.index < 0 || h.index > h.count) return false;
  if (h.status != RecordIterator::kGood && h.status != RecordIterator::kEndOfData &&
      h.status != RecordIterator::kError)
    return false;
  return static_cast<int64_t>(h.count) * h.width <= detail::kMaxElements;
}

// The stored records, allocated one by one as their values arrive so that a
// stream that cannot tell its length still cannot make us allocate much more
// than it holds.
template <typename NextValue>
std::vector<Record> ReadRecords(const Header& h, NextValue&& next) {
  std::vector<Record> records;
  for (int i = 0; i < h.count; ++i) {
    records.emplace_back(h.width);
    double* v = records.back().GetAll();
    for (int j = 0; j < h.width; ++j) v[j] = next();
  }
  return records;
}

}  // namespace

namespace {
// Record slots reserved when a buffer is built (the slots alone, a few bytes
// each, not the records' values).
constexpr std::size_t kReservedRecords = 4096;
}  // namespace

RecordBufferIter::RecordBufferIter(int width, int capacity) : fWidth(width) {
  if (width >= 0 && capacity >= 0) {
    try {
      // Each record's values are allocated by Add as the record arrives and
      // kept when the buffer is emptied and filled again, so a refill
      // allocates nothing. A capacity taken from a damaged saved model (or a
      // host's overstated record count) then costs only the records that
      // really arrive: building records for it up front cost one allocation
      // per claimed record, millions for a narrow record.
      fpBuffer.reserve(std::min<std::size_t>(static_cast<std::size_t>(capacity), kReservedRecords));
      fCapacity = capacity;
      fStatus = kEndOfData;
    } catch (const std::bad_alloc&) {
      std::vector<Record>().swap(fpBuffer);
    }
  }
  SyncCursor();
}

RecordBufferIter::~RecordBufferIter() = default;

void RecordBufferIter::SyncCursor() {
  fpCurRecord = fpBuffer.empty() ? nullptr : fpBuffer.data() + fIndCurRecord;
}

const Record* RecordBufferIter::Next() {
  if (fStatus != kGood) return nullptr;
  if (fIndCurRecord >= fCount) {
    fStatus = kEndOfData;
    return nullptr;
  }
  const Record* record = &fpBuffer[static_cast<std::size_t>(fIndCurRecord)];
  ++fIndCurRecord;
  SyncCursor();
  if (fIndCurRecord >= fCount) fStatus = kEndOfData;
  return record;
}

int RecordBufferIter::NextRows(const double** rows, int max, int width) {
  if (typeid(*this) != typeid(RecordBufferIter)) return -1;
  int n = 0;
  if (fWidth < width) {
    // Every record is too short: pass over them all, as Next's reader would.
    while (Next() != nullptr) {
    }
    return 0;
  }
  const Record* record = nullptr;
  while (n < max && (record = Next()) != nullptr) rows[n++] = record->GetAll();
  return n;
}

int RecordBufferIter::Rewind() {
  fIndCurRecord = 0;
  SyncCursor();
  if (fCount >= 1 && fStatus != kError) fStatus = kGood;
  return fStatus;
}

bool RecordBufferIter::Add(const Record& record) {
  // A record of width 0 carries nothing; refusing it keeps every stored
  // record worth stream bytes (see Plausible).
  if (fStatus == kError || fCount >= fCapacity || fWidth == 0 || record.Size() != fWidth)
    return false;
  const std::size_t slot = static_cast<std::size_t>(fCount);
  if (slot >= fpBuffer.size()) {
    // Room that a read did not allocate is made on first use.
    try {
      fpBuffer.emplace_back(fWidth);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  std::copy_n(record.GetAll(), fWidth, fpBuffer[slot].GetAll());
  ++fCount;
  SyncCursor();
  if (fIndCurRecord < fCount) fStatus = kGood;
  return true;
}

bool RecordBufferIter::Add(const Record* record) { return record != nullptr && Add(*record); }

int RecordBufferIter::Fill(RecordIterator& source, int n) {
  int taken = 0;
  while (taken < n && fStatus != kError && fCount < fCapacity && source.IsGood()) {
    const Record* record = source.Next();
    if (record == nullptr) break;
    ++taken;
    Add(*record);
  }
  return taken;
}

int RecordBufferIter::Skip(int n) {
  int skipped = 0;
  while (skipped < n && Next() != nullptr) ++skipped;
  return skipped;
}

const Record* RecordBufferIter::GetRecordAt(int index) const {
  if (index < 0 || index >= fCount) return nullptr;
  return &fpBuffer[static_cast<std::size_t>(index)];
}

void RecordBufferIter::Empty() {
  fCount = 0;
  fIndCurRecord = 0;
  SyncCursor();
  if (fStatus != kError) fStatus = kEndOfData;
}

int RecordBufferIter::WriteObject(std::ostream& out) const {
  detail::BinWriter w(out);
  w.Tag(kBinaryTag).Int(fCapacity == 0 ? 0 : fWidth).Int(fCapacity).Int(fCount);
  w.Int(fIndCurRecord).Int(fStatus);
  for (int i = 0; i < fCount; ++i)
    w.Doubles(fpBuffer[static_cast<std::size_t>(i)].GetAll(), fWidth);
  return w.Bytes();
}

int RecordBufferIter::ReadObject(std::istream& in) {
  detail::BinReader r(in, kXmlName);
  r.ExpectTag(kBinaryTag);
  Header h;
  h.width = r.Int();
  h.capacity = r.Int();
  h.count = r.Int();
  h.index = r.Int();
  h.status = r.Int();
  if (!Plausible(h)) r.Fail();
  const std::size_t values = static_cast<std::size_t>(h.count) * static_cast<std::size_t>(h.width);
  if (values > r.Remaining() / 8) r.Fail();

  std::vector<Record> records = ReadRecords(h, [&r] { return r.Double(); });
  fpBuffer = std::move(records);
  fWidth = h.width;
  fCapacity = h.capacity;
  fCount = h.count;
  fIndCurRecord = h.index;
  fStatus = h.status;
  SyncCursor();
  return r.Bytes();
}

int RecordBufferIter::WriteObjectXML(std::ostream& out, int level) const {
  detail::XmlWriter w(out, kXmlName, level);
  w.Int(fCapacity == 0 ? 0 : fWidth).Int(fCapacity).Int(fCount).Int(fIndCurRecord).Int(fStatus);
  for (int i = 0; i < fCount; ++i)
    w.Doubles(fpBuffer[static_cast<std::size_t>(i)].GetAll(), fWidth);
  return w.End();
}

int RecordBufferIter::ReadObjectXML(std::istream& in) {
  detail::XmlReader r(in, kXmlName, "VXNeural::RecordBufferIter", "Error restoring ",
                      " from XML.\n");
  Header h;
  h.width = r.Int();
  h.capacity = r.Int();
  h.count = r.Int();
  h.index = r.Int();
  h.status = r.Int();
  if (!Plausible(h)) r.Fail();
  const std::size_t values = static_cast<std::size_t>(h.count) * static_cast<std::size_t>(h.width);
  if (values > detail::StreamRemaining(in) / VXXML_1_2::kMinValueBytes) r.Fail();

  std::vector<Record> records = ReadRecords(h, [&r] { return r.Double(); });
  const int count = r.End();
  fpBuffer = std::move(records);
  fWidth = h.width;
  fCapacity = h.capacity;
  fCount = h.count;
  fIndCurRecord = h.index;
  fStatus = h.status;
  SyncCursor();
  return count;
}

void RecordBufferIter::Display(std::ostream& out) const {
  detail::DisplayPrecision precision(out);
  out << "Start of RecordBufferIter display\n";
  out << "fpBuffer = " << static_cast<const void*>(fpBuffer.data()) << '\n';
  detail::ShowValue(out, "fCapacity = ", fCapacity);
  detail::ShowValue(out, "fCount = ", fCount);
  out << "fpCurRecord = " << static_cast<const void*>(fpCurRecord) << '\n';
  detail::ShowValue(out, "fIndCurRecord = ", fIndCurRecord);
  detail::ShowValue(out, "fStatus = ", fStatus);
  for (int i = 0; i < fCount; ++i) {
    const Record& record = fpBuffer[static_cast<std::size_t>(i)];
    out << "Rec." << i << ':';
    for (int j = 0; j < record.Size(); ++j) out << ' ' << record[j];
    out << '\n';
  }
  out << "End of RecordBufferIter display\n";
}

}  // namespace VXNeural
