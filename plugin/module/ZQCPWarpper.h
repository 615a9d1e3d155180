// ZQCPWarpper_: the small start-up wrapper of the host platform. It records the folder
// of the host program and keeps six interface slots (all null, released at
// destruction). Nothing else in the library reads it.
#ifndef ZQBLOG_MODULE_ZQCPWARPPER_H_
#define ZQBLOG_MODULE_ZQCPWARPPER_H_

#include <string>

#include "platform/atl.h"

namespace Velmora {
namespace ZQCP {

class ZQCPWarpper_ {
 public:
  // The process-wide instance, created on first use (the program folder is recorded then).
  static ZQCPWarpper_* Instance();

  // Start-up hook; the plug-in passes 0. Always true.
  bool Initialize(int flags);

  // The host program's folder, separator kept; the whole path when it cannot be cut.
  const std::wstring& ProgramDirectory() const { return programDirectory_; }

  // The folder of a program path: up to and including the last '\' or '/'. The cut
  // fails (the whole path is returned) when there is no separator, when it is the first
  // character or when it is the last one.
  static std::wstring CutToDirectory(const std::wstring& path);

 protected:
  ZQCPWarpper_();
  virtual ~ZQCPWarpper_() = default;

 private:
  std::wstring programDirectory_;
  CComPtr<IUnknown> slots_[6];
};

}  // namespace ZQCP
}  // namespace Velmora

#endif  // ZQBLOG_MODULE_ZQCPWARPPER_H_
