// An in-memory, rewindable source of fixed-width records: the home of encoded
// records that fit the settings' memory budget, and the buffer the optimizers
// fill for mini-batches and samples.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/Record.h"

namespace VXNeural {

/// Holds up to a capacity of records of width W. Status 0: records can be
/// read; 1: end of data or empty; 3: unusable (the storage could not be
/// allocated, or a negative width or capacity was asked for).
///
/// A record returned by Next or GetRecordAt stays valid until the next Add,
/// Fill, Empty or read of the buffer, or its destruction. A record's storage
/// is made as it first arrives, never for a capacity alone; reading and
/// refilling after Empty allocate nothing.
class RecordBufferIter : public VXCommon_1_2::MultiPassRecordIter,
                         public VXCommon_1_2::RecordRowSource {
 public:
  /// On a negative width or capacity, or no memory, the status is 3.
  RecordBufferIter(int width, int capacity);
  RecordBufferIter(const RecordBufferIter&) = delete;
  RecordBufferIter& operator=(const RecordBufferIter&) = delete;
  ~RecordBufferIter() override;

  bool IsGood() override { return fStatus == kGood; }
  /// The record at the cursor; the status turns to 1 as the last one is
  /// handed out, so IsGood is false right after it.
  const VXCommon_1_2::Record* Next() override;
  int GetStatus() override { return fStatus; }
  /// Cursor back to the first record; status 0 when there is one (and the
  /// buffer is usable).
  int Rewind() override;

  /// Binary form: "RBI", W (0 when the capacity is 0), capacity, count, cursor
  /// index, status, then count records of W doubles. Returns bytes.
  virtual int WriteObject(std::ostream& out) const;
  /// Replaces the whole content with the stored one, or throws (by pointer) a
  /// VXNeural::IOException after "Error reading RecordBufferIter!\n" on
  /// standard error, leaving the buffer as it was. Only the stored records
  /// are allocated while reading; further room is allocated as records are
  /// added.
  virtual int ReadObject(std::istream& in);
  /// XML object "RecordBufferIter" with the same values. Returns values.
  virtual int WriteObjectXML(std::ostream& out, int level) const;
  /// As ReadObject; the failure message is
  /// "Error restoring VXNeural::RecordBufferIter from XML.\n".
  virtual int ReadObjectXML(std::istream& in);
  /// Records stay in the buffer (see above), so blocks are handed out as is;
  /// -1 in a derived class, whose Next may hand out something else. Declared
  /// after the saved-form operations so that theirs keep their slots.
  int NextRows(const double** rows, int max, int width) override;

  /// Copies the record in after the last one. False when the buffer is full
  /// or unusable, or the record is null or not of width W (a buffer of width
  /// 0 holds no records).
  bool Add(const VXCommon_1_2::Record& record);
  /// As Add(const Record&); false for a null record.
  bool Add(const VXCommon_1_2::Record* record);
  /// Takes records from source while it is good, the buffer has room and
  /// fewer than n were taken; stops at a null record. Returns the number of
  /// records taken from source (each is added unless of the wrong width).
  int Fill(VXCommon_1_2::RecordIterator& source, int n);
  /// Moves the cursor past up to n records as Next would; returns how many.
  int Skip(int n);
  /// The stored record at index (0 .. count-1), null outside.
  const VXCommon_1_2::Record* GetRecordAt(int index) const;
  /// Forgets the records (their storage is kept) and rewinds; status 1 unless
  /// the buffer is unusable.
  void Empty();

  /// W, the width every record must have.
  int GetWidth() const { return fWidth; }
  /// The most records the buffer holds.
  int GetCapacity() const { return fCapacity; }
  /// The records held now.
  int GetCount() const { return fCount; }
  /// True when the count has reached the capacity (so a buffer of capacity
  /// 0 is always full).
  bool IsFull() const { return fCount >= fCapacity; }

  /// Debug dump: the capacity, count, cursor, status and every record.
  void Display(std::ostream& out) const;

 private:
  void SyncCursor();

  int fWidth = 0;
  // The owned records. Entries beyond fCount are room for later records;
  // after a read only the stored records exist and the rest are created by
  // Add.
  std::vector<VXCommon_1_2::Record> fpBuffer;
  int fCapacity = 0;
  int fCount = 0;
  const VXCommon_1_2::Record* fpCurRecord = nullptr;
  int fIndCurRecord = 0;
  int fStatus = kError;
};

}  // namespace VXNeural
