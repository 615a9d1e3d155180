// CmdModifyResource ("ModifyResource", operation 9): renames a resource, sets its
// description and optionally moves it to another album of the user, in one POST to the
// "resource_update" endpoint; when the server accepts, the same change is made to the
// albums the blog session holds.
//
// The form (at most 1023 bytes; for a longer one no request goes out, the command fails
// with the failure notice (kFailureRequestTooLong, 9, 0, 0)), the uin, name and
// description escaped and then converted to UTF-8:
//   encoder=utf-8&uin=<uin>&category_id_from=<source>&category_id_to=<target>
//   &res_id=<id>&res_name=<name>&desc=<description>
//
// The reply: <result return=".." message=".."/>, each value read into a 4096-byte
// buffer. Under the session's AlbumListLock:
//   no "return"        nothing changes; a refusal: Status 0, an empty message text
//   "return" "1"       Status 1. The resource must be in the source album and both
//                      albums in the session; else nothing changes and the result is
//                      delivered (or answered to the process that asked) in every
//                      role, nothing broadcast.
//                      Same album: name, description and album id (the source) set.
//                      Another album: the resource's album id becomes
//                      the target, its content-id pair moves from the source to the
//                      target album, it is appended to the target album and removed
//                      from the source album, and its name and description are set.
//   other "return"     nothing changes, Status 0
// Then, still under the lock: the result is delivered (roles 0 and 2), or, in role 1 and
// only with Status 1, the change broadcast with notice code 7.
//
// Share-session records:
//   operation  string uin, int source, int target, int resource id, string name,
//              string description; each string is read with the 50-byte limit, so a
//              uin, name or description above 46 bytes cannot be forwarded:
//              WriteRequestRecord refuses it and the command fails at Start, before
//              anything is sent (no half-read operation reaches the serving process).
//   result     int Status, string message word (cut to the 46 bytes its reader takes).
//   change     string uin, string message word (cut to 46 bytes), int source, int
//              target, int resource id, string name, string description.
//
// A transport error gives the session's failure sinks (code, 9, 0, 0).
#ifndef ZQBLOG_COMMANDS_CMDMODIFYRESOURCE_H_
#define ZQBLOG_COMMANDS_CMDMODIFYRESOURCE_H_

#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "interfaces/IXMLPackage.h"

namespace Velmora {
namespace ZQBlog {

class CmdModifyResource : public BaseBlogCmd {
 public:
  static constexpr unsigned short kServerPort = 80;
  // The form buffer; the form holds at most one byte less.
  static constexpr int kFormBufferSize = 1024;
  // "return" and "message" are read into buffers of this size.
  static constexpr int kReplyValueBufferSize = 4096;

  // The command's parameters, in one call: the album holding the resource, the album
  // it shall be in (the same one for a plain edit), the resource, its new name and
  // description (null: empty), both kept as ANSI text. Throws ConversionError when a
  // text cannot be converted (nothing changes then).
  void SetParameters(int sourceAlbumId, int targetAlbumId, int resourceId,
                     const wchar_t* resourceName, const wchar_t* description);
  int SourceAlbumId();
  int TargetAlbumId();
  int ResourceId();
  std::string ResourceName();  // ANSI
  std::string Description();   // ANSI

  // BaseBlogCmd
  std::string GetCommandName() override;
  int GetRequestRecordSize() override;
  bool WriteRequestRecord(IShareSessionMessage* message) override;
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  void PublishChange() ZQ_REQUIRES(CommandLock()) override;
  int GetChangeRecordSize() ZQ_REQUIRES(CommandLock()) override;
  void NotifyChange() ZQ_REQUIRES(CommandLock()) override;
  int GetResultRecordSize() override;
  bool WriteResultRecord(BYTE* payload, int size) override;
  bool ReadResultRecord(const BYTE* payload, int size) override;
  // A ResultOnResource: user id, operation 9 and its title, Status, the translated
  // message word, source and target album ids and the resource id; filed under the
  // command id, then the result event (command id, 1), holding ResultLock.
  void DeliverResult() ZQ_REQUIRES(CommandLock()) override;

 protected:
  CmdModifyResource();
  ~CmdModifyResource() override;

  // BaseHttpCmd hooks.
  void GetServer(const char** host, unsigned short* port) ZQ_REQUIRES(CommandLock()) override;
  bool GetConnectionParameter(ConnectionParameter* block) ZQ_REQUIRES(CommandLock()) override;
  void GetRequestLine(int* method, std::string* path) ZQ_REQUIRES(CommandLock()) override;
  bool GetRequestBody(const BYTE** data, int* length) ZQ_REQUIRES(CommandLock()) override;
  HRESULT OnResponseHeaders(IHttpReplyHeaders* headers) ZQ_REQUIRES(CommandLock()) override;
  // Applies the reply (see above); S_OK in every case.
  HRESULT OnReplyPackage(IPackage* package) ZQ_REQUIRES(CommandLock()) override;
  CComPtr<IPackageParser> CreateReplyParser() ZQ_REQUIRES(CommandLock()) override;
  void OnTransportError(int code) ZQ_REQUIRES(CommandLock()) override;

 private:
  // The reply's effect on the session and the dispatch (nothing without a session).
  void Apply(IXMLPackage* reply) ZQ_REQUIRES(CommandLock());
  std::vector<BYTE> BuildChangeRecord();
  // Keeps the parameters; the ANSI name and description are swapped in.
  void StoreParameters(int sourceAlbumId, int targetAlbumId, int resourceId, std::string* name,
                       std::string* description) ZQ_REQUIRES(CommandLock());

  int sourceAlbumId_ = 0;
  int targetAlbumId_ = 0;
  int resourceId_ = 0;
  std::string resourceName_;  // ANSI
  std::string description_;   // ANSI
  std::string message_;       // the server's word
  std::string host_;
  std::string path_;
  const unsigned short port_;
  std::string form_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDMODIFYRESOURCE_H_
