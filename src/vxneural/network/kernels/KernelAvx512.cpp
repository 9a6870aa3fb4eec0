// The 512-bit kernel, compiled with its own target options (see
// CMakeLists.txt); run only where the processor has them.
#include "network/kernels/KernelTable.h"

#if defined(VXNN_X86_KERNELS)
#define VXNN_KERNEL_NS avx512
#define VXNN_VEC 8
#define VXNN_MR 6
#define VXNN_NV 4
#include "network/kernels/Kernel.inc"

const VXNeural::detail::KernelTable* VXNeural::detail::Avx512Kernel() { return &avx512::kTable; }
#else
const VXNeural::detail::KernelTable* VXNeural::detail::Avx512Kernel() { return nullptr; }
#endif
