#include "Mixture.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace VXCluster {

namespace {

// Probabilities below this count as it inside logarithms, so that a
// category a component has never seen costs a great deal instead of making
// 0 x log 0 a NaN for entries without it.
constexpr double kLeastProbability = 1e-300;

}  // namespace

MixtureFit::MixtureFit(const SummaryLayout& layout, const std::vector<double>& entries) {
  const std::size_t w = static_cast<std::size_t>(layout.Width());
  fM = static_cast<int>(entries.size() / w);
  const std::vector<SummaryLayout::ContinuousColumn> cont = layout.ContinuousColumns();
  const std::vector<SummaryLayout::CategoricalColumn> cat = layout.CategoricalColumns();
  fNCont = static_cast<int>(cont.size());
  fNCat = static_cast<int>(cat.size());
  for (int v = 0; v < fNCat; ++v)
    for (int k = 0; k < cat[static_cast<std::size_t>(v)].fNCategories; ++k) fSlotVar.push_back(v);
  fNSlots = static_cast<int>(fSlotVar.size());

  fN.resize(static_cast<std::size_t>(fM));
  fCount.resize(static_cast<std::size_t>(fM) * fNCont);
  fMean.resize(fCount.size());
  fSquare.resize(fCount.size());
  // Continuous values in units of the largest magnitude each variable
  // reaches (a mean or a spread), so that no square overflows: the
  // log-likelihood moves by the same amount for every clustering.
  std::vector<double> unit(static_cast<std::size_t>(fNCont));
  for (int k = 0; k < fNCont; ++k) {
    const SummaryLayout::ContinuousColumn& c = cont[static_cast<std::size_t>(k)];
    double u = c.fFloorSd;
    for (int e = 0; e < fM; ++e) {
      const double* a = &entries[static_cast<std::size_t>(e) * w + c.fOffset];
      if (a[0] > 0.0) u = std::max({u, std::abs(a[1]), a[2]});
    }
    unit[static_cast<std::size_t>(k)] = u > 0.0 ? u : 1.0;
    const double f = c.fFloorSd / unit[static_cast<std::size_t>(k)];
    fFloor.push_back(f * f);
  }
  fCat.resize(static_cast<std::size_t>(fM) * fNSlots);
  for (int e = 0; e < fM; ++e) {
    const double* s = &entries[static_cast<std::size_t>(e) * w];
    fN[static_cast<std::size_t>(e)] = s[0];
    for (int k = 0; k < fNCont; ++k) {
      const double* a = s + cont[static_cast<std::size_t>(k)].fOffset;
      const std::size_t i = static_cast<std::size_t>(e) * fNCont + k;
      const double u = unit[static_cast<std::size_t>(k)];
      fCount[i] = a[0];
      fMean[i] = a[0] > 0.0 ? a[1] / u : 0.0;
      fSquare[i] = a[0] > 0.0 ? (a[2] / u) * (a[2] / u) : 0.0;
    }
    int slot = 0;
    for (int v = 0; v < fNCat; ++v) {
      const SummaryLayout::CategoricalColumn& c = cat[static_cast<std::size_t>(v)];
      for (int k = 0; k < c.fNCategories; ++k, ++slot) {
        const double n = s[c.fOffset + k];
        fCat[static_cast<std::size_t>(e) * fNSlots + slot] = n;
      }
    }
  }
  // A component left without any value of a variable scores that variable
  // as all records together do, so that it neither gains nor loses by it.
  fPooledMean.assign(static_cast<std::size_t>(fNCont), 0.0);
  fPooledVar.assign(static_cast<std::size_t>(fNCont), 1.0);
  for (int k = 0; k < fNCont; ++k) {
    double c = 0.0, mean = 0.0, ss = 0.0;
    for (int e = 0; e < fM; ++e) {
      const std::size_t i = static_cast<std::size_t>(e) * fNCont + k;
      if (fCount[i] <= 0.0) continue;
      c += fCount[i];
      mean += fCount[i] / c * (fMean[i] - mean);
    }
    for (int e = 0; e < fM; ++e) {
      const std::size_t i = static_cast<std::size_t>(e) * fNCont + k;
      const double d = fMean[i] - mean;
      ss += fCount[i] * (fSquare[i] + d * d);
    }
    fPooledMean[static_cast<std::size_t>(k)] = mean;
    fPooledVar[static_cast<std::size_t>(k)] =
        (c > 0.0 ? ss / c : 0.0) + fFloor[static_cast<std::size_t>(k)];
  }
}

double MixtureFit::Fit(const std::vector<int>& members, const std::vector<int>& labels, int c,
                       int steps) {
  const std::size_t m = members.size(), nc = static_cast<std::size_t>(fNCont),
                    ns = static_cast<std::size_t>(fNSlots), nv = static_cast<std::size_t>(fNCat),
                    cc = static_cast<std::size_t>(c);
  // Rows are reached through data(): with no continuous variables the
  // arrays are empty, and indexing an empty vector is undefined even for
  // a pointer nobody reads through.
  // Responsibilities, member by member: the share of each component.
  fResp.assign(m * cc, 0.0);
  double records = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    fResp[i * cc + static_cast<std::size_t>(labels[i])] = 1.0;
    records += fN[static_cast<std::size_t>(members[i])];
  }
  fWeight.resize(cc);
  fMu.resize(cc * nc);
  fInvV.resize(cc * nc);
  fLogV.resize(cc * nc);
  fLogP.resize(cc * ns);
  fSlotSum.resize(ns);
  fVarSum.resize(nv);
  std::vector<double> ell(cc);
  const double logRecords = std::log(records);

  double ll = -std::numeric_limits<double>::infinity();
  for (int step = 0; step <= steps; ++step) {
    // Parameters of each component from the responsibilities: its share,
    // per continuous variable the weighted mean and variance (plus the
    // floor), per categorical variable the weighted category shares.
    for (std::size_t j = 0; j < cc; ++j) {
      double n = 0.0;
      for (std::size_t i = 0; i < m; ++i)
        n += fResp[i * cc + j] * fN[static_cast<std::size_t>(members[i])];
      fWeight[j] = n > 0.0 ? std::log(n) - logRecords : -std::numeric_limits<double>::infinity();
      // Sums over the members with a share in j, variable by variable in
      // contiguous rows; the variance about the mean in a second pass.
      double* mu = fMu.data() + j * nc;
      double* invV = fInvV.data() + j * nc;
      double* logV = fLogV.data() + j * nc;
      std::fill(mu, mu + nc, 0.0);
      std::fill(invV, invV + nc, 0.0);  // the counts, for now
      for (std::size_t i = 0; i < m; ++i) {
        const double r = fResp[i * cc + j];
        if (r == 0.0) continue;
        const std::size_t e = static_cast<std::size_t>(members[i]);
        const double* count = fCount.data() + e * nc;
        const double* mean = fMean.data() + e * nc;
        for (std::size_t k = 0; k < nc; ++k) {
          invV[k] += r * count[k];
          mu[k] += r * count[k] * mean[k];
        }
      }
      for (std::size_t k = 0; k < nc; ++k) {
        logV[k] = 0.0;  // the sums of squares, for now
        mu[k] = invV[k] > 0.0 ? mu[k] / invV[k] : fPooledMean[k];
      }
      for (std::size_t i = 0; i < m; ++i) {
        const double r = fResp[i * cc + j];
        if (r == 0.0) continue;
        const std::size_t e = static_cast<std::size_t>(members[i]);
        const double* count = fCount.data() + e * nc;
        const double* mean = fMean.data() + e * nc;
        const double* square = fSquare.data() + e * nc;
        for (std::size_t k = 0; k < nc; ++k) {
          const double d = mean[k] - mu[k];
          logV[k] += r * count[k] * (square[k] + d * d);
        }
      }
      for (std::size_t k = 0; k < nc; ++k) {
        const double var = invV[k] > 0.0 ? logV[k] / invV[k] + fFloor[k] : fPooledVar[k];
        invV[k] = 1.0 / var;
        logV[k] = std::log(var);
      }
      if (ns == 0) continue;
      std::fill(fSlotSum.begin(), fSlotSum.end(), 0.0);
      std::fill(fVarSum.begin(), fVarSum.end(), 0.0);
      for (std::size_t i = 0; i < m; ++i) {
        const double r = fResp[i * cc + j];
        if (r == 0.0) continue;
        const std::size_t e = static_cast<std::size_t>(members[i]);
        for (std::size_t s = 0; s < ns; ++s) fSlotSum[s] += r * fCat[e * ns + s];
      }
      for (std::size_t s = 0; s < ns; ++s)
        fVarSum[static_cast<std::size_t>(fSlotVar[s])] += fSlotSum[s];
      for (std::size_t s = 0; s < ns; ++s) {
        const double total = fVarSum[static_cast<std::size_t>(fSlotVar[s])];
        const double p = total > 0.0 ? fSlotSum[s] / total : 0.0;
        fLogP[j * ns + s] = std::log(std::max(p, kLeastProbability));
      }
    }
    // Each entry's log-likelihood under each component with all its records
    // there: n log(share), per continuous variable the expected Gaussian
    // log-density of its values (-1/2 per value, the part of the constant a
    // single cluster's fit drops, added back so that a perfect fit reads as
    // the hard clustering's), per category its count times log(share).
    // Then the mixture's, and the new responsibilities.
    double total = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
      const std::size_t e = static_cast<std::size_t>(members[i]);
      double top = -std::numeric_limits<double>::infinity();
      for (std::size_t j = 0; j < cc; ++j) {
        double l = fN[e] * fWeight[j];
        // A variable without values has count 0, mean and spread 0: it adds
        // 0, and the loop stays free of branches.
        const double* count = fCount.data() + e * nc;
        const double* mean = fMean.data() + e * nc;
        const double* square = fSquare.data() + e * nc;
        const double* mu = fMu.data() + j * nc;
        const double* invV = fInvV.data() + j * nc;
        const double* logV = fLogV.data() + j * nc;
        double sum = 0.0;
        for (std::size_t k = 0; k < nc; ++k) {
          const double d = mean[k] - mu[k];
          sum += count[k] * (logV[k] + (square[k] + d * d) * invV[k] - 1.0);
        }
        l -= 0.5 * sum;
        for (std::size_t s = 0; s < ns; ++s) l += fCat[e * ns + s] * fLogP[j * ns + s];
        ell[j] = l;
        top = std::max(top, l);
      }
      if (!std::isfinite(top)) return top;
      // Components further than e^-700 below the best get a share of 0
      // (what the exponential would underflow to, without its slow path).
      double sum = 0.0;
      for (std::size_t j = 0; j < cc; ++j) {
        const double d = ell[j] - top;
        ell[j] = d < -700.0 ? 0.0 : std::exp(d);
        sum += ell[j];
      }
      total += top + std::log(sum);
      for (std::size_t j = 0; j < cc; ++j) fResp[i * cc + j] = ell[j] / sum;
    }
    if (!std::isfinite(total)) return total;
    // Each step raises the likelihood; stop once it barely moves.
    const bool settled = step > 0 && total - ll <= 1e-9 * std::abs(total) + 1e-2;
    ll = total;
    if (settled) break;
  }
  return ll;
}

}  // namespace VXCluster
