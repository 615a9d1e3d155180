// The plug-in in a real host on the host's share session, with the test playing the
// other process of the session on the same hub: the serving process when the plug-in
// forwards (role 0), a forwarding process when the plug-in serves (role 1), and a
// bystander when the host gives the plug-in a role it does not know. Served commands
// run against the reference blog service.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/sharesession/ShareSessionHub.h"
#include "host/test/BlogServiceFixture.h"
#include "host/workshop/CommandWorkshop.h"
#include "interfaces/IOnRecvShareSessionMsg.h"
#include "interfaces/IOnRecvShareSessionOperationEvent.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IZQBlogResultSink.h"

namespace Velmora {
namespace ZQHost {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kModule[] = "ZQBlog";
const char kUser[] = "demo";
const wchar_t kWideUser[] = L"demo";
constexpr auto kWait = seconds(20);
// "旅行" in code page 936, the ANSI code page of the library's records.
const char kTravelGbk[] = "\xC2\xC3\xD0\xD0";

// ---------------------------------------------------------------- records

// Builds a share-session record: ints little-endian, strings with a 4-byte length.
class Record {
 public:
  Record& Int(int value) {
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<BYTE>((v >> (8 * i)) & 0xFF));
    return *this;
  }
  Record& Byte(int value) {
    bytes_.push_back(static_cast<BYTE>(value));
    return *this;
  }
  Record& String(const std::string& text) {
    Int(static_cast<int>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  const std::vector<BYTE>& bytes() const { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// Reads a record back; every read past the end fails and leaves ok() false.
class RecordCursor {
 public:
  explicit RecordCursor(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  int Int() {
    if (!ok_ || bytes_.size() - at_ < 4) return Fail();
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes_[at_ + i]) << (8 * i);
    at_ += 4;
    return static_cast<int>(v);
  }
  int Byte() {
    if (!ok_ || at_ >= bytes_.size()) return Fail();
    return bytes_[at_++];
  }
  std::string String() {
    const int length = Int();
    if (!ok_ || length < 0 || bytes_.size() - at_ < static_cast<size_t>(length)) {
      Fail();
      return std::string();
    }
    std::string text(bytes_.begin() + at_, bytes_.begin() + at_ + length);
    at_ += static_cast<size_t>(length);
    return text;
  }
  bool ok() const { return ok_; }

 private:
  int Fail() {
    ok_ = false;
    return 0;
  }
  const std::vector<BYTE> bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

// An album body of a change record: name, show status, type, desc, last time, pic url,
// tags.
void AppendAlbumBody(Record* record, const std::string& name, const std::string& desc,
                     const std::vector<std::string>& tags) {
  record->String(name).Int(1).Int(0).String(desc).String("2026-12-01 10:00:00");
  record->String("http://pic.velmora.cn/1.jpg").Int(static_cast<int>(tags.size()));
  for (const std::string& tag : tags) record->String(tag);
}

// A directory change record (notice 0) for uin.
std::vector<BYTE> DirectoryChange(const std::string& uin, const std::string& cid_dat_url) {
  Record record;
  record.String(uin).Byte(1).Int(3).String(cid_dat_url);
  record.Int(4).String("http://data.velmora.cn/blog/" + uin + "/albums.xml");
  record.Int(5).String("http://data.velmora.cn/blog/" + uin + "/album/<id>.xml");
  return record.bytes();
}

// ---------------------------------------------------------------- the peer's objects

// Orders what the peer sees across its sinks.
std::atomic<int> g_sequence{0};

struct SeenMessage {
  int id = 0;
  std::string name;
  std::vector<BYTE> payload;
  int sequence = 0;
};

SeenMessage DescribeMessage(IShareSessionMessage* message) {
  SeenMessage seen;
  message->GetId(&seen.id);
  char name[260] = {};
  if (message->GetName(name, sizeof name) == S_OK) seen.name = name;
  BYTE* data = nullptr;
  int size = 0;
  if (message->GetPayload(&data, &size) == S_OK && data != nullptr && size > 0) {
    seen.payload.assign(data, data + size);
  }
  seen.sequence = ++g_sequence;
  return seen;
}

template <class Item, class Predicate>
bool WaitFor(std::mutex* mutex, std::condition_variable* changed, const std::vector<Item>* items,
             Predicate predicate, milliseconds timeout) {
  std::unique_lock<std::mutex> lock(*mutex);
  return changed->wait_for(lock, timeout, [&] { return predicate(*items); });
}

// The peer's handler of operation requests (when it serves) and of result messages
// (when it forwards). It may answer a request during the call (on_request), or keep
// it, which keeps the request open until Answer releases it.
class PeerHandler : public CComObjectRootEx<CComMultiThreadModel>,
                    public IOnRecvShareSessionOperationEvent {
 public:
  BEGIN_COM_MAP(PeerHandler)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionOperationEvent)
  END_COM_MAP()

  static CComPtr<PeerHandler> Make() {
    CComObject<PeerHandler>* object = nullptr;
    CComObject<PeerHandler>::CreateInstance(&object);
    return CComPtr<PeerHandler>(object);
  }

  STDMETHOD(OnRecvOperation)(IShareSessionMessage* request) override {
    SeenMessage seen = DescribeMessage(request);
    std::function<void(IShareSessionMessage*)> answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answer = on_request_;
      if (keep_) kept_[seen.id] = request;
    }
    if (answer) answer(request);
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(seen);
    changed_.notify_all();
    return S_OK;
  }
  STDMETHOD(OnRecvOperationResult)(IShareSessionMessage* result) override {
    SeenMessage seen = DescribeMessage(result);
    std::lock_guard<std::mutex> lock(mutex_);
    results_.push_back(seen);
    changed_.notify_all();
    return S_OK;
  }

  void SetOnRequest(std::function<void(IShareSessionMessage*)> on_request) {
    std::lock_guard<std::mutex> lock(mutex_);
    on_request_ = std::move(on_request);
  }
  void KeepRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = true;
  }
  // The kept request with id (null when none).
  CComPtr<IShareSessionMessage> Kept(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = kept_.find(id);
    return it == kept_.end() ? CComPtr<IShareSessionMessage>() : it->second;
  }
  // Lets go of the kept request with id: the session then sends its answer.
  void Drop(int id) {
    CComPtr<IShareSessionMessage> gone;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = kept_.find(id);
    if (it == kept_.end()) return;
    gone.Attach(it->second.Detach());
    kept_.erase(it);
  }
  void DropAll() {
    std::map<int, CComPtr<IShareSessionMessage>> gone;
    std::lock_guard<std::mutex> lock(mutex_);
    gone.swap(kept_);
  }

  std::vector<SeenMessage> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::vector<SeenMessage> Results() {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
  }
  bool WaitRequests(size_t count) {
    return WaitFor(&mutex_, &changed_, &requests_,
                   [count](const std::vector<SeenMessage>& v) { return v.size() >= count; },
                   kWait);
  }
  // Waits for the answer to the request with id and returns it (id 0 when none came).
  SeenMessage WaitResult(int id) {
    SeenMessage found;
    WaitFor(&mutex_, &changed_, &results_,
            [&](const std::vector<SeenMessage>& v) {
              for (const SeenMessage& m : v) {
                if (m.id == id) {
                  found = m;
                  return true;
                }
              }
              return false;
            },
            kWait);
    return found;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void(IShareSessionMessage*)> on_request_;
  bool keep_ = false;
  std::map<int, CComPtr<IShareSessionMessage>> kept_;
  std::vector<SeenMessage> requests_;
  std::vector<SeenMessage> results_;
};

// The peer's message sink for change broadcasts; reads the payload during the call.
class PeerNoticeSink : public CComObjectRootEx<CComMultiThreadModel>,
                       public IOnRecvShareSessionMsg {
 public:
  BEGIN_COM_MAP(PeerNoticeSink)
  COM_INTERFACE_ENTRY(IOnRecvShareSessionMsg)
  END_COM_MAP()

  struct Notice {
    int type = -1;
    std::vector<BYTE> payload;
    int sequence = 0;
  };

  static CComPtr<PeerNoticeSink> Make(IShareSessionChannel* channel) {
    CComObject<PeerNoticeSink>* object = nullptr;
    CComObject<PeerNoticeSink>::CreateInstance(&object);
    object->channel_ = channel;  // not owned: the channel holds the sink
    return CComPtr<PeerNoticeSink>(object);
  }

  STDMETHOD(OnRecvShareSessionMsg)(int /*first*/, int type, int, int) override {
    Notice notice;
    notice.type = type;
    channel_->BeginReadMessage();
    const BYTE* data = nullptr;
    int length = 0;
    if (channel_->GetMessagePayload(&data, &length) == S_OK && data != nullptr) {
      notice.payload.assign(data, data + length);
    }
    channel_->EndReadMessage();
    notice.sequence = ++g_sequence;
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.push_back(notice);
    changed_.notify_all();
    return S_OK;
  }

  std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
  }
  bool WaitNotices(size_t count) {
    return WaitFor(&mutex_, &changed_, &notices_,
                   [count](const std::vector<Notice>& v) { return v.size() >= count; }, kWait);
  }

 private:
  IShareSessionChannel* channel_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notice> notices_;
};

// A second result sink of the host, to see exactly which results the plug-in announced.
class ResultEvents : public CComObjectRootEx<CComMultiThreadModel>, public IZQBlogResultSink {
 public:
  BEGIN_COM_MAP(ResultEvents)
  COM_INTERFACE_ENTRY(IZQBlogResultSink)
  END_COM_MAP()

  static CComPtr<ResultEvents> Make() {
    CComObject<ResultEvents>* object = nullptr;
    CComObject<ResultEvents>::CreateInstance(&object);
    return CComPtr<ResultEvents>(object);
  }
  STDMETHOD(OnResultReady)(int commandId, int resultKind) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(commandId, resultKind);
    return S_OK;
  }
  std::vector<std::pair<int, int>> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<int, int>> events_;
};

// A loopback port nothing listens on: a forwarding process must not need the network.
uint16_t ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t size = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

int StateOf(IWorkshopCmd* command) {
  int state = -1;
  command->GetState(&state);
  return state;
}

std::wstring Text(ICommonResult* result, HRESULT (STDMETHODCALLTYPE ICommonResult::*get)(BSTR*)) {
  BSTR text = nullptr;
  (result->*get)(&text);
  return TakeBstr(text);
}

int Value(ICommonResult* result, HRESULT (STDMETHODCALLTYPE ICommonResult::*get)(int*)) {
  int value = -1;
  (result->*get)(&value);
  return value;
}

// ---------------------------------------------------------------- the fixture

class ShareSessionAgainstServiceTest : public BlogServiceFixture {
 protected:
  void TearDown() override {
    if (handler_) {
      handler_->SetOnRequest(nullptr);
      handler_->DropAll();
    }
    if (channel_ && notices_) channel_->AttachMessageSink(nullptr);
    if (channel_ && handler_) channel_->DetachResultSink(handler_);
    if (server_) server_->AttachOperationHandler(nullptr);
    if (host_ && host_->Blog() != nullptr && events_) host_->Blog()->UnadviseResultSink(events_);
    server_.Release();
    channel_.Release();
    peer_.Release();
    BlogServiceFixture::TearDown();
  }

  // Starts the plug-in's host in role and joins the session as the peer with
  // peer_role; a second result sink of the host records the plug-in's result events.
  void StartPair(int role, int peer_role, HostApplicationOptions options) {
    options.share_session_role = role;
    ASSERT_NO_FATAL_FAILURE(StartHost(kWideUser, options));
    ASSERT_NE(nullptr, host().ShareSession());
    ASSERT_EQ(S_OK, CreateShareSessionManager(host().ShareSession(), peer_role, &peer_));
    handler_ = PeerHandler::Make();
    events_ = ResultEvents::Make();
    ASSERT_EQ(S_OK, blog()->AdviseResultSink(events_));
  }
  void StartPair(int role, int peer_role) { StartPair(role, peer_role, Options()); }

  // The peer serves the module (the plug-in forwards to it).
  void PeerServes() {
    peer_->RegisterModule(kModule, 10);
    ASSERT_EQ(S_OK, peer_->GetModuleServer(kModule, 10, &server_));
    ASSERT_EQ(S_OK, server_->AttachOperationHandler(handler_));
  }

  // The peer forwards: its channel with the result handler and a notice sink.
  void PeerForwards() {
    ASSERT_EQ(S_OK, peer_->GetModuleChannel(kModule, 0, &channel_));
    ASSERT_EQ(S_OK, channel_->AttachResultSink(handler_));
    notices_ = PeerNoticeSink::Make(channel_);
    ASSERT_EQ(S_OK, channel_->AttachMessageSink(notices_));
  }

  // The peer broadcasts a change as the serving process does.
  void Publish(const std::vector<BYTE>& payload, int notice) {
    ASSERT_EQ(S_OK, server_->PublishData(payload.data(), static_cast<int>(payload.size())));
    ASSERT_EQ(S_OK, server_->PublishNotice(0, notice, 0, 0));
  }
  void PublishAndWait(const std::vector<BYTE>& payload, int notice) {
    ASSERT_NO_FATAL_FAILURE(Publish(payload, notice));
    host().ShareSession()->WaitIdle();
  }

  // The peer's answer to request: a result message with payload (the request is
  // answered once nothing holds it any more).
  void Answer(IShareSessionMessage* request, const std::vector<BYTE>& payload) {
    CComPtr<IShareSessionMessage> result;
    ASSERT_EQ(S_OK, server_->CreateResultMessage(request, &result));
    ASSERT_EQ(S_OK, result->SetPayloadSize(static_cast<int>(payload.size())));
    BYTE* data = nullptr;
    int size = 0;
    ASSERT_EQ(S_OK, result->GetPayload(&data, &size));
    ASSERT_EQ(payload.size(), static_cast<size_t>(size));
    if (size > 0) std::memcpy(data, payload.data(), payload.size());
  }

  // The peer forwards a command: an operation message named name with payload; its id.
  int Forward(const char* name, const std::vector<BYTE>& payload) {
    CComPtr<IShareSessionMessage> message;
    EXPECT_EQ(S_OK, channel_->CreateOperationMessage(&message));
    if (!message) return 0;
    EXPECT_EQ(S_OK, message->SetName(name));
    EXPECT_EQ(S_OK, message->SetPayloadSize(static_cast<int>(payload.size())));
    BYTE* data = nullptr;
    int size = 0;
    EXPECT_EQ(S_OK, message->GetPayload(&data, &size));
    if (data != nullptr && !payload.empty()) std::memcpy(data, payload.data(), payload.size());
    EXPECT_EQ(S_OK, channel_->SendOperationMessage(message));
    int id = 0;
    message->GetId(&id);
    return id;
  }

  // Forwards name and waits for its answer; the status of the answer's record (-1
  // when no answer came).
  int ForwardAndWait(const char* name, const std::vector<BYTE>& payload,
                     SeenMessage* answer = nullptr) {
    const int id = Forward(name, payload);
    SeenMessage seen = handler_->WaitResult(id);
    if (answer != nullptr) *answer = seen;
    if (seen.id != id) return -1;
    RecordCursor cursor(seen.payload);
    const int status = cursor.Int();
    return cursor.ok() ? status : -1;
  }

  CComPtr<IShareSessionManager> peer_;
  CComPtr<IShareSessionServer> server_;
  CComPtr<IShareSessionChannel> channel_;
  CComPtr<PeerHandler> handler_;
  CComPtr<PeerNoticeSink> notices_;
  CComPtr<ResultEvents> events_;
};

// ---------------------------------------------------------------- role 0: forward

class ShareSessionForwardTest : public ShareSessionAgainstServiceTest {
 protected:
  void SetUp() override {
    ShareSessionAgainstServiceTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Whatever reaches the network fails: the forwarding process must not need it.
    HostApplicationOptions options = Options();
    options.connect_to = {"127.0.0.1", ClosedPort()};
    ASSERT_NO_FATAL_FAILURE(StartPair(0, 1, options));
    ASSERT_NO_FATAL_FAILURE(PeerServes());
  }
};

TEST_F(ShareSessionForwardTest, CommandGoesToTheServingPeerAndEndsOnItsAnswer) {
  const std::string cid_dat_url = "http://data.velmora.cn/cid/demo/Cid.dat";
  // The peer serves each request as the serving process would: it broadcasts the
  // change, then answers with status 1.
  handler_->SetOnRequest([&](IShareSessionMessage* request) {
    char name[260] = {};
    request->GetName(name, sizeof name);
    if (std::string(name) == "RefreshBlogServerInfo") {
      Publish(DirectoryChange(kUser, cid_dat_url), 0);
    } else if (std::string(name) == "GetAlbumList") {
      Record change;
      change.String(kUser).Int(2);
      change.Int(31);
      AppendAlbumBody(&change, kTravelGbk, "by the sea", {"sea", "hill"});
      change.Int(32);
      AppendAlbumBody(&change, "Work", "", {});
      Publish(change.bytes(), 2);
    }
    Answer(request, Record().Int(1).Int(0).Int(0).bytes());
  });

  OperationOutcome out = RefreshDirectory(kWideUser, 77);
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(5, out.final_state);
  EXPECT_EQ(1, out.command_id);
  EXPECT_EQ(0, out.result_kind);
  EXPECT_EQ(1, Value(out.result, &ICommonResult::GetStatus));
  EXPECT_EQ(0, Value(out.result, &ICommonResult::GetOperationIndex));
  // The context value stays in the forwarding process and comes back in its result.
  EXPECT_EQ(77, Value(out.result, &ICommonResult::GetExtraValue));
  EXPECT_EQ(L"demo", Text(out.result, &ICommonResult::GetUin));
  EXPECT_EQ(L"获取服务器信息", Text(out.result, &ICommonResult::GetOperationTitle));

  // The operation message: the command name and the user id record.
  std::vector<SeenMessage> requests = handler_->Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("RefreshBlogServerInfo", requests[0].name);
  EXPECT_EQ(Record().String(kUser).bytes(), requests[0].payload);
  // The broadcast that came before the answer is in the session.
  bool opened = false;
  EXPECT_EQ(S_OK, blog()->IsBlogOpened(kWideUser, &opened));
  EXPECT_TRUE(opened);
  BSTR url = nullptr;
  EXPECT_EQ(S_OK, blog()->GetCidDatUrl(kWideUser, &url));
  EXPECT_EQ(L"http://data.velmora.cn/cid/demo/Cid.dat", TakeBstr(url));

  out = FetchAlbumList(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(2, out.command_id);
  EXPECT_EQ(1, Value(out.result, &ICommonResult::GetStatus));
  EXPECT_EQ(2, Value(out.result, &ICommonResult::GetOperationIndex));
  requests = handler_->Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("GetAlbumList", requests[1].name);
  EXPECT_EQ(Record().String(kUser).bytes(), requests[1].payload);
  EXPECT_NE(requests[0].id, requests[1].id);
  std::vector<SessionAlbum> albums = SessionAlbums(kWideUser);
  ASSERT_EQ(2u, albums.size());
  EXPECT_EQ(31, albums[0].id);
  EXPECT_EQ(L"旅行", albums[0].name);
  EXPECT_EQ(L"by the sea", albums[0].desc);
  EXPECT_EQ((std::vector<std::wstring>{L"sea", L"hill"}), albums[0].tags);
  EXPECT_EQ(32, albums[1].id);
  EXPECT_EQ(L"Work", albums[1].name);

  // Each result was announced once, under its own command id.
  EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 0}, {2, 0}}), events_->Events());
}

TEST_F(ShareSessionForwardTest, AnswerToAnotherCommandLeavesACommandWaiting) {
  handler_->KeepRequests();
  CComPtr<IWorkshopCmd> albums;
  CComPtr<IWorkshopCmd> cid_dat;
  ASSERT_EQ(S_OK, host().Operation()->GetAlbumList(kWideUser, nullptr, &albums));
  ASSERT_EQ(S_OK, host().Operation()->GetCidDat(kWideUser, nullptr, &cid_dat));
  ASSERT_TRUE(handler_->WaitRequests(2));
  int albums_id = 0;
  int cid_dat_id = 0;
  for (const SeenMessage& request : handler_->Requests()) {
    if (request.name == "GetAlbumList") albums_id = request.id;
    if (request.name == "GetCidDat") cid_dat_id = request.id;
  }
  ASSERT_NE(0, albums_id);
  ASSERT_NE(0, cid_dat_id);
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(0, StateOf(albums));
  EXPECT_EQ(0, StateOf(cid_dat));

  // The answer to the second command reaches both commands' result sinks on the
  // plug-in's channel; only the second ends.
  CComPtr<IShareSessionMessage> request = handler_->Kept(cid_dat_id);
  ASSERT_TRUE(request);
  ASSERT_NO_FATAL_FAILURE(Answer(request, Record().Int(1).Int(0).bytes()));
  request.Release();
  handler_->Drop(cid_dat_id);
  ASSERT_EQ(CommandWorkshop::WaitResult::kFinished,
            host().Workshop()->WaitForCommand(cid_dat, kWait));
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(5, StateOf(cid_dat));
  EXPECT_EQ(0, StateOf(albums));
  EXPECT_EQ((std::vector<std::pair<int, int>>{{2, 0}}), events_->Events());
  CComPtr<ICommonResult> result;
  ASSERT_EQ(S_OK, blog()->GetCommandResult(2, &result));
  EXPECT_EQ(1, Value(result, &ICommonResult::GetStatus));
  EXPECT_EQ(1, Value(result, &ICommonResult::GetOperationIndex));
  result.Release();
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(1, &result));

  // The first command's own answer, with a record it cannot read: it ends failed and
  // files nothing.
  request = handler_->Kept(albums_id);
  ASSERT_TRUE(request);
  ASSERT_NO_FATAL_FAILURE(Answer(request, std::vector<BYTE>{1, 0}));
  request.Release();
  handler_->Drop(albums_id);
  ASSERT_EQ(CommandWorkshop::WaitResult::kFinished,
            host().Workshop()->WaitForCommand(albums, kWait));
  EXPECT_EQ(6, StateOf(albums));
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(1, &result));
  EXPECT_EQ((std::vector<std::pair<int, int>>{{2, 0}}), events_->Events());
}

TEST_F(ShareSessionForwardTest, ChangeBroadcastsOfThePeerAreDecodedIntoTheSession) {
  ASSERT_NO_FATAL_FAILURE(
      PublishAndWait(DirectoryChange(kUser, "http://data.velmora.cn/cid/demo/Cid.dat"), 0));
  bool opened = false;
  ASSERT_EQ(S_OK, blog()->IsBlogOpened(kWideUser, &opened));
  EXPECT_TRUE(opened);

  // Album list, then a resource list of one of its albums.
  Record list;
  list.String(kUser).Int(2).Int(41);
  AppendAlbumBody(&list, "Music", "songs", {"pop"});
  list.Int(42);
  AppendAlbumBody(&list, kTravelGbk, "", {});
  ASSERT_NO_FATAL_FAILURE(PublishAndWait(list.bytes(), 2));
  Record resources;
  resources.String(kUser).Int(41).Int(1).Int(501);
  resources.String("AA11").String("BB22").String("song.mp3").String("mp3").String("1024");
  resources.String("2026-12-01 10:00:00").String("http://dl.velmora.cn/song.mp3");
  resources.String("").String("").String("a song").Int(1).Int(0).Int(41).String(kUser);
  ASSERT_NO_FATAL_FAILURE(PublishAndWait(resources.bytes(), 3));
  SessionAlbum music = SessionAlbumById(kWideUser, 41);
  EXPECT_EQ(L"Music", music.name);
  EXPECT_EQ(L"songs", music.desc);
  ASSERT_EQ(1u, music.resources.size());
  EXPECT_EQ(501, music.resources[0].id);
  EXPECT_EQ(L"song.mp3", music.resources[0].name);
  EXPECT_EQ(L"a song", music.resources[0].desc);
  EXPECT_EQ(L"旅行", SessionAlbumById(kWideUser, 42).name);

  // A refused modify changes nothing; a removal takes the album away.
  ASSERT_NO_FATAL_FAILURE(PublishAndWait(Record().String(kUser).String("fail").bytes(), 4));
  EXPECT_EQ(L"Music", SessionAlbumById(kWideUser, 41).name);
  ASSERT_NO_FATAL_FAILURE(
      PublishAndWait(Record().String(kUser).String("success").Int(42).bytes(), 6));
  CComPtr<IZQAlbumInfo> gone;
  EXPECT_EQ(E_FAIL, blog()->GetAlbumInfo(kWideUser, 42, &gone));
  EXPECT_FALSE(gone);
  EXPECT_EQ(41, SessionAlbumById(kWideUser, 41).id);

  // Another user's change is filed under that user.
  ASSERT_NO_FATAL_FAILURE(
      PublishAndWait(DirectoryChange("other", "http://data.velmora.cn/cid/other/Cid.dat"), 0));
  BSTR url = nullptr;
  ASSERT_EQ(S_OK, blog()->GetCidDatUrl(L"other", &url));
  EXPECT_EQ(L"http://data.velmora.cn/cid/other/Cid.dat", TakeBstr(url));

  // Broadcasts start no command and deliver no result.
  EXPECT_TRUE(handler_->Requests().empty());
  EXPECT_TRUE(events_->Events().empty());
}

// ---------------------------------------------------------------- role 1: serve

class ShareSessionServeTest : public ShareSessionAgainstServiceTest {
 protected:
  void SetUp() override {
    ShareSessionAgainstServiceTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(store().SeedDemo(kUser));
    ASSERT_NO_FATAL_FAILURE(StartPair(1, 0));
    ASSERT_NO_FATAL_FAILURE(PeerForwards());
  }

  int AlbumIdNamed(const std::string& name) {
    const auto list = store().GetAlbumList(kUser);
    if (!list) return 0;
    for (const auto& album : list->albums) {
      if (album.fields.name == name) return album.id;
    }
    return 0;
  }
};

TEST_F(ShareSessionServeTest, ForwardedReadsRunHereAndComeBackAsBroadcasts) {
  SeenMessage answer;
  ASSERT_EQ(1, ForwardAndWait("RefreshBlogServerInfo", Record().String(kUser).bytes(), &answer));
  EXPECT_EQ("RefreshBlogServerInfo", answer.name);
  // The broadcast went out before the answer.
  ASSERT_TRUE(notices_->WaitNotices(1));
  std::vector<PeerNoticeSink::Notice> notices = notices_->Notices();
  ASSERT_EQ(1u, notices.size());
  EXPECT_EQ(0, notices[0].type);
  EXPECT_LT(notices[0].sequence, answer.sequence);
  {
    RecordCursor change(notices[0].payload);
    EXPECT_EQ(kUser, change.String());
    EXPECT_EQ(1, change.Byte());
    change.Int();
    EXPECT_EQ("http://data.velmora.cn/cid/demo/Cid.dat", change.String());
    change.Int();
    EXPECT_EQ("http://data.velmora.cn/blog/demo/albums.xml", change.String());
    EXPECT_TRUE(change.ok());
  }
  // The serving process applied the directory itself.
  bool opened = false;
  EXPECT_EQ(S_OK, blog()->IsBlogOpened(kWideUser, &opened));
  EXPECT_TRUE(opened);

  ASSERT_EQ(1, ForwardAndWait("GetAlbumList", Record().String(kUser).bytes(), &answer));
  EXPECT_EQ("GetAlbumList", answer.name);
  ASSERT_TRUE(notices_->WaitNotices(2));
  notices = notices_->Notices();
  ASSERT_EQ(2u, notices.size());
  EXPECT_EQ(2, notices[1].type);
  const auto listed = store().GetAlbumList(kUser)->albums;
  {
    RecordCursor change(notices[1].payload);
    EXPECT_EQ(kUser, change.String());
    ASSERT_EQ(static_cast<int>(listed.size()), change.Int());
    std::vector<int> ids;
    for (size_t i = 0; i < listed.size() && change.ok(); ++i) {
      ids.push_back(change.Int());
      change.String();  // name
      change.Int();
      change.Int();
      change.String();
      change.String();
      change.String();
      const int tags = change.Int();
      for (int t = 0; t < tags && change.ok(); ++t) change.String();
    }
    EXPECT_TRUE(change.ok());
    std::vector<int> expected;
    for (const auto& album : listed) expected.push_back(album.id);
    std::sort(ids.begin(), ids.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ids);
  }
  std::vector<SessionAlbum> albums = SessionAlbums(kWideUser);
  EXPECT_EQ(listed.size(), albums.size());
  EXPECT_EQ(L"旅行", SessionAlbumById(kWideUser, AlbumIdNamed("旅行")).name);

  // A served command broadcasts instead of delivering: nothing was filed here.
  EXPECT_TRUE(events_->Events().empty());
  CComPtr<ICommonResult> none;
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(1, &none));
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(2, &none));
}

TEST_F(ShareSessionServeTest, ForwardedWriteChangesTheServiceAndBroadcastsOnlyWhenAccepted) {
  ZQBlog::Service::AlbumFields empty;
  empty.name = "Empty one";
  const int empty_id = store().AddAlbum(kUser, empty);
  const int travel_id = AlbumIdNamed("旅行");
  ASSERT_NE(0, travel_id);
  ASSERT_EQ(1, ForwardAndWait("RefreshBlogServerInfo", Record().String(kUser).bytes()));
  ASSERT_EQ(1, ForwardAndWait("GetAlbumList", Record().String(kUser).bytes()));
  ASSERT_TRUE(notices_->WaitNotices(2));
  const size_t albums_before = store().GetAlbumList(kUser)->albums.size();

  // Refused by the service (the album holds resources): no broadcast, status 0.
  ASSERT_EQ(0, ForwardAndWait("RemoveAlbum", Record().String(kUser).Int(travel_id).bytes()));
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(2u, notices_->Notices().size());
  EXPECT_TRUE(store().GetAlbum(travel_id).has_value());
  EXPECT_EQ(albums_before, store().GetAlbumList(kUser)->albums.size());
  EXPECT_EQ(travel_id, SessionAlbumById(kWideUser, travel_id).id);

  // Accepted: the album goes from the service and from the serving session, and the
  // change goes out with notice 6.
  ASSERT_EQ(1, ForwardAndWait("RemoveAlbum", Record().String(kUser).Int(empty_id).bytes()));
  ASSERT_TRUE(notices_->WaitNotices(3));
  const PeerNoticeSink::Notice removal = notices_->Notices()[2];
  EXPECT_EQ(6, removal.type);
  EXPECT_EQ(Record().String(kUser).String("success").Int(empty_id).bytes(), removal.payload);
  EXPECT_FALSE(store().GetAlbum(empty_id).has_value());
  CComPtr<IZQAlbumInfo> gone;
  EXPECT_EQ(E_FAIL, blog()->GetAlbumInfo(kWideUser, empty_id, &gone));
  EXPECT_TRUE(events_->Events().empty());
}

TEST_F(ShareSessionServeTest, OwnOperationsBroadcastAndUnknownRequestsAreDropped) {
  // The plug-in's own command in the serving process: run here, broadcast, no result.
  OperationOutcome out = RefreshDirectory(kWideUser);
  EXPECT_EQ(OperationOutcome::Kind::kNoResult, out.kind) << out.Describe();
  EXPECT_EQ(5, out.final_state);
  ASSERT_TRUE(notices_->WaitNotices(1));
  EXPECT_EQ(0, notices_->Notices()[0].type);
  RecordCursor change(notices_->Notices()[0].payload);
  EXPECT_EQ(kUser, change.String());

  // A user without a blog: the directory result is delivered in every role, and
  // there is nothing to broadcast.
  out = RefreshDirectory(L"nobody");
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(1, Value(out.result, &ICommonResult::GetStatus));
  EXPECT_EQ(L"nobody", Text(out.result, &ICommonResult::GetUin));
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(1u, notices_->Notices().size());

  // A request with a name no command has is answered without running anything.
  EXPECT_EQ(0, ForwardAndWait("NoSuchCommand", Record().String(kUser).bytes()));
  // So is one whose record cannot be read (a user id length beyond the payload).
  EXPECT_EQ(0, ForwardAndWait("GetAlbumList", Record().Int(400).bytes()));
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(1u, notices_->Notices().size());
  EXPECT_EQ(0u, host().Workshop()->PendingCount());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{2, 0}}), events_->Events());

  // A forwarded refresh for a user without a blog: the serving process has no change
  // to broadcast; it answers the forwarding process with the directory's result record
  // (status 1) and delivers nothing itself.
  EXPECT_EQ(1, ForwardAndWait("RefreshBlogServerInfo", Record().String("nobody").bytes()));
  host().ShareSession()->WaitIdle();
  EXPECT_EQ(1u, notices_->Notices().size());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{2, 0}}), events_->Events());
}

// ---------------------------------------------------------------- an unknown role

class ShareSessionUnknownRoleTest : public ShareSessionAgainstServiceTest {
 protected:
  void SetUp() override {
    ShareSessionAgainstServiceTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(store().SeedDemo(kUser));
    ASSERT_NO_FATAL_FAILURE(StartPair(3, 1));
    ASSERT_NO_FATAL_FAILURE(PeerServes());
  }
};

TEST_F(ShareSessionUnknownRoleTest, CommandRefusesToStartAndNothingIsSent) {
  CComPtr<IWorkshopCmd> command;
  ASSERT_EQ(S_OK, host().Operation()->GetAlbumList(kWideUser, nullptr, &command));
  ASSERT_TRUE(command);
  CommandWorkshop::StartInfo info;
  ASSERT_TRUE(host().Workshop()->WaitForStart(command, kWait, &info));
  EXPECT_EQ(E_FAIL, info.result);
  EXPECT_EQ(0, info.state);
  EXPECT_EQ(CommandWorkshop::WaitResult::kGivenUp,
            host().Workshop()->WaitForCommand(command, kWait));
  EXPECT_EQ(0, StateOf(command));
  // Asked again, it refuses again and stays where it was.
  EXPECT_EQ(E_FAIL, command->Start());
  EXPECT_EQ(0, StateOf(command));

  OperationOutcome out = RefreshDirectory(kWideUser);
  EXPECT_EQ(OperationOutcome::Kind::kNoResult, out.kind) << out.Describe();
  EXPECT_EQ(0, out.final_state);

  // Nothing was forwarded, fetched, filed or announced.
  host().ShareSession()->WaitIdle();
  EXPECT_TRUE(handler_->Requests().empty());
  EXPECT_TRUE(events_->Events().empty());
  CComPtr<ICommonResult> none;
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(1, &none));
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(2, &none));
  bool opened = false;
  EXPECT_EQ(E_FAIL, blog()->IsBlogOpened(kWideUser, &opened));

  // The plug-in joined no channel in this role: broadcasts pass it by.
  ASSERT_NO_FATAL_FAILURE(
      PublishAndWait(DirectoryChange(kUser, "http://data.velmora.cn/cid/demo/Cid.dat"), 0));
  EXPECT_EQ(E_FAIL, blog()->IsBlogOpened(kWideUser, &opened));
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
