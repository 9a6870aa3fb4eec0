// The portable kernel: two-double vectors (baseline x86-64 has them, other
// processors map them to what they have), no fused multiply-add, so its
// results are the same on every machine that runs it.
#define VXNN_KERNEL_NS baseline
#define VXNN_VEC 2
#define VXNN_MR 6
#define VXNN_NV 2
#include "network/kernels/Kernel.inc"

const VXNeural::detail::KernelTable* VXNeural::detail::BaselineKernel() {
  return &baseline::kTable;
}
