#include "store/num_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "store/store_constants.h"

namespace {

void Fill(NumArray& a, std::initializer_list<double> values) {
  a.Resize(static_cast<int32_t>(values.size()));
  int i = 0;
  for (double v : values) a[i++] = v;
}

bool Aligned(const void* p) {
  return reinterpret_cast<uintptr_t>(p) % kNumArrayAlignment == 0;
}

TEST(NumArrayTest, ResizeKeepsContentAtSameCountAndReallocatesOtherwise) {
  NumArray a;
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.count, 0);
  Fill(a, {1.0, 2.0, 3.0});
  ASSERT_TRUE(Aligned(a.data));
  double* before = a.data;
  a.Resize(3);
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(a[2], 3.0);

  a.Resize(1000);
  EXPECT_EQ(a.count, 1000);
  ASSERT_TRUE(a.HasData());
  EXPECT_TRUE(Aligned(a.data));

  // A resized array always has data, even at count 0.
  a.Resize(0);
  EXPECT_EQ(a.count, 0);
  EXPECT_TRUE(a.HasData());
}

TEST(NumArrayTest, ResizeGivesAnAbsentArrayDataAtItsOwnCount) {
  NumArray a;
  a.count = 5;  // absent: a count without data
  a.Resize(5);
  EXPECT_EQ(a.count, 5);
  ASSERT_TRUE(a.HasData());
  a[4] = 1.0;  // writable
}

TEST(NumArrayTest, FreeClearsCountOnlyWhenThereWasData) {
  NumArray a;
  a.Resize(4);
  a.Free();
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.count, 0);

  NumArray absent;
  absent.count = 7;
  absent.Free();
  EXPECT_EQ(absent.data, nullptr);
  EXPECT_EQ(absent.count, 7);
}

TEST(NumArrayTest, MoveTransfersOwnership) {
  NumArray a;
  Fill(a, {4.0, 5.0});
  double* block = a.data;
  NumArray b(std::move(a));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(b.data, block);
  NumArray c;
  Fill(c, {1.0});
  c = std::move(b);
  EXPECT_EQ(c.data, block);
  EXPECT_EQ(c.count, 2);
  EXPECT_EQ(b.data, nullptr);
}

TEST(NumArrayTest, SubtractRulesForAbsentArrays) {
  NumArray a, b;
  Fill(a, {5.0, 1.0, -2.0});
  Fill(b, {1.0, 2.0, 3.0});
  a.Subtract(b);
  EXPECT_EQ(a[0], 4.0);
  EXPECT_EQ(a[1], -1.0);
  EXPECT_EQ(a[2], -5.0);

  // Subtracting an absent array changes nothing, not even an absent target.
  NumArray absent_other;
  absent_other.count = 3;
  double* before = a.data;
  a.Subtract(absent_other);
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(a[0], 4.0);
  NumArray absent_this;
  absent_this.count = 3;
  absent_this.Subtract(absent_other);
  EXPECT_FALSE(absent_this.HasData());

  // Subtracting from an absent array gives the negated other.
  absent_this.Subtract(b);
  ASSERT_TRUE(absent_this.HasData());
  EXPECT_EQ(absent_this.count, 3);
  EXPECT_EQ(absent_this[0], -1.0);
  EXPECT_EQ(absent_this[1], -2.0);
  EXPECT_EQ(absent_this[2], -3.0);
}

TEST(NumArrayTest, ClampBelowRaisesNegativesAndNanAndMaterialisesAbsent) {
  NumArray a;
  Fill(a, {-1.5, 0.25, std::numeric_limits<double>::quiet_NaN(), -0.0, 3.0,
           -std::numeric_limits<double>::infinity()});
  a.ClampBelow(0.0);
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(a[1], 0.25);
  EXPECT_EQ(a[2], 0.0);
  EXPECT_EQ(a[3], 0.0);
  EXPECT_EQ(a[4], 3.0);
  EXPECT_EQ(a[5], 0.0);

  NumArray absent;
  absent.count = 4;
  absent.ClampBelow(0.0);
  ASSERT_TRUE(absent.HasData());
  EXPECT_EQ(absent.count, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(std::bit_cast<uint64_t>(absent[i]), 0u);

  NumArray b;
  Fill(b, {-1.0, 2.0});
  b.ClampBelow(1.0);
  EXPECT_EQ(b[0], 1.0);
  EXPECT_EQ(b[1], 2.0);
}

// Freed blocks are handed out again by size: every array gets aligned room for
// its whole count whatever block it gets, on any thread, across the class
// boundaries, and also after its count was changed by hand before the free.
TEST(NumArrayTest, ReusedBlocksHoldTheirWholeCountOnEveryThread) {
  auto churn = [](uint32_t seed) {
    bool ok = true;
    for (int round = 0; round < 200; ++round) {
      std::vector<NumArray> arrays;
      for (int32_t n : {1, 63, 64, 65, 127, 128, 404, 1081, 1535, 1536, 1537, 3000}) {
        NumArray a(n + static_cast<int32_t>((seed + round) % 3));
        ok = ok && Aligned(a.data);
        for (int32_t i = 0; i < a.count; ++i) a[i] = seed + i;
        arrays.push_back(std::move(a));
      }
      for (NumArray& a : arrays)
        for (int32_t i = 0; i < a.count; ++i) ok = ok && a[i] == seed + i;
      // A count lowered by hand before the free, then a larger array of the
      // block's class.
      arrays[6].count = 3;
      arrays[6].Free();
      NumArray b(1081);
      for (int32_t i = 0; i < b.count; ++i) b[i] = -i;
      ok = ok && b[1080] == -1080.0;
      // Arrays freed on another thread than the one that made them.
      std::thread other([moved = std::move(arrays)]() mutable { moved.clear(); });
      other.join();
    }
    return ok;
  };
  bool results[4] = {};
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) threads.emplace_back([&, t] { results[t] = churn(t * 10); });
  for (std::thread& t : threads) t.join();
  for (bool ok : results) EXPECT_TRUE(ok);
  EXPECT_TRUE(churn(99));
}

// A kept block keeps the class it was made for through any number of reuses:
// handed out again and again at different counts of its class, it always goes
// back to that class and holds the class's largest count.
TEST(NumArrayTest, BlocksKeepTheirClassThroughRepeatedReuse) {
  for (int round = 0; round < 50; ++round) {
    NumArray a(65 + round % 64);  // class 1: 65 ... 128 values
    for (int32_t i = 0; i < a.count; ++i) a[i] = i;
    a.Resize(1000);  // frees the class-1 block, takes one of another class
    a.Resize(3);     // and back to class 0
    NumArray b(128);  // the largest count of class 1, possibly the first block
    ASSERT_TRUE(b.HasData());
    for (int32_t i = 0; i < b.count; ++i) b[i] = -i;
    EXPECT_EQ(b[127], -127.0);
    EXPECT_EQ(a.count, 3);
  }
}

// A node drops its children's arrays together: bursts of frees beyond what a
// thread keeps, in several classes, then as many arrays again. Every array
// must get a block of its own, whichever were kept and whichever went back.
TEST(NumArrayTest, BurstsOfFreesHandEveryArrayABlockOfItsOwn) {
  for (int round = 0; round < 3; ++round) {
    std::vector<NumArray> arrays;
    for (int k = 0; k < 600; ++k) arrays.emplace_back(k % 2 ? 1536 : 300 + round);
    arrays.clear();
    for (int k = 0; k < 600; ++k) {
      arrays.emplace_back(k % 3 ? 1500 : 290);
      NumArray& a = arrays.back();
      for (int32_t i = 0; i < a.count; ++i) a[i] = k;
    }
    std::set<const double*> starts;
    for (int k = 0; k < 600; ++k) {
      const NumArray& a = arrays[static_cast<size_t>(k)];
      starts.insert(a.data);
      ASSERT_EQ(a[0], k);
      ASSERT_EQ(a[a.count - 1], k);
    }
    EXPECT_EQ(starts.size(), 600u);
  }
}

// What a block holds: at least the count it was made for, through reuse and in
// and beyond the kept classes; every value up to it may be written (the
// sanitizer build checks), so an array kept for reuse may take that count.
TEST(NumArrayTest, CapacityCoversTheCountAndMayBeFilled) {
  EXPECT_EQ(NumArray().Capacity(), 0);
  NumArray absent;
  absent.count = 40;
  EXPECT_EQ(absent.Capacity(), 0);
  for (int round = 0; round < 3; ++round) {
    for (int32_t n : {0, 1, 63, 64, 65, 404, 1326, 1536, 1537, 5000}) {
      NumArray a(n);
      const int32_t capacity = a.Capacity();
      EXPECT_GE(capacity, std::max(n, 1)) << n;
      a.count = capacity;
      for (int32_t i = 0; i < capacity; ++i) a[i] = i;
      EXPECT_EQ(a[capacity - 1], capacity - 1);
    }
  }
}

TEST(NumArrayTest, MakeNumArraysGivesEmptyArrays) {
  std::vector<NumArray> arrays = MakeNumArrays(3);
  ASSERT_EQ(arrays.size(), 3u);
  for (const NumArray& a : arrays) {
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.count, 0);
  }
  EXPECT_TRUE(MakeNumArrays(0).empty());
}

TEST(FloatArrayTest, FreeKeepsCountAndResizeThenGivesDataBack) {
  FloatArray f;
  f.Resize(6);
  ASSERT_TRUE(f.HasData());
  EXPECT_TRUE(Aligned(f.data));
  f.Free();
  EXPECT_EQ(f.data, nullptr);
  EXPECT_EQ(f.count, 6);
  f.Free();
  EXPECT_EQ(f.count, 6);
  // A freed store row resized to its own count must be writable again.
  f.Resize(6);
  ASSERT_TRUE(f.HasData());
  f.data[5] = 1.0f;
  float* before = f.data;
  f.Resize(6);
  EXPECT_EQ(f.data, before);
  EXPECT_EQ(f.data[5], 1.0f);
}

TEST(FloatArrayTest, AssignCopiesAndTreatsAbsentSourceAsZeros) {
  FloatArray src, dst;
  src.Resize(3);
  src.data[0] = 1.0f;
  src.data[1] = -2.0f;
  src.data[2] = 0.5f;
  dst.Assign(src);
  ASSERT_EQ(dst.count, 3);
  EXPECT_NE(dst.data, src.data);
  EXPECT_EQ(dst.data[1], -2.0f);
  dst.Assign(dst);  // self-assignment keeps the values
  EXPECT_EQ(dst.data[2], 0.5f);

  FloatArray absent;
  absent.count = 3;
  dst.Assign(absent);
  ASSERT_TRUE(dst.HasData());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dst.data[i], 0.0f);
}

TEST(StoreConstantsTest, ProgramWideValues) {
  EXPECT_EQ(g_card_value_scale, 150);
  EXPECT_EQ(std::bit_cast<uint32_t>(g_flt_min), 0x00800000u);
  EXPECT_EQ(g_flt_min, std::ldexp(1.0f, -126));
}

}  // namespace
