// The variable list's xml reader.
#include "VarListTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  fuzz::RunVarList(fuzz::Bytes(data, size), true);
  return 0;
}
