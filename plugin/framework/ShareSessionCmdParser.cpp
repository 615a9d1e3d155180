#include "framework/ShareSessionCmdParser.h"

#include "interfaces/IBaseShareSessionCmd.h"
#include "interfaces/IShareSessionMessage.h"

namespace Velmora {
namespace ZQBlog {
namespace {

constexpr int kCommandNameBufferSize = 260;

}  // namespace

using TAVO::System::Thread::ScopedLock;
using TAVO::System::Thread::CriticalSection;

ShareSessionCmdParser::ShareSessionCmdParser() : lock_("ShareSessionCmdParser") {}

bool ShareSessionCmdParser::Register(const std::string& name, CommandFactory factory) {
  ScopedLock<CriticalSection> guard(lock_);
  return factories_.emplace(name, factory).second;
}

CommandFactory ShareSessionCmdParser::Find(const std::string& name) {
  ScopedLock<CriticalSection> guard(lock_);
  auto it = factories_.find(name);
  return it == factories_.end() ? nullptr : it->second;
}

STDMETHODIMP ShareSessionCmdParser::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IOnRecvShareSessionOperationEvent)) {
    *ppv = static_cast<IOnRecvShareSessionOperationEvent*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ShareSessionCmdParser::OnRecvOperation(IShareSessionMessage* request) {
  if (request == nullptr) return S_OK;
  char name[kCommandNameBufferSize] = {};
  if (FAILED(request->GetName(name, sizeof(name)))) return S_OK;
  name[sizeof(name) - 1] = '\0';

  ScopedLock<CriticalSection> guard(lock_);
  auto it = factories_.find(name);
  if (it == factories_.end()) return S_OK;
  IWorkshopCmd* created = nullptr;
  if (FAILED(it->second(&created)) || created == nullptr) return S_OK;
  // The factory hands out a count of 0: hold the command while it is set up, so that a
  // command nobody takes over is destroyed here instead of leaking.
  CComPtr<IWorkshopCmd> command(created);
  CComPtr<IBaseShareSessionCmd> shareable;
  if (FAILED(command.QueryInterface(&shareable)) || !shareable) return S_FALSE;
  shareable->SetOperationMessage(request);
  return S_OK;
}

STDMETHODIMP ShareSessionCmdParser::OnRecvOperationResult(IShareSessionMessage* /*result*/) {
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora
