#include <gtest/gtest.h>
#include <omp.h>

#include <cstdlib>
#include <thread>

#include "platform/cpu_features.h"
#include "platform/files.h"
#include "platform/fp_mode.h"
#include "platform/isa_dispatch.h"
#include "platform/memory_status.h"
#include "platform/system_time.h"
#include "platform/text_encoding.h"
#include "solver/libsubgame.h"
#include "support/process_runner.h"

TEST(CpuFeatures, AvxNeedsTheOsToSaveYmmState) {
  const uint32_t avx_ecx = (1u << 28) | (1u << 27) | (1u << 12);  // AVX, OSXSAVE, FMA
  const uint32_t avx2_ebx = 1u << 5;
  EXPECT_TRUE(DecodeCpuFeatures(avx_ecx, avx2_ebx, 0x7) & CPU_AVX);
  EXPECT_TRUE(DecodeCpuFeatures(avx_ecx, avx2_ebx, 0x7) & CPU_AVX2);
  EXPECT_FALSE(DecodeCpuFeatures(avx_ecx, avx2_ebx, 0x3) & CPU_AVX);
  EXPECT_FALSE(DecodeCpuFeatures(avx_ecx, avx2_ebx, 0x3) & CPU_AVX2);
  EXPECT_FALSE(DecodeCpuFeatures(avx_ecx & ~(1u << 27), avx2_ebx, 0x7) & CPU_AVX);
  EXPECT_FALSE(DecodeCpuFeatures(1u << 27, 0, 0x7) & CPU_AVX);
  EXPECT_TRUE(CpuHasAvx());  // the suite itself needs AVX to run
  // Reading the features chose the kernel build, or the lower one asked for.
  EXPECT_EQ(g_kernel_build, ChooseKernelBuild(g_cpu_features, std::getenv("TDX_KERNEL_BUILD")));
}

TEST(CpuFeatures, Avx512NeedsTheOsToSaveOpmaskAndZmmState) {
  const uint32_t avx_ecx = (1u << 28) | (1u << 27) | (1u << 12);  // AVX, OSXSAVE, FMA
  const uint32_t avx512_ebx = (1u << 5) | (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
  EXPECT_TRUE(DecodeCpuFeatures(avx_ecx, avx512_ebx, 0xe7) & CPU_AVX512);
  EXPECT_FALSE(DecodeCpuFeatures(avx_ecx, avx512_ebx, 0x67) & CPU_AVX512);  // no high ZMM
  EXPECT_FALSE(DecodeCpuFeatures(avx_ecx, avx512_ebx, 0x7) & CPU_AVX512);
  EXPECT_FALSE(DecodeCpuFeatures(avx_ecx, avx512_ebx, 0xe3) & CPU_AVX512);  // no YMM state
  // Each of F, DQ, BW and VL is needed.
  for (int bit : {16, 17, 30, 31})
    EXPECT_FALSE(DecodeCpuFeatures(avx_ecx, avx512_ebx & ~(1u << bit), 0xe7) & CPU_AVX512) << bit;
}

TEST(CpuFeatures, TheBuildIsTheBestThatRunsOrALowerOneAskedFor) {
  const uint32_t avx = CPU_FEATURES_READ | CPU_AVX | CPU_POPCNT;
  const uint32_t avx2 = avx | CPU_AVX2 | CPU_FMA;
  const uint32_t avx512 = avx2 | CPU_AVX512;
  EXPECT_EQ(ChooseKernelBuild(avx512, nullptr), KernelBuild::kAvx512);
  EXPECT_EQ(ChooseKernelBuild(avx2, nullptr), KernelBuild::kAvx2Fma);
  EXPECT_EQ(ChooseKernelBuild(avx, nullptr), KernelBuild::kAvx);
  // AVX2 without FMA, or AVX-512 bits without AVX2/FMA, runs the plain AVX build.
  EXPECT_EQ(ChooseKernelBuild(avx | CPU_AVX2, nullptr), KernelBuild::kAvx);
  EXPECT_EQ(ChooseKernelBuild(avx | CPU_AVX512, nullptr), KernelBuild::kAvx);

  EXPECT_EQ(ChooseKernelBuild(avx512, "avx2"), KernelBuild::kAvx2Fma);
  EXPECT_EQ(ChooseKernelBuild(avx512, "avx"), KernelBuild::kAvx);
  EXPECT_EQ(ChooseKernelBuild(avx2, "avx"), KernelBuild::kAvx);
  // Never a build above what the processor runs; unknown words change nothing.
  EXPECT_EQ(ChooseKernelBuild(avx, "avx2"), KernelBuild::kAvx);
  EXPECT_EQ(ChooseKernelBuild(avx2, "avx512"), KernelBuild::kAvx2Fma);
  EXPECT_EQ(ChooseKernelBuild(avx512, ""), KernelBuild::kAvx512);
  EXPECT_EQ(ChooseKernelBuild(avx512, "AVX"), KernelBuild::kAvx512);
  EXPECT_EQ(ChooseKernelBuild(avx512, "avx2 "), KernelBuild::kAvx512);
}

TEST(MemoryStatus, ParsesMeminfoAndAppliesTheCgroupLimit) {
  uint64_t total = 0, available = 0;
  ASSERT_TRUE(ParseMemInfo("MemTotal:       8000000 kB\nMemFree: 100 kB\nMemAvailable:   2000000 kB\n",
                           &total, &available));
  EXPECT_EQ(total, 8000000ull * 1024);
  EXPECT_EQ(available, 2000000ull * 1024);
  ASSERT_TRUE(ParseMemInfo("MemTotal: 1000 kB\nMemFree: 400 kB\n", &total, &available));
  EXPECT_EQ(available, 400ull * 1024);
  EXPECT_FALSE(ParseMemInfo("MemFree: 400 kB\n", &total, &available));

  MemoryStatus status = MakeMemoryStatus(1000, 250, 0, 0);
  EXPECT_EQ(status.load_percent, 75u);
  status = MakeMemoryStatus(1000, 900, 400, 300);  // a 400-byte cgroup with 300 in use
  EXPECT_EQ(status.total_bytes, 400u);
  EXPECT_EQ(status.available_bytes, 100u);
  EXPECT_EQ(status.load_percent, 75u);
  status = MakeMemoryStatus(1000, 900, 400, 500);  // over its limit
  EXPECT_EQ(status.available_bytes, 0u);
  EXPECT_EQ(status.load_percent, 100u);

  ASSERT_TRUE(QueryMemoryStatus(&status));
  EXPECT_GT(status.total_bytes, 0u);
  EXPECT_LE(status.available_bytes, status.total_bytes);
  EXPECT_LE(status.load_percent, 100u);
}

TEST(TextEncoding, Latin1AndUtf8) {
  EXPECT_EQ(Latin1ToUtf8("a\xe9\xff"), "a\xc3\xa9\xc3\xbf");
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x82\xa1"));
  EXPECT_FALSE(IsValidUtf8("\xe9"));              // a Latin-1 byte
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xe2\x82"));          // cut short
  EXPECT_THROW(RequireUtf8FileName("\xff.txt"), std::runtime_error);
}

TEST(Files, ExistsMeansNotADirectory) {
  const std::string dir = MakeTempDir();
  EXPECT_FALSE(FileExists(dir));
  EXPECT_FALSE(FileExists(dir + "/none"));
  FILE* f = std::fopen((dir + "/f").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(FileExists(dir + "/f"));
}

TEST(SystemTime, TicksCountFrom1601) {
  // 2020-01-01 in 100-ns ticks since 1601; the clock must be past it.
  EXPECT_GT(GetSystemTimeTicks(), 132223104000000000ull);
  const int64_t a = ReadClockTicks();
  SleepMilliseconds(5);
  EXPECT_GE(ReadClockTicks() - a, ClockFrequency() / 1000 * 5);
}

TEST(FpMode, OnlyTheCommandThreadFlushesToZero) {
  const uint32_t saved = ReadFpControl();
  EnableFlushToZero();
  EXPECT_EQ(ReadFpControl() & kMxcsrFlushToZeroBits, kMxcsrFlushToZeroBits);
  uint32_t other = 0;
  {
    ScopedDefaultFpMode default_mode;
    std::thread([&] { other = ReadFpControl(); }).join();
  }
  EXPECT_EQ(other & kMxcsrFlushToZeroBits, 0u);
  EXPECT_EQ(ReadFpControl() & kMxcsrFlushToZeroBits, kMxcsrFlushToZeroBits);

  libsubgame_init(0);
  int flushing_workers = 0;
#pragma omp parallel reduction(+ : flushing_workers)
  if (omp_get_thread_num() != 0 && (ReadFpControl() & kMxcsrFlushToZeroBits)) ++flushing_workers;
  EXPECT_EQ(flushing_workers, 0);
  WriteFpControl(saved);
}
