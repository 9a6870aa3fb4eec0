// Turns the host's raw records into encoded records (the network's input
// units followed by its target units), keeps the encoded training and test
// records in memory or in temporary files, and encodes single records for
// scoring.
#pragma once

#include <atomic>
#include <cstdio>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/VXStatus.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNVarList.h"

class NeuralSettings;

/// Layout of an encoded record of width W = inputs + output units (from the
/// settings): Input variables in list order from unit 0, Output variables in
/// list order after the input units; a continuous variable takes one unit
/// (its encoder's Normalize of the raw value), a categorical one with n
/// categories n units, all 0.0 but 1.0 at its code. Other variables take no
/// unit. Raw training records (the sources, EncodeRecord) hold one value
/// per variable of the list, categorical fields as codes; a record shorter
/// than the list reads as missing values in its absent fields. Scoring
/// records (EncodeInputs) hold the inputs alone, in list order.
///
/// The host's sources and call-back objects are not owned and must outlive
/// the preparator's use of them. The encoded sources are owned by the
/// preparator; destroying it deletes their temporary files.
///
/// Status codes: 50002 error, no temporary file name or the file could not be
/// created or written; 50003 a categorical code outside its variable's
/// categories (warning while preparing: the record is skipped; error while
/// scoring); 50004 error, no record of a source could be kept; 50014 (50015
/// for the test source while preparing) error, a source whose status turned
/// to an error before it had given the records asked for: nothing of it is
/// kept; 50018 error, a scoring record with a missing input. A variable list
/// whose input units (output units) differ from the settings' makes every
/// operation answer 50010 (50011) and encode nothing.
class NNDataPreparator {
 public:
  /// Copies the list and sets up its continuous encoders with the settings'
  /// standardisation modes (a refused mode keeps the previous encoder).
  NNDataPreparator(const NNVarList& varList, const NeuralSettings& settings,
                   VXCommon_1_2::MultiPassRecordIter* trainSource,
                   VXCommon_1_2::MultiPassRecordIter* testSource);
  NNDataPreparator(const NNDataPreparator&) = delete;
  NNDataPreparator& operator=(const NNDataPreparator&) = delete;
  virtual ~NNDataPreparator();

  /// Encodes the training source (at most GetNTrainRecords records kept) and
  /// then, unless that failed, the test source (at most GetNTestRecords).
  /// Training records stay in memory when fewer than GetMaxRecordsInMemory;
  /// test records when the training records are in memory and both counts
  /// together stay below the budget, or when the training records are in a
  /// file and the test count alone stays below it. Everything else goes to a
  /// temporary file. Each source is read once, in one pass, and rewound after
  /// its pass. Returns the status of the last pass (OK, warning 50003 when a
  /// record was skipped, or an error), which also becomes GetStatus. Earlier
  /// encoded data are released first.
  VXCommon_1_2::VXStatus Prepare(const NeuralSettings& settings);

  /// Encodes up to maxRecords kept records of source into a new temporary
  /// file and returns a new source over it (owned by the caller) in encoded,
  /// and the number kept in written; encoded is null on an error. The source
  /// is not rewound. The result also becomes GetStatus. The file takes the
  /// name the settings' name maker gives, or without a maker a name the C
  /// library makes, with no prefix, in the settings' temporary directory (the
  /// system's when none is set); the returned source deletes it.
  VXCommon_1_2::VXStatus EncodeToTempFile(VXCommon_1_2::RecordIterator& source, int maxRecords,
                                          VXCommon_1_2::MultiPassRecordIter*& encoded,
                                          int& written);

  /// One raw record into all W units (encoded is resized to W when it has
  /// another size, so a reused record costs no allocation). OK, or warning
  /// 50003 when a categorical code is outside its categories (those units are
  /// left at 0). A missing continuous value becomes the missing value in its
  /// unit without changing the status.
  VXCommon_1_2::VXStatus EncodeRecord(const VXCommon_1_2::Record& raw,
                                      VXCommon_1_2::Record& encoded) const;
  /// One scoring record into the first I (input) units; encoded grows to I
  /// when shorter. raw holds the inputs alone: field k is the k-th Input
  /// variable of the list, in list order, wherever the outputs and unused
  /// variables stand (a training record, with one field per variable, is
  /// not a scoring record unless every input precedes every other
  /// variable). Fields after the inputs are not read; an input field beyond
  /// the end of raw counts as missing. Error 50018 when an input equals the
  /// missing value (the I units are then all 0); else error 50003 when a
  /// categorical code is invalid (its units stay 0, the others are
  /// encoded).
  VXCommon_1_2::VXStatus EncodeInputs(const VXCommon_1_2::Record& raw,
                                      VXCommon_1_2::Record& encoded) const;
  /// The same from nValues raw fields at values into the I units at units.
  /// Safe to call from several threads at once (with the Record form too),
  /// as long as no thread changes the list through GetVarList meanwhile.
  VXCommon_1_2::VXStatus EncodeInputs(const double* values, int nValues, double* units) const;

  ///@{
  /// The encoded training and test records, owned by the preparator. Null
  /// until prepared, or when there is no test source / no record kept.
  VXCommon_1_2::MultiPassRecordIter* GetTrainData() { return fEncodedTrain.get(); }
  VXCommon_1_2::MultiPassRecordIter* GetTestData() { return fEncodedTest.get(); }
  ///@}
  /// The training records kept by the last Prepare.
  int GetNTrainRecordsWritten() const { return fNTrainWritten; }
  /// The test records kept by the last Prepare.
  int GetNTestRecordsWritten() const { return fNTestWritten; }
  /// The writable list: encoding looks its encoders up again (and scoring
  /// takes a fresh copy of the inputs' linear maps) at the next record, so
  /// the reference may be used to change the encoders until then.
  NNVarList& GetVarList() {
    fEncodersStale = true;
    return fVarList;
  }
  /// The preparator's copy of the variable list.
  const NNVarList& GetVarList() const { return fVarList; }
  /// The status of the last operation that sets it (see the class comment).
  VXCommon_1_2::VXStatus GetStatus() const { return fStatus; }
  /// n >= 0 becomes the variable list's weighted count.
  void SetWeightedCount(int n);
  /// W: the settings' inputs plus output units.
  int GetRecordWidth() const { return fRecordWidth; }
  /// I: the settings' input units.
  int GetNumInputUnits() const { return fNInputUnits; }
  /// The settings' cancel object (not owned); may be null.
  VXCommon_1_2::VXQueryCancel* GetCancelPointer() const { return fCancel; }

  /// Debug dump: the variables' unit indices and category counts, the
  /// status and the variable list.
  void Display(std::ostream& out) const;

 private:
  struct PassResult;
  template <typename Sink>
  PassResult EncodePass(VXCommon_1_2::RecordIterator& source, int maxRecords, Sink&& sink);
  VXCommon_1_2::VXStatus EncodeToFile(VXCommon_1_2::RecordIterator& source, int maxRecords,
                                      VXCommon_1_2::MultiPassRecordIter*& encoded, int& written,
                                      int sourceFailedCode);
  VXCommon_1_2::VXStatus EncodeSource(VXCommon_1_2::RecordIterator& source, int maxRecords,
                                      bool toFile, int sourceFailedCode,
                                      std::unique_ptr<VXCommon_1_2::MultiPassRecordIter>& encoded,
                                      int& written, bool& wentToFile);
  /// A new temporary file opened for writing and reading, and its name; null
  /// when there is no name or the file cannot be made.
  std::FILE* OpenTempFile(std::string& name) const;

  std::vector<int> fUnitIndex;
  std::vector<int> fCategories;
  std::vector<int> fInputCategories;
  NNVarList fVarList;
  VXCommon_1_2::VXQueryCancel* fCancel;
  VXCommon_1_2::VXTempFileNameMaker* fTempFileNameMaker;
  int fNTrainWritten = 0;
  int fNTestWritten = 0;
  VXCommon_1_2::VXStatus fStatus;
  VXCommon_1_2::MultiPassRecordIter* fTrainSource;
  VXCommon_1_2::MultiPassRecordIter* fTestSource;
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> fEncodedTrain;
  std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> fEncodedTest;
  int fNVariables = 0;
  int fRecordWidth = 0;
  int fNInputVars = 0;
  int fNInputUnits = 0;
  /// The continuous variables' encoders in variable order, for
  /// EncodeRecord, and the scoring plan below. Setting an encoder up anew
  /// through the writable list replaces the object, so both are taken again
  /// from the variables when fEncodersStale (at construction and whenever
  /// the writable list was handed out).
  /// Encoding is const and may run on several threads at once: the first
  /// to find the encoders stale takes them again under the lock, and the
  /// others wait for it rather than read a half-built plan.
  void RefreshEncoders() const;
  void EnsureEncoders() const;
  mutable std::vector<const NNLinearEncoder*> fContEncoders;
  mutable std::atomic<bool> fEncodersStale{true};
  mutable std::mutex fRefreshLock;
  std::string fTempFileDir;

  /// Variable indices of the Input variables, in order.
  std::vector<int> fInputFields;
  /// EncodeInputs' plan: per continuous input its field of the scoring
  /// record (its place among the inputs), unit and (once looked up)
  /// encoder; per categorical input its field, first unit and category
  /// count.
  struct ContInput {
    int field;
    int unit;
    const NNLinearEncoder* encoder;
  };
  struct CatInput {
    int field;
    int unit;
    int n;
  };
  std::vector<ContInput> fContInputs;
  std::vector<CatInput> fCatInputs;
  /// The continuous inputs' linear maps copied out of their encoders, so
  /// that the scoring loop reads plain numbers: runs of inputs whose fields
  /// and units both follow each other (one run for a list of continuous
  /// inputs alone), each with its slopes and intercepts from index `first`
  /// of fSlopes and fIntercepts. Inputs whose encoder has user-missing
  /// values keep the encoder (fSpecialInputs).
  struct LinearRun {
    int field;
    int unit;
    int count;
    int first;
  };
  mutable std::vector<LinearRun> fLinearRuns;
  mutable std::vector<double> fSlopes;
  mutable std::vector<double> fIntercepts;
  mutable std::vector<ContInput> fSpecialInputs;
  /// OK, or the refusal every operation answers when the list does not match
  /// the settings' unit counts.
  VXCommon_1_2::VXStatus fLayoutStatus;
};
