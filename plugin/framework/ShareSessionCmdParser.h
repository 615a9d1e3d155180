// ShareSessionCmdParser: one module's table from command name to command factory. In a
// serving participant the host's module server hands it the operation requests that
// other participants forward; it creates the named command and gives it the request,
// which submits the command to the workshop.
#ifndef ZQBLOG_FRAMEWORK_SHARESESSIONCMDPARSER_H_
#define ZQBLOG_FRAMEWORK_SHARESESSIONCMDPARSER_H_

#include <string>
#include <unordered_map>

#include "interfaces/IOnRecvShareSessionOperationEvent.h"
#include "interfaces/IWorkshopCmd.h"
#include "platform/atl.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {

// A command factory: makes one new command and writes its primary interface with a
// reference count of 0. E_POINTER for a null out pointer; E_OUTOFMEMORY and null when
// the command cannot be made.
typedef HRESULT (*CommandFactory)(IWorkshopCmd** command);

class ShareSessionCmdParser : public CComObjectRootEx<CComMultiThreadModel>,
                              public IOnRecvShareSessionOperationEvent {
 public:
  ShareSessionCmdParser();
  virtual ~ShareSessionCmdParser() = default;
  ShareSessionCmdParser(const ShareSessionCmdParser&) = delete;
  ShareSessionCmdParser& operator=(const ShareSessionCmdParser&) = delete;

  // Adds name -> factory. False when the name is taken (the first registration stays).
  // Names compare exactly (case-sensitive).
  bool Register(const std::string& name, CommandFactory factory);

  // The factory registered under name, or null.
  CommandFactory Find(const std::string& name);

  // IUnknown: only IOnRecvShareSessionOperationEvent's id is answered, without a new
  // reference; AddRef and Release return 1 and change nothing (a parser lives until the
  // process ends).
  STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override { return 1; }
  STDMETHOD_(ULONG, Release)() override { return 1; }

  // An operation request: reads its command name (up to 260 bytes), creates that
  // command and hands it the request. Unreadable or unknown names and failing factories
  // are dropped (S_OK); S_FALSE when the new command is not a share-session command.
  STDMETHOD(OnRecvOperation)(IShareSessionMessage* request) override;
  // Results are the commands' business: S_OK, nothing done.
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage* result) override;

 private:
  TAVO::System::Thread::CriticalSection lock_;
  std::unordered_map<std::string, CommandFactory> factories_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FRAMEWORK_SHARESESSIONCMDPARSER_H_
