// HttpResolverTable: where the host's HTTP connections really go, like curl's
// --connect-to. A mapping sends (host name, port) to another address and port; a
// catch-all sends every connection to one address and port; a name with neither is
// resolved normally (DNS). Thread-safe.
#ifndef ZQBLOG_HOST_HTTP_HTTPRESOLVERTABLE_H_
#define ZQBLOG_HOST_HTTP_HTTPRESOLVERTABLE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace Velmora {
namespace ZQHost {

// A host (IP literal or name) and a TCP port.
struct HttpEndpoint {
  std::string host;
  uint16_t port = 0;

  bool operator==(const HttpEndpoint& other) const {
    return host == other.host && port == other.port;
  }
};

class HttpResolverTable {
 public:
  HttpResolverTable() = default;
  HttpResolverTable(const HttpResolverTable&) = delete;
  HttpResolverTable& operator=(const HttpResolverTable&) = delete;

  // Sends connections to (host, port) to target, replacing an earlier mapping of the
  // same pair. Host names compare without regard to ASCII case.
  void Map(const std::string& host, uint16_t port, const HttpEndpoint& target);
  // Forgets the mapping of (host, port), if any.
  void Unmap(const std::string& host, uint16_t port);
  // Sends every connection without its own mapping to target.
  void MapAll(const HttpEndpoint& target);
  // Forgets the catch-all.
  void UnmapAll();

  // Where a connection to (host, port) goes: its own mapping, else the catch-all;
  // nullopt when the name is to be resolved normally.
  std::optional<HttpEndpoint> Lookup(const std::string& host, uint16_t port) const;

  // Parses "ADDRESS:PORT": an IPv4 address or host name, or an IPv6 address in
  // brackets ("[::1]:8080"), then a port from 1 to 65535. False (out unchanged) when
  // the text has another shape.
  static bool ParseEndpoint(const std::string& text, HttpEndpoint* out);

 private:
  static std::string Lower(const std::string& text);

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, uint16_t>, HttpEndpoint> mappings_;
  std::optional<HttpEndpoint> catch_all_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPRESOLVERTABLE_H_
