#include "host/sharesession/ShareSessionEndpoint.h"

#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace Velmora {
namespace ZQHost {

namespace {

bool KeptAsIs(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '.' || c == '@' || c == '-';
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string out = cwd;
  std::free(cwd);
  if (out.empty() || out.back() != '/') out.push_back('/');
  return out + path;
}

}  // namespace

std::string ShareSessionEndpoint::FileStem(const std::string& user) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : user) {
    if (KeptAsIs(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

bool ShareSessionEndpoint::Resolve(const std::string& data_root, const std::string& user,
                                   ShareSessionEndpoint* out, std::string* error) {
  if (user.empty()) {
    *error = "a share session between processes needs a user";
    return false;
  }
  if (data_root.empty()) {
    *error = "a share session between processes needs a data folder";
    return false;
  }
  ShareSessionEndpoint endpoint;
  endpoint.folder = Absolute(data_root);
  if (endpoint.folder.back() != '/') endpoint.folder.push_back('/');
  endpoint.folder += "share/";
  const std::string stem = FileStem(user);
  endpoint.socket_path = endpoint.folder + stem + ".sock";
  endpoint.lock_path = endpoint.folder + stem + ".lock";
  if (endpoint.socket_path.size() > kMaxSocketPath) {
    *error = "the share session socket " + endpoint.socket_path + " is " +
             std::to_string(endpoint.socket_path.size()) + " bytes long, more than the " +
             std::to_string(kMaxSocketPath) + " a local socket path may have: use a data folder " +
             "with a shorter path";
    return false;
  }
  *out = std::move(endpoint);
  return true;
}

}  // namespace ZQHost
}  // namespace Velmora
