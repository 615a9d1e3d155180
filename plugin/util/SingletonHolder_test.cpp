#include "util/SingletonHolder.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "util/CriticalSection.h"
#include "util/FakeMutex.h"

namespace {

using TAVO::Pattern::FakeMutex;
using TAVO::Pattern::SingletonHolder;
using TAVO::System::Thread::CriticalSection;

// Each test uses its own class: the destroyed flag of a singleton is for good.
template <int kTag>
class Counted {
 public:
  static std::atomic<int> constructed;
  static std::atomic<int> destroyed;
  static std::atomic<bool> flagSeenInDestructor;

  int value = 17;

 protected:
  Counted() {
    ++constructed;
    // Widen the window in which a second thread could also construct.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  virtual ~Counted() {
    ++destroyed;
    flagSeenInDestructor = SingletonHolder<Counted, CriticalSection>::Destroyed();
  }
};
template <int kTag>
std::atomic<int> Counted<kTag>::constructed(0);
template <int kTag>
std::atomic<int> Counted<kTag>::destroyed(0);
template <int kTag>
std::atomic<bool> Counted<kTag>::flagSeenInDestructor(false);

TEST(SingletonHolderTest, ManyThreadsGetOneInstance) {
  typedef Counted<1> T;
  typedef SingletonHolder<T, CriticalSection> Holder;
  std::vector<T*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([i, &seen] { seen[i] = Holder::Instance(); });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_NE(nullptr, seen[0]);
  for (T* p : seen) EXPECT_EQ(seen[0], p);
  EXPECT_EQ(1, T::constructed);
  EXPECT_EQ(17, seen[0]->value);
  EXPECT_EQ(seen[0], Holder::Instance());
  EXPECT_FALSE(Holder::Destroyed());
}

TEST(SingletonHolderTest, DestroyedFlagIsSetBeforeTheInstanceGoes) {
  typedef Counted<2> T;
  typedef SingletonHolder<T, CriticalSection> Holder;
  ASSERT_NE(nullptr, Holder::Instance());
  EXPECT_FALSE(Holder::Destroyed());
  Holder::Destroy();
  EXPECT_EQ(1, T::destroyed);
  EXPECT_TRUE(T::flagSeenInDestructor) << "the destructor of T must already see the flag";
  EXPECT_TRUE(Holder::Destroyed());
}

TEST(SingletonHolderTest, NoResurrectionAfterDestruction) {
  typedef Counted<3> T;
  typedef SingletonHolder<T, CriticalSection> Holder;
  ASSERT_NE(nullptr, Holder::Instance());
  Holder::Destroy();
  EXPECT_EQ(nullptr, Holder::Instance());
  EXPECT_EQ(1, T::constructed);
  Holder::Destroy();  // nothing left: harmless
  EXPECT_EQ(1, T::destroyed);
}

TEST(SingletonHolderTest, DestroyBeforeFirstUseMeansNeverCreated) {
  typedef Counted<4> T;
  typedef SingletonHolder<T, CriticalSection> Holder;
  Holder::Destroy();
  EXPECT_TRUE(Holder::Destroyed());
  EXPECT_EQ(nullptr, Holder::Instance());
  EXPECT_EQ(0, T::constructed);
}

class Plain {
 public:
  int calls = 0;
};

TEST(SingletonHolderTest, WorksWithTheFakeMutex) {
  typedef SingletonHolder<Plain, FakeMutex> Holder;
  Plain* first = Holder::Instance();
  ASSERT_NE(nullptr, first);
  first->calls = 3;
  EXPECT_EQ(3, Holder::Instance()->calls);
}

class Throwing {
 public:
  static int attempts;

 protected:
  Throwing() {
    if (++attempts == 1) throw std::runtime_error("first construction fails");
  }
};
int Throwing::attempts = 0;

TEST(SingletonHolderTest, AFailedConstructionLeavesNoInstanceAndReleasesTheLock) {
  typedef SingletonHolder<Throwing, CriticalSection> Holder;
  EXPECT_THROW(Holder::Instance(), std::runtime_error);
  EXPECT_FALSE(Holder::Destroyed());
  // Another thread can take the lock and construct.
  Throwing* second = nullptr;
  std::thread other([&second] { second = Holder::Instance(); });
  other.join();
  EXPECT_NE(nullptr, second);
  EXPECT_EQ(2, Throwing::attempts);
}

}  // namespace
