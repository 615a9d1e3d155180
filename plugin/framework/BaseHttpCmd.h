// BaseHttpCmd: a command that is one HTTP exchange through the host's HTTP connection
// service. Start opens a connection; the connection's events (IHttpConnectionClientEvents,
// on the host's connection thread) only record what arrived and ask for a step (state
// 3); Step, on the workshop's thread, does the work the latest event calls for: send
// the request, let the connection go on, or process the complete reply (parse the body
// with the command's reply parser and hand the first package to the command).
//
// The concrete command supplies the server, the request line and body, and the reply
// handling through the hooks below.
//
// Every state change of the exchange, and where it is made:
//
//   from  what happened                                   to   where
//   0     connection opened                               2    Start
//   0     no factory, no connection, or a hook threw      6    Start
//   2/3   any connection event (none after the exchange   3    the event callbacks
//         ended or the command ended)
//   3     phase 1: request sent                           2    Step
//   3     phase 1: request or its body buffer not made    6    Step
//   3     phase 2: connection told to continue            2    Step
//   3     phase 3: reply accepted, no body, no parser     5    Step
//   3     phase 3: body lost, not parsed, no package,     6    Step
//         or the package rejected
//   3     phase 4: transport error (OnTransportError)     6    Step
//   3     a hook threw during Step                        6    Step
// Whenever phase 3 ends the command (5 or 6, also through a hook that threw),
// OnReplyFinished is told first.
//
// The reply body is gathered in one growing byte array: each piece the connection
// reports is copied once, so gathering is linear in the size of the body.
//
// Threads: Start, Step, the events, SetHeader and ReleaseConnection all take the
// command lock (BaseCmd); Start and Step hold it for their whole work, including the
// calls into the host, so an event arriving meanwhile waits until they return. A host
// must not make Start or Step wait for one of its own callbacks on another thread.
#ifndef ZQBLOG_FRAMEWORK_BASEHTTPCMD_H_
#define ZQBLOG_FRAMEWORK_BASEHTTPCMD_H_

#include <map>
#include <string>
#include <vector>

#include "framework/BaseCmd.h"
#include "interfaces/IHttpBuffer.h"
#include "interfaces/IHttpConnection.h"
#include "interfaces/IHttpConnectionClientEvents.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IHttpRequest.h"
#include "interfaces/IPackage.h"
#include "interfaces/IPackageParser.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {

class BaseHttpCmd : public BaseCmd, public IHttpConnectionClientEvents {
 public:
  // What the latest connection event reported.
  enum HttpPhase : int {
    kPhaseNone = 0,           // nothing yet
    kPhaseConnected = 1,      // the connection is open: the request is to be sent
    kPhaseTransferring = 2,   // request sent or reply under way: the connection goes on
    kPhaseReplyComplete = 3,  // the reply is complete: it is to be processed
    kPhaseError = 4,          // the connection reported an error
  };

  // Request method codes of GetRequestLine; any other value sends an empty method.
  enum RequestMethod : int { kMethodGet = 0, kMethodPost = 1 };

  // The block offered to GetConnectionParameter: size holds sizeof(ConnectionParameter),
  // the rest is zero. No command of the library fills it.
  struct ConnectionParameter {
    DWORD size;
    DWORD reserved[7];
  };

  // IWorkshopCmd
  // Registers the command's own sink (from here on the command keeps itself alive
  // until it ends) and opens the connection: state 2 and S_OK. Without a factory, when
  // no connection can be made, or when a hook throws: state 6 and E_FAIL. A command
  // that has already left state 0 is not started again: E_FAIL, nothing changes.
  STDMETHOD(Start)() override;
  // Does the work the latest connection event calls for (see the table above); a
  // command in a terminal state does nothing. Always S_OK.
  STDMETHOD(Step)() override;
  // S_OK; does nothing.
  STDMETHOD(Reserved3)() override;
  // E_FAIL.
  STDMETHOD(Reserved4)() override;

  // IHttpConnectionClientEvents. Each records what arrived and asks for a step (state
  // 3; no new notification when the state is already 3). Once the connection has
  // reported the end of the exchange (OnComplete, or any error) or the command has
  // ended, later events are ignored: the end is never overwritten. Always S_OK.
  // error != 0: the error is kept, phase 4; else phase 1.
  STDMETHOD(OnConnect)(int error, void* unused) override;
  // error != 0: the error is kept, phase 4; else phase 2.
  STDMETHOD(OnSendComplete)(int error, void* unused) override;
  // A non-null header object replaces the kept one; phase 2.
  STDMETHOD(OnHeaders)(IHttpReplyHeaders* headers, void* unused) override;
  // A non-null buffer's bytes are appended to the reply body; phase 2.
  STDMETHOD(OnData)(IHttpBuffer* body, void* unused) override;
  // error != 0: the error is kept, phase 4. Else a non-null header object replaces the
  // kept one, a non-null buffer's bytes are appended to the reply body, phase 3.
  STDMETHOD(OnComplete)(int error, IHttpReplyHeaders* headers, IHttpBuffer* body,
                        void* unused) override;

  // Keeps the factory (one reference) that Start and Step make their host objects with.
  // REQUIRES: called before Start.
  void SetHttpFactory(IHttpConnectionFactory* factory);

  // Adds a request header unless one of that name is already set (the first value
  // stays). Headers go out in ascending byte order of their names. A null name is
  // ignored; a null value is taken as "". Throws std::bad_alloc when memory runs out.
  void SetHeader(const char* name, const char* value);

  // Unadvises, closes and releases the connection, if there is one.
  void ReleaseConnection() override;

 protected:
  BaseHttpCmd();
  ~BaseHttpCmd() override;

  // ---- hooks of the concrete command, in this order. They are called with the command
  // lock held; any of them may throw, which fails the command (state 6).

  // The server to connect to: *host (zero-terminated; it must stay valid until Start
  // returns) and *port. They start as null and 0; a null host is taken as "".
  virtual void GetServer(const char** host, unsigned short* port)
      ZQ_REQUIRES(CommandLock()) = 0;
  // true when block has been filled and is to be passed to the connection factory.
  virtual bool GetConnectionParameter(ConnectionParameter* block)
      ZQ_REQUIRES(CommandLock()) = 0;
  // The request's method code (kMethodGet, kMethodPost) and path. A command may set
  // headers here (SetHeader); they go out with this request.
  virtual void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) = 0;
  // The request body: *data[0, *length), which must stay valid until Step returns.
  // false: no body.
  virtual bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) = 0;
  // The reply's header object, before the body is processed. The result is ignored.
  virtual HRESULT OnResponseHeaders(IHttpReplyHeaders* headers)
      ZQ_REQUIRES(CommandLock()) = 0;
  // The first package the reply parser produced; a negative result fails the command.
  virtual HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) = 0;
  // A new reply parser, or null when the body needs no parsing. Asked once per
  // command: the parser is kept until the command is destroyed.
  virtual CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) = 0;
  // Gives parser a body joined from several pieces: parser->Parse over *body here. A
  // command whose parser can keep the joined block as it is takes it over instead
  // (leaving *body empty), which spares a copy of the whole reply.
  virtual HRESULT ParseJoinedBody(IPackageParser* parser, std::vector<BYTE>* body)
      ZQ_REQUIRES(CommandLock());
  // The connection reported error code (non-zero). Does nothing here.
  virtual void OnTransportError(int code) ZQ_REQUIRES(CommandLock());
  // The complete reply has been processed (or a hook threw while it was) and the
  // command ends in state (5 or 6); called before the state changes. Does nothing
  // here.
  virtual void OnReplyFinished(int state) ZQ_REQUIRES(CommandLock());

 private:
  // Step's answer when the state is to stay as it is.
  static constexpr int kNoTransition = -1;

  // The work of Step for the current phase; returns the state to enter or
  // kNoTransition.
  int DoStep() ZQ_REQUIRES(CommandLock());
  // Start's work: opens the connection; returns 2 or 6.
  int DoOpenConnection() ZQ_REQUIRES(CommandLock());
  // Phase 1: sends the request; returns 2 or 6.
  int DoSendRequest() ZQ_REQUIRES(CommandLock());
  // Phase 2: lets the connection go on; returns 2 (6 without a connection).
  int DoContinue() ZQ_REQUIRES(CommandLock());
  // Phase 3: processes the complete reply; returns 5 or 6.
  int DoProcessReply() ZQ_REQUIRES(CommandLock());

  // The event side.
  // True once the connection reported the end of the exchange (complete or error) or
  // the command ended: later events are ignored.
  bool ExchangeEnded() const ZQ_REQUIRES(CommandLock());
  void RecordError(int error) ZQ_REQUIRES(CommandLock());
  void RecordHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock());
  void AppendReplyBody(IHttpBuffer* piece) ZQ_REQUIRES(CommandLock());
  // The bytes of piece; false when the host does not give them.
  static bool PieceData(IHttpBuffer* piece, const BYTE** data, size_t* length);
  // parser->Parse over data[0, length) (a valid address when length is 0).
  // REQUIRES: length <= INT_MAX.
  static HRESULT ParseBytes(IPackageParser* parser, const BYTE* data, size_t length);
  void RequestStep() ZQ_REQUIRES(CommandLock());
  // Drops the reply body and its flags.
  void DropReplyBody() ZQ_REQUIRES(CommandLock());

  // Fields.
  CComPtr<IHttpConnectionFactory> factory_ ZQ_GUARDED_BY(CommandLock());
  CComPtr<IHttpConnection> connection_ ZQ_GUARDED_BY(CommandLock());
  // The request and its body, only while Step sends them.
  CComPtr<IHttpRequest> request_ ZQ_GUARDED_BY(CommandLock());
  CComPtr<IHttpBuffer> requestBody_ ZQ_GUARDED_BY(CommandLock());
  CComPtr<IHttpReplyHeaders> replyHeaders_ ZQ_GUARDED_BY(CommandLock());
  // The reply body received so far, in order of arrival: the first piece kept as the
  // host reported it, and once a second one comes, every piece in replyBody_.
  CComPtr<IHttpBuffer> replyFirstPiece_ ZQ_GUARDED_BY(CommandLock());
  std::vector<BYTE> replyBody_ ZQ_GUARDED_BY(CommandLock());
  // The reply's Content-Length when it gave a plausible one, else 0: room for the
  // pieces once they must be joined.
  size_t replyBodyExpected_ ZQ_GUARDED_BY(CommandLock()) = 0;
  // A buffer (possibly empty) has been reported: the reply has a body to parse.
  bool replyBodyPresent_ ZQ_GUARDED_BY(CommandLock()) = false;
  // A piece could not be read or kept: the body is incomplete and is not parsed.
  bool replyBodyLost_ ZQ_GUARDED_BY(CommandLock()) = false;
  HttpPhase phase_ ZQ_GUARDED_BY(CommandLock()) = kPhaseNone;
  CComPtr<IPackageParser> parser_ ZQ_GUARDED_BY(CommandLock());
  CComPtr<IPackage> package_ ZQ_GUARDED_BY(CommandLock());
  // Request headers by name, ascending byte order of the names.
  std::map<std::string, std::string> headers_ ZQ_GUARDED_BY(CommandLock());
  int transportError_ ZQ_GUARDED_BY(CommandLock()) = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FRAMEWORK_BASEHTTPCMD_H_
