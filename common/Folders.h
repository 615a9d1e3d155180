// Folders: making a folder of the host's data root with its parents.
#ifndef ZQBLOG_COMMON_FOLDERS_H_
#define ZQBLOG_COMMON_FOLDERS_H_

#include <string>

namespace Velmora {
namespace Common {

// mkdir -p: makes path and every missing parent (mode 0700). True when path is a folder
// afterwards.
bool MakeFolders(const std::string& path);

}  // namespace Common
}  // namespace Velmora

#endif  // ZQBLOG_COMMON_FOLDERS_H_
