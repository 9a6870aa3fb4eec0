// The state objects of the algorithm drivers. Each public state-dependent
// operation of an algorithm is forwarded to the current state, which either
// does the work or refuses it with a fixed status that it stores in the
// algorithm. Both drivers use the same seven states; what a state's work
// means for a driver (its training run, its update, its search) is the
// driver's own.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/Record.h"
#include "vxcommon/VXVarList.h"
#include "vxneural/VXStatus.h"

class NeuralAlgorithmBase;
class NNOutputStatistics;
class NNStructImp;

// The base refuses everything: work with Refusal(), saves with
// SaveRefusal(). Only the Trained state exports; every other state refuses
// the exports as it refuses work (a cancelled or broken algorithm keeps its
// error). Only the Trained state builds a structure view; every other state
// answers it with null and code 6 (warning), even a cancelled or broken
// algorithm. A returned status is a copy of the algorithm's stored status
// after the operation.
class AlgorithmContext {
 public:
  explicit AlgorithmContext(NeuralAlgorithmBase* algorithm) : fAlgorithm(algorithm) {}
  AlgorithmContext(const AlgorithmContext&) = delete;
  AlgorithmContext& operator=(const AlgorithmContext&) = delete;
  virtual ~AlgorithmContext();

  virtual VXCommon_1_2::VXStatus Train(int nTrain, int nTest);
  virtual VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& records, int n);
  // The missing value when refused.
  virtual double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int n);
  virtual VXCommon_1_2::VXStatus ComputeSensitivity(int nInputVars,
                                                    const std::vector<int>& nInputCats,
                                                    bool useGivenRanges,
                                                    const std::vector<double>& mins,
                                                    const std::vector<double>& maxs,
                                                    std::vector<double>& importance);
  virtual VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records,
                                                    int n, NNOutputStatistics& stats);
  virtual VXCommon_1_2::VXStatus ExportModelXML(std::ostream& out, int flags,
                                                const VXCommon_1_2::VXApplicInfo4XML* info);
  virtual VXCommon_1_2::VXStatus ExportModelStatXML(std::ostream& out, int flags,
                                                    const VXCommon_1_2::VXApplicInfo4XML* info);
  virtual NNStructImp* GetStructure();
  virtual VXCommon_1_2::VXStatus SaveState(std::ostream& out);
  virtual VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out);
  virtual VXCommon_1_2::VXStatus SelectArchitecture();

 protected:
  // The status work is refused with in this state: 6 warning (not
  // available in this state) unless a state says otherwise.
  virtual VXCommon_1_2::VXStatus Refusal() const;
  // 4 warning (cannot save in this state) unless a state says otherwise.
  virtual VXCommon_1_2::VXStatus SaveRefusal() const;
  VXCommon_1_2::VXStatus Refuse();
  VXCommon_1_2::VXStatus RefuseSave();
  VXCommon_1_2::VXStatus Unavailable();

  // The algorithm's work, reached through this base, which the algorithm
  // befriends.
  VXCommon_1_2::VXStatus RunTraining(bool initialRun, int nTrain, int nTest);
  VXCommon_1_2::VXStatus RunUpdate(VXCommon_1_2::MultiPassRecordIter& records, int n);
  double RunErrorPass(VXCommon_1_2::RecordIterator& records, int n, bool computeAccuracy);
  VXCommon_1_2::VXStatus RunOutputStats(VXCommon_1_2::MultiPassRecordIter& records, int n,
                                        NNOutputStatistics& stats);
  VXCommon_1_2::VXStatus RunSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                        bool useGivenRanges, const std::vector<double>& mins,
                                        const std::vector<double>& maxs,
                                        std::vector<double>& importance);
  VXCommon_1_2::VXStatus RunSearch();
  VXCommon_1_2::VXStatus DoSave(std::ostream& out);
  VXCommon_1_2::VXStatus DoSaveXML(std::ostream& out);
  // The network's view over the preparator's list; null with code 6 without
  // either.
  NNStructImp* BuildStructure();
  VXCommon_1_2::VXStatus DoExport(std::ostream& out, const VXCommon_1_2::VXApplicInfo4XML* info,
                                  bool statistics);

  NeuralAlgorithmBase* fAlgorithm;
};

// Not Started: the first training run, error passes, output statistics,
// saves, the search of the number of hidden units.
class InitContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;
  VXCommon_1_2::VXStatus Train(int nTrain, int nTest) override;
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int n) override;
  VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records, int n,
                                            NNOutputStatistics& stats) override;
  VXCommon_1_2::VXStatus SaveState(std::ostream& out) override;
  VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out) override;
  VXCommon_1_2::VXStatus SelectArchitecture() override;
};

// Trained: further runs, updates, error passes, predictor importance,
// output statistics, saves, the exported documents, the structure view.
class TrainedContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;
  VXCommon_1_2::VXStatus Train(int nTrain, int nTest) override;
  VXCommon_1_2::VXStatus Update(VXCommon_1_2::MultiPassRecordIter& records, int n) override;
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int n) override;
  VXCommon_1_2::VXStatus ComputeSensitivity(int nInputVars, const std::vector<int>& nInputCats,
                                            bool useGivenRanges, const std::vector<double>& mins,
                                            const std::vector<double>& maxs,
                                            std::vector<double>& importance) override;
  VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records, int n,
                                            NNOutputStatistics& stats) override;
  VXCommon_1_2::VXStatus SaveState(std::ostream& out) override;
  VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out) override;
  NNStructImp* GetStructure() override;
  VXCommon_1_2::VXStatus ExportModelXML(std::ostream& out, int flags,
                                        const VXCommon_1_2::VXApplicInfo4XML* info) override;
  VXCommon_1_2::VXStatus ExportModelStatXML(std::ostream& out, int flags,
                                            const VXCommon_1_2::VXApplicInfo4XML* info) override;
};

// During the search of the number of hidden units: error passes (without
// the accuracy step) on the search's own encoded records, nothing else.
class ExpertContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int n) override;
};

// In Progress, and Inconsistent after a failed run: refuses everything.
class TrainingContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;
};

// For the duration of a save: refuses everything.
class SaveContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;
};

// After the host cancelled: refuses everything with code 1 (error).
class CancelContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;

 protected:
  VXCommon_1_2::VXStatus Refusal() const override;
  VXCommon_1_2::VXStatus SaveRefusal() const override { return Refusal(); }
};

// Construction or restore built no optimizer: refuses everything with code
// 5 (error).
class FailedRestartContext : public AlgorithmContext {
 public:
  using AlgorithmContext::AlgorithmContext;

 protected:
  VXCommon_1_2::VXStatus Refusal() const override;
  VXCommon_1_2::VXStatus SaveRefusal() const override { return Refusal(); }
};
