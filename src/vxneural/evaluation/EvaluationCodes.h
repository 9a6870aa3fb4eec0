// Status codes raised by the evaluation passes (the drivers' own codes are
// in algorithm/AlgorithmCodes.h).
#pragma once

#include <cstdint>

#include "algorithm/AlgorithmCodes.h"

namespace VXNeural {
namespace codes {

// error: encoding wrote no record (in a shared computation: a share that
// holds none, which still takes part).
inline constexpr int32_t kNoRecordWritten = 50004;
// error: a categorical unit group of an encoded record has no active unit.
inline constexpr int32_t kNoActiveCategory = 50008;

}  // namespace codes
}  // namespace VXNeural
