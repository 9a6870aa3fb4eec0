#include "vxneural/network/PassKernel.h"

#include <atomic>
#include <cstdlib>

#include "network/kernels/KernelTable.h"

namespace VXNeural {

namespace {

// -1 until the first question, then the kernel in use.
std::atomic<int> gKernel{-1};

bool ProcessorRuns(PassKernel kernel) {
#if defined(VXNN_X86_KERNELS)
  switch (kernel) {
    case PassKernel::kAvx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case PassKernel::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("fma");
    default:
      return true;
  }
#else
  return kernel == PassKernel::kReference || kernel == PassKernel::kBaseline;
#endif
}

PassKernel Widest() {
  for (PassKernel k : {PassKernel::kAvx512, PassKernel::kAvx2, PassKernel::kBaseline})
    if (IsPassKernelAvailable(k)) return k;
  return PassKernel::kReference;
}

PassKernel Initial() {
  PassKernel kernel;
  const char* pinned = std::getenv("VXNN_KERNEL");
  if (pinned && ParsePassKernel(pinned, kernel) && IsPassKernelAvailable(kernel)) return kernel;
  return Widest();
}

}  // namespace

bool IsPassKernelAvailable(PassKernel kernel) {
  switch (kernel) {
    case PassKernel::kReference:
      return true;
    case PassKernel::kBaseline:
      return detail::BaselineKernel() != nullptr;
    case PassKernel::kAvx2:
      return detail::Avx2Kernel() != nullptr && ProcessorRuns(kernel);
    case PassKernel::kAvx512:
      return detail::Avx512Kernel() != nullptr && ProcessorRuns(kernel);
  }
  return false;
}

std::vector<PassKernel> AvailablePassKernels() {
  std::vector<PassKernel> kernels;
  for (PassKernel k :
       {PassKernel::kReference, PassKernel::kBaseline, PassKernel::kAvx2, PassKernel::kAvx512})
    if (IsPassKernelAvailable(k)) kernels.push_back(k);
  return kernels;
}

PassKernel GetPassKernel() {
  int k = gKernel.load(std::memory_order_relaxed);
  if (k < 0) {
    int expected = -1;
    gKernel.compare_exchange_strong(expected, static_cast<int>(Initial()));
    k = gKernel.load(std::memory_order_relaxed);
  }
  return static_cast<PassKernel>(k);
}

bool SetPassKernel(PassKernel kernel) {
  if (!IsPassKernelAvailable(kernel)) return false;
  gKernel.store(static_cast<int>(kernel), std::memory_order_relaxed);
  return true;
}

const char* PassKernelName(PassKernel kernel) {
  switch (kernel) {
    case PassKernel::kReference:
      return "reference";
    case PassKernel::kBaseline:
      return "baseline";
    case PassKernel::kAvx2:
      return "avx2";
    case PassKernel::kAvx512:
      return "avx512";
  }
  return "unknown";
}

bool ParsePassKernel(const std::string& name, PassKernel& kernel) {
  for (PassKernel k :
       {PassKernel::kReference, PassKernel::kBaseline, PassKernel::kAvx2, PassKernel::kAvx512})
    if (name == PassKernelName(k)) {
      kernel = k;
      return true;
    }
  return false;
}

namespace detail {

const KernelTable* ActiveKernelTable() {
  switch (GetPassKernel()) {
    case PassKernel::kBaseline:
      return BaselineKernel();
    case PassKernel::kAvx2:
      return Avx2Kernel();
    case PassKernel::kAvx512:
      return Avx512Kernel();
    default:
      return nullptr;
  }
}

}  // namespace detail
}  // namespace VXNeural
