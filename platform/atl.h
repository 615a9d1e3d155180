// The ATL pieces the library is written with, ours on both systems: the threading
// models and their critical sections, the module lock count, the object root with its
// interface map, CComObject<T> and CComPtr<T>.
//
// Contract, as far as the library relies on it:
// - CComObject<T>::CreateInstance makes an object with reference count 0 that holds one
//   lock on the module (_pAtlModule) until it is destroyed; FinalConstruct runs before
//   it is handed out; a failed construction leaves the output null.
// - Reference counts of CComObjectRootEx<CComMultiThreadModel> are interlocked.
// - QueryInterface answers IUnknown with the first entry of the interface map and every
//   entry's interface id, adding one reference; any other id gets E_NOINTERFACE and null.
#ifndef ZQBLOG_PLATFORM_ATL_H_
#define ZQBLOG_PLATFORM_ATL_H_

#include <climits>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace ATL {

// ---------------------------------------------------------------- module lock count

// The module object of one binary (DLL or program). Constructing it makes it the
// binary's module; every live CComObject counts in its lock count.
class CAtlModule {
 public:
  CAtlModule();
  virtual ~CAtlModule();
  CAtlModule(const CAtlModule&) = delete;
  CAtlModule& operator=(const CAtlModule&) = delete;

  virtual LONG Lock() { return InterlockedIncrement(&m_nLockCnt); }
  virtual LONG Unlock() { return InterlockedDecrement(&m_nLockCnt); }
  LONG GetLockCount() const { return m_nLockCnt; }

  volatile LONG m_nLockCnt = 0;
};

// The module of this binary; null until a CAtlModule is constructed. Each shared
// library has its own (the plug-in is built with hidden visibility).
inline CAtlModule* _pAtlModule = nullptr;

inline CAtlModule::CAtlModule() { _pAtlModule = this; }
inline CAtlModule::~CAtlModule() {
  if (_pAtlModule == this) _pAtlModule = nullptr;
}

inline void AtlModuleLock() {
  if (_pAtlModule != nullptr) _pAtlModule->Lock();
}
inline void AtlModuleUnlock() {
  if (_pAtlModule != nullptr) _pAtlModule->Unlock();
}

// ---------------------------------------------------------------- critical sections

// A re-entrant lock. Init before use, Term after; Lock/Unlock pair on one thread.
class CComCriticalSection {
 public:
  HRESULT Init() {
    InitializeCriticalSection(&m_sec);
    return S_OK;
  }
  HRESULT Term() {
    DeleteCriticalSection(&m_sec);
    return S_OK;
  }
  HRESULT Lock() {
    EnterCriticalSection(&m_sec);
    return S_OK;
  }
  HRESULT Unlock() {
    LeaveCriticalSection(&m_sec);
    return S_OK;
  }

  CRITICAL_SECTION m_sec;
};

// A CComCriticalSection initialised by its constructor and deleted by its destructor.
class CComAutoCriticalSection : public CComCriticalSection {
 public:
  CComAutoCriticalSection() { Init(); }
  ~CComAutoCriticalSection() { Term(); }
  CComAutoCriticalSection(const CComAutoCriticalSection&) = delete;
  CComAutoCriticalSection& operator=(const CComAutoCriticalSection&) = delete;
};

// A lock that does nothing.
class CComFakeCriticalSection {
 public:
  HRESULT Init() { return S_OK; }
  HRESULT Term() { return S_OK; }
  HRESULT Lock() { return S_OK; }
  HRESULT Unlock() { return S_OK; }
};

// ---------------------------------------------------------------- threading models

struct CComMultiThreadModel {
  static ULONG Increment(volatile LONG* p) { return static_cast<ULONG>(InterlockedIncrement(p)); }
  static ULONG Decrement(volatile LONG* p) { return static_cast<ULONG>(InterlockedDecrement(p)); }
  typedef CComAutoCriticalSection AutoCriticalSection;
  typedef CComCriticalSection CriticalSection;
};

struct CComSingleThreadModel {
  static ULONG Increment(volatile LONG* p) { return static_cast<ULONG>(++*p); }
  static ULONG Decrement(volatile LONG* p) { return static_cast<ULONG>(--*p); }
  typedef CComFakeCriticalSection AutoCriticalSection;
  typedef CComFakeCriticalSection CriticalSection;
};

// ---------------------------------------------------------------- object root

// One row of an interface map: the interface id and the cast from the class to it.
struct _ATL_INTMAP_ENTRY {
  const IID* piid;
  void* (*cast)(void* object);  // null ends the map
};

class CComObjectRootBase {
 public:
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // Looks iid up in the map of the object at pThis (the class that declared the map).
  // IUnknown gives the first entry. Adds one reference to what it returns.
  static HRESULT InternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* entries,
                                        REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (entries == nullptr || entries->cast == nullptr) return E_NOINTERFACE;
    const _ATL_INTMAP_ENTRY* match = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown)) {
      match = entries;
    } else {
      for (const _ATL_INTMAP_ENTRY* e = entries; e->cast != nullptr; ++e) {
        if (IsEqualGUID(iid, *e->piid)) {
          match = e;
          break;
        }
      }
    }
    if (match == nullptr) return E_NOINTERFACE;
    IUnknown* unknown = static_cast<IUnknown*>(match->cast(pThis));
    unknown->AddRef();
    *ppv = unknown;
    return S_OK;
  }

  volatile LONG m_dwRef = 0;
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
 public:
  typedef ThreadModel _ThreadModel;

  ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
  ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
  void Lock() { m_critsec.Lock(); }
  void Unlock() { m_critsec.Unlock(); }

 protected:
  typename ThreadModel::AutoCriticalSection m_critsec;
};

// ---------------------------------------------------------------- interface map

// BEGIN_COM_MAP(Class) COM_INTERFACE_ENTRY(IFoo) ... END_COM_MAP() inside a class
// derived from CComObjectRootEx gives it _InternalQueryInterface and GetUnknown.
#define BEGIN_COM_MAP(x)                                                            \
 public:                                                                            \
  typedef x _ComMapClass;                                                           \
  HRESULT _InternalQueryInterface(REFIID iid, void** ppv) {                         \
    return InternalQueryInterface(this, _GetEntries(), iid, ppv);                   \
  }                                                                                 \
  IUnknown* GetUnknown() {                                                          \
    return static_cast<IUnknown*>(_GetEntries()->cast(this));                       \
  }                                                                                 \
  static const ::ATL::_ATL_INTMAP_ENTRY* _GetEntries() {                            \
    static const ::ATL::_ATL_INTMAP_ENTRY _entries[] = {
#define COM_INTERFACE_ENTRY_IID(iid, x)                                             \
  {&(iid), [](void* p) -> void* {                                                   \
     return static_cast<IUnknown*>(static_cast<x*>(static_cast<_ComMapClass*>(p))); \
   }},
#define COM_INTERFACE_ENTRY(x) COM_INTERFACE_ENTRY_IID(IidOf<x>(), x)
#define END_COM_MAP()  \
  { nullptr, nullptr } \
  }                    \
  ;                    \
  return _entries;     \
  }

// ---------------------------------------------------------------- CComObject

// The COM identity of a class Base that derives from CComObjectRootEx and declares an
// interface map: reference counting, QueryInterface and the module lock.
template <class Base>
class CComObject : public Base {
 public:
  typedef Base _BaseClass;

  CComObject() { AtlModuleLock(); }
  virtual ~CComObject() {
    // A count far from zero, so AddRef/Release pairs inside FinalRelease cannot
    // delete the object again (LONG is 32-bit on both systems).
    this->m_dwRef = -(static_cast<LONG>(0x7FFFFFFF) / 2);
    this->FinalRelease();
    AtlModuleUnlock();
  }

  STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
  STDMETHOD_(ULONG, Release)() override {
    ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
    return this->_InternalQueryInterface(iid, ppv);
  }

  // REQUIRES: pp not null (else E_POINTER). On success *pp holds a new object with
  // reference count 0; on failure *pp is null and the result says why.
  static HRESULT CreateInstance(CComObject<Base>** pp) {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    CComObject<Base>* object = nullptr;
    try {
      object = new CComObject<Base>();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
    // FinalConstruct may hand out and drop references: keep it alive meanwhile.
    object->InternalAddRef();
    HRESULT hr = object->FinalConstruct();
    object->InternalRelease();
    if (FAILED(hr)) {
      delete object;
      return hr;
    }
    *pp = object;
    return S_OK;
  }
};

// The tail of a factory function: a new CComObject<Base>, readied by setup(object),
// handed out in *out with the caller's one reference. E_POINTER for a null out;
// otherwise *out is null on failure (CreateInstance's result) and setup is not called.
template <class Base, class Interface, class Setup>
HRESULT CreateObjectWithReference(Interface** out, Setup setup) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CComObject<Base>* object = nullptr;
  HRESULT hr = CComObject<Base>::CreateInstance(&object);
  if (FAILED(hr)) return hr;
  setup(object);
  object->AddRef();
  *out = object;
  return S_OK;
}

template <class Base, class Interface>
HRESULT CreateObjectWithReference(Interface** out) {
  return CreateObjectWithReference<Base>(out, [](Base*) {});
}

// ---------------------------------------------------------------- CComPtr

// Owns one reference on a T (null allowed).
template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* p) : p(p) {  // NOLINT: implicit, as ATL's
    if (p != nullptr) p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p) {}
  CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
  ~CComPtr() { Release(); }

  CComPtr& operator=(T* q) {
    if (q != nullptr) q->AddRef();
    T* old = p;
    p = q;
    if (old != nullptr) old->Release();
    return *this;
  }
  CComPtr& operator=(const CComPtr& other) { return *this = other.p; }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != std::addressof(other)) {  // operator& is overloaded
      Release();
      p = other.p;
      other.p = nullptr;
    }
    return *this;
  }

  operator T*() const { return p; }  // NOLINT: implicit, as ATL's
  T* operator->() const { return p; }
  T& operator*() const { return *p; }
  // REQUIRES: empty (the previous pointer would leak otherwise).
  T** operator&() { return &p; }
  bool operator!() const { return p == nullptr; }

  // Drops the reference and becomes empty.
  void Release() {
    T* old = p;
    if (old != nullptr) {
      p = nullptr;
      old->Release();
    }
  }
  // Takes over a reference the caller owns.
  void Attach(T* q) {
    Release();
    p = q;
  }
  // Gives up the reference without releasing it.
  T* Detach() {
    T* q = p;
    p = nullptr;
    return q;
  }
  // Writes the pointer with one more reference for the caller.
  HRESULT CopyTo(T** out) const {
    if (out == nullptr) return E_POINTER;
    *out = p;
    if (p != nullptr) p->AddRef();
    return S_OK;
  }
  template <class Q>
  HRESULT QueryInterface(Q** out) const {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (p == nullptr) return E_POINTER;
    return p->QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(out));
  }

  T* p = nullptr;
};

}  // namespace ATL

using namespace ATL;  // NOLINT: the library is written against ATL's names

#endif  // ZQBLOG_PLATFORM_ATL_H_
