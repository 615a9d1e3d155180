#include "common/Folders.h"

#include <sys/stat.h>

#include <cerrno>

namespace Velmora {
namespace Common {

bool MakeFolders(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if ((i == path.size() || path[i] == '/') && !partial.empty() && partial != "/") {
      if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) partial.push_back(path[i]);
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace Common
}  // namespace Velmora
