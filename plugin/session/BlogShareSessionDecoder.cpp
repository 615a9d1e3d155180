#include "session/BlogShareSessionDecoder.h"

#include <memory>

#include "data/RecordText.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "module/ZQBlogPlugin.h"
#include "platform/atl.h"
#include "util/CriticalSection.h"
#include "util/SingletonHolder.h"

namespace Velmora {
namespace ZQBlog {
namespace {

typedef TAVO::System::Thread::ScopedLock<TAVO::System::Thread::CriticalSection> Hold;

// Access to the broadcast being delivered on a channel, ended when it goes out of
// scope (after a conversion error too).
class MessageAccess {
 public:
  explicit MessageAccess(IShareSessionChannel* channel)
      : channel_(channel), begun_(SUCCEEDED(channel->BeginReadMessage())) {}
  ~MessageAccess() {
    if (begun_) channel_->EndReadMessage();
  }
  MessageAccess(const MessageAccess&) = delete;
  MessageAccess& operator=(const MessageAccess&) = delete;

  bool begun() const { return begun_; }

 private:
  IShareSessionChannel* channel_;
  bool begun_;
};

// The module channel of "ZQBlog" through the host platform; null when any step fails.
CComPtr<IShareSessionChannel> ModuleChannel() {
  CComPtr<IShareSessionChannel> channel;
  IZQCPPlatform* platform = ZQCP::GetHostPlatform();
  if (platform == nullptr) return channel;
  CComPtr<IShareSessionManager> manager;
  if (FAILED(platform->GetShareSessionManager(&manager)) || !manager) return channel;
  if (FAILED(manager->GetModuleChannel(kModuleName, 0, &channel))) channel.Release();
  return channel;
}

}  // namespace

BlogShareSessionDecoder_* BlogShareSessionDecoder_::Instance() {
  return TAVO::Pattern::SingletonHolder<BlogShareSessionDecoder_,
                                        TAVO::System::Thread::CriticalSection>::Instance();
}

BlogShareSessionDecoder_::BlogShareSessionDecoder_() : session_(BlogSession_::Instance()) {}

BlogShareSessionDecoder_::BlogShareSessionDecoder_(BlogSession_* session) : session_(session) {}

bool BlogShareSessionDecoder_::DecodeMessage(int noticeCode, int /*value1*/, int /*value2*/) {
  if (session_ == nullptr || session_->CurrentUin().empty()) return false;
  Hold hold(noticeCode == kNoticeServerDirectory ? session_->ServerLock()
                                                 : session_->AlbumListLock());
  CComPtr<IShareSessionChannel> channel = ModuleChannel();
  if (!channel) return false;
  MessageAccess access(channel);
  if (!access.begun()) return false;
  const BYTE* payload = nullptr;
  int length = 0;
  if (FAILED(channel->GetMessagePayload(&payload, &length)) || payload == nullptr ||
      length <= 0) {
    return false;
  }
  RecordReader reader(payload, static_cast<size_t>(length));
  return ApplyNotice(noticeCode, &reader);
}

bool BlogShareSessionDecoder_::ApplyNotice(int noticeCode, RecordReader* reader) {
  switch (noticeCode) {
    case kNoticeServerDirectory:
      return ApplyServerDirectory(reader);
    default:
      // Codes 1 to 11 are applied by handlers not written yet; any other code has none.
      return false;
  }
}

bool BlogShareSessionDecoder_::ApplyServerDirectory(RecordReader* reader) {
  std::wstring uin;
  uint8_t opened = 0;
  int32_t cidDatNumber = 0;
  int32_t albumListNumber = 0;
  int32_t resourceListNumber = 0;
  std::unique_ptr<ServerDirectoryRecord> record(new ServerDirectoryRecord());
  // The record replaces what the user had only when it arrived whole.
  bool whole = ReadTextItem(reader, kUinLimit, &uin) && reader->ReadByte(&opened) &&
               reader->ReadInt(&cidDatNumber) &&
               ReadTextItem(reader, kUrlLimit, &record->CidDatUrl) &&
               reader->ReadInt(&albumListNumber) &&
               ReadTextItem(reader, kUrlLimit, &record->AlbumListUrl) &&
               reader->ReadInt(&resourceListNumber) &&
               ReadTextItem(reader, kUrlLimit, &record->ResourceListUrl);
  if (!whole || uin.empty()) return false;
  record->Opened = opened != 0;
  record->CidDatNumber = cidDatNumber;
  record->AlbumListNumber = albumListNumber;
  record->ResourceListNumber = resourceListNumber;
  session_->StoreServerEntry(uin, std::move(record));
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
