// The state objects of MLPAlgorithm. Each public state-dependent operation
// of the algorithm is forwarded to the current state, which either does the
// work or refuses it with a fixed status that it stores in the algorithm.
#pragma once

#include <iosfwd>
#include <vector>

#include "vxcommon/Record.h"
#include "vxcommon/VXVarList.h"
#include "vxneural/VXStatus.h"

class MLPAlgorithm;
class NNOutputStatistics;
class NNStructImp;

// The base refuses everything: work with Refusal(), saves with
// SaveRefusal(). This version provides neither export nor the structure
// view, so every state refuses the exports as it refuses work (a cancelled
// or broken algorithm keeps its error), and every state answers code 6
// (warning) for the structure view. A returned status is a copy of the
// algorithm's stored status after the operation.
class MLPContext {
 public:
  explicit MLPContext(MLPAlgorithm* algorithm) : fAlgorithm(algorithm) {}
  MLPContext(const MLPContext&) = delete;
  MLPContext& operator=(const MLPContext&) = delete;
  virtual ~MLPContext();

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

  MLPAlgorithm* fAlgorithm;
};

// Not Started: the first training run (with the sample initialisation when
// the algorithm asks for it), error passes, output statistics, saves, the
// architecture search.
class MLPInitContext : public MLPContext {
 public:
  using MLPContext::MLPContext;
  VXCommon_1_2::VXStatus Train(int nTrain, int nTest) override;
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int n) override;
  VXCommon_1_2::VXStatus ComputeOutputStats(VXCommon_1_2::MultiPassRecordIter& records, int n,
                                            NNOutputStatistics& stats) override;
  VXCommon_1_2::VXStatus SaveState(std::ostream& out) override;
  VXCommon_1_2::VXStatus SaveStateXML(std::ostream& out) override;
  VXCommon_1_2::VXStatus SelectArchitecture() override;
};

// Trained: further runs from the current weights, updates, error passes,
// predictor importance, output statistics, saves.
class MLPTrainedContext : public MLPContext {
 public:
  using MLPContext::MLPContext;
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
};

// During the architecture search: error passes (without the accuracy step)
// on the search's own encoded samples, nothing else.
class MLPExpertContext : public MLPContext {
 public:
  using MLPContext::MLPContext;
  double GetErrorOnData(VXCommon_1_2::RecordIterator& records, int n) override;
};

// In Progress, and Inconsistent after a failed run: refuses everything.
class MLPTrainingContext : public MLPContext {
 public:
  using MLPContext::MLPContext;
};

// For the duration of a save: refuses everything.
class MLPSaveContext : public MLPContext {
 public:
  using MLPContext::MLPContext;
};

// After the host cancelled: refuses everything with code 1 (error).
class MLPCancelContext : public MLPContext {
 public:
  using MLPContext::MLPContext;

 protected:
  VXCommon_1_2::VXStatus Refusal() const override;
  VXCommon_1_2::VXStatus SaveRefusal() const override { return Refusal(); }
};

// Construction or restore built no optimizer: refuses everything with code
// 5 (error).
class MLPFailedRestartContext : public MLPContext {
 public:
  using MLPContext::MLPContext;

 protected:
  VXCommon_1_2::VXStatus Refusal() const override;
  VXCommon_1_2::VXStatus SaveRefusal() const override { return Refusal(); }
};
