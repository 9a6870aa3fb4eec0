// The process group of a --distributed run over MPI.
#include "mpi/MpiGroup.h"

#include "vxneural/mpi/MpiPassCombiner.h"

namespace vxnn {

namespace {

class MpiGroup : public ProcessGroup {
 public:
  MpiGroup(int* argc, char*** argv) : fSession(argc, argv) {
    // The combiner's constructor is an exchange of every process: made
    // only once MPI runs.
    if (fSession.Ok()) fCombiner = std::make_unique<VXNeural::MpiPassCombiner>();
  }
  bool Ok() const { return fSession.Ok() && fCombiner && fCombiner->Ok(); }
  VXNeural::PassCombiner& Combiner() override { return *fCombiner; }
  void Abort(int code) override { fSession.Abort(code); }

 private:
  // Declared first: the combiner must end before MPI does.
  VXNeural::MpiSession fSession;
  std::unique_ptr<VXNeural::MpiPassCombiner> fCombiner;
};

}  // namespace

ProcessGroupStarter MpiGroupStarter(int* argc, char*** argv) {
  return [argc, argv](std::string& why) -> std::unique_ptr<ProcessGroup> {
    auto group = std::make_unique<MpiGroup>(argc, argv);
    if (group->Ok()) return group;
    why = "MPI did not start, or its exchange could not be set up";
    return nullptr;
  };
}

}  // namespace vxnn
