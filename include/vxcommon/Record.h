// Records and record sources: how a host hands rows of numbers to a library.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace VXCommon_1_2 {

/// A fixed-length row of doubles, one per field. A field is missing when it
/// equals VXMV::gMissingValue. Categorical fields hold their category code or
/// value as a double; the variable list says how to read each position.
class Record {
 public:
  /// An empty record.
  Record() = default;
  /// n fields of 0.0 (none for n below 1).
  explicit Record(int n) : fValues(n > 0 ? static_cast<std::size_t>(n) : 0, 0.0) {}
  /// The fields given.
  explicit Record(std::vector<double> values) : fValues(std::move(values)) {}

  ///@{
  /// Field i, 0 <= i < Size() (unchecked).
  double& operator[](int i) { return fValues[static_cast<std::size_t>(i)]; }
  double operator[](int i) const { return fValues[static_cast<std::size_t>(i)]; }
  ///@}
  /// The number of fields.
  int Size() const { return static_cast<int>(fValues.size()); }
  ///@{
  /// Contiguous values, valid until the next Resize.
  double* GetAll() { return fValues.data(); }
  const double* GetAll() const { return fValues.data(); }
  ///@}
  /// New fields are 0.0; false (and no change) for a negative size.
  bool Resize(int n);

 private:
  std::vector<double> fValues;
};

/// A forward-only record source. The pointer returned by Next stays valid
/// until the next call to Next (or Rewind) or the source's destruction.
class RecordIterator {
 public:
  /// What GetStatus answers.
  enum Status { kGood = 0, kEndOfData = 1, kError = 3 };

  virtual ~RecordIterator() = default;
  /// True while a record can be fetched.
  virtual bool IsGood() = 0;
  /// Advances and returns the next record, or null when there is none.
  virtual const Record* Next() = 0;
  /// 0 good, 1 end of data, 3 error.
  virtual int GetStatus() = 0;
};

/// Offered besides RecordIterator by a source that keeps its records in
/// place, for a reader that works on several at once. It stands apart so that
/// the record-source interface keeps its layout (a host's sources are built
/// against it); a reader asks for it with dynamic_cast and reads with Next
/// when the source does not offer it.
class RecordRowSource {
 public:
  /// Hands out up to `max` of the next records at once: rows[i] gets the
  /// values of the i-th, and all of them stay in place until the source is
  /// rewound, changed or destroyed (reading on, by either call, moves none of
  /// them: a reader may take a block's records a few at a time). Records with fewer than
  /// `width` fields are passed over, uncounted. Returns how many were handed
  /// out (fewer than `max` only when the data ends there; 0: no more), or -1,
  /// having read nothing, when the records cannot be handed out in place
  /// just now: read them with Next then.
  virtual int NextRows(const double** rows, int max, int width) = 0;

 protected:
  ~RecordRowSource() = default;
};

/// A record source that can be read again from its first record.
class MultiPassRecordIter : public RecordIterator {
 public:
  /// Back to the first record; returns the status afterwards.
  virtual int Rewind() = 0;
};

/// A rewindable source over records held in memory. It either copies the
/// records or borrows them; a borrowed vector must outlive the iterator and not
/// change while it is read.
class VectorRecordIter : public MultiPassRecordIter, public RecordRowSource {
 public:
  /// Reads a copy of the records.
  explicit VectorRecordIter(std::vector<Record> records);
  /// Reads the caller's records in place.
  static VectorRecordIter Borrow(const std::vector<Record>& records);

  VectorRecordIter(const VectorRecordIter&) = delete;
  VectorRecordIter& operator=(const VectorRecordIter&) = delete;
  ///@{
  /// Moves the records (or the borrowing) and the reading position.
  VectorRecordIter(VectorRecordIter&&) noexcept;
  VectorRecordIter& operator=(VectorRecordIter&&) noexcept;
  ///@}
  ~VectorRecordIter() override;

  bool IsGood() override;
  const Record* Next() override;
  int GetStatus() override;
  /// -1 in a derived class, whose Next may filter or change what it hands
  /// out: reading past it would skip that. Such a class that keeps the
  /// records as they are can offer HandOutRows as its own NextRows.
  int NextRows(const double** rows, int max, int width) override;
  int Rewind() override;
  /// The number of records, read or not.
  std::size_t Count() const { return fRecords->size(); }

 protected:
  /// NextRows without the check of the class.
  int HandOutRows(const double** rows, int max, int width);

 private:
  VectorRecordIter() = default;
  std::vector<Record> fOwned;
  const std::vector<Record>* fRecords = nullptr;
  std::size_t fPos = 0;
};

}  // namespace VXCommon_1_2
