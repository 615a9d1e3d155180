// The reference blog web service as one object: its SQLite store, the blog request
// handler and the HTTP server, started on a loopback (or any) address and stopped
// cleanly. Tests and the command-line host embed it; zqblog-service wraps it.
#ifndef ZQBLOG_SERVICE_BLOGSERVICE_H_
#define ZQBLOG_SERVICE_BLOGSERVICE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "BlogStore.h"
#include "ServiceOptions.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

class BlogHandler;
class HttpServer;

class BlogService {
 public:
  explicit BlogService(ServiceOptions options = ServiceOptions());
  // Stops the service if it runs.
  ~BlogService();
  BlogService(const BlogService&) = delete;
  BlogService& operator=(const BlogService&) = delete;

  // Opens the database (creating the schema) without serving. Called by Start when not
  // done before; call it first to seed data before the first request can arrive.
  // False, with *error set, when the database cannot be opened.
  bool Open(std::string* error);

  // Opens the database if needed and serves on address:port; port 0 picks a free port.
  // REQUIRES: not started before. False, with *error set, on failure.
  bool Start(const std::string& address, uint16_t port, std::string* error);
  // Stops serving: no new connections, open ones closed, threads joined. Idempotent.
  void Stop();

  // The bound port and address. REQUIRES: Start succeeded.
  uint16_t port() const;
  std::string address() const;

  // The data, for seeding and inspection. REQUIRES: Open or Start succeeded.
  BlogStore& store() { return *store_; }
  const ServiceOptions& options() const { return options_; }

 private:
  ServiceOptions options_;
  std::unique_ptr<BlogStore> store_;
  std::unique_ptr<BlogHandler> handler_;
  std::unique_ptr<HttpServer> server_;
  bool opened_ = false;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_BLOGSERVICE_H_
