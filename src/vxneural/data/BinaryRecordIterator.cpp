#include "vxneural/data/BinaryRecordIterator.h"

#include <algorithm>
#include <iostream>
#include <utility>
#include <vector>

#include "persist/Display.h"

namespace VXNeural {

using VXCommon_1_2::Record;

namespace {
// Bytes asked for per read call: enough that the calls cost nothing beside
// the copying, little enough to stay in the cache beside the network.
constexpr std::size_t kBlockBytes = std::size_t{1} << 18;
}  // namespace

BinaryRecordIterator::BinaryRecordIterator(std::FILE* file, int width, std::string fileName,
                                           long long expectedRecords)
    : fCurrent(width),
      fLookAhead(nullptr),
      fFile(file),
      fWidth(width),
      fFileName(std::move(fileName)),
      fStatus(kGood),
      fBlockRecords(0),
      fBlockNext(0),
      fAtEnd(false),
      fEndStatus(kEndOfData),
      fExpectedRecords(expectedRecords),
      fRecordsThisPass(0),
      fFailed(false) {
  if (fFile == nullptr) {
    std::cout << "Error: file handle is NULL in BinaryRecordIterator constructor\n";
    fStatus = kError;
  } else if (fWidth < 1) {
    // Records without values would make every read succeed without moving.
    fStatus = kError;
  } else {
    // A file known to be short gets a block of its own size: a restore or a
    // small spill would otherwise touch 256 KiB of fresh pages for a few
    // records.
    std::size_t records =
        std::max<std::size_t>(1, kBlockBytes / (sizeof(double) * static_cast<std::size_t>(fWidth)));
    if (fExpectedRecords >= 0)
      records =
          std::min(records, std::max<std::size_t>(1, static_cast<std::size_t>(fExpectedRecords)));
    fBlock.resize(records * static_cast<std::size_t>(fWidth));
    ReadAhead();
  }
}

BinaryRecordIterator::~BinaryRecordIterator() {
  if (fFile != nullptr) std::fclose(fFile);
  if (!fFileName.empty()) std::remove(fFileName.c_str());
}

void BinaryRecordIterator::FillBlock() {
  // Count bytes, not doubles: a trailing partial double must count as a
  // partial record, which an element count would hide. A short read is
  // retried until the block is full or nothing more comes.
  const std::size_t recordBytes = sizeof(double) * static_cast<std::size_t>(fWidth);
  const std::size_t capacity = fBlock.size() * sizeof(double);
  auto* bytes = reinterpret_cast<unsigned char*>(fBlock.data());
  std::size_t got = 0;
  while (got < capacity) {
    const std::size_t n = std::fread(bytes + got, 1, capacity - got, fFile);
    if (n == 0) break;
    got += n;
  }
  fBlockRecords = got / recordBytes;
  fBlockNext = 0;
  if (got == capacity) return;
  // The whole records before a failure or a partial record are still
  // handed out; the status turns when they are used up.
  fAtEnd = true;
  fEndStatus = (std::ferror(fFile) || got % recordBytes != 0) ? kError : kEndOfData;
}

void BinaryRecordIterator::ReadAhead() {
  if (fLookAhead != nullptr)
    std::copy_n(fLookAhead, static_cast<std::size_t>(fWidth), fCurrent.GetAll());
  fLookAhead = nullptr;
  if (fStatus != kGood) return;
  if (fBlockNext == fBlockRecords) {
    if (!fAtEnd) FillBlock();
    if (fBlockNext == fBlockRecords) {
      // A file shorter than it was written is as damaged as one with a
      // partial record: something removed or cut it while it was ours.
      const bool cutShort = fExpectedRecords >= 0 && fRecordsThisPass < fExpectedRecords;
      fStatus = cutShort ? kError : fEndStatus;
      if (fStatus == kError) fFailed = true;
      return;
    }
  }
  fLookAhead = fBlock.data() + fBlockNext * static_cast<std::size_t>(fWidth);
  ++fBlockNext;
  ++fRecordsThisPass;
}

const Record* BinaryRecordIterator::Next() {
  if (fStatus != kGood) return nullptr;
  ReadAhead();
  return &fCurrent;
}

int BinaryRecordIterator::Rewind() {
  if (fFile == nullptr || fWidth < 1 || fFailed) return fStatus;
  std::clearerr(fFile);
  fLookAhead = nullptr;
  fBlockRecords = fBlockNext = 0;
  fAtEnd = false;
  fEndStatus = kEndOfData;
  fRecordsThisPass = 0;
  if (std::fseek(fFile, 0, SEEK_SET) != 0) {
    fStatus = kError;
    fFailed = true;
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
  if (fStatus == kGood && fLookAhead != nullptr)
    detail::ShowVector(out, "fLookAhead",
                       std::vector<double>(fLookAhead, fLookAhead + fCurrent.Size()));
  out << "End of BinaryRecordIterator display\n";
}

}  // namespace VXNeural
