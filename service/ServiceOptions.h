// Settings of the reference blog service: where its data lives, the host names it
// announces in the server directory, the limits that make every refusal reachable, and
// the bounds of its HTTP front end.
#ifndef ZQBLOG_SERVICE_SERVICEOPTIONS_H_
#define ZQBLOG_SERVICE_SERVICEOPTIONS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace Service {

struct ServiceOptions {
  // SQLite database file; ":memory:" keeps everything in memory for the life of the
  // service.
  std::string database_path = ":memory:";

  // Host names announced in the server directory. Every one of them must end in the
  // service domain, because the client splits its URLs at that name.
  std::string data_host = "data.velmora.cn";
  std::string post_host = "post.velmora.cn";
  // Path prefix of the seven write endpoints ("/api/" + operation name).
  std::string api_prefix = "/api/";

  // A directory request for a user the service does not know opens a blog for that
  // user instead of answering "404".
  bool open_blogs_on_demand = false;

  // Limits. A create beyond max_albums_per_user is refused with "excess"; a resource
  // that would take an album beyond max_resources_per_album is refused with "excess".
  int max_albums_per_user = 100;
  int max_resources_per_album = 500;
  // Wealth points a new user starts with, and what creating an album costs ("no_bill"
  // when the user has fewer).
  int64_t initial_wealth = 100;
  int64_t album_create_cost = 0;
  // Longest text field (name, description, URL, tag) in bytes; longer is refused.
  size_t max_text_bytes = 4000;
  // Most items a single batch request may name.
  int max_batch_items = 1000;

  // A name, description or tag that contains one of these words (ASCII case-insensitive)
  // is refused with "illegal".
  std::vector<std::string> sensitive_words = {"badword"};
  // A collected or renamed resource whose name or description contains one of these
  // words is kept under review: it may not be copied or moved ("audit").
  std::vector<std::string> review_words = {"reviewword"};

  // HTTP front end.
  int io_threads = 2;
  size_t max_header_bytes = 16 * 1024;
  size_t max_body_bytes = 1024 * 1024;
  size_t max_connections = 256;
  std::chrono::milliseconds idle_timeout{30000};

  // A write whose cookie's login time lies farther than this from the service's clock
  // (either way) is refused with "denied", as a forged cookie is: a captured cookie
  // works this long only. The client signs with its local time, read here as the
  // service's local time.
  std::chrono::seconds cookie_window{300};

  // Seconds since 1970 used for Last-Modified and last_time, and to judge a cookie's
  // login time; the system clock when empty.
  std::function<int64_t()> clock;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_SERVICEOPTIONS_H_
