// The kept model's predictor importance, from every record it learnt from
// or, on large data, from a sample of them drawn with a fixed seed.
#include <numeric>

#include "model/ModelFile.h"
#include "training/TrainSteps.h"

namespace vxnn {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

std::vector<std::size_t> SamplePositions(std::size_t total, std::size_t n, std::uint64_t seed) {
  std::vector<std::size_t> positions;
  if (n >= total) {
    positions.resize(total);
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    return positions;
  }
  positions.reserve(n);
  // splitmix64: 64 random bits per step from integer arithmetic alone.
  std::uint64_t state = seed;
  for (std::size_t i = 0; i < total && positions.size() < n; ++i) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    const double u = static_cast<double>(z >> 11) * 0x1.0p-53;
    // u < 1, so once the places left equal the records left every one is
    // taken: the sample always has n records.
    if (static_cast<double>(total - i) * u < static_cast<double>(n - positions.size()))
      positions.push_back(i);
  }
  return positions;
}

namespace {

// Every process's records, in rank order, on every process of a
// --distributed run. Throws InputError when the exchange fails.
std::vector<Record> GatherRecords(VXNeural::PassCombiner& combiner,
                                  const std::vector<Record>& mine) {
  // Each record as its width and its values: the raw records of one list
  // all have the same width, but a process may hold none.
  std::vector<double> local;
  for (const Record& record : mine) {
    local.push_back(record.Size());
    local.insert(local.end(), record.GetAll(), record.GetAll() + record.Size());
  }
  std::vector<double> all;
  std::vector<int> counts;
  if (!combiner.AllGather(local, all, counts)) throw InputError("the processes' exchange failed");
  std::vector<Record> records;
  for (std::size_t i = 0; i < all.size();) {
    const auto width = static_cast<std::size_t>(all[i]);
    if (width > all.size() - i - 1) throw InputError("the processes' exchange was malformed");
    records.emplace_back(std::vector<double>(all.begin() + static_cast<long>(i) + 1,
                                             all.begin() + static_cast<long>(i + 1 + width)));
    i += 1 + width;
  }
  return records;
}

// The kept model's predictor importance over the records it learnt from,
// each source of population read up to its count in turn (the order the
// library's own computation reads them in), or over a fixed-seed sample of
// them when there are more than the options allow: the sample's records
// are read on one pass over the sources and handed to a copy of the model
// made over them, whose importance is that of exactly those records.
void ComputeImportance(
    TrainResult& r, const TrainOptions& o,
    const std::vector<std::pair<VXCommon_1_2::MultiPassRecordIter*, std::size_t>>& population) {
  INeuralAlgorithm& a = *r.fAlgorithm;
  std::size_t total = 0;
  for (const auto& side : population) total += side.second;
  const bool sampled =
      o.fImportanceSample > 0 && total > static_cast<std::size_t>(o.fImportanceSample);
  INeuralAlgorithm* over = &a;
  LoadedModel copy;
  r.fImportanceRecords = total;
  if (sampled) {
    const std::vector<std::size_t> positions =
        SamplePositions(total, static_cast<std::size_t>(o.fImportanceSample), kImportanceSeed);
    std::vector<Record> records;
    records.reserve(positions.size());
    std::size_t at = 0;
    std::size_t next = 0;  // the first position not yet reached
    for (const auto& [source, count] : population) {
      // In a --distributed run a source holds its ShareOf the count: the
      // sample's records of the share are read here, and every process
      // gathers the others' below.
      VXNeural::RecordShare held{0, static_cast<long long>(count)};
      if (o.fCombiner) held = OwnShare(static_cast<long long>(count), *o.fCombiner);
      const std::size_t end = at + count;
      at += static_cast<std::size_t>(held.first);
      while (next < positions.size() && positions[next] < at) ++next;
      std::vector<Record> mine;
      source->Rewind();
      for (long long i = held.first; i < held.end && next < positions.size() && source->IsGood();
           ++i, ++at) {
        const Record* record = source->Next();
        if (record == nullptr) break;
        if (at == positions[next]) {
          mine.push_back(*record);
          ++next;
        }
      }
      ThrowIfSourceFailed(source);
      source->Rewind();
      ThrowIfCancelled(r);
      if (o.fCombiner) mine = GatherRecords(*o.fCombiner, mine);
      records.insert(records.end(), std::make_move_iterator(mine.begin()),
                     std::make_move_iterator(mine.end()));
      at = end;
      while (next < positions.size() && positions[next] < at) ++next;
    }
    r.fImportanceRecords = records.size();
    if (o.fCombiner) {
      // The library's importance over a shared run takes each process's
      // ShareOf the sample.
      const VXNeural::RecordShare share =
          OwnShare(static_cast<long long>(records.size()), *o.fCombiner);
      records = std::vector<Record>(records.begin() + share.first, records.begin() + share.end);
    }
    copy = CopyWithImportance(a, r.fKind, r.fSource, [&](const NNVarList&) {
      return std::make_unique<VectorRecordIter>(std::move(records));
    });
    over = copy.fAlgorithm.get();
  }
  r.fImportanceOf = total;
  VXStatus s;
  {
    const SharedScope shared(o.fCombiner);
    s = over->ComputeSensitivity(r.fImportance);
  }
  ThrowIfCancelled(r);
  if (!s.IsOK() || !over->GetStatus().IsOK())
    throw InputError("predictor importance could not be computed (" +
                     Code(s.IsOK() ? over->GetStatus() : s) + ")");
}

}  // namespace

void MeasureImportance(TrainResult& r, const TrainOptions& o, bool testWatched) {
  // The records the model learnt from: every record after a refit, else
  // the training records and the test records it watched.
  std::vector<std::pair<VXCommon_1_2::MultiPassRecordIter*, std::size_t>> population;
  if (r.fHeldOutModel) {
    population.emplace_back(r.fAllSource.get(), static_cast<std::size_t>(r.fRefitRecords));
  } else {
    population.emplace_back(r.fTrainSource.get(), r.fTrainCounts.fKept);
    if (r.fTestCounts.fKept > 0 && testWatched)
      population.emplace_back(r.fTestSource.get(), r.fTestCounts.fKept);
  }
  ComputeImportance(r, o, population);
}

}  // namespace vxnn
