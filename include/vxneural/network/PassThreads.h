// How many threads share the network's passes over many records: the
// gradient and error passes of training, the passes that score or measure
// a source, and the sums the output solvers and the importance gather.
//
// Whatever the count, the results are the same bit for bit. The records of
// a pass are cut into fixed blocks (MLPBlockPass::kBlock records, in the
// order the source gives them), each block's sums are formed on their own,
// and the blocks' sums are added up in block order: the count decides only
// which thread forms which block, never what is added to what. Records are
// read, and the host's cancel object asked, on the calling thread only, so
// a host's record sources and call-backs never see another thread; the
// other threads do arithmetic on the library's own buffers.
//
// The count is 1 until a host asks for more: one thread is the caller's
// own, and a host that knows nothing of threads gets none. The environment
// variable VXNN_THREADS (a number, or "all" for every core the process may
// run on) sets another count without changing the host program;
// SetPassThreads overrides it. The setting is process-wide, as the kernel
// choice is, and may be changed between passes from any thread.
//
// The reference kernel processes one record at a time in record order, as
// the network's operations are written; its passes stay on the calling
// thread whatever the count.
#pragma once

namespace VXNeural {

/// The largest count SetPassThreads takes.
constexpr int kMaxPassThreads = 256;

/// The number of threads the passes the calling thread starts use now (at
/// least 1).
int GetPassThreads();
/// Sets the count; false (and no change) unless 1 <= threads <=
/// kMaxPassThreads.
bool SetPassThreads(int threads);
/// Sets a count for the passes the calling thread starts, over the
/// process-wide one; 0 gives it back to the process-wide count. For a host
/// that runs several trainings side by side, each on a thread of its own:
/// with every core busy already, each training's passes had best stay on
/// its own thread. False (and no change) unless 0 <= threads <=
/// kMaxPassThreads.
bool SetPassThreadsOnThisThread(int threads);
/// The number of cores this process may run on (its processor affinity
/// where the system tells it, else the machine's count; at least 1).
int UsableCores();

}  // namespace VXNeural
