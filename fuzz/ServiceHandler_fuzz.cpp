// The reference service's request handling (service/BlogHandler.h), driven without a
// socket: a short script of requests from arbitrary text against a fresh in-memory
// store that holds the demo blog of user 10001 and an empty blog of user 20002, with a
// clock that stands still unless the script moves it.
//
// Script: requests separated by a line "====". A request is a line "METHOD target",
// header lines "Name: value", an empty line and the body. A header value "$SIGN" becomes
// the cookie the client signs for the form's "uin" at the store's time; "$LAST" becomes
// the Last-Modified value of the latest list reply. The method "TICK" moves the clock on
// by one second and sends nothing.
//
// Checks after each request:
//   - the status is one the service gives (200, 304, 404, 405); a 500 is a database
//     fault on a request that should have had an answer;
//   - an XML reply is one well-formed document of the expected root ("result" with a
//     "message" for the writes, "categories" or "resources" for the lists); a list's
//     Last-Modified is an HTTP date that reads back to the same text;
//   - conditional fetches stay honest: for every list served so far, asking again
//     with the Last-Modified it came with answers "not modified" only while the list
//     is still exactly what was served then.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "fuzz/FuzzSupport.h"
#include "service/BlogHandler.h"
#include "service/BlogStore.h"
#include "service/CookieCheck.h"
#include "service/FormData.h"
#include "service/HttpDate.h"

namespace {

using namespace Velmora::ZQBlog::Service;
using Velmora::ZQBlog::fuzzing::Violation;

constexpr int kMaxRequests = 8;
constexpr int64_t kStart = 1765000000;  // 2025-12-06, a fixed second

struct Script {
  std::vector<std::string> requests;
};

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t found = text.find(separator); found != std::string::npos;
       found = text.find(separator, at)) {
    parts.push_back(text.substr(at, found - at));
    at = found + separator.size();
  }
  parts.push_back(text.substr(at));
  return parts;
}

std::string HeaderOf(const HttpReply& reply, const std::string& name) {
  for (const auto& header : reply.headers) {
    if (header.first == name) return header.second;
  }
  return std::string();
}

class Run {
 public:
  Run() : clock_(std::make_shared<int64_t>(kStart)) {
    std::shared_ptr<int64_t> clock = clock_;
    options_.clock = [clock] { return *clock; };
    store_.reset(new BlogStore(options_));
    store_->Open();
    store_->SeedDemo("10001");
    store_->AddUser("20002");
    handler_.reset(new BlogHandler(*store_, options_));
  }

  void Request(const std::string& text) {
    HttpRequest request;
    const size_t headEnd = text.find("\n\n");
    const std::string head = text.substr(0, headEnd);
    if (headEnd != std::string::npos) request.body = text.substr(headEnd + 2);
    std::vector<std::string> lines = Split(head, "\n");
    const size_t space = lines[0].find(' ');
    request.method = lines[0].substr(0, space);
    if (space != std::string::npos) request.target = lines[0].substr(space + 1);
    if (request.method == "TICK") {
      ++*clock_;
      return;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
      const size_t colon = lines[i].find(": ");
      if (colon == std::string::npos) continue;
      std::string value = lines[i].substr(colon + 2);
      if (value == "$SIGN") {
        value = BuildSignedCookie(FormData::Parse(request.body).Get("uin"),
                                  LoginTimeText(*clock_));
      } else if (value == "$LAST") {
        value = last_;
      }
      request.headers.emplace_back(lines[i].substr(0, colon), value);
    }
    Check(request, handler_->Handle(request));
    CheckConditionalFetches();
  }

 private:
  // The reply to request as the service must give it.
  void Check(const HttpRequest& request, const HttpReply& reply) {
    if (reply.status == 500) Violation("the service failed a request with 500");
    if (reply.status != 200 && reply.status != 304 && reply.status != 404 &&
        reply.status != 405) {
      Violation("the service gave a status it has no reason for");
    }
    if (reply.content_type.find("xml") == std::string::npos) return;
    pugi::xml_document document;
    if (!document.load_buffer(reply.body.data(), reply.body.size())) {
      Violation("an XML reply does not parse");
    }
    const std::string root = document.document_element().name();
    const std::string modified = HeaderOf(reply, "Last-Modified");
    if (root == "result") {
      if (!document.document_element().attribute("message")) {
        Violation("a write reply has no message");
      }
      return;
    }
    if (root != "categories" && root != "resources") Violation("an XML reply of no kind");
    int64_t seconds = 0;
    if (!ParseHttpDate(modified, &seconds) || FormatHttpDate(seconds) != modified) {
      Violation("a list's Last-Modified does not read back");
    }
    last_ = modified;
    const std::string path = request.target.substr(0, request.target.find('?'));
    served_[path] = std::make_pair(modified, reply.body);
  }

  HttpReply Get(const std::string& path, const std::string& since) {
    HttpRequest request;
    request.method = "GET";
    request.target = path;
    if (!since.empty()) request.headers.emplace_back("If-Modified-Since", since);
    return handler_->Handle(request);
  }

  // Every list served: "not modified" only while it is what was served.
  void CheckConditionalFetches() {
    for (const auto& entry : std::map<std::string, std::pair<std::string, std::string>>(served_)) {
      const HttpReply conditional = Get(entry.first, entry.second.first);
      if (conditional.status != 304) continue;
      const HttpReply whole = Get(entry.first, std::string());
      if (whole.status != 200 || whole.body != entry.second.second) {
        Violation("a changed list answered 304 to the time it was served with");
      }
    }
  }

  ServiceOptions options_;
  std::shared_ptr<int64_t> clock_;
  std::unique_ptr<BlogStore> store_;
  std::unique_ptr<BlogHandler> handler_;
  std::string last_ = "Fri, 1 Jun 1000 01:01:01 GMT";
  // Path -> (Last-Modified, body) of the latest 200 list reply.
  std::map<std::string, std::pair<std::string, std::string>> served_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> requests = Split(text, "\n====\n");
  if (requests.size() > kMaxRequests) requests.resize(kMaxRequests);
  Run run;
  for (const std::string& request : requests) run.Request(request);
  return 0;
}
