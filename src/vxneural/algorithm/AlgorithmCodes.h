// Status codes of the algorithm drivers and the factories.
#pragma once

#include <cstdint>

namespace VXNeural {
namespace codes {

inline constexpr int32_t kCancelled = 1;           // error
inline constexpr int32_t kCannotSave = 4;          // warning
inline constexpr int32_t kFailedConstruction = 5;  // error
inline constexpr int32_t kNotAvailable = 6;        // warning
inline constexpr int32_t kNoOptimizer = 50001;     // error
inline constexpr int32_t kSensitivityArgumentsDiffer = 50005;
inline constexpr int32_t kBinaryRestoreFailed = 50006;
inline constexpr int32_t kXMLRestoreFailed = 50007;
inline constexpr int32_t kInvalidVarList = 50009;
inline constexpr int32_t kInputCountDiffers = 50010;
inline constexpr int32_t kOutputCategoriesDiffer = 50011;
inline constexpr int32_t kNoTrainingRecords = 50012;
inline constexpr int32_t kTrainSourceNotGood = 50014;
inline constexpr int32_t kTestSourceNotGood = 50015;
inline constexpr int32_t kStreamNotGood = 50016;
inline constexpr int32_t kRestoreNotStarted = 50017;
inline constexpr int32_t kMissingInput = 50018;
inline constexpr int32_t kWeightCountDiffers = 50019;
// Data-parallel runs (vxneural/network/PassCombiner.h), both errors: a
// process's records are not its share of the whole, or a pass over a
// shared source cannot be shared (the reference kernel's record-by-record
// pass); an exchange between the processes failed.
inline constexpr int32_t kSharesDoNotMatch = 50020;
inline constexpr int32_t kExchangeFailed = 50021;

}  // namespace codes
}  // namespace VXNeural
