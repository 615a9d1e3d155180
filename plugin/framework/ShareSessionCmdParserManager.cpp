#include "framework/ShareSessionCmdParserManager.h"

#include "util/FakeMutex.h"
#include "util/SingletonHolder.h"

namespace Velmora {
namespace ZQBlog {

using TAVO::System::Thread::CriticalSection;
using TAVO::System::Thread::ScopedLock;

ShareSessionCmdParserManager_* ShareSessionCmdParserManager_::Instance() {
  return TAVO::Pattern::SingletonHolder<ShareSessionCmdParserManager_,
                                        TAVO::Pattern::FakeMutex>::Instance();
}

ShareSessionCmdParserManager_::ShareSessionCmdParserManager_()
    : lock_("ShareSessionCmdParserManager") {}

ShareSessionCmdParser* ShareSessionCmdParserManager_::GetParser(const std::string& moduleName) {
  ScopedLock<CriticalSection> guard(lock_);
  std::unique_ptr<ShareSessionCmdParser>& parser = parsers_[moduleName];
  if (!parser) parser = std::make_unique<ShareSessionCmdParser>();
  return parser.get();
}

}  // namespace ZQBlog
}  // namespace Velmora
