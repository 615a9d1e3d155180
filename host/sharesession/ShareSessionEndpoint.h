// ShareSessionEndpoint: where the share session of one (data folder, user) lives between
// processes: the folder <data_root>/share/, the socket "<user>.sock" that the serving
// process binds, and the lock file "<user>.lock" that it holds while it serves. A user
// id keeps its letters, digits, "_", ".", "@" and "-"; every other byte becomes "%XX"
// (upper-case hex), so distinct users never share a file.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONENDPOINT_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONENDPOINT_H_

#include <cstddef>
#include <string>

namespace Velmora {
namespace ZQHost {

struct ShareSessionEndpoint {
  // The longest socket path an ipc address can take (sockaddr_un's path less its NUL).
  static constexpr size_t kMaxSocketPath = 107;

  std::string folder;       // absolute, with a trailing '/'
  std::string socket_path;  // folder + name + ".sock"
  std::string lock_path;    // folder + name + ".lock"

  // "ipc://" + socket_path.
  std::string Address() const { return "ipc://" + socket_path; }

  // The places of the session of (data_root, user); a relative data_root is taken from
  // the working folder. Creates nothing. False with *error set to one line when user is
  // empty or the socket path is longer than kMaxSocketPath bytes.
  static bool Resolve(const std::string& data_root, const std::string& user,
                      ShareSessionEndpoint* out, std::string* error);

  // The file name stem for user ("u1", "a%2Fb").
  static std::string FileStem(const std::string& user);
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONENDPOINT_H_
