#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

bool TryEnterFromOtherThread(CRITICAL_SECTION* cs) {
  bool entered = false;
  std::thread other([&] {
    entered = TryEnterCriticalSection(cs) != FALSE;
    if (entered) LeaveCriticalSection(cs);
  });
  other.join();
  return entered;
}

TEST(CriticalSectionTest, OwnerMayEnterAgainAndMustLeaveAsOften) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(TryEnterFromOtherThread(&cs)) << "still held once";
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(TryEnterFromOtherThread(&cs));
  DeleteCriticalSection(&cs);
}

TEST(CriticalSectionTest, ExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&cs, 4000));
  long counter = 0;  // guarded by cs only
  int inside = 0;
  std::atomic<bool> overlap(false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        EnterCriticalSection(&cs);
        if (++inside != 1) overlap = true;
        ++counter;
        --inside;
        LeaveCriticalSection(&cs);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(80000, counter);
  EXPECT_FALSE(overlap);
  DeleteCriticalSection(&cs);
}

TEST(LastErrorTest, IsPerThread) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  DWORD seenByOther = 1;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  });
  other.join();
  EXPECT_EQ(0u, seenByOther);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(InterlockedTest, ReturnsTheNewOrPreviousValueAndCountsAcrossThreads) {
  volatile LONG value = 5;
  EXPECT_EQ(6, InterlockedIncrement(&value));
  EXPECT_EQ(5, InterlockedDecrement(&value));
  EXPECT_EQ(5, InterlockedExchange(&value, 9));
  EXPECT_EQ(9, InterlockedCompareExchange(&value, 1, 8));  // no match: unchanged
  EXPECT_EQ(9, value);
  EXPECT_EQ(9, InterlockedCompareExchange(&value, 1, 9));
  EXPECT_EQ(1, value);

  volatile LONG counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) InterlockedIncrement(&counter);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(40000, counter);
}

}  // namespace
