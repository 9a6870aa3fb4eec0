// A rewindable source over a temporary file of encoded records.
#pragma once

#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

#include "vxcommon/Record.h"

namespace VXNeural {

/// The file is a bare sequence of records, each W IEEE-754 doubles of 8 bytes
/// in the machine's byte order, with no header, count, separator or padding.
/// The iterator reads it sequentially one record ahead, in blocks of many
/// whole records (one read call per block, not per record). It owns the file:
/// destruction closes it and deletes it by name (when the name is not empty).
///
/// Status 0: a record can be read; 1: end of data; 3: error (no file, a width
/// below 1, a read error, a trailing partial record, or fewer records than
/// the writer said it wrote). The file is not trusted: a truncated or damaged
/// one ends in status 3, never beyond it. A read failure stays: Rewind then
/// answers 3 too, so that every later pass over the records fails as the
/// first did instead of quietly reading part of them.
class BinaryRecordIterator : public VXCommon_1_2::MultiPassRecordIter {
 public:
  /// Reads ahead from the file's current position. A null file writes
  /// "Error: file handle is NULL in BinaryRecordIterator constructor" to
  /// standard output and gives status 3. Should construction throw (memory
  /// exhaustion), the caller keeps the file. expectedRecords, when not
  /// negative, is the count the file was written with: a pass that meets the
  /// end of the file before that many records ends in status 3.
  BinaryRecordIterator(std::FILE* file, int width, std::string fileName,
                       long long expectedRecords = -1);
  BinaryRecordIterator(const BinaryRecordIterator&) = delete;
  BinaryRecordIterator& operator=(const BinaryRecordIterator&) = delete;
  ~BinaryRecordIterator() override;

  bool IsGood() override { return fStatus == kGood; }
  /// Null unless the status is 0. The status changes to 1 (or 3) together
  /// with the last good record, so IsGood is false right after it. The record
  /// stays valid until the next call.
  const VXCommon_1_2::Record* Next() override;
  int GetStatus() override { return fStatus; }
  /// Back to the start of the file and reads ahead; returns the status (3,
  /// without moving, once a read has failed).
  int Rewind() override;

  /// W, the number of doubles in each record.
  int GetWidth() const { return fWidth; }
  /// The name the file is deleted by at destruction ("" for none).
  const std::string& GetFileName() const { return fFileName; }

  /// Debug dump: the file, the width, the status and the record read ahead
  /// (the one Next hands out next, shown only while the status is 0).
  void Display(std::ostream& out) const;

 private:
  void ReadAhead();
  /// Reads the next block of whole records; notes the end of the file.
  void FillBlock();

  VXCommon_1_2::Record fCurrent;
  const double* fLookAhead;  ///< The record read ahead, within fBlock; null when there is none.
  std::FILE* fFile;
  int fWidth;
  std::string fFileName;
  int fStatus;
  /// Whole records read from the file, fBlockRecords of them, the next
  /// unread one at fBlockNext. fAtEnd: the file has nothing after this
  /// block; the status then becomes fEndStatus (1, or 3 for a read error or
  /// a trailing partial record) once its records are used up.
  std::vector<double> fBlock;
  std::size_t fBlockRecords;
  std::size_t fBlockNext;
  bool fAtEnd;
  int fEndStatus;
  /// The count the file was written with (negative: not known), the records
  /// read ahead in this pass, and whether a read has failed for good.
  long long fExpectedRecords;
  long long fRecordsThisPass;
  bool fFailed;
};

}  // namespace VXNeural
