// ShareSessionCmdParserManager_: the process-wide owner of the command parsers, one per
// module name. The library's commands are registered with it at load time, under the
// module name "ZQBlog".
#ifndef ZQBLOG_FRAMEWORK_SHARESESSIONCMDPARSERMANAGER_H_
#define ZQBLOG_FRAMEWORK_SHARESESSIONCMDPARSERMANAGER_H_

#include <memory>
#include <string>
#include <unordered_map>

#include "framework/ShareSessionCmdParser.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {

class ShareSessionCmdParserManager_ {
 public:
  // The instance. Created on first use without a lock: the first use is the library's
  // static initialisation, on the loader's thread.
  static ShareSessionCmdParserManager_* Instance();

  // The parser of moduleName (exact, case-sensitive), created empty on first request.
  // Never null; the parser lives as long as the manager.
  ShareSessionCmdParser* GetParser(const std::string& moduleName);

 protected:
  ShareSessionCmdParserManager_();
  virtual ~ShareSessionCmdParserManager_() = default;

 private:
  TAVO::System::Thread::CriticalSection lock_;
  std::unordered_map<std::string, std::unique_ptr<ShareSessionCmdParser>> parsers_;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FRAMEWORK_SHARESESSIONCMDPARSERMANAGER_H_
