// Choice of the arithmetic kernel behind the network's passes over many
// records (training, error and test passes).
//
// The reference kernel processes one record at a time, in the order the
// network's operations are written. The others process blocks of records
// as small matrix products with register tiles: "baseline" with two-double
// vectors and no fused multiply-add (every x86-64 processor, and the
// portable build elsewhere), "avx2" with 256-bit vectors and fused
// multiply-add, "avx512" with 512-bit vectors. All compute the same sums;
// only the order of additions differs, so results may differ between
// kernels in the last bits, never between two runs of one kernel. Pin the
// baseline kernel for results that are the same bit for bit on every
// machine.
//
// By default the widest kernel the processor supports is chosen once, at
// the first pass. The environment variable VXNN_KERNEL (reference,
// baseline, avx2 or avx512) pins one instead, so that a host program can be
// made reproducible without being changed; a name the machine cannot run
// is ignored. SetPassKernel overrides both. The choice is process-wide.
#pragma once

#include <string>
#include <vector>

namespace VXNeural {

/// The arithmetic kernels of the passes (see the top of this file).
enum class PassKernel { kReference = 0, kBaseline = 1, kAvx2 = 2, kAvx512 = 3 };

/// Whether this build and this processor can run the kernel.
bool IsPassKernelAvailable(PassKernel kernel);
/// The available kernels, narrowest first (the reference kernel first).
std::vector<PassKernel> AvailablePassKernels();
/// The kernel the passes use now.
PassKernel GetPassKernel();
/// Pins a kernel; false (and no change) when it is not available.
bool SetPassKernel(PassKernel kernel);
/// "reference", "baseline", "avx2", "avx512"; "unknown" for anything else.
const char* PassKernelName(PassKernel kernel);
/// The kernel of that name; false when the name is none of the above.
bool ParsePassKernel(const std::string& name, PassKernel& kernel);

}  // namespace VXNeural
