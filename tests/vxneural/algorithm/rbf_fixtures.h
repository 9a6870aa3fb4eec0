// Shared by the RBF driver tests: models over the generated mixed records,
// built the way the MLP driver tests build theirs.
#pragma once

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

// A model of either kind, for the tests that run the same steps on both;
// adjust sees the settings the two kinds share.
struct AnyModel {
  std::unique_ptr<Model> mlp;
  std::unique_ptr<RbfModel> rbf;

  std::unique_ptr<INeuralAlgorithm>& Algorithm() { return rbf ? rbf->algorithm : mlp->algorithm; }
  const std::vector<Record>& Records(bool test) const {
    if (rbf) return test ? rbf->testRecords : rbf->trainRecords;
    return test ? mlp->testRecords : mlp->trainRecords;
  }
  // The algorithm built again by the model's factory over other sources of
  // encoded records.
  INeuralAlgorithm* Rebuild(MultiPassRecordIter& train, MultiPassRecordIter* test) {
    Algorithm().reset();
    Algorithm().reset(rbf ? rbf->factory.CreateNeuralAlgorithm(rbf->settings, train, test)
                          : mlp->factory.CreateNeuralAlgorithm(mlp->settings, train, test));
    return Algorithm().get();
  }
  // The model restored from bytes by its factory over sources like its own.
  std::unique_ptr<RestoredOf<INeuralAlgorithm>> Restore(const std::string& bytes, bool xml,
                                                        bool twoSteps = false) const {
    using R = RestoredOf<INeuralAlgorithm>;
    return rbf ? RestoreModel<RbfModel, R>(bytes, xml, *rbf, twoSteps)
               : RestoreModel<Model, R>(bytes, xml, *mlp, twoSteps);
  }
};

inline AnyModel MakeAny(bool rbf, Targets targets, int nTrain, int nTest,
                        const std::function<void(NeuralSettings&)>& adjust, bool encoded = false) {
  AnyModel m;
  if (rbf) {
    m.rbf = MakeRbf(
        targets, nTrain, nTest,
        [&](RBFSettings& s) {
          if (adjust) adjust(s);
        },
        encoded);
  } else {
    m.mlp = MakeModel(
        targets, nTrain, nTest, 1,
        [&](MLPSettings& s) {
          if (adjust) adjust(s);
        },
        encoded);
  }
  return m;
}

inline const RBFHiddenLayer& HiddenOf(const INeuralAlgorithm& a) {
  const auto& rbf = dynamic_cast<const RBFAlgorithm&>(a);
  return dynamic_cast<const RBFHiddenLayer&>(*rbf.GetNetwork()->GetLayer(1));
}

}  // namespace mlpdriver
