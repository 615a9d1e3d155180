#include "host/http/HttpResolverTable.h"

namespace Velmora {
namespace ZQHost {

std::string HttpResolverTable::Lower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return lower;
}

void HttpResolverTable::Map(const std::string& host, uint16_t port, const HttpEndpoint& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  mappings_[{Lower(host), port}] = target;
}

void HttpResolverTable::Unmap(const std::string& host, uint16_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  mappings_.erase({Lower(host), port});
}

void HttpResolverTable::MapAll(const HttpEndpoint& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  catch_all_ = target;
}

void HttpResolverTable::UnmapAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  catch_all_.reset();
}

std::optional<HttpEndpoint> HttpResolverTable::Lookup(const std::string& host,
                                                      uint16_t port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = mappings_.find({Lower(host), port});
  if (found != mappings_.end()) return found->second;
  return catch_all_;
}

bool HttpResolverTable::ParseEndpoint(const std::string& text, HttpEndpoint* out) {
  if (out == nullptr) return false;
  std::string host;
  std::string port_text;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos || close == 1 || close + 1 >= text.size() ||
        text[close + 1] != ':') {
      return false;
    }
    host = text.substr(1, close - 1);
    port_text = text.substr(close + 2);
  } else {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
    if (host.find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  if (port_text.empty() || port_text.size() > 5) return false;
  unsigned long port = 0;
  for (char c : port_text) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + static_cast<unsigned long>(c - '0');
  }
  if (port == 0 || port > 65535) return false;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '[' || c == ']') return false;
  }
  out->host = host;
  out->port = static_cast<uint16_t>(port);
  return true;
}

}  // namespace ZQHost
}  // namespace Velmora
