// The MPI exchange, run on every process of an mpirun (1, 2 and 3 in the
// suite). Every process runs the same tests in the same order, so the
// exchanges match; a check that fails must not skip an exchange (EXPECT,
// not ASSERT, before one), or the other processes would wait for ever.
#include <gtest/gtest.h>
#include <mpi.h>

#include <functional>
#include <vector>

#include "vxneural/mpi/MpiPassCombiner.h"

namespace {

using VXNeural::MpiPassCombiner;

int WorldRank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

int WorldSize() {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

// The values process r hands in exchange `round`: count(r) of them, the
// i-th being value(r, i). The expected result is built from the same two
// rules, process by process, without MPI.
struct Exchange {
  const char* name;
  std::function<int(int rank, int size)> count;
  std::function<double(int rank, int i)> value;
};

std::vector<double> Local(const Exchange& e, int rank, int size) {
  std::vector<double> v;
  for (int i = 0; i < e.count(rank, size); ++i) v.push_back(e.value(rank, i));
  return v;
}

void ExpectGathered(const Exchange& e, MpiPassCombiner& combiner, int size) {
  std::vector<double> expected;
  std::vector<int> expectedCounts;
  for (int r = 0; r < size; ++r) {
    const std::vector<double> v = Local(e, r, size);
    expected.insert(expected.end(), v.begin(), v.end());
    expectedCounts.push_back(static_cast<int>(v.size()));
  }
  std::vector<double> all = {-1.0};  // stale contents must not survive
  std::vector<int> counts = {7, 7, 7, 7, 7};
  EXPECT_TRUE(combiner.AllGather(Local(e, combiner.Rank(), size), all, counts)) << e.name;
  EXPECT_EQ(counts, expectedCounts) << e.name;
  EXPECT_EQ(all, expected) << e.name;
}

TEST(MpiPassCombiner, RankAndSizeAreThoseOfTheWorld) {
  MpiPassCombiner combiner;
  EXPECT_TRUE(combiner.Ok());
  EXPECT_EQ(combiner.Rank(), WorldRank());
  EXPECT_EQ(combiner.Size(), WorldSize());
}

TEST(MpiPassCombiner, GathersEveryProcessesValuesInRankOrder) {
  const Exchange exchanges[] = {
      {"rank r hands r+1 values", [](int r, int) { return r + 1; },
       [](int r, int i) { return 100.0 * r + i; }},
      {"rank 0 hands none", [](int r, int) { return r == 0 ? 0 : 3; },
       [](int r, int i) { return 100.0 * r + i + 0.5; }},
      {"the last rank hands none", [](int r, int size) { return r == size - 1 ? 0 : 2; },
       [](int r, int i) { return -1.0 * r - 0.25 * i; }},
      {"no rank hands any", [](int, int) { return 0; }, [](int, int) { return 0.0; }},
      {"one value each, signs and zeros kept", [](int, int) { return 1; },
       [](int r, int) { return r % 2 ? -0.0 : 1e-300; }},
  };
  MpiPassCombiner combiner;
  for (const Exchange& e : exchanges) ExpectGathered(e, combiner, combiner.Size());
}

TEST(MpiPassCombiner, GathersAMillionValues) {
  MpiPassCombiner combiner;
  const int size = combiner.Size();
  const int per = 1000000 / size;
  std::vector<double> local(per + combiner.Rank());
  for (size_t i = 0; i < local.size(); ++i) local[i] = 1e7 * combiner.Rank() + i;
  std::vector<double> all;
  std::vector<int> counts;
  EXPECT_TRUE(combiner.AllGather(local, all, counts));
  long long at = 0, wrong = 0;
  for (int r = 0; r < size; ++r) {
    EXPECT_EQ(counts.at(r), per + r);
    for (int i = 0; i < per + r; ++i, ++at) {
      if (at >= static_cast<long long>(all.size()) || all[at] != 1e7 * r + i) ++wrong;
    }
  }
  EXPECT_EQ(static_cast<long long>(all.size()), at);
  EXPECT_EQ(wrong, 0);
}

TEST(MpiPassCombiner, RepeatedExchangesEachGatherTheirOwnValues) {
  MpiPassCombiner combiner;
  for (int round = 0; round < 200; ++round) {
    const Exchange e = {"round", [round](int r, int) { return (round + r) % 5; },
                        [round](int r, int i) { return 1000.0 * round + 10.0 * r + i; }};
    ExpectGathered(e, combiner, combiner.Size());
  }
}

// A host that runs on part of its processes hands that communicator over;
// the exchange then stays among them. Even and odd world ranks form two.
TEST(MpiPassCombiner, StaysOnTheCommunicatorItIsGiven) {
  MPI_Comm half;
  const int worldRank = WorldRank(), worldSize = WorldSize();
  MPI_Comm_split(MPI_COMM_WORLD, worldRank % 2, worldRank, &half);
  {
    MpiPassCombiner combiner(MPI_Comm_c2f(half));
    EXPECT_TRUE(combiner.Ok());
    EXPECT_EQ(combiner.Rank(), worldRank / 2);
    EXPECT_EQ(combiner.Size(), (worldSize - worldRank % 2 + 1) / 2);
    std::vector<double> all, expected;
    std::vector<int> counts;
    EXPECT_TRUE(combiner.AllGather({static_cast<double>(worldRank)}, all, counts));
    for (int w = worldRank % 2; w < worldSize; w += 2) expected.push_back(w);
    EXPECT_EQ(all, expected);
  }
  MPI_Comm_free(&half);
}

// No communicator: nothing to exchange over, and every process refuses
// alike, without an exchange that could leave another waiting.
TEST(MpiPassCombiner, WithoutACommunicatorEveryExchangeFails) {
  MpiPassCombiner combiner(MPI_Comm_c2f(MPI_COMM_NULL));
  EXPECT_FALSE(combiner.Ok());
  EXPECT_EQ(combiner.Rank(), 0);
  EXPECT_EQ(combiner.Size(), 1);
  std::vector<double> all;
  std::vector<int> counts;
  EXPECT_FALSE(combiner.AllGather({1.0}, all, counts));
}

// ShareOf's rule worked out another way: the blocks are dealt out one by
// one in turn, which gives the first (blocks mod size) processes one block
// more, and then each process takes its count of blocks in rank order.
std::vector<VXNeural::RecordShare> DealtShares(long long records, int size) {
  const long long block = 96;
  std::vector<long long> blocksOf(size, 0);
  for (long long b = 0; b * block < records; ++b) ++blocksOf[b % size];
  std::vector<VXNeural::RecordShare> shares;
  long long at = 0;
  for (int r = 0; r < size; ++r) {
    VXNeural::RecordShare s;
    s.first = at < records ? at : records;
    at += blocksOf[r] * block;
    s.end = at < records ? at : records;
    shares.push_back(s);
  }
  return shares;
}

TEST(MpiPassCombiner, SharesAreWholeBlocksInOrderCoveringEveryRecord) {
  struct Case {
    long long records;
    int size, rank;
    long long first, end;
  };
  // By hand, with blocks of 96 records.
  const Case byHand[] = {
      {0, 1, 0, 0, 0},      {1, 1, 0, 0, 1},        {1, 2, 1, 1, 1},
      {95, 2, 0, 0, 95},    {95, 2, 1, 95, 95},     {96, 2, 0, 0, 96},
      {96, 2, 1, 96, 96},   {97, 2, 0, 0, 96},      {97, 2, 1, 96, 97},
      {1000, 3, 0, 0, 384}, {1000, 3, 1, 384, 768}, {1000, 3, 2, 768, 1000},
      {1000, 4, 0, 0, 288}, {1000, 4, 2, 576, 864}, {1000, 4, 3, 864, 1000},
  };
  for (const Case& c : byHand) {
    const VXNeural::RecordShare s = VXNeural::ShareOf(c.records, c.rank, c.size);
    EXPECT_EQ(s.first, c.first) << c.records << " records, rank " << c.rank << " of " << c.size;
    EXPECT_EQ(s.end, c.end) << c.records << " records, rank " << c.rank << " of " << c.size;
  }
  for (long long records : {0LL, 1LL, 95LL, 96LL, 97LL, 1000LL}) {
    for (int size = 1; size <= 4; ++size) {
      const std::vector<VXNeural::RecordShare> dealt = DealtShares(records, size);
      long long at = 0;
      for (int r = 0; r < size; ++r) {
        const VXNeural::RecordShare s = VXNeural::ShareOf(records, r, size);
        const std::string where = std::to_string(records) + " records, rank " + std::to_string(r) +
                                  " of " + std::to_string(size);
        EXPECT_EQ(s.first, dealt[r].first) << where;
        EXPECT_EQ(s.end, dealt[r].end) << where;
        EXPECT_EQ(s.first, at) << where;  // in order, nothing left out between
        EXPECT_LE(s.first, s.end) << where;
        if (s.end < records) {
          EXPECT_EQ((s.end - s.first) % 96, 0) << where;
        }
        at = s.end;
      }
      EXPECT_EQ(at, records) << records << " records over " << size;
    }
  }
}

}  // namespace
