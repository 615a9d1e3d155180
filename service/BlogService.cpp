#include "BlogService.h"

#include "BlogHandler.h"
#include "HttpServer.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

BlogService::BlogService(ServiceOptions options)
    : options_(std::move(options)), store_(std::make_unique<BlogStore>(options_)) {}

BlogService::~BlogService() { Stop(); }

bool BlogService::Open(std::string* error) {
  if (opened_) return true;
  try {
    store_->Open();
  } catch (const StoreError& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
  opened_ = true;
  return true;
}

bool BlogService::Start(const std::string& address, uint16_t port, std::string* error) {
  if (server_) {
    if (error != nullptr) *error = "service already started";
    return false;
  }
  if (!Open(error)) return false;
  handler_ = std::make_unique<BlogHandler>(*store_, options_);
  BlogHandler* handler = handler_.get();
  server_ = std::make_unique<HttpServer>(
      [handler](const HttpRequest& request) { return handler->Handle(request); }, options_);
  if (!server_->Start(address, port, error)) {
    server_.reset();
    handler_.reset();
    return false;
  }
  return true;
}

void BlogService::Stop() {
  if (server_) server_->Stop();
}

uint16_t BlogService::port() const { return server_ ? server_->port() : 0; }

std::string BlogService::address() const { return server_ ? server_->address() : std::string(); }

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
