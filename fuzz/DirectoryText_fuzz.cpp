// The server directory reply (CmdRefreshBlogServerInfo), from arbitrary text, taken by
// a serving process (role 1) whose session may already hold the user's record.
//
// Input: one byte (bit 0: the user has a directory record before the reply), then the
// reply body.
//
// Checks, against the reply format the command documents:
//   - its line split and its number reading give what the format says;
//   - the reply's outcome (success or failure), the user's record and the seven write
//     endpoints afterwards are those the format gives, a failed parse included (an
//     existing record keeps what was written before the failure, a new one is not
//     stored, endpoints read before the failure stay);
//   - a reply that changed the record is broadcast once, with notice code 0, and a
//     forwarding process that decodes the broadcast holds the same record (its texts
//     as the code page spells them).
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commands/CmdRefreshBlogServerInfo.h"
#include "data/BlogPackageParser.h"
#include "framework/ShareSessionCmd.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/FuzzSupport.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/StringConversion.h"

namespace {

using namespace Velmora::ZQBlog;
using namespace Velmora::ZQBlog::fuzzing;

// The command with its reply hook callable from here.
class DirectoryProbe : public CmdRefreshBlogServerInfo {
 public:
  using CmdRefreshBlogServerInfo::OnReplyPackage;
};

const wchar_t* const kOperations[kEndpointCount] = {
    L"resource_batch_collect", L"resource_batch_remove", L"category_delete", L"category_create",
    L"category_update",        L"resource_update",       L"resource_batch_move",
};

// Line 0 is the text before the first CR; each later line the text between two CRs
// without its first character; the text after the last CR only when something is left
// of it once that character is dropped.
std::vector<std::wstring> LinesOf(const std::wstring& text) {
  std::vector<std::wstring> pieces(1);
  for (wchar_t c : text) {
    if (c == L'\r') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  std::vector<std::wstring> lines = {pieces[0]};
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::wstring line = pieces[i].empty() ? pieces[i] : pieces[i].substr(1);
    if (i + 1 == pieces.size() && line.empty()) break;
    lines.push_back(line);
  }
  return lines;
}

// White space, a sign, the leading digits; 0 without digits; clamped to int.
int NumberOf(const std::wstring& text) {
  size_t i = text.find_first_not_of(L" \t\n\v\f\r");
  if (i == std::wstring::npos) return 0;
  int sign = 1;
  if (text[i] == L'+' || text[i] == L'-') sign = text[i++] == L'-' ? -1 : 1;
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (value < 10000000000LL) value = value * 10 + (text[i] - L'0');
  }
  value *= sign;
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

ServerDirectoryRecord PriorRecord() {
  ServerDirectoryRecord record;
  record.Opened = true;
  record.CidDatNumber = 7;
  record.CidDatUrl = L"http://data.velmora.cn/cid/10001/Cid.dat";
  record.AlbumListNumber = 3;
  record.AlbumListUrl = L"http://data.velmora.cn/blog/10001/albums.xml";
  record.ResourceListNumber = 2;
  record.ResourceListUrl = L"http://data.velmora.cn/blog/10001/album/<id>.xml";
  return record;
}

// record with its texts as the code page spells them: what the broadcast carries (a
// byte the code page does not know is read as U+FFFD and written back as '?').
ServerDirectoryRecord Spelt(ServerDirectoryRecord record) {
  for (std::wstring* text : {&record.CidDatUrl, &record.AlbumListUrl, &record.ResourceListUrl}) {
    *text = AnsiToWide(WideToAnsi(*text));
  }
  return record;
}

// What the session should hold after the reply.
struct Outcome {
  bool ok = false;
  bool present = false;
  ServerDirectoryRecord record;
  std::wstring endpoints[kEndpointCount][2];
};

Outcome Expect(const std::vector<std::wstring>& lines, bool prior) {
  Outcome out;
  out.present = prior;
  if (prior) out.record = PriorRecord();
  for (int i = 0; i < kEndpointCount; ++i) {
    out.endpoints[i][0] = L"h" + std::to_wstring(i);
    out.endpoints[i][1] = L"/p" + std::to_wstring(i);
  }
  if (lines[0] == L"404") {
    out.record.Opened = false;
    out.ok = true;
    return out;
  }
  auto has = [&lines](size_t line) { return line < lines.size(); };
  for (size_t url : {2u, 4u, 6u}) {
    if (has(url) && WideToAnsi(lines[url]).size() > 65536) return out;
  }
  ServerDirectoryRecord record = out.record;
  record.Opened = true;
  if (has(1)) record.CidDatNumber = NumberOf(lines[1]);
  if (has(2)) record.CidDatUrl = lines[2];
  if (has(3)) record.AlbumListNumber = NumberOf(lines[3]);
  if (has(4)) record.AlbumListUrl = lines[4];
  if (has(5)) record.ResourceListNumber = NumberOf(lines[5]);
  if (has(6)) record.ResourceListUrl = lines[6];
  if (prior) out.record = record;  // written in place, whatever follows
  for (size_t name = 7; name <= 27 && has(name); name += 3) {
    int index = -1;
    for (int i = 0; i < kEndpointCount; ++i) {
      if (lines[name] == kOperations[i]) index = i;
    }
    if (index < 0 || !has(name + 2)) return out;
    out.endpoints[index][0] = lines[name + 1];
    out.endpoints[index][1] = lines[name + 2];
  }
  out.ok = true;
  out.present = true;
  out.record = record;
  return out;
}

void Prepare(BlogSession_* session, bool prior) {
  SeedSession(session);
  Hold hold(session->ServerLock());
  for (int i = 0; i < kEndpointCount; ++i) {
    session->SetOperationEndpoint(i, L"h" + std::to_wstring(i), L"/p" + std::to_wstring(i));
  }
  if (prior) {
    session->StoreServerEntry(kUin, std::unique_ptr<ServerDirectoryRecord>(
                                        new ServerDirectoryRecord(PriorRecord())));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;  // an empty body is not a directory
  const bool prior = (data[0] & 1) != 0;
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::wstring text;
  try {
    text = AnsiToWide(body);
  } catch (const ConversionError&) {
    return 0;
  }

  const std::vector<std::wstring> lines = CmdRefreshBlogServerInfo::SplitDirectoryLines(text);
  ZQ_FUZZ_CHECK(lines == LinesOf(text));
  for (const std::wstring& line : lines) {
    ZQ_FUZZ_CHECK(CmdRefreshBlogServerInfo::ParseDirectoryNumber(line) == NumberOf(line));
  }
  const Outcome expected = Expect(lines, prior);

  FakePlatform* platform = ProcessPlatform(BaseBlogCmd::kRoleServe);
  BlogSession_* serving = BlogSession_::Instance();
  Prepare(serving, prior);
  CComObject<ShareSessionCmd<DirectoryProbe>>* made = nullptr;
  ZQ_FUZZ_CHECK(SUCCEEDED(CreateTypedShareSessionCmd<DirectoryProbe>(&made)));
  CComPtr<CComObject<ShareSessionCmd<DirectoryProbe>>> cmd(made);
  cmd->SetUserId(kUin);
  CComObject<BlogPackageParser>* parser = nullptr;
  ZQ_FUZZ_CHECK(SUCCEEDED(CComObject<BlogPackageParser>::CreateInstance(&parser)));
  CComPtr<IPackageParser> holder(parser);
  ZQ_FUZZ_CHECK(SUCCEEDED(parser->Parse(reinterpret_cast<const BYTE*>(body.data()),
                                        static_cast<int>(body.size()))));
  CComPtr<IPackage> package;
  ZQ_FUZZ_CHECK(SUCCEEDED(parser->GetPackage(&package)));
  HRESULT hr = E_FAIL;
  try {
    hr = cmd->OnReplyPackage(package);
  } catch (const ConversionError&) {
    return 0;  // a text the code page cannot carry back: no outcome to compare
  }

  ZQ_FUZZ_CHECK((hr == S_OK) == expected.ok);
  {
    Hold hold(serving->ServerLock());
    const ServerDirectoryRecord* record = serving->FindServerEntry(kUin);
    ZQ_FUZZ_CHECK((record != nullptr) == expected.present);
    if (record != nullptr) ZQ_FUZZ_CHECK(SameDirectory(*record, expected.record));
  }
  for (int i = 0; i < kEndpointCount; ++i) {
    std::string host, path;
    ZQ_FUZZ_CHECK(serving->GetOperationEndpoint(i, &host, &path));
    ZQ_FUZZ_CHECK(host == WideToAnsi(expected.endpoints[i][0]));
    ZQ_FUZZ_CHECK(path == WideToAnsi(expected.endpoints[i][1]));
  }

  // A changed record goes to every process: once, with its notice.
  FakeServer* server = platform->manager->server;
  const bool broadcast = expected.ok && (lines[0] != L"404" || prior);
  ZQ_FUZZ_CHECK(server->published.size() == (broadcast ? 1u : 0u));
  ZQ_FUZZ_CHECK(server->notices.size() == server->published.size());
  if (!broadcast) return 0;
  ZQ_FUZZ_CHECK(server->notices[0].type == kNoticeServerDirectory);
  std::unique_ptr<FuzzSession> forwarding(new FuzzSession);
  Prepare(forwarding.get(), prior);
  platform->manager->channel->broadcast = server->published[0];
  FuzzDecoder decoder(forwarding.get());
  ZQ_FUZZ_CHECK(decoder.DecodeMessage(kNoticeServerDirectory, 0, 0));
  Hold serverHold(serving->ServerLock());
  Hold forwardingHold(forwarding->ServerLock());
  const ServerDirectoryRecord* mine = serving->FindServerEntry(kUin);
  const ServerDirectoryRecord* theirs = forwarding->FindServerEntry(kUin);
  ZQ_FUZZ_CHECK(mine != nullptr && theirs != nullptr &&
                SameDirectory(Spelt(*mine), Spelt(*theirs)));
  return 0;
}
