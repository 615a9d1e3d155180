// The COM basics every test of the library's objects uses (included by *_test.cpp and
// the test-support headers only): reference counts, the module lock count, and the
// IUnknown part of the host objects the tests fake.
#ifndef ZQBLOG_TEST_COMTESTSUPPORT_H_
#define ZQBLOG_TEST_COMTESTSUPPORT_H_

#include <atomic>
#include <optional>

#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {
namespace com_testing {

// The current reference count of object, read through AddRef and Release.
inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// Watches the module lock count from construction on. Uses the binary's module when
// there is one, else makes a module of its own for its lifetime.
class ModuleLockWatch {
 public:
  ModuleLockWatch() {
    if (_pAtlModule == nullptr) own_.emplace();
    start_ = _pAtlModule->GetLockCount();
  }
  // Locks taken since construction and not yet released.
  LONG Delta() const { return _pAtlModule->GetLockCount() - start_; }

 private:
  std::optional<CAtlModule> own_;
  LONG start_ = 0;
};

// The IUnknown part of a fake host object: QueryInterface for IUnknown and I, and an
// interlocked count. Owned by its references (deleted when the count reaches zero), or,
// with kTestOwned, by the test, which reads refs() and deletes it itself.
enum class Ownership { kByReferences, kTestOwned };

template <class I, Ownership kOwnership = Ownership::kByReferences>
class Fake : public I {
 public:
  Fake() = default;
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;
  virtual ~Fake() = default;

  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IidOf<I>())) {
      *ppv = static_cast<I*>(this);
      this->AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
  STDMETHOD_(ULONG, Release)() override {
    ULONG left = --refs_;
    if (kOwnership == Ownership::kByReferences && left == 0) delete this;
    return left;
  }

  // References held now (by others than the test, for a test-owned fake).
  ULONG refs() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{0};
};

// A fake the test owns: its count never deletes it.
template <class I>
using Counted = Fake<I, Ownership::kTestOwned>;

}  // namespace com_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_COMTESTSUPPORT_H_
