// Networks for the pass threads of the evaluation passes: a forward pass
// writes the layers' unit values, so each thread needs a network of its
// own.
#pragma once

#include <memory>
#include <vector>

class NNetwork;

namespace VXNeural {
namespace detail {

// Network 0 is the caller's; the others are copies of it made from its
// saved form, which carries every value a forward pass reads, bit for bit:
// a record gives the same outputs on any of them.
class PassNetworks {
 public:
  // network must outlive this object and keep its weights while it lives.
  explicit PassNetworks(NNetwork& network);
  ~PassNetworks();
  PassNetworks(const PassNetworks&) = delete;
  PassNetworks& operator=(const PassNetworks&) = delete;

  // Makes copies until there are `wanted` networks; returns how many there
  // are, fewer when a copy cannot be made.
  int Ensure(int wanted);
  NNetwork& At(int i);

 private:
  NNetwork& fNetwork;
  std::vector<std::unique_ptr<NNetwork>> fCopies;
};

}  // namespace detail
}  // namespace VXNeural
