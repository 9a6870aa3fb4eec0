#include "model/Factories.h"

#include <istream>
#include <stdexcept>

#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFFactory.h"
#include "vxneural/algorithm/RBFSettings.h"

namespace vxnn {

namespace {

// The factories are twins with the same operations; only the settings
// class differs.
template <typename Factory, typename Settings, VXNNCommon::AlgorithmType kType>
class Twin : public ModelFactory {
 public:
  INeuralAlgorithm* Create(NeuralSettings& settings, NNVarList& list,
                           VXCommon_1_2::MultiPassRecordIter& train,
                           VXCommon_1_2::MultiPassRecordIter* test) override {
    if (settings.GetAlgorithmType() != kType)
      throw std::logic_error("settings of another kind of network");
    return fFactory.CreateNeuralAlgorithm(static_cast<Settings&>(settings), list, train, test,
                                          nullptr);
  }
  const NNVarList* RestoreVarList(std::istream& in, bool xml) override {
    return xml ? fFactory.RestoreNNVarListFromXML(in) : fFactory.RestoreNNVarListFromBinary(in);
  }
  INeuralAlgorithm* FinishRestoring(std::istream& in, bool xml,
                                    VXCommon_1_2::MultiPassRecordIter& train) override {
    return xml ? fFactory.FinishRestoringAlgorithmFromXML(in, train, nullptr)
               : fFactory.FinishRestoringAlgorithmFromBinary(in, train, nullptr);
  }
  VXCommon_1_2::VXStatus GetStatus() const override { return fFactory.GetStatus(); }

 private:
  Factory fFactory;
};

}  // namespace

const char* KindName(NetworkKind kind) { return kind == NetworkKind::kRBF ? "rbf" : "mlp"; }

NetworkKind KindOf(VXNNCommon::AlgorithmType type) {
  return type == VXNNCommon::kRBF ? NetworkKind::kRBF : NetworkKind::kMLP;
}

std::unique_ptr<ModelFactory> FactoryFor(NetworkKind kind) {
  if (kind == NetworkKind::kMLP)
    return std::make_unique<Twin<MLPFactory, MLPSettings, VXNNCommon::kMLP>>();
  return std::make_unique<Twin<RBFFactory, RBFSettings, VXNNCommon::kRBF>>();
}

}  // namespace vxnn
