#include "module/ZQBlogPlugin.h"

#include <cwctype>
#include <exception>

#include "framework/ShareSessionCmdParserManager.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IZQCPPlatform.h"
#include "interfaces/IZQCPPluginRegistry.h"
#include "module/HostPlatform.h"
#include "module/ZQCPWarpper.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/SingletonHolder.h"

namespace Velmora {
namespace ZQBlog {

const char kModuleName[] = "ZQBlog";
const wchar_t kPluginName[] = L"Velmora.Community.ZQBlog";

namespace {

// The process-wide command-id counter.
volatile LONG g_commandCounter = 0;

// Share-session roles the host reports.
constexpr int kRoleForward = 0;
constexpr int kRoleServe = 1;

}  // namespace

ZQBlogPlugin_* ZQBlogPlugin_::Instance() {
  return TAVO::Pattern::SingletonHolder<ZQBlogPlugin_,
                                        TAVO::System::Thread::CriticalSection>::Instance();
}

ZQBlogPlugin_::ZQBlogPlugin_() {
  lock_.Init();
  InterlockedExchange(&g_commandCounter, 0);
}

ZQBlogPlugin_::~ZQBlogPlugin_() { lock_.Term(); }

int ZQBlogPlugin_::NextCommandId() { return InterlockedIncrement(&g_commandCounter); }

// ---------------------------------------------------------------- IUnknown

STDMETHODIMP ZQBlogPlugin_::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IZQBlog)) {
    *ppv = static_cast<IZQBlog*>(this);
    return S_OK;
  }
  if (IsEqualGUID(iid, IID_IZQBlogOperation)) {
    *ppv = static_cast<IZQBlogOperation*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ZQBlogPlugin_::AddRef() { return static_cast<ULONG>(++refCount_); }

// Reaching zero does not destroy the object: the singleton holder still refers to it
// and hands it out again, so it lives as long as the library.
STDMETHODIMP_(ULONG) ZQBlogPlugin_::Release() { return static_cast<ULONG>(--refCount_); }

// ---------------------------------------------------------------- IZQCPPlugin

STDMETHODIMP ZQBlogPlugin_::Initialize(IUnknown* platformUnknown) {
  ZQCP::ZQCPWarpper_* wrapper = ZQCP::ZQCPWarpper_::Instance();
  if (wrapper != nullptr) wrapper->Initialize(0);

  CComPtr<IZQCPPlatform> platform;
  if (platformUnknown != nullptr) {
    platformUnknown->QueryInterface(IID_IZQCPPlatform, reinterpret_cast<void**>(&platform));
  }
  ZQCP::SetHostPlatform(platform);
  if (!platform) return S_OK;

  CComPtr<IZQCPPluginRegistry> registry;
  if (SUCCEEDED(platform->GetPluginRegistry(&registry)) && registry) {
    registry->RegisterPlugin(IID_IZQBlog, static_cast<IZQBlog*>(this));
  }

  CComPtr<IShareSessionManager> manager;
  if (FAILED(platform->GetShareSessionManager(&manager)) || !manager) return S_OK;
  int role = -1;
  if (FAILED(manager->GetRole(&role))) return S_OK;
  if (role == kRoleForward) {
    CComPtr<IShareSessionChannel> channel;
    if (SUCCEEDED(manager->GetModuleChannel(kModuleName, 0, &channel)) && channel) {
      channel->AttachMessageSink(static_cast<IOnRecvShareSessionMsg*>(this));
    }
  } else if (role == kRoleServe) {
    manager->RegisterModule(kModuleName, kModulePriority);
    CComPtr<IShareSessionServer> server;
    if (SUCCEEDED(manager->GetModuleServer(kModuleName, kModulePriority, &server)) && server) {
      server->AttachOperationHandler(
          ShareSessionCmdParserManager_::Instance()->GetParser(kModuleName));
    }
  }
  return S_OK;
}

STDMETHODIMP ZQBlogPlugin_::Uninitialize(void* /*unused*/) { return S_OK; }

STDMETHODIMP ZQBlogPlugin_::GetPluginName(BSTR* name) {
  if (name == nullptr) return E_POINTER;
  *name = SysAllocString(kPluginName);
  return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------- IZQBlog
// The queries read the blog session, which is not part of the library yet: until it is,
// they answer E_NOTIMPL and touch no output.

STDMETHODIMP ZQBlogPlugin_::GetAlbumInfo(LPCWSTR, int, IZQAlbumInfo**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetResourceInfo(LPCWSTR, int, IZQResInfo**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetAlbumListInfo(LPCWSTR, IZQAlbumListInfo**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::IsResourceListLoaded(LPCWSTR, int, bool*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::IsBlogOpened(LPCWSTR, bool*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetCidDatUrl(LPCWSTR, BSTR*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetAlbumsByCid(LPCWSTR, int*, int*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetCommandResult(int, ICommonResult**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetCidValue(LPCWSTR, int*) { return E_NOTIMPL; }

STDMETHODIMP ZQBlogPlugin_::SetCurrentUser(LPCWSTR userId) {
  std::wstring lowered = userId != nullptr ? userId : L"";
  for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(c));
  currentUser_ = lowered;
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->SetCurrentUin(lowered);
  return S_OK;
}

STDMETHODIMP ZQBlogPlugin_::ClearSession() {
  InterlockedExchange(&g_commandCounter, 0);
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->ClearAll();
  return S_OK;
}

STDMETHODIMP ZQBlogPlugin_::AdviseResultSink(IZQBlogResultSink*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::UnadviseResultSink(IZQBlogResultSink*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::AdviseFailureSink(IZQBlogFailureSink*) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::UnadviseFailureSink(IZQBlogFailureSink*) { return E_NOTIMPL; }

// ---------------------------------------------------------------- IZQBlogOperation
// The operations create blog commands, which are not part of the library yet: until
// they are, each answers E_NOTIMPL and creates nothing.

STDMETHODIMP ZQBlogPlugin_::RefreshBlogServerInfo(LPCWSTR, int, ICmdEvent*, IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::GetCidDat(LPCWSTR, void*, IWorkshopCmd**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetAlbumList(LPCWSTR, void*, IWorkshopCmd**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::GetResourceList(LPCWSTR, int, void*, IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::BatchCollect(int, IZQResInfo**, int, void*, IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::BatchRemove(int, int, const int*, void*, IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::CreateAlbum(IZQAlbumInfo*, void*, IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::ModifyAlbum(IZQAlbumInfo*, void*, IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::ModifyResource(int, int, int, LPCWSTR, LPCWSTR, void*,
                                           IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::MoveResource(int, int, bool, int, const int*, void*,
                                         IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::CopyResource(int, int, bool, int, const int*, void*,
                                         IWorkshopCmd**) {
  return E_NOTIMPL;
}
STDMETHODIMP ZQBlogPlugin_::RemoveAlbum(int, void*, IWorkshopCmd**) { return E_NOTIMPL; }
STDMETHODIMP ZQBlogPlugin_::RefreshResComment(LPCWSTR, int, void*, IWorkshopCmd**) {
  return E_NOTIMPL;
}

// ---------------------------------------------------------------- the other two

STDMETHODIMP ZQBlogPlugin_::OnRecvShareSessionMsg(int /*first*/, int type, int value1,
                                                  int value2) {
  BlogShareSessionDecoder_* decoder = BlogShareSessionDecoder_::Instance();
  if (decoder == nullptr) return E_FAIL;
  // Nothing may escape into the host's thread: a broadcast that cannot be converted
  // (the conversion error is a std::exception) or stored is simply not applied.
  try {
    return decoder->DecodeMessage(type, value1, value2) ? S_OK : E_FAIL;
  } catch (const std::exception&) {
    return E_FAIL;
  }
}

STDMETHODIMP ZQBlogPlugin_::OnStateChanged(IWorkshopCmd*, int, int) { return S_OK; }

}  // namespace ZQBlog
}  // namespace Velmora
