// FakeShareSessionManager: a share-session manager for the host's tests that reports a
// fixed role and offers nothing else (E_NOTIMPL), enough for a stand-alone plug-in.
// Header-only; used by tests only.
#ifndef ZQBLOG_HOST_TEST_FAKESHARESESSIONMANAGER_H_
#define ZQBLOG_HOST_TEST_FAKESHARESESSIONMANAGER_H_

#include <atomic>

#include "interfaces/IShareSessionManager.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class FakeShareSessionManager : public CComObjectRootEx<CComMultiThreadModel>,
                                public IShareSessionManager {
 public:
  BEGIN_COM_MAP(FakeShareSessionManager)
  COM_INTERFACE_ENTRY(IShareSessionManager)
  END_COM_MAP()

  static CComPtr<IShareSessionManager> Create(int role) {
    CComObject<FakeShareSessionManager>* manager = nullptr;
    CComObject<FakeShareSessionManager>::CreateInstance(&manager);
    manager->role_ = role;
    return CComPtr<IShareSessionManager>(manager);
  }

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetRole)(int* role) override {
    role_asked_++;
    *role = role_;
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR, int) override { return E_NOTIMPL; }
  STDMETHOD(GetModuleServer)(LPCSTR, int, IShareSessionServer** server) override {
    if (server != nullptr) *server = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetModuleChannel)(LPCSTR, int, IShareSessionChannel** channel) override {
    if (channel != nullptr) *channel = nullptr;
    return E_NOTIMPL;
  }

  int RoleAsked() const { return role_asked_.load(); }

 private:
  int role_ = 2;
  std::atomic<int> role_asked_{0};
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_FAKESHARESESSIONMANAGER_H_
