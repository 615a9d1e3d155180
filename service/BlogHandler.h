// The blog web service's requests and replies, on top of the store:
//
//   GET  /touch3/<uin>                 server directory (CR LF lines; "404" without blog)
//   GET  /comment/<key>                comment count, decimal text
//   GET  /cid/<uin>/Cid.dat            24-byte records: 20 content-id bytes, LE album id
//   GET  /blog/<uin>/albums.xml        album list, conditional
//   GET  /blog/<uin>/album/<id>.xml    resource list of one album, conditional
//   POST <api prefix><operation>       the seven write operations, cookie-signed forms
//
// The Host header is not looked at: one address serves every host name of the service.
#ifndef ZQBLOG_SERVICE_BLOGHANDLER_H_
#define ZQBLOG_SERVICE_BLOGHANDLER_H_

#include <string>

#include "BlogStore.h"
#include "HttpServer.h"
#include "ServiceOptions.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

// The write operations in the order the server directory lists them.
extern const char* const kWriteOperations[7];

class BlogHandler {
 public:
  // REQUIRES: store outlives the handler and is open.
  BlogHandler(BlogStore& store, const ServiceOptions& options);

  // Answers one request. Safe to call from several threads at once.
  HttpReply Handle(const HttpRequest& request);

 private:
  HttpReply Directory(const std::string& uin);
  HttpReply AlbumList(const HttpRequest& request, const std::string& uin);
  HttpReply ResourceList(const HttpRequest& request, const std::string& uin,
                         const std::string& album);
  HttpReply CidDat(const std::string& uin);
  HttpReply CommentCount(const std::string& key);
  HttpReply Write(const HttpRequest& request, int operation);

  BlogStore& store_;
  ServiceOptions options_;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_BLOGHANDLER_H_
