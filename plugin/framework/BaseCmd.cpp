#include "framework/BaseCmd.h"

#include <algorithm>
#include <new>

namespace Velmora {
namespace ZQBlog {

// ---------------------------------------------------------------- CmdLock

BaseCmd::CmdLock::CmdLock(BaseCmd& command) : command_(command) {
  command_.lock_.Lock();
  ++command_.lockDepth_;
}

BaseCmd::CmdLock::~CmdLock() {
  int releases = 0;
  if (--command_.lockDepth_ == 0) {
    releases = command_.pendingSelfReleases_;
    command_.pendingSelfReleases_ = 0;
  }
  ICmdEvent* self = command_.SelfSink();
  command_.lock_.Unlock();
  // The command may be destroyed by the last of these: nothing of it is read after.
  for (int i = 0; i < releases; ++i) self->Release();
}

// ---------------------------------------------------------------- construction

BaseCmd::BaseCmd() = default;

BaseCmd::~BaseCmd() {
  // The command's own sink is never among the entries here: while registered it keeps
  // the command alive.
  Hold hold(lock_);
  for (ICmdEvent* sink : sinks_) sink->Release();
  sinks_.clear();
  descriptionLines_.clear();
}

void BaseCmd::ReleaseConnection() {}

// ---------------------------------------------------------------- IWorkshopCmd

STDMETHODIMP BaseCmd::AddEventSink(ICmdEvent* sink) {
  if (sink == nullptr) return E_POINTER;
  CmdLock hold(*this);
  if (std::find(sinks_.begin(), sinks_.end(), sink) != sinks_.end()) return S_FALSE;
  try {
    sinks_.reserve(sinks_.size() + 1);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  sink->AddRef();
  sinks_.push_back(sink);
  // A command that has ended changes no more: a late sink hears of the end now.
  const int state = state_.load();
  if (IsTerminalState(state)) sink->OnStateChanged(SelfCmd(), lastOldState_, state);
  return S_OK;
}

STDMETHODIMP BaseCmd::GetState(int* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_.load();
  return S_OK;
}

STDMETHODIMP BaseCmd::SetState(int newState, int* oldState) {
  CmdLock hold(*this);
  const int previous = state_.load();
  if (newState == previous) return S_OK;
  if (oldState != nullptr) *oldState = previous;
  lastOldState_ = previous;
  state_.store(newState);
  // The sinks registered now, each held for its call: a sink may change the list while
  // it is being told (the command's own sink removes itself on a terminal state).
  std::vector<CComPtr<ICmdEvent>> told;
  try {
    told.assign(sinks_.begin(), sinks_.end());
  } catch (const std::bad_alloc&) {
    // No room for the copy: walk the list itself, re-reading its length each time.
    for (size_t i = 0; i < sinks_.size(); ++i) {
      sinks_[i]->OnStateChanged(SelfCmd(), previous, newState);
    }
    return S_OK;
  }
  for (const CComPtr<ICmdEvent>& sink : told) sink->OnStateChanged(SelfCmd(), previous, newState);
  return S_OK;
}

STDMETHODIMP BaseCmd::Reserved1() { return E_FAIL; }

STDMETHODIMP BaseCmd::Reserved2(void* /*unused*/) { return E_FAIL; }

STDMETHODIMP BaseCmd::GetDescription(BSTR* description) {
  if (description == nullptr) return E_POINTER;
  *description = nullptr;
  std::wstring text;
  try {
    CmdLock hold(*this);
    for (const std::wstring& line : descriptionLines_) {
      text += line;
      text += L"\r\n";
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *description = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *description != nullptr ? S_OK : E_OUTOFMEMORY;
}

void BaseCmd::AddDescriptionLine(const std::wstring& line) {
  CmdLock hold(*this);
  descriptionLines_.push_back(line);
}

// ---------------------------------------------------------------- ICmdEvent

STDMETHODIMP BaseCmd::OnStateChanged(IWorkshopCmd* command, int /*oldState*/, int newState) {
  if (command != SelfCmd()) return S_OK;
  if (!IsTerminalState(newState)) return S_OK;
  CmdLock hold(*this);
  ReleaseConnection();
  auto own = std::find(sinks_.begin(), sinks_.end(), SelfSink());
  if (own != sinks_.end()) {
    sinks_.erase(own);
    // Released by the outermost CmdLock once the lock is free (this call runs inside
    // SetState, which still needs the command afterwards).
    ++pendingSelfReleases_;
  }
  return S_OK;
}

}  // namespace ZQBlog
}  // namespace Velmora
