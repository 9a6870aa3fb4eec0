#include "data/RowRecords.h"

#include <new>

namespace vxnn {

using VXCommon_1_2::Record;

RowRecordIter::RowRecordIter(std::unique_ptr<RowSource> rows, const RecordMaker& maker,
                             bool checkTargets, std::optional<SplitDraw> split, RowSide side)
    : fRows(std::move(rows)),
      fMaker(maker),
      fCheckTargets(checkTargets),
      fSplit(std::move(split)),
      fSide(side) {
  Rewind();
}

void RowRecordIter::Advance() {
  if (!fError.empty()) return;
  const JobClock::Scope reading = JobClock::Enter(fClock, Phase::kReading);
  try {
    // A share ends where its last record was found, or at once when the
    // process holds none; the rest of the file is not read.
    const bool shareDone = fShared && (fShare.first >= fShare.end || fUsable >= fShare.end ||
                                       (fRowsKnown && fSideRow >= fRowEnd));
    while (const std::vector<std::string>* row = shareDone ? nullptr : fRows->Next()) {
      if (fSide != RowSide::kAll && fSplit->NextIsTest() != (fSide == RowSide::kTest)) continue;
      const std::size_t sideRow = fSideRow++;
      if (fShared && fRowsKnown && sideRow < fRowFirst) continue;
      int imputed = 0, unknown = 0;
      if (const RecordIssue issue = fMaker.Make(*row, fAhead, fCheckTargets, &imputed, &unknown)) {
        ++fCounts.fLeftOut[issue.fProblem];
        continue;
      }
      if (fShared && !fRowsKnown) {
        const long long usable = fUsable++;
        if (usable < fShare.first) continue;
        if (usable == fShare.first) fRowFirst = sideRow;
        if (usable + 1 == fShare.end) {
          fRowEnd = sideRow + 1;
          fRowsKnown = true;
        }
      } else if (fShared) {
        ++fUsable;
      }
      fCounts.fImputedCells += imputed;
      fCounts.fImputedRecords += imputed > 0;
      fCounts.fUnknownCells += unknown;
      fCounts.fUnknownRecords += unknown > 0;
      ++fCounts.fKept;
      fStatus = kGood;
      return;
    }
    fStatus = kEndOfData;
  } catch (const InputError& e) {
    fError = e.what();
    fStatus = kError;
  } catch (const std::bad_alloc&) {
    fError = fRows->Name() + ": out of memory while reading";
    fStatus = kError;
  }
}

const Record* RowRecordIter::Next() {
  if (fStatus != kGood) return nullptr;
  std::swap(fCurrent, fAhead);
  Advance();
  return &fCurrent;
}

int RowRecordIter::Rewind() {
  if (!fError.empty()) return fStatus;
  const JobClock::Scope reading = JobClock::Enter(fClock, Phase::kReading);
  try {
    fRows->Rewind();
  } catch (const InputError& e) {
    fError = e.what();
    return fStatus = kError;
  }
  if (fSplit) fSplit->Restart();
  fCounts = PassCounts();
  fSideRow = 0;
  fUsable = fRowsKnown ? fShare.first : 0;
  Advance();
  return fStatus;
}

void RowRecordIter::KeepShare(VXNeural::RecordShare share) {
  fShared = true;
  fShare = share;
  fRowsKnown = false;
}

void RowRecordIter::ThrowIfFailed() const {
  if (!fError.empty()) throw InputError(fError);
}

PassCounts ReadAll(RowRecordIter& source, std::vector<Record>* keep) {
  source.Rewind();
  while (const Record* r = source.Next())
    if (keep) keep->push_back(*r);
  source.ThrowIfFailed();
  PassCounts counts = source.Counts();
  source.Rewind();
  return counts;
}

}  // namespace vxnn
