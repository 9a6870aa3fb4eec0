// Shared by the RBF driver tests: models over the generated mixed records,
// built the way the MLP driver tests build theirs.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "mlp_driver_fixtures.h"
#include "vxneural/algorithm/RBFAlgorithm.h"
#include "vxneural/algorithm/RBFFactory.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/network/RBFHiddenLayer.h"

namespace mlpdriver {

struct RbfModel : ModelOf<RBFSettings, RBFFactory, RBFAlgorithm> {};

// An RBF model with the settings' defaults but for the seed; nTest 0: no
// test source.
inline std::unique_ptr<RbfModel> MakeRbf(Targets targets, int nTrain, int nTest,
                                         const std::function<void(RBFSettings&)>& adjust = {},
                                         bool encoded = false, unsigned seed = 1) {
  auto settingsFor = [targets](const NNVarList* list, int n) {
    RBFSettings s = list ? RBFSettings(*list, n) : RBFSettings(5, OutputCategories(targets), n);
    s.SetRandomSeed(7);
    return s;
  };
  return BuildModel<RbfModel>(targets, nTrain, nTest, seed, encoded, settingsFor, adjust);
}

inline const RBFHiddenLayer& HiddenOf(const INeuralAlgorithm& a) {
  const auto& rbf = dynamic_cast<const RBFAlgorithm&>(a);
  return dynamic_cast<const RBFHiddenLayer&>(*rbf.GetNetwork()->GetLayer(1));
}

}  // namespace mlpdriver
