// The 256-bit kernel with fused multiply-add, compiled with its own target
// options (see CMakeLists.txt); run only where the processor has both.
#include "network/kernels/KernelTable.h"

#if defined(VXNN_X86_KERNELS)
#define VXNN_KERNEL_NS avx2
#define VXNN_VEC 4
#define VXNN_MR 6
#define VXNN_NV 2
#include "network/kernels/Kernel.inc"

const VXNeural::detail::KernelTable* VXNeural::detail::Avx2Kernel() { return &avx2::kTable; }
#else
const VXNeural::detail::KernelTable* VXNeural::detail::Avx2Kernel() { return nullptr; }
#endif
