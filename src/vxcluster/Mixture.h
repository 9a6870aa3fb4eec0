// A mixture of Gaussian and multinomial components fitted to the leaf
// entries by expectation-maximisation, for the automatic cluster count.
//
// The hard clustering's likelihood is a poor guide to the count: splitting
// a Gaussian cluster at any cut shrinks the variances by more than the
// penalty for the new parameters, and clusters that overlap are charged for
// the records they share. A mixture's likelihood counts every record under
// every component, so a cut through one population gains almost nothing.
// Each entry (a group of records summarised by counts, means and spreads)
// is given to one component as a whole, which is exact for the entries of
// one record and a lower bound otherwise; the fit starts from clusters
// already formed, so it needs only a few steps.
#pragma once

#include <vector>

#include "Summary.h"

namespace VXCluster {

class MixtureFit {
 public:
  // entries: m summaries of the layout's width, back to back.
  MixtureFit(const SummaryLayout& layout, const std::vector<double>& entries);

  // Mixture log-likelihood of the entries `members` after at most `steps`
  // steps from the partition that puts members[i] in component labels[i]
  // (0 .. c - 1), up to terms that depend only on those entries; not finite
  // when the values are too large for the fit (the caller then falls back).
  double Fit(const std::vector<int>& members, const std::vector<int>& labels, int c, int steps);

 private:
  int fM = 0;                       // entries
  int fNCont = 0;                   // continuous variables
  int fNSlots = 0;                  // category slots over all categorical variables
  std::vector<double> fN;           // per entry: records
  std::vector<double> fCount;       // per entry and continuous variable
  std::vector<double> fMean;        // the same
  std::vector<double> fSquare;      // the same: spread squared
  std::vector<double> fFloor;       // per continuous variable
  std::vector<double> fPooledMean;  // over all entries, per continuous variable
  std::vector<double> fPooledVar;   // the same, floor included
  std::vector<double> fCat;         // per entry and category slot
  std::vector<int> fSlotVar;        // per slot: its categorical variable
  std::vector<double> fCatTotal;    // per entry and categorical variable
  int fNCat = 0;                    // categorical variables
  // Work space of Fit, kept between calls.
  std::vector<double> fResp, fWeight, fMu, fInvV, fLogV, fLogP, fSlotSum, fVarSum;
};

}  // namespace VXCluster
