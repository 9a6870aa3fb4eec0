// --network auto: the linear model, the perceptron and the RBF network
// each trained and measured on the same test records, and one kept
// (report/TrainSummary.cpp gathers what was compared for the summaries).
#include <algorithm>
#include <chrono>

#include "training/TrainSteps.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

// Trains every candidate the options allow, measures each on the same test
// records by the same loss, and keeps the one with the lowest loss among
// those below the baseline (the majority class, or the mean); the others
// are dropped. On small data a network can land below that floor by chance
// and still beat the others by a record or two: it has learnt nothing the
// simplest rule does not know, and is not kept. When no network beats the
// floor the perceptron, the program's default, is kept and the summary
// says so. The linear model is left out when its weights (one per input
// unit, and the bias) are at least as many as the training records:
// unregularised least squares then fits every training record exactly,
// noise included, and its test figure is luck.
Fit FitBest(const TrainOptions& o, TrainResult& r, VXCommon_1_2::MultiPassRecordIter* test,
            ProgressBar& progress) {
  const int nTrain = static_cast<int>(r.fTrainCounts.fKept);
  std::vector<Fit> fits;
  std::vector<std::size_t> triedOf;  // the fNetworksTried entry of each fit
  std::string firstRefusal;
  for (Candidate c : {Candidate::kLinear, Candidate::kMLP, Candidate::kRBF}) {
    NetworkTried tried;
    tried.fName = CandidateName(c);
    const auto started = std::chrono::steady_clock::now();
    Fit fit;
    if (c == Candidate::kLinear && r.fList->GetNumInputs() + 1 >= nTrain) {
      tried.fLeftOut = std::to_string(r.fList->GetNumInputs()) + " input units and a bias for " +
                       std::to_string(nTrain) +
                       " training records: least squares would fit them exactly";
      r.fNetworksTried.push_back(tried);
      continue;
    }
    try {
      // Options that do not apply to a kind of network leave it out (a
      // command line never says more than the kept model does), and so
      // does a network the library cannot fit to these records.
      fit = FitOne(c, o, r, test, progress);
    } catch (const InputError& e) {
      tried.fLeftOut = e.what();
      // The perceptron's refusal names the problem best when none fits.
      if (firstRefusal.empty() || c == Candidate::kMLP) firstRefusal = e.what();
      r.fNetworksTried.push_back(tried);
      continue;
    }
    tried.fSeconds = SecondsSince(started);
    tried.fHiddenUnits = fit.fAlgorithm->GetNumberOfHiddenUnits();
    tried.fTest = fit.fTest;
    tried.fLoss = HeldOutLoss(fit.fTest.fStats);
    if (fits.empty()) r.fBaselineLoss = BaselineLoss(fit.fTrain.fStats, fit.fTest.fStats);
    r.fNetworksTried.push_back(tried);
    triedOf.push_back(r.fNetworksTried.size() - 1);
    fits.push_back(std::move(fit));
  }
  if (fits.empty()) throw InputError(firstRefusal);

  // Strictly better only: of equal figures the simpler network stays. A
  // loss that cannot be computed never wins.
  const double floor = r.fBaselineLoss;
  std::size_t kept = fits.size();
  for (std::size_t i = 0; i < fits.size(); ++i) {
    const double loss = r.fNetworksTried[triedOf[i]].fLoss;
    // The losses come from percentages: a tie with the floor may differ in
    // the last bits, and a tie does not beat it.
    if (VXMV::IsMissing(loss) || VXMV::IsMissing(floor) || !(loss < floor - 1e-9)) continue;
    if (kept == fits.size() || loss < r.fNetworksTried[triedOf[kept]].fLoss) kept = i;
  }
  const std::string floorText = "the baseline's " + Decimals(floor, 3) +
                                " (the most frequent training category, or the mean)";
  if (kept < fits.size()) {
    const NetworkTried& t = r.fNetworksTried[triedOf[kept]];
    r.fKeptBecause =
        t.fName + ", for the lowest test loss, " + Decimals(t.fLoss, 3) + ", below " + floorText;
  } else {
    for (std::size_t i = 0; i < fits.size(); ++i)
      if (!fits[i].fLinear && fits[i].fKind == NetworkKind::kMLP) kept = i;
    if (kept == fits.size()) kept = 0;
    const bool mlp = fits[kept].fKind == NetworkKind::kMLP && !fits[kept].fLinear;
    r.fKeptBecause = "no network's test loss was below " + floorText + "; " +
                     (mlp ? std::string("mlp, the default network,")
                          : r.fNetworksTried[triedOf[kept]].fName + ", the first trained,") +
                     " is kept";
  }
  if (o.fCombiner) {
    // Every process of a --distributed run must go on with the same
    // network, or their exchanges part ways: the first process's choice
    // stands. Its figures are every process's once the measurements are
    // shared, so this only guards against a difference.
    std::vector<double> all;
    std::vector<int> counts;
    if (!o.fCombiner->AllGather({static_cast<double>(triedOf[kept])}, all, counts) || all.empty())
      throw InputError("the processes' exchange failed");
    const auto chosen = std::find(triedOf.begin(), triedOf.end(), static_cast<std::size_t>(all[0]));
    if (chosen == triedOf.end())
      throw InputError("the processes could not train the same networks");
    kept = static_cast<std::size_t>(chosen - triedOf.begin());
  }
  r.fNetworksTried[triedOf[kept]].fKept = true;
  return std::move(fits[kept]);
}

}  // namespace vxnn
