// The rows of a CSV file as a rewindable source of the library's raw
// records, read from the file again on every pass: the records are never
// all in memory, whatever the size of the file.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/Partition.h"
#include "data/Records.h"
#include "data/RowSource.h"
#include "training/JobClock.h"
#include "vxcommon/Record.h"
#include "vxneural/network/PassCombiner.h"

namespace vxnn {

// What one pass over the rows of a side found.
struct PassCounts {
  std::size_t fKept = 0;                // usable records handed out
  std::map<CellProblem, int> fLeftOut;  // unusable records, by reason
  long fImputedCells = 0;               // missing inputs filled in
  long fImputedRecords = 0;             // records with at least one
  long fUnknownCells = 0;               // inputs of an unknown category filled in
  long fUnknownRecords = 0;             // records with at least one
};

// Which rows a source hands out: all of them, or one side of a split.
enum class RowSide { kAll, kTrain, kTest };

// Hands out the usable records of one side, one row ahead (IsGood turns
// false as the last record is handed out, as the library's own sources
// do). Input errors cannot pass through the library, so a malformed row
// or a file that changed between passes ends the pass with status kError
// and the message in Error(); whoever drove the library checks it after.
class RowRecordIter : public VXCommon_1_2::MultiPassRecordIter {
 public:
  // maker must outlive the source; split is needed unless side is kAll.
  RowRecordIter(std::unique_ptr<RowSource> rows, const RecordMaker& maker, bool checkTargets,
                std::optional<SplitDraw> split, RowSide side);

  bool IsGood() override { return fStatus == kGood; }
  const VXCommon_1_2::Record* Next() override;
  int GetStatus() override { return fStatus; }
  int Rewind() override;

  // Empty unless a pass failed.
  const std::string& Error() const { return fError; }
  // Throws InputError with the message of a failed pass.
  void ThrowIfFailed() const;
  // The counts of the current pass so far (of the whole side once a pass
  // has reached the end).
  const PassCounts& Counts() const { return fCounts; }
  // Charges the time spent reading and converting rows to kReading of clock
  // (which must outlive the source); null: not timed.
  void SetClock(JobClock* clock) { fClock = clock; }
  // From the next Rewind on, hands out only the usable records
  // [share.first, share.end) of the side, in order: a process's share of a
  // training spread over processes. A row's usability is known only once
  // it is converted, so the first pass converts every row up to the
  // share's end; it notes where the share's rows lie, and later passes
  // skip the rows before them unconverted and stop reading at their end.
  void KeepShare(VXNeural::RecordShare share);

 private:
  void Advance();

  std::unique_ptr<RowSource> fRows;
  const RecordMaker& fMaker;
  bool fCheckTargets;
  std::optional<SplitDraw> fSplit;
  RowSide fSide;
  VXCommon_1_2::Record fCurrent, fAhead;
  int fStatus = kEndOfData;
  std::string fError;
  PassCounts fCounts;
  JobClock* fClock = nullptr;
  // KeepShare: the usable records kept, and once a pass has found them the
  // rows of the side (counted from 0) they lie in, [fRowFirst, fRowEnd).
  bool fShared = false;
  VXNeural::RecordShare fShare;
  bool fRowsKnown = false;
  std::size_t fRowFirst = 0, fRowEnd = 0;
  std::size_t fSideRow = 0;  // the side's rows met in this pass
  long long fUsable = 0;     // the side's usable records met in this pass
};

// Reads every record of the source from the top: the counts of the side,
// and the records themselves when keep is given. Throws InputError when
// the pass fails.
PassCounts ReadAll(RowRecordIter& source, std::vector<VXCommon_1_2::Record>* keep = nullptr);

}  // namespace vxnn
