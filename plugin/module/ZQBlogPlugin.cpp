#include "module/ZQBlogPlugin.h"

#include <cstdlib>
#include <cwctype>
#include <exception>
#include <new>

#include "commands/CmdBatchCollect.h"
#include "commands/CmdBatchRemove.h"
#include "commands/CmdCopyResource.h"
#include "commands/CmdCreateAlbum.h"
#include "commands/CmdGetAlbumList.h"
#include "commands/CmdGetCidDat.h"
#include "commands/CmdGetResourceList.h"
#include "commands/CmdModifyAlbum.h"
#include "commands/CmdModifyResource.h"
#include "commands/CmdMoveResource.h"
#include "commands/CmdRefreshBlogServerInfo.h"
#include "commands/CmdRefreshResComment.h"
#include "commands/CmdRemoveAlbum.h"
#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "framework/ShareSessionCmd.h"
#include "framework/ShareSessionCmdParserManager.h"
#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IZQCPPlatform.h"
#include "interfaces/IZQCPPluginRegistry.h"
#include "module/HostPlatform.h"
#include "module/ZQCPWarpper.h"
#include "platform/atlconv.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/SingletonHolder.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

const char kModuleName[] = "ZQBlog";
const wchar_t kPluginName[] = L"Velmora.Community.ZQBlog";

using TAVO::System::Thread::ScopedLock;

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
  try {
    return JoinHost(platformUnknown);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ZQBlogPlugin_::JoinHost(IUnknown* platformUnknown) {
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
// The queries answer from the blog session, each under the lock of the data it reads
// (the reference added to what it returns included); none starts a command.

namespace {

// E_FAIL without a signed-in user, a session or an album list of userId (null read as
// empty) in it; else what answer(list) gives, under AlbumListLock. cleared, when given,
// is nulled under the lock before the list is looked up.
template <class Answer, class Out = void>
HRESULT AnswerFromAlbumList(const std::wstring& currentUser, LPCWSTR userId, Answer answer,
                            Out** cleared = nullptr) {
  if (currentUser.empty()) return E_FAIL;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return E_FAIL;
  ScopedLock<BlogSession_::Lock> guard(session->AlbumListLock());
  if (cleared != nullptr) *cleared = nullptr;
  AlbumListInfo* list = session->FindAlbumList(userId != nullptr ? userId : L"");
  if (list == nullptr) return E_FAIL;
  return answer(list);
}

// E_FAIL without a signed-in user, a session or a server directory record of userId
// (null read as empty) in it; else what answer(record) gives, under ServerLock.
template <class Answer>
HRESULT AnswerFromServerEntry(const std::wstring& currentUser, LPCWSTR userId, Answer answer) {
  if (currentUser.empty()) return E_FAIL;
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return E_FAIL;
  ScopedLock<BlogSession_::Lock> guard(session->ServerLock());
  ServerDirectoryRecord* record = session->FindServerEntry(userId != nullptr ? userId : L"");
  if (record == nullptr) return E_FAIL;
  return answer(record);
}

}  // namespace

STDMETHODIMP ZQBlogPlugin_::GetAlbumInfo(LPCWSTR userId, int albumId, IZQAlbumInfo** album) {
  if (album == nullptr) return E_POINTER;
  return AnswerFromAlbumList(currentUser_, userId, [&](AlbumListInfo* list) {
    return list->GetAlbumById(albumId, album);
  });
}

STDMETHODIMP ZQBlogPlugin_::GetResourceInfo(LPCWSTR userId, int resourceId,
                                            IZQResInfo** resource) {
  if (resource == nullptr) return E_POINTER;
  return AnswerFromAlbumList(
      currentUser_, userId,
      [&](AlbumListInfo* list) -> HRESULT {
        IZQResInfo* found = list->FindResourceInList(resourceId);
        if (found == nullptr) return E_FAIL;
        found->AddRef();
        *resource = found;
        return S_OK;
      },
      resource);
}

STDMETHODIMP ZQBlogPlugin_::GetAlbumListInfo(LPCWSTR userId, IZQAlbumListInfo** list) {
  if (list == nullptr) return E_POINTER;
  return AnswerFromAlbumList(currentUser_, userId, [&](AlbumListInfo* found) {
    found->AddRef();
    *list = found;
    return S_OK;
  });
}

STDMETHODIMP ZQBlogPlugin_::IsResourceListLoaded(LPCWSTR userId, int albumId, bool* loaded) {
  if (loaded == nullptr) return E_POINTER;
  return AnswerFromAlbumList(currentUser_, userId, [&](AlbumListInfo* list) {
    // The flag is written only for an album the list holds.
    if (AlbumInfo* album = list->FindAlbum(albumId)) *loaded = album->ResourcesLoaded();
    return S_OK;
  });
}

STDMETHODIMP ZQBlogPlugin_::IsBlogOpened(LPCWSTR userId, bool* opened) {
  if (opened == nullptr) return E_POINTER;
  return AnswerFromServerEntry(currentUser_, userId, [&](ServerDirectoryRecord* record) {
    *opened = record->Opened;
    return S_OK;
  });
}

STDMETHODIMP ZQBlogPlugin_::GetCidDatUrl(LPCWSTR userId, BSTR* url) {
  if (url == nullptr) return E_POINTER;
  return AnswerFromServerEntry(currentUser_, userId, [&](ServerDirectoryRecord* record) -> HRESULT {
    BSTR copy = SysAllocStringLen(record->CidDatUrl.c_str(),
                                  static_cast<UINT>(record->CidDatUrl.size()));
    if (copy == nullptr) return E_OUTOFMEMORY;
    SysFreeString(*url);  // the caller's BSTR on entry, if any
    *url = copy;
    return S_OK;
  });
}

STDMETHODIMP ZQBlogPlugin_::GetAlbumsByCid(LPCWSTR cid, int* albumIds, int* count) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return E_FAIL;
  return session->QueryAlbumsByCid(cid != nullptr ? cid : L"", albumIds, count);
}

STDMETHODIMP ZQBlogPlugin_::GetCommandResult(int commandId, ICommonResult** result) {
  BlogSession_* session = BlogSession_::Instance();
  if (session == nullptr) return E_FAIL;
  return session->FetchResult(commandId, result);
}

STDMETHODIMP ZQBlogPlugin_::GetCidValue(LPCWSTR name, int* value) {
  if (value == nullptr) return E_POINTER;
  if (currentUser_.empty()) return E_FAIL;
  IZQCPPlatform* platform = ZQCP::GetHostPlatform();
  if (platform == nullptr) return E_FAIL;
  CComPtr<ISettingsStore> store;
  if (FAILED(platform->GetSettingsStore(&store)) || !store) return E_FAIL;
  std::wstring sectionName = currentUser_ + L"CID";
  BSTR section = SysAllocStringLen(sectionName.c_str(), static_cast<UINT>(sectionName.size()));
  if (section == nullptr) return E_OUTOFMEMORY;
  CComPtr<ISettingsSection> opened;
  HRESULT hr = store->OpenSection(section, &opened);
  if (hr != S_OK) {
    opened.Release();
    if (FAILED(store->CreateSection(section, 1)) || store->OpenSection(section, &opened) != S_OK) {
      opened.Release();
    }
  }
  SysFreeString(section);
  if (!opened) return E_FAIL;
  std::string key;
  try {
    key = WideToAnsi(name != nullptr ? name : L"");
  } catch (const std::exception&) {
    return E_FAIL;
  }
  char text[128] = {};
  int length = sizeof(text);
  if (opened->ReadValue(key.c_str(), text, &length) != S_OK) return E_FAIL;
  text[sizeof(text) - 1] = '\0';
  *value = std::atoi(text);
  return S_OK;
}

STDMETHODIMP ZQBlogPlugin_::SetCurrentUser(LPCWSTR userId) {
  try {
    std::wstring lowered = userId != nullptr ? userId : L"";
    if (!BaseBlogCmd::IsUsableUserId(lowered)) return E_INVALIDARG;
    for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(c));
    currentUser_ = lowered;
    BlogSession_* session = BlogSession_::Instance();
    if (session != nullptr) session->SetCurrentUin(lowered);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP ZQBlogPlugin_::ClearSession() {
  InterlockedExchange(&g_commandCounter, 0);
  BlogSession_* session = BlogSession_::Instance();
  if (session != nullptr) session->ClearAll();
  return S_OK;
}

// The sink operations pass the sink to the session; S_OK whatever it answers.
STDMETHODIMP ZQBlogPlugin_::AdviseResultSink(IZQBlogResultSink* sink) {
  if (BlogSession_* session = BlogSession_::Instance()) session->AddResultSink(sink);
  return S_OK;
}
STDMETHODIMP ZQBlogPlugin_::UnadviseResultSink(IZQBlogResultSink* sink) {
  if (BlogSession_* session = BlogSession_::Instance()) session->RemoveResultSink(sink);
  return S_OK;
}
STDMETHODIMP ZQBlogPlugin_::AdviseFailureSink(IZQBlogFailureSink* sink) {
  if (BlogSession_* session = BlogSession_::Instance()) session->AddFailureSink(sink);
  return S_OK;
}
STDMETHODIMP ZQBlogPlugin_::UnadviseFailureSink(IZQBlogFailureSink* sink) {
  if (BlogSession_* session = BlogSession_::Instance()) session->RemoveFailureSink(sink);
  return S_OK;
}

// ---------------------------------------------------------------- IZQBlogOperation

namespace {

// The steps every operation runs: without a signed-in user, or before Initialize (no
// host to submit to), E_FAIL and nothing is created. Otherwise the command of class T
// from its factory, the user id, the parameters (setParameters returns a failure to
// refuse them), the next command id, the caller's event sink (when given), submission
// to the host's workshop, and the command in *command with one reference.
template <class T, class SetParameters>
HRESULT RunOperation(const std::wstring& currentUser, const wchar_t* userId,
                     SetParameters setParameters, ICmdEvent* sink, IWorkshopCmd** command) {
  if (currentUser.empty()) return E_FAIL;
  if (ZQCP::GetHostPlatform() == nullptr) return E_FAIL;
  CComObject<ShareSessionCmd<T>>* created = nullptr;
  HRESULT hr = CreateTypedShareSessionCmd<T>(&created);
  if (FAILED(hr)) return hr;
  CComPtr<IWorkshopCmd> held(static_cast<IWorkshopCmd*>(created));
  try {
    created->SetUserId(userId);
    hr = setParameters(created);
  } catch (const ATL::CAtlException& error) {
    return error.m_hr;
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  created->SetCommandId(ZQBlogPlugin_::NextCommandId());
  if (sink != nullptr) held->AddEventSink(sink);
  hr = created->SubmitToHost();
  if (FAILED(hr)) return hr;
  if (command != nullptr) *command = held.Detach();
  return S_OK;
}

HRESULT NoParameters(void*) { return S_OK; }

// An operation of the signed-in user (operations 5 to 13): RunOperation for the current
// user, without an event sink.
template <class T, class SetParameters>
HRESULT RunUserOperation(const std::wstring& currentUser, SetParameters setParameters,
                         IWorkshopCmd** command) {
  return RunOperation<T>(currentUser, currentUser.c_str(), setParameters, nullptr, command);
}

// A copy or move of the signed-in user (T is CmdCopyResource or CmdMoveResource):
// parameters its SetParameters refuses give E_INVALIDARG.
template <class T>
HRESULT RunTransferOperation(const std::wstring& currentUser, int sourceCategoryId,
                             int targetCategoryId, bool choice, int count,
                             const int* resourceIds, IWorkshopCmd** command) {
  return RunUserOperation<T>(
      currentUser,
      [&](T* cmd) {
        return cmd->SetParameters(sourceCategoryId, targetCategoryId, choice, count, resourceIds)
                   ? S_OK
                   : E_INVALIDARG;
      },
      command);
}

}  // namespace

STDMETHODIMP ZQBlogPlugin_::RefreshBlogServerInfo(LPCWSTR userId, int contextValue,
                                                  ICmdEvent* sink, IWorkshopCmd** command) {
  return RunOperation<CmdRefreshBlogServerInfo>(
      currentUser_, userId,
      [&](CmdRefreshBlogServerInfo* cmd) {
        cmd->SetContextValue(contextValue);
        return S_OK;
      },
      sink, command);
}

STDMETHODIMP ZQBlogPlugin_::GetCidDat(LPCWSTR userId, void*, IWorkshopCmd** command) {
  return RunOperation<CmdGetCidDat>(currentUser_, userId, NoParameters, nullptr, command);
}

STDMETHODIMP ZQBlogPlugin_::GetAlbumList(LPCWSTR userId, void*, IWorkshopCmd** command) {
  return RunOperation<CmdGetAlbumList>(currentUser_, userId, NoParameters, nullptr, command);
}

STDMETHODIMP ZQBlogPlugin_::GetResourceList(LPCWSTR userId, int categoryId, void*,
                                            IWorkshopCmd** command) {
  return RunOperation<CmdGetResourceList>(
      currentUser_, userId,
      [&](CmdGetResourceList* cmd) {
        cmd->SetAlbumId(categoryId);
        return S_OK;
      },
      nullptr, command);
}

// Operations 5 to 13 act for the signed-in user.

STDMETHODIMP ZQBlogPlugin_::BatchCollect(int categoryId, IZQResInfo** items, int count, void*,
                                         IWorkshopCmd** command) {
  return RunUserOperation<CmdBatchCollect>(
      currentUser_,
      [&](CmdBatchCollect* cmd) {
        cmd->SetCategoryId(categoryId);
        return cmd->SetItems(items, count);
      },
      command);
}

STDMETHODIMP ZQBlogPlugin_::BatchRemove(int categoryId, int count, const int* resourceIds, void*,
                                        IWorkshopCmd** command) {
  return RunUserOperation<CmdBatchRemove>(
      currentUser_,
      [&](CmdBatchRemove* cmd) {
        return cmd->SetParameters(categoryId, count, resourceIds) ? S_OK : E_INVALIDARG;
      },
      command);
}

STDMETHODIMP ZQBlogPlugin_::CreateAlbum(IZQAlbumInfo* album, void*, IWorkshopCmd** command) {
  return RunUserOperation<CmdCreateAlbum>(
      currentUser_, [&](CmdCreateAlbum* cmd) { return cmd->SetAlbum(album); }, command);
}

STDMETHODIMP ZQBlogPlugin_::ModifyAlbum(IZQAlbumInfo* album, void*, IWorkshopCmd** command) {
  return RunUserOperation<CmdModifyAlbum>(
      currentUser_, [&](CmdModifyAlbum* cmd) { return cmd->SetAlbum(album); }, command);
}

STDMETHODIMP ZQBlogPlugin_::ModifyResource(int sourceCategoryId, int targetCategoryId,
                                           int resourceId, LPCWSTR name, LPCWSTR description,
                                           void*, IWorkshopCmd** command) {
  return RunUserOperation<CmdModifyResource>(
      currentUser_,
      [&](CmdModifyResource* cmd) {
        cmd->SetParameters(sourceCategoryId, targetCategoryId, resourceId, name, description);
        return S_OK;
      },
      command);
}

STDMETHODIMP ZQBlogPlugin_::MoveResource(int sourceCategoryId, int targetCategoryId, bool choice,
                                         int count, const int* resourceIds, void*,
                                         IWorkshopCmd** command) {
  return RunTransferOperation<CmdMoveResource>(currentUser_, sourceCategoryId, targetCategoryId,
                                               choice, count, resourceIds, command);
}

STDMETHODIMP ZQBlogPlugin_::CopyResource(int sourceCategoryId, int targetCategoryId, bool choice,
                                         int count, const int* resourceIds, void*,
                                         IWorkshopCmd** command) {
  return RunTransferOperation<CmdCopyResource>(currentUser_, sourceCategoryId, targetCategoryId,
                                               choice, count, resourceIds, command);
}

STDMETHODIMP ZQBlogPlugin_::RemoveAlbum(int categoryId, void*, IWorkshopCmd** command) {
  return RunUserOperation<CmdRemoveAlbum>(
      currentUser_,
      [&](CmdRemoveAlbum* cmd) {
        cmd->SetCategoryId(categoryId);
        return S_OK;
      },
      command);
}

STDMETHODIMP ZQBlogPlugin_::RefreshResComment(LPCWSTR resourceKey, int requestNumber, void*,
                                              IWorkshopCmd** command) {
  return RunUserOperation<CmdRefreshResComment>(
      currentUser_,
      [&](CmdRefreshResComment* cmd) {
        cmd->SetResourceKey(resourceKey, requestNumber);
        return S_OK;
      },
      command);
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
