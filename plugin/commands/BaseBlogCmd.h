// BaseBlogCmd: the base of every blog command. It sits between BaseHttpCmd and the
// concrete commands and holds what all blog requests and replies share:
//   - the user id, the reply status and the command id;
//   - the request envelope: the signed "Cookie" value, form-field escaping and the
//     UTF-8 conversion of form fields;
//   - the operation titles and the texts of the server's error words (code page 936);
//   - the share-session side of a command: its role, the module's channels, the
//     operation and result messages, and the record helpers of the commands whose
//     parameters are only the user id and whose result is only the status;
//   - the virtual operations through which a concrete command serialises its
//     parameters, broadcasts what it fetched and delivers its result object.
//
// A concrete command overrides the BaseHttpCmd hooks and the pure operations below; it
// ends its reply handling with DispatchReply: outside role 1 DeliverResult, in role 1
// PublishChange and then NotifyChange when there is a change to broadcast. A command
// the serving process runs for another process (ServeForwardedRequest) never delivers
// a result here: it answers the forwarding process with a result message carrying its
// whole result record, so that process delivers exactly what a stand-alone run would.
//
// Without a host platform (before the plug-in's Initialize) a command has no host to
// run on: ShareSessionCmd's Start ends it in state 6 with E_FAIL, SubmitToHost submits
// nothing (E_FAIL), the channel getters give null and GetShareSessionRole answers 2
// (stand-alone), so a command that still reaches its reply delivers its result locally.
//
// Threads: the fields are guarded by the command lock (BaseCmd); the virtual operations
// that read or write the command run with it held (from Start, Step or a share-session
// callback). The name and the share-session lookups (1, 5, 6, 7, 14) need no lock.
#ifndef ZQBLOG_COMMANDS_BASEBLOGCMD_H_
#define ZQBLOG_COMMANDS_BASEBLOGCMD_H_

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/BaseHttpCmd.h"
#include "interfaces/ICommonResult.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IShareSessionServer.h"
#include "platform/atl.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {

class BlogCache;
class BlogSession_;

class BaseBlogCmd : public BaseHttpCmd {
 public:
  // The number of each blog operation, used for titles, error texts, results and
  // failure notices.
  enum OperationIndex : int {
    kOpServerDirectory = 0,
    kOpCidData = 1,
    kOpAlbumList = 2,
    kOpResourceList = 3,
    kOpBatchCollect = 4,
    kOpBatchRemove = 5,
    kOpCreateAlbum = 6,
    kOpModifyAlbum = 7,
    kOpRemoveAlbum = 8,
    kOpModifyResource = 9,
    kOpMoveResource = 10,
    kOpCopyResource = 11,
  };

  // Failure codes a command gives its failure sinks itself, where no connection gave
  // one. Each is an HRESULT built from a Win32 error as the host's connection codes
  // are, with the value the host gives for a failure of the same kind.
  // No usable server to connect to (ERROR_INVALID_PARAMETER, the host's code for a
  // connection without a usable server).
  static constexpr int kFailureNoServer = static_cast<int>(0x80070057u);
  // A reply longer than the command takes (ERROR_FILE_TOO_LARGE, the host's code for a
  // reply above its limit).
  static constexpr int kFailureReplyTooLarge = static_cast<int>(0x800700DFu);
  // A request longer than the buffer it is written into (ERROR_BUFFER_OVERFLOW; the
  // host has no code of its own for it).
  static constexpr int kFailureRequestTooLong = static_cast<int>(0x8007006Fu);
  // A complete reply the command could not use: no body where it needs one, a body
  // that does not parse, or one it cannot apply (ERROR_INVALID_DATA, the host's code
  // for a reply it cannot read).
  static constexpr int kFailureBadReply = static_cast<int>(0x8007000Du);

  // What kind of result object a command files (the second value of the result event).
  enum ResultKind : int {
    kResultKindAlbum = 0,
    kResultKindResource = 1,
    kResultKindBatch = 2,
    kResultKindComment = 3,
  };

  // This process's part in the host's share session.
  enum ShareSessionRole : int {
    kRoleForward = 0,     // commands go to the serving process as operation messages
    kRoleServe = 1,       // commands run here and their changes are broadcast
    kRoleStandAlone = 2,  // commands run here, nothing is shared
  };

  // The read limit of a string field of an operation record, the 4-byte length
  // included: a text of at most 46 bytes is accepted.
  static constexpr int kRecordStringLimit = 50;
  // The read limit of the texts a result record carries as they are shown (album
  // names, states, refusal messages): the largest string item a reader takes, so the
  // forwarding process shows what a stand-alone one would.
  static constexpr int kResultTextLimit = kMaxStringItemLength + kIntItemSize;
  // The key the cookie is signed with.
  static const char kCookieKey[];

  // ---- virtual operations, in slot order after the BaseHttpCmd hooks.

  // 1. The command name, equal to its registration key ("RefreshBlogServerInfo", ...).
  virtual std::string GetCommandName() = 0;
  // 2. Byte size of the serialised operation parameters.
  virtual int GetRequestRecordSize() ZQ_REQUIRES(CommandLock()) = 0;
  // 3. Writes the parameters into message's payload (sized by the caller to
  //    GetRequestRecordSize bytes); false when they do not fit or cannot be written.
  virtual bool WriteRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) = 0;
  // 4. Reads the parameters from a received operation message; false (the fields that
  //    were not read stay as they were) when the record is refused or truncated.
  virtual bool ReadRequestRecord(IShareSessionMessage* message) ZQ_REQUIRES(CommandLock()) = 0;
  // 5. This process's role as the host's share-session manager reports it, asked anew
  //    each time: 0 forward, 1 serve, 2 stand-alone (or any other value the host gives).
  //    2 when there is no host platform or share-session manager, or the manager cannot
  //    tell: such a process shares nothing.
  virtual int GetShareSessionRole();
  // 6. The serving channel (module server) of "ZQBlog", any priority; null when the
  //    host cannot give it.
  virtual CComPtr<IShareSessionServer> GetShareSessionServerChannel();
  // 7. This process's client channel of "ZQBlog"; null when the host cannot give it.
  virtual CComPtr<IShareSessionChannel> GetShareSessionChannel();
  // 8. A result message answering request: the command name and a payload of
  //    GetResultRecordSize + 8 bytes filled by WriteResultRecord. Null when the serving
  //    channel, the message or its payload cannot be had, or the record is not written
  //    (the message made is then left with an empty payload, which the host does not
  //    send).
  virtual CComPtr<IShareSessionMessage> BuildResultMessage(IShareSessionMessage* request)
      ZQ_REQUIRES(CommandLock());
  // 9. A new operation message on the client channel carrying the command name and a
  //    payload of GetRequestRecordSize bytes filled by WriteRequestRecord. Null when the
  //    channel, the message or its payload cannot be had, or the record is not written.
  virtual CComPtr<IShareSessionMessage> BuildOperationMessage() ZQ_REQUIRES(CommandLock());
  // 10. The forwarded command's answer: reads the result record from result's payload
  //     and delivers the result object. An empty payload is the host saying that no
  //     process could serve the request: Status 0 and the result is delivered all the
  //     same (an empty message text and the command's own parameters), S_OK. E_FAIL
  //     (nothing delivered) when the payload cannot be had or the record cannot be
  //     read; else S_OK.
  virtual HRESULT OnShareSessionResult(IShareSessionMessage* result) ZQ_REQUIRES(CommandLock());
  // 11. Serialises what the command fetched and sends it on the serving channel.
  virtual void PublishChange() ZQ_REQUIRES(CommandLock()) = 0;
  // 12. Byte size of the PublishChange payload.
  virtual int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) = 0;
  // 13. Sends the command's notice (0, notice code, 0, 0) on the serving channel.
  virtual void NotifyChange() ZQ_REQUIRES(CommandLock()) = 0;
  // 14. The text for the server's error word (case-sensitive) in code page 936: for
  //     operations 10 and 11 (move, copy) from the move/copy table, for every other
  //     index from the general table; "" for a word the table lacks.
  virtual std::string TranslateServerMessage(const std::string& word, int operationIndex);
  // 15. Byte size of the result payload (4 for a status-only result).
  virtual int GetResultRecordSize() ZQ_REQUIRES(CommandLock()) = 0;
  // 16. Writes the result payload into payload[0, size); false when it does not fit.
  virtual bool WriteResultRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) = 0;
  // 17. Reads the result payload from payload[0, size); false when it is too short.
  virtual bool ReadResultRecord(const BYTE* payload, int size) ZQ_REQUIRES(CommandLock()) = 0;
  // 18. Builds the result object, files it in the blog session under the command id
  //     and raises the result event, holding the session's ResultLock.
  virtual void DeliverResult() ZQ_REQUIRES(CommandLock()) = 0;

  // ---- set-up by the plug-in, right after creation.

  // Stores the ANSI conversion of userId (null: empty). Throws ConversionError when the
  // text cannot be converted.
  void SetUserId(const wchar_t* userId);
  void SetCommandId(int commandId);

  std::string UserId();
  int Status();
  int CommandId();

  // Submits the command as the plug-in does: the host's command workshop and HTTP
  // connection factory from the host platform, the factory handed to the command, the
  // command added to the workshop (its answer is not checked). E_FAIL, nothing
  // submitted, without a platform, a workshop or a factory; else S_OK.
  HRESULT SubmitToHost();

  // ---- request envelope and texts.

  // The "Cookie" value for userId, signed with the local time of now:
  // "login_name=<userId>; login_time=<YYYYMMDDhhmmss>; key=<32 lower-case hex digits>",
  // the key being HMAC-MD5 under kCookieKey of userId followed by the login time.
  static std::string BuildCookie(const std::string& userId);
  // The title of operationIndex (code page 936 bytes); "错误的命令标识" for an index
  // outside 0 to 11.
  static std::string MakeOperationTitle(int operationIndex);
  // text up to its first NUL with exactly '%', '+', ' ', '=', '&', '?', '/', '\\', CR
  // and LF replaced by "%25", "%2B", "%20", "%3D", "%26", "%3F", "%2F", "%5C", "%0D",
  // "%0A"; every other byte is copied unchanged.
  static std::string UrlEscape(const std::string& text);
  // Whether userId goes into the cookie and the request path as it is: no control
  // character, space, ";" or "/" (ids the service gives are letters, digits, "_", ".",
  // "@" and "-"). Bytes of ANSI text, or characters of wide text.
  static bool IsUsableUserId(std::string_view userId);
  static bool IsUsableUserId(std::wstring_view userId);
  // ANSI text (all of it, NULs included) as UTF-8, through UTF-16 with precomposed
  // characters. Throws ConversionError when it cannot be converted.
  static std::string AnsiToUtf8(const std::string& text);
  // UTF-8 bytes[0, length) as wide text; "" for null bytes or a length below 1.
  // Throws ConversionError when they cannot be converted.
  static std::wstring Utf8ToWide(const char* bytes, int length);
  // Each byte as two upper-case hexadecimal digits; "" for null bytes or a length
  // below 1.
  static std::wstring BytesToHex(const BYTE* bytes, int length);

  // A new reply parser for XML replies: the host's "IXMLPackageParser", made through
  // the host platform. Null without a platform or when the host has none.
  static CComPtr<IPackageParser> CreateXmlReplyParser();

 protected:
  BaseBlogCmd();
  ~BaseBlogCmd() override;

  // The hooks and operations run with the command lock held.
  void SetStatus(int status) ZQ_REQUIRES(CommandLock());

  // Thrown by AbandonRequest.
  class RequestAbandoned : public std::runtime_error {
   public:
    RequestAbandoned() : std::runtime_error("the request cannot be made") {}
  };
  // For a BaseHttpCmd hook that finds the request cannot be made: the session's failure
  // sinks get (code, operationIndex, 0, 0), then RequestAbandoned is thrown, which
  // fails the command (state 6) with nothing sent.
  [[noreturn]] static void AbandonRequest(int code, int operationIndex);

  // Broadcasts payload as the command's change record on the serving channel (nothing
  // when there is no channel). REQUIRES: payload is at most INT_MAX bytes.
  void PublishChangeRecord(const std::vector<BYTE>& payload);
  // Broadcasts the notice (0, noticeCode, 0, 0) on the serving channel (nothing when
  // there is no channel).
  void PublishNoticeCode(int noticeCode);

  // ---- a command run for another process (ShareSessionCmd's SetOperationMessage).
  // Makes this a command that the serving process runs for another process: keeps
  // request (one reference, until the command is destroyed), the operation message it
  // came in, and gives the command an id of its own from the plug-in's command
  // counter. Its outcome then goes back as the answer to request, never to this
  // process's result sinks (see DispatchReply).
  void ServeForwardedRequest(IShareSessionMessage* request);
  // The request kept by ServeForwardedRequest, or null. A borrowed pointer.
  IShareSessionMessage* ForwardedRequest();

  // ---- the end of a reply: the one place that decides who hears of the outcome.
  // The end of a reply this process took over (or of its cached copy). Role 1: the
  // change is broadcast (PublishChange, then NotifyChange) when changed is true, then a
  // command run for another process answers it with its result record, once (also
  // after a refused write, which broadcasts nothing). Any other role: DeliverOrAnswer.
  void DispatchReply(bool changed) ZQ_REQUIRES(CommandLock());
  // An outcome given in every role (one that carries no change to broadcast): a
  // command run for another process answers it with its result record, once; any
  // other command delivers its result (DeliverResult).
  void DeliverOrAnswer() ZQ_REQUIRES(CommandLock());
  // An outcome given in every role that changed this process's session: in role 1 the
  // change is broadcast first (BroadcastIfServing), so every process keeps the same;
  // then DeliverOrAnswer.
  void DeliverOrAnswerChange() ZQ_REQUIRES(CommandLock());
  // In role 1 the change is broadcast (PublishChange, then NotifyChange); in any other
  // role nothing. For a change whose outcome has been given already.
  void BroadcastIfServing() ZQ_REQUIRES(CommandLock());

  // When a list reply's text goes to the cache (CacheReplyText): nowhere when save is
  // false; else before the reply is applied, or, in the serving process, after it: the
  // other processes wait on its change broadcast, not on its cache file, so they decode
  // while it writes.
  enum class CacheStep { kNone, kBeforeApplying, kAfterApplying };
  CacheStep WhenToCache(bool save) {
    if (!save) return CacheStep::kNone;
    return GetShareSessionRole() == kRoleServe ? CacheStep::kAfterApplying
                                               : CacheStep::kBeforeApplying;
  }
  // Writes text, its entities removed, to cache as the cached reply.
  static void CacheReplyText(BlogCache* cache, std::string* text);
  // Sets "If-Modified-Since" to what cache, set to the user under CacheLock, gives for
  // its cached copy cacheId (kDefaultValidator when it gives nothing).
  void SetIfModifiedSince(BlogCache* cache, int cacheId);
  // Keeps the reply's "Last-Modified" value in cache, when headers carry one.
  static void SaveLastModified(BlogCache* cache, IHttpReplyHeaders* headers);
  // Parses the reply text cache holds and hands its package to OnReplyPackage; false,
  // nothing handed, when cache holds no text (or one above INT_MAX bytes) or the text
  // gives no package.
  bool ReplayCachedReply(BlogCache* cache) ZQ_REQUIRES(CommandLock());

  // The result of a list fetch: a new album result of operationIndex for the user, with
  // categoryId when given, filed with FileResult unless *delivered says one was filed
  // already; *delivered is set when it is. A list command files one result at most.
  void DeliverListResultOnce(int operationIndex, std::optional<int> categoryId,
                             bool* delivered) ZQ_REQUIRES(CommandLock());
  // PublishChangeRecord, but nothing for an empty payload (a change record that could
  // not be built) or one above INT_MAX bytes.
  void PublishBuiltChangeRecord(const std::vector<BYTE>& payload);

  // The server's word as a result or change record carries it: cut to the 46 bytes its
  // reader takes. A longer word is in no error table, and neither is its cut form, so
  // the text shown for it stays the same.
  static std::string FitRecordWord(const std::string& word);

  // Tells the session's failure sinks (value1, operationIndex, value3, value4): the
  // command's outcome. Nothing without a session.
  void TellFailure(int value1, int operationIndex, int value3 = 0, int value4 = 0)
      ZQ_REQUIRES(CommandLock());
  // For a command that files its result without FileResult: its outcome is given.
  void NoteOutcomeGiven() ZQ_REQUIRES(CommandLock()) { outcomeGiven_ = true; }

  // A command whose reply ends it without any outcome (no result filed or answered,
  // nothing broadcast, no failure told) tells its failure sinks as a transport error
  // would, with kFailureBadReply: the host never waits on a command that ended
  // silently.
  void OnReplyFinished(int state) ZQ_REQUIRES(CommandLock()) override;

  // A new album result of operationIndex for uin, with the operation's title and the
  // command's status; null when it cannot be made. The caller adds what its operation
  // reports and files it with FileResult (kResultKindAlbum).
  CComPtr<IResultOnAlbum> NewAlbumResult(int operationIndex, const std::wstring& uin);

  // Files result under CommandId() in session and tells the result sinks (resultKind),
  // both under the session's ResultLock, so the sinks hear of results in the order they
  // were filed. REQUIRES: session and result not null.
  void FileResult(BlogSession_* session, ICommonResult* result, int resultKind)
      ZQ_REQUIRES(CommandLock());

  // The payload of message; false when it has none that can be read.
  static bool PayloadOf(IShareSessionMessage* message, BYTE** payload, int* size);
  // *reader over the payload of message; false, *reader unchanged, when it has none that
  // can be read.
  static bool PayloadReader(IShareSessionMessage* message, RecordReader* reader);
  // The head of a result record: Status (int) and the server's word (string, read with
  // kRecordStringLimit) from payload, *reader left after them for what follows. False
  // for a null payload or a negative size, or when either item is refused.
  static bool ReadResultHead(const BYTE* payload, int size, RecordReader* reader,
                             int32_t* status, std::string* word);

  // ---- the record of the commands whose parameters are only the user id.
  // 4 + the byte length of the user id.
  int UserIdRecordSize();
  // Writes the user id into message's payload; false when it does not fit.
  bool WriteUserIdRecord(IShareSessionMessage* message);
  // Reads the user id from message's payload with the 50-byte limit; false (the user
  // id unchanged) for a refused or truncated item.
  bool ReadUserIdRecord(IShareSessionMessage* message);

  // ---- building and reading records.
  // Record bytes built by appending items (util/RecordItem.h encoding).
  class RecordBuilder {
   public:
    void Int(int32_t value);
    void Byte(uint8_t value);
    void String(const std::string& text);
    // int count, then the ids in order.
    void IdList(const std::vector<int>& ids);
    // int count, then per entry in ascending id order the id (int) and the text
    // (string).
    void TextTable(const std::map<int, std::string>& table);
    const std::vector<BYTE>& bytes() const { return bytes_; }

   private:
    std::vector<BYTE> bytes_;
  };
  // Copies bytes to payload[0, size); false when they do not fit.
  static bool CopyToBuffer(const std::vector<BYTE>& bytes, BYTE* payload, int size);
  // Reads an item count and that many ids. False for a negative count, one the
  // remaining bytes cannot hold, or a truncated list.
  static bool ReadIdList(RecordReader* reader, int32_t* count, std::vector<int>* ids);
  // Reads what RecordBuilder::TextTable writes, each text with kResultTextLimit, into
  // *table (a key already present keeps its text). False as for ReadIdList or when a
  // text is refused.
  static bool ReadTextTable(RecordReader* reader, std::map<int, std::string>* table);

  // ---- the result record that is only the status.
  static constexpr int kStatusRecordSize = 4;
  // Writes Status as a 4-byte little-endian int; false when size is below 4.
  bool WriteStatusRecord(BYTE* payload, int size) ZQ_REQUIRES(CommandLock());
  // Reads Status from the first 4 bytes; false (Status unchanged) when there are fewer.
  bool ReadStatusRecord(const BYTE* payload, int size) ZQ_REQUIRES(CommandLock());

 private:
  // Answers the forwarded request with BuildResultMessage, once; nothing for a command
  // this process runs for itself.
  void AnswerForwardedRequest() ZQ_REQUIRES(CommandLock());

  std::string userId_ ZQ_GUARDED_BY(CommandLock());  // ANSI
  int status_ ZQ_GUARDED_BY(CommandLock()) = 0;
  int commandId_ ZQ_GUARDED_BY(CommandLock()) = 0;
  // The operation message of another process this command runs for; null otherwise.
  CComPtr<IShareSessionMessage> forwardedRequest_ ZQ_GUARDED_BY(CommandLock());
  bool answered_ ZQ_GUARDED_BY(CommandLock()) = false;
  // Some outcome of the command has been given: a result filed or answered, a change
  // broadcast (the serving process's outcome), or a failure told.
  bool outcomeGiven_ ZQ_GUARDED_BY(CommandLock()) = false;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_BASEBLOGCMD_H_
