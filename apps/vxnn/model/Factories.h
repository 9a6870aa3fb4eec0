// The library's two factories behind one face, so that training and
// restoring follow one path whatever the kind of network.
#pragma once

#include <iosfwd>
#include <memory>

#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"

class INeuralAlgorithm;
class NeuralSettings;
class NNVarList;

namespace vxnn {

// The two kinds of network the library builds: a multi-layer perceptron
// trained by an optimizer, or a radial basis function network whose centres
// come from clustering and whose output weights are solved by least squares.
enum class NetworkKind { kMLP, kRBF };
// "mlp" or "rbf", as the command line spells it.
const char* KindName(NetworkKind kind);
NetworkKind KindOf(VXNNCommon::AlgorithmType type);

// One factory of the library, for one kind of network. What the operations
// return is the caller's; on a refusal they return null and GetStatus
// tells why.
class ModelFactory {
 public:
  virtual ~ModelFactory() = default;
  // Raw records described by the list. The settings must be of the
  // factory's kind (MLPSettings or RBFSettings).
  virtual INeuralAlgorithm* Create(NeuralSettings& settings, NNVarList& list,
                                   VXCommon_1_2::MultiPassRecordIter& train,
                                   VXCommon_1_2::MultiPassRecordIter* test) = 0;
  // The two steps of a restore: the saved variable list (kept by the
  // factory until the second step), then the algorithm over train.
  virtual const NNVarList* RestoreVarList(std::istream& in, bool xml) = 0;
  virtual INeuralAlgorithm* FinishRestoring(std::istream& in, bool xml,
                                            VXCommon_1_2::MultiPassRecordIter& train) = 0;
  virtual VXCommon_1_2::VXStatus GetStatus() const = 0;
};

std::unique_ptr<ModelFactory> FactoryFor(NetworkKind kind);

}  // namespace vxnn
