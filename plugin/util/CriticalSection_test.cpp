#include "util/CriticalSection.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using TAVO::System::Thread::CriticalSection;
using TAVO::System::Thread::ScopedLock;

bool TryLockFromOtherThread(CriticalSection& lock) {
  bool taken = false;
  std::thread other([&] {
    taken = lock.TryLock();
    if (taken) lock.Unlock();
  });
  other.join();
  return taken;
}

TEST(CriticalSectionTest, KeepsItsName) {
  CriticalSection named("AlbumListLock");
  EXPECT_EQ("AlbumListLock", named.Name());
  CriticalSection unnamed;
  EXPECT_EQ("", unnamed.Name());
  CriticalSection nullName(nullptr);
  EXPECT_EQ("", nullName.Name());
}

TEST(CriticalSectionTest, OwnerMayLockAgain) {
  CriticalSection lock("ResultLock");
  lock.Lock();
  lock.Lock();
  EXPECT_TRUE(lock.TryLock());
  lock.Unlock();
  lock.Unlock();
  EXPECT_FALSE(TryLockFromOtherThread(lock)) << "one Lock still outstanding";
  lock.Unlock();
  EXPECT_TRUE(TryLockFromOtherThread(lock));
}

TEST(CriticalSectionTest, ScopedLockHoldsForItsScope) {
  CriticalSection lock;
  {
    ScopedLock<CriticalSection> hold(lock);
    EXPECT_FALSE(TryLockFromOtherThread(lock));
    {
      ScopedLock<CriticalSection> again(lock);  // re-entrant
    }
    EXPECT_FALSE(TryLockFromOtherThread(lock));
  }
  EXPECT_TRUE(TryLockFromOtherThread(lock));
}

TEST(CriticalSectionTest, ExcludesOtherThreads) {
  CriticalSection lock("counter");
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        ScopedLock<CriticalSection> hold(lock);
        int seen = counter;
        counter = seen + 1;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(40000, counter);
}

}  // namespace
