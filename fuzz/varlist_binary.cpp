// The variable list's binary reader.
#include "VarListTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  fuzz::RunVarList(fuzz::Bytes(data, size), false);
  return 0;
}
