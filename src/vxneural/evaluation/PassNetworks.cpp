#include "evaluation/PassNetworks.h"

#include <cstddef>
#include <sstream>

#include "vxneural/VXNNCommon.h"
#include "vxneural/network/NNetwork.h"

namespace VXNeural {
namespace detail {

PassNetworks::PassNetworks(NNetwork& network) : fNetwork(network) {}

PassNetworks::~PassNetworks() = default;

int PassNetworks::Ensure(int wanted) {
  while (static_cast<int>(fCopies.size()) + 1 < wanted) {
    std::stringstream bytes;
    fNetwork.WriteObject(bytes);
    auto copy = std::make_unique<NNetwork>();
    try {
      copy->ReadObject(bytes);
    } catch (IOException* e) {
      delete e;
      break;
    }
    fCopies.push_back(std::move(copy));
  }
  return static_cast<int>(fCopies.size()) + 1;
}

NNetwork& PassNetworks::At(int i) {
  return i == 0 ? fNetwork : *fCopies[static_cast<std::size_t>(i - 1)];
}

}  // namespace detail
}  // namespace VXNeural
