#include "report/EvalSummary.h"

#include "vxcommon/VXMissing.h"

namespace vxnn {

EvalSummary SummarizeEval(const NNVarList& list, const EvalResult& r) {
  EvalSummary s;
  s.fModelFile = r.fModelPath;
  s.fDataFile = r.fDataPath;
  s.fRecords = static_cast<long>(r.fRecordsRead);
  s.fEvaluatedRecords = r.fFigures.fRecords;
  s.fLeftOut = r.fLeftOut;
  s.fImputed = r.fImputed;
  s.fTotalError = r.fFigures.fRecords > 0 ? r.fFigures.fStats.GetTotalError() : VXMV::gMissingValue;
  if (r.fFigures.fRecords > 0) s.fTargets = TargetsOf(list, r.fFigures.fStats);
  return s;
}

}  // namespace vxnn
