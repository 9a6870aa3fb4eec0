// The data's way in: the rows read once to plan the fields, split into
// training and test rows, the variable list built from the training rows,
// and a source of usable records for each side, held in memory or read
// again on every pass; in a --distributed run, each process's share.
#include "training/TrainSteps.h"

namespace vxnn {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;

namespace {

// Constant inputs carry nothing and would make the library refuse the
// list: they are set aside. A constant or unusable target is an error.
void CheckList(NNVarList& list, std::vector<std::string>& unused) {
  std::vector<int> constant, invalid;
  list.IsValidList(constant, invalid);
  for (int v : invalid)
    throw InputError("column \"" + list.GetVarAt(v)->GetVariableName() +
                     "\" cannot be used: its values have no usable statistics");
  for (int v : constant) {
    const std::string name = list.GetVarAt(v)->GetVariableName();
    if (list.GetVariableRole(v) == INNVariable::kOutput)
      throw InputError("target \"" + name +
                       "\" is constant: every training record has the same value");
    list.SetVariableRole(v, INNVariable::kUnused);
    unused.push_back(name);
  }
  if (list.GetNumInputVars() == 0)
    throw InputError("no input column varies, so nothing predicts the target");
}

// The rows of another source, each pass read to the end counted on the
// job's clock: the summary says how often the file was read.
class CountedRows : public RowSource {
 public:
  CountedRows(std::unique_ptr<RowSource> rows, JobClock& clock)
      : fRows(std::move(rows)), fClock(clock) {}
  const std::vector<std::string>& Header() const override { return fRows->Header(); }
  const std::string& Name() const override { return fRows->Name(); }
  void Rewind() override { fRows->Rewind(); }
  const std::vector<std::string>* Next() override {
    const std::vector<std::string>* row = fRows->Next();
    if (!row) fClock.CountPass();
    return row;
  }

 private:
  std::unique_ptr<RowSource> fRows;
  JobClock& fClock;
};

}  // namespace

std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> MakeSource(const RowOpener& open,
                                                              const RecordMaker& maker,
                                                              const SplitDraw& split, RowSide side,
                                                              bool inMemory, PassCounts& counts,
                                                              JobClock& clock) {
  const JobClock::Scope reading = clock.Enter(Phase::kReading);
  auto rows = std::make_unique<RowRecordIter>(open(), maker, true, split, side);
  rows->SetClock(&clock);
  if (!inMemory) {
    counts = ReadAll(*rows);
    return rows;
  }
  std::vector<Record> records;
  counts = ReadAll(*rows, &records);
  return std::make_unique<VectorRecordIter>(std::move(records));
}

JobRows ReadRecords(const RowOpener& open, TrainOptions& o, bool inMemory, TrainResult& result) {
  JobClock& clock = result.fTimes;
  // Every reader of the rows below counts its complete passes.
  const RowOpener counted = [&open, &clock] {
    return std::make_unique<CountedRows>(open(), clock);
  };
  const JobClock::Scope reading = clock.Enter(Phase::kReading);
  const std::unique_ptr<RowSource> rows = counted();
  const std::string sourceName = rows->Name();

  result.fSource = sourceName;
  std::size_t n = 0;
  result.fFields = PlanFields(*rows, o.fDescribe, &n);
  if (n == 0) throw InputError(sourceName + ": no records below the header");
  result.fRecordsRead = n;
  SplitDraw split(n, o.fTestFraction, o.fPartitionSeed);
  result.fTrainRows = split.TrainRecords();
  result.fTestRows = split.TestRecords();
  if (result.fTrainRows == 0) throw InputError(sourceName + ": too few records to train on");

  // The model describes the data it learns from: statistics come from the
  // training records, categories from every record (see BuildVarList).
  result.fList =
      std::make_unique<NNVarList>(BuildVarList(*rows, result.fFields, o.fDescribe, &split));
  CheckList(*result.fList, result.fUnusedConstant);

  result.fMaker = std::make_unique<RecordMaker>(*result.fList, rows->Header(), true, sourceName,
                                                o.fMissingInputs);
  result.fMaker->DeclareMissing(o.fDescribe.fMissing);
  result.fTrainSource = MakeSource(counted, *result.fMaker, split, RowSide::kTrain, inMemory,
                                   result.fTrainCounts, clock);
  result.fTrainLeftOut.assign(result.fTrainCounts.fLeftOut.begin(),
                              result.fTrainCounts.fLeftOut.end());
  if (result.fTestRows > 0) {
    result.fTestSource = MakeSource(counted, *result.fMaker, split, RowSide::kTest, inMemory,
                                    result.fTestCounts, clock);
    result.fTestLeftOut.assign(result.fTestCounts.fLeftOut.begin(),
                               result.fTestCounts.fLeftOut.end());
  }
  const int nTrain = static_cast<int>(result.fTrainCounts.fKept);
  const int nTest = static_cast<int>(result.fTestCounts.fKept);
  if (nTrain == 0)
    throw InputError(sourceName + ": every training record has a missing or unusable value");
  // A --distributed run: every process has counted the whole sides as one
  // process does, and keeps its share of each. When the records are too
  // few for every process to hold some, each trains on all of them alone,
  // which gives the same model.
  if (o.fCombiner &&
      !(Shareable(nTrain, *o.fCombiner) && (nTest == 0 || Shareable(nTest, *o.fCombiner))))
    o.fCombiner = nullptr;
  if (o.fCombiner) {
    result.fTrainSource =
        ShareOfSource(std::move(result.fTrainSource), result.fTrainCounts.fKept, *o.fCombiner);
    if (nTest > 0)
      result.fTestSource =
          ShareOfSource(std::move(result.fTestSource), result.fTestCounts.fKept, *o.fCombiner);
    result.fWholeSide = [counted, maker = result.fMaker.get(), split, &clock](RowSide side) {
      PassCounts counts;
      std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> whole =
          MakeSource(counted, *maker, split, side, true, counts, clock);
      return Collect(*whole);
    };
  }
  return {counted, split, inMemory};
}

std::vector<Record> Collect(VXCommon_1_2::MultiPassRecordIter& source) {
  std::vector<Record> records;
  source.Rewind();
  while (const Record* rec = source.Next()) records.push_back(*rec);
  ThrowIfSourceFailed(&source);
  source.Rewind();
  return records;
}

VXNeural::RecordShare OwnShare(long long n, const VXNeural::PassCombiner& combiner) {
  return VXNeural::ShareOf(n, combiner.Rank(), combiner.Size());
}

bool Shareable(long long n, const VXNeural::PassCombiner& combiner) {
  const VXNeural::RecordShare last = VXNeural::ShareOf(n, combiner.Size() - 1, combiner.Size());
  return last.first < last.end;
}

std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> ShareOfSource(
    std::unique_ptr<VXCommon_1_2::MultiPassRecordIter> whole, std::size_t count,
    const VXNeural::PassCombiner& combiner) {
  const VXNeural::RecordShare share = OwnShare(static_cast<long long>(count), combiner);
  if (auto* rows = dynamic_cast<RowRecordIter*>(whole.get())) {
    rows->KeepShare(share);
    rows->Rewind();
    return whole;
  }
  std::vector<Record> records = Collect(*whole);
  records = std::vector<Record>(records.begin() + share.first, records.begin() + share.end);
  return std::make_unique<VectorRecordIter>(std::move(records));
}

std::vector<std::size_t> HeldOf(const std::vector<std::size_t>& at,
                                VXNeural::PassCombiner* combiner) {
  if (!combiner) return at;
  const VXNeural::RecordShare share = OwnShare(static_cast<long long>(at.size()), *combiner);
  return {at.begin() + share.first, at.begin() + share.end};
}

bool TrainsFromTemporaryFile(const INeuralAlgorithm& algorithm) {
  const NeuralSettings& s = *algorithm.GetSettings();
  return s.GetNTrainRecords() >= s.GetMaxRecordsInMemory();
}

void ThrowIfSourceFailed(VXCommon_1_2::MultiPassRecordIter* source) {
  if (const auto* rows = dynamic_cast<const RowRecordIter*>(source)) rows->ThrowIfFailed();
}

}  // namespace vxnn
