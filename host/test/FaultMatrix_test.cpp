// The network fault matrix: each of the plug-in's thirteen blog operations, in a whole
// host against the reference service, with its one request answered broken in one way
// by a relay (FaultRelay.h). For every (operation, fault) cell the command must reach a
// terminal state with exactly one notice to the host's sinks (a result or a failure)
// within the host's time-outs, and leave the session and the on-disk cache either as
// they were or as the complete reply leaves them. What a complete reply leaves is taken
// from a control run: the same world built a second time, the same operation answered
// whole. Its cache file is compared with the "last_time" stamps masked (the two worlds
// are seeded at different times); the validator must be the real reply's Last-Modified,
// which the relay saw in this world.
//
// Every cell's observation goes into one table, printed when the suite ends (rows:
// operations, columns: faults). By default a quick subset runs (every fault once over a
// rotation of the operations, and every operation with a reset in the body);
// ZQBLOG_FAULT_MATRIX=full runs all cells (scripts/fault-matrix.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/app/AlbumDraft.h"
#include "host/app/ResourceDraft.h"
#include "host/test/BlogServiceFixture.h"
#include "host/test/FaultRelay.h"
#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"

namespace Velmora {
namespace ZQHost {
namespace {

using ZQBlog::Service::AlbumFields;
using ZQBlog::Service::BlogStore;
using ZQBlog::Service::ResourceFields;

const char kUser[] = "40001";
const wchar_t kUin[] = L"40001";
const char kCommentKey[] = "KEY1";
const wchar_t kWideCommentKey[] = L"KEY1";
// Short, so a stall ends quickly; the operation's own limit leaves room for a 64 MiB
// body to be read and refused.
constexpr std::chrono::milliseconds kStallTimeout{1000};
constexpr std::chrono::milliseconds kOperationTimeout{4000};

// The thirteen operations of IZQBlogOperation.
enum class BlogOp {
  kRefreshBlogServerInfo, kGetCidDat, kGetAlbumList, kGetResourceList, kRefreshResComment,
  kCreateAlbum, kModifyAlbum, kRemoveAlbum, kBatchCollect, kBatchRemove, kCopyResource,
  kMoveResource, kModifyResource,
};
constexpr int kOperationCount = 13;

const char* OperationTitle(BlogOp op) {
  static const char* const kNames[kOperationCount] = {
      "RefreshBlogServerInfo", "GetCidDat",    "GetAlbumList", "GetResourceList",
      "RefreshResComment",     "CreateAlbum",  "ModifyAlbum",  "RemoveAlbum",
      "BatchCollect",          "BatchRemove",  "CopyResource", "MoveResource",
      "ModifyResource",
  };
  return kNames[static_cast<int>(op)];
}

constexpr int kFaultCount = static_cast<int>(std::size(kAllNetworkFaults));

struct Cell {
  BlogOp op;
  NetworkFault fault;
};

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << OperationTitle(cell.op) << " x " << NetworkFaultName(cell.fault);
}

// The quick form: every fault once over a rotation of the operations, then every
// operation with a reset in the body. ZQBLOG_FAULT_MATRIX=full: every cell.
std::vector<Cell> SelectedCells() {
  const char* form = std::getenv("ZQBLOG_FAULT_MATRIX");
  const bool full = form != nullptr && std::string(form) == "full";
  std::vector<Cell> cells;
  for (int f = 0; f < kFaultCount; ++f) {
    for (int o = 0; o < kOperationCount; ++o) {
      const NetworkFault fault = kAllNetworkFaults[f];
      const bool quick = o == f || fault == NetworkFault::kResetInBody;
      if (full || quick) cells.push_back({static_cast<BlogOp>(o), fault});
    }
  }
  return cells;
}

// What one cell showed: a word for the table, and why it failed (empty: it passed).
struct CellReport {
  std::string word;
  std::string detail;
  std::vector<std::string> problems;
};

std::map<std::pair<int, int>, CellReport>& Matrix() {
  static std::map<std::pair<int, int>, CellReport> matrix;
  return matrix;
}

std::string KindWord(const OperationOutcome& outcome) {
  switch (outcome.kind) {
    case OperationOutcome::Kind::kResult: {
      int status = -1;
      outcome.result->GetStatus(&status);
      return status == 1 ? "result" : "result/" + std::to_string(status);
    }
    case OperationOutcome::Kind::kFailure: return "failure";
    case OperationOutcome::Kind::kNoResult: return "none";
    case OperationOutcome::Kind::kTimedOut: return "timeout";
    case OperationOutcome::Kind::kBusy: return "busy";
    case OperationOutcome::Kind::kRefused: return "refused";
  }
  return "?";
}

// Plain ASCII for messages: the world's texts are ASCII; anything else shows as '?'.
std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return out;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Lines of a state, one per line, for failure messages.
std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "    " + line.substr(0, 200) + "\n";
  return out;
}

std::string ContentId(int n, char kind = 'C') {
  const std::string digits = std::to_string(n);
  return std::string(1, kind) + std::string(39 - digits.size(), '0') + digits;
}

ResourceFields Resource(int n) {
  ResourceFields r;
  r.cid = ContentId(n);
  r.gcid = ContentId(n, 'A');
  r.name = "file-" + std::to_string(n) + ".mp4";
  r.format = "mp4";
  r.size = std::to_string(1000 + n);
  r.url = "http://dl.velmora.cn/" + std::to_string(n);
  r.desc = "resource " + std::to_string(n);
  r.res_type = 1;
  return r;
}

AlbumFields Album(const std::string& name) {
  AlbumFields fields;
  fields.name = name;
  fields.desc = name + " album";
  return fields;
}

// The content ids the world ever holds (the index is read for each).
const int kContentNumbers[] = {1, 2, 3, 4, 9, 50};

// The ids the seed gave; the same in every world built from an empty service.
struct WorldIds {
  int source = 0, target = 0, spare = 0, r1 = 0, r2 = 0, r3 = 0;
  bool operator==(const WorldIds& o) const {
    return source == o.source && target == o.target && spare == o.spare && r1 == o.r1 &&
           r2 == o.r2 && r3 == o.r3;
  }
};

// Source holds r1..r3, Target one resource, Spare nothing; the comment count is 5.
WorldIds Seed(BlogStore& store) {
  WorldIds ids;
  store.AddUser(kUser);
  ids.source = store.AddAlbum(kUser, Album("Source"));
  ids.target = store.AddAlbum(kUser, Album("Target"));
  ids.spare = store.AddAlbum(kUser, Album("Spare"));
  ids.r1 = store.AddResource(ids.source, Resource(1));
  ids.r2 = store.AddResource(ids.source, Resource(2));
  ids.r3 = store.AddResource(ids.source, Resource(3));
  store.AddResource(ids.target, Resource(4));
  store.SetCommentCount(kCommentKey, 5);
  return ids;
}

// After the session was prepared the service's data moves on, so that every fetch's
// complete reply differs from what the session and the cache already hold.
void MoveOn(BlogStore& store, const WorldIds& ids) {
  store.AddAlbum(kUser, Album("Later"));
  store.AddResource(ids.source, Resource(9));
  store.SetCommentCount(kCommentKey, 99);
}

class FaultMatrixTest : public BlogServiceFixture, public ::testing::WithParamInterface<Cell> {
 protected:
  void TearDown() override {
    BlogServiceFixture::TearDown();  // the host first: no exchange is left in flight
    relay_.reset();
  }

  static void TearDownTestSuite() { PrintMatrix(); }

  // Starts a host whose every connection goes through relay_port, with its data under
  // data_root, and loads what a host loads before any operation; then the service's
  // data moves on.
  void EnterWorld(BlogStore& store, uint16_t relay_port, const std::string& data_root) {
    HostApplicationOptions options = Options();
    options.data_root = data_root;
    options.connect_to = {"127.0.0.1", relay_port};
    options.operation_timeout = kOperationTimeout;
    options.http_stall_timeout = kStallTimeout;
    ASSERT_NO_FATAL_FAILURE(StartHost(kUin, options));
    ASSERT_NO_FATAL_FAILURE(ExpectLoaded(RefreshDirectory(kUin)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoaded(FetchAlbumList(kUin)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoaded(FetchCidDat(kUin)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoaded(FetchResourceList(kUin, ids_.source)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoaded(FetchResourceList(kUin, ids_.target)));
    ASSERT_NO_FATAL_FAILURE(ExpectLoaded(RunOperation(BlogOp::kRefreshResComment)));
    MoveOn(store, ids_);
  }

  static void ExpectLoaded(const OperationOutcome& outcome) {
    ASSERT_EQ("result", KindWord(outcome)) << outcome.Describe();
  }

  // The session a complete reply leaves: the same world on a service of its own, the
  // operation answered whole. The host is shut down again.
  void RunControl(BlogOp op, std::vector<std::string>* session, std::string* cache_file) {
    ZQBlog::Service::BlogService service;
    std::string error;
    ASSERT_TRUE(service.Start("127.0.0.1", 0, &error)) << error;
    ids_ = Seed(service.store());
    FaultRelay relay(service.port());
    ASSERT_NO_FATAL_FAILURE(EnterWorld(service.store(), relay.port(), root_ + "/control"));
    {
      // The result is let go before the shutdown: a plug-in with live objects stays
      // loaded, and would keep this host's user folder for the next.
      const OperationOutcome outcome = RunOperation(op);
      ASSERT_EQ("result", KindWord(outcome)) << "the control run: " << outcome.Describe();
    }
    *session = SessionState();
    *cache_file = CacheFile(CacheName(op));
    host_->Shutdown();
    host_.reset();
  }

  OperationOutcome RunOperation(BlogOp op) {
    switch (op) {
      case BlogOp::kRefreshBlogServerInfo: return RefreshDirectory(kUin);
      case BlogOp::kGetCidDat: return FetchCidDat(kUin);
      case BlogOp::kGetAlbumList: return FetchAlbumList(kUin);
      case BlogOp::kGetResourceList: return FetchResourceList(kUin, ids_.source);
      case BlogOp::kRefreshResComment:
        return Run([](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->RefreshResComment(kWideCommentKey, 7, nullptr, c);
        });
      case BlogOp::kCreateAlbum: {
        CComPtr<IZQAlbumInfo> draft = AlbumNamed(-1, L"Fresh");
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->CreateAlbum(draft, nullptr, c);
        });
      }
      case BlogOp::kModifyAlbum: {
        CComPtr<IZQAlbumInfo> draft = AlbumNamed(ids_.target, L"Target renamed");
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->ModifyAlbum(draft, nullptr, c);
        });
      }
      case BlogOp::kRemoveAlbum:
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->RemoveAlbum(ids_.spare, nullptr, c);
        });
      case BlogOp::kBatchCollect: {
        CComPtr<IZQResInfo> item = CollectItem(50);
        IZQResInfo* items[] = {item};
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->BatchCollect(ids_.target, items, 1, nullptr, c);
        });
      }
      case BlogOp::kBatchRemove:
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->BatchRemove(ids_.source, 1, &ids_.r1, nullptr, c);
        });
      case BlogOp::kCopyResource:
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->CopyResource(ids_.source, ids_.target, true, 1, &ids_.r2, nullptr, c);
        });
      case BlogOp::kMoveResource:
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->MoveResource(ids_.source, ids_.target, false, 1, &ids_.r3, nullptr, c);
        });
      case BlogOp::kModifyResource:
        return Run([&](IZQBlogOperation* o, IWorkshopCmd** c) {
          return o->ModifyResource(ids_.source, ids_.source, ids_.r1, L"renamed.mp4",
                                   L"renamed", nullptr, c);
        });
    }
    return OperationOutcome();
  }

  // The end of the target the operation's one request asks for.
  std::string WireSuffix(BlogOp op) const {
    switch (op) {
      case BlogOp::kRefreshBlogServerInfo: return std::string("/touch3/") + kUser;
      case BlogOp::kGetCidDat: return "/Cid.dat";
      case BlogOp::kGetAlbumList: return "/albums.xml";
      case BlogOp::kGetResourceList: return "/album/" + std::to_string(ids_.source) + ".xml";
      case BlogOp::kRefreshResComment: return std::string("/comment/") + kCommentKey;
      case BlogOp::kCreateAlbum: return "/api/category_create";
      case BlogOp::kModifyAlbum: return "/api/category_update";
      case BlogOp::kRemoveAlbum: return "/api/category_delete";
      case BlogOp::kBatchCollect: return "/api/resource_batch_collect";
      case BlogOp::kBatchRemove: return "/api/resource_batch_remove";
      case BlogOp::kCopyResource:
      case BlogOp::kMoveResource: return "/api/resource_batch_move";
      case BlogOp::kModifyResource: return "/api/resource_update";
    }
    return "?";
  }

  // The cache entry the operation's reply goes to ("" when it is not cached).
  std::string CacheName(BlogOp op) const {
    if (op == BlogOp::kGetAlbumList) return std::string("AlbumList_") + kUser;
    if (op == BlogOp::kGetResourceList) return "Album_" + std::to_string(ids_.source);
    return "";
  }

  static CComPtr<IZQAlbumInfo> AlbumNamed(int id, const std::wstring& name) {
    CComPtr<IZQAlbumInfo> draft;
    EXPECT_EQ(S_OK, AlbumDraft::Create(&draft));
    draft->SetId(id);
    draft->SetCategoryName(name.c_str());
    draft->SetDesc(L"about it");
    draft->SetShowStatus(1);
    return draft;
  }

  static CComPtr<IZQResInfo> CollectItem(int n) {
    CComPtr<IZQResInfo> draft;
    EXPECT_EQ(S_OK, ResourceDraft::Create(&draft));
    draft->SetCid(WideFromUtf8(ContentId(n)).c_str());
    draft->SetGcid(WideFromUtf8(ContentId(n, 'A')).c_str());
    draft->SetResName(L"collected.mp4");
    draft->SetFormat(L"mp4");
    draft->SetSize(L"2048");
    draft->SetUrl(L"http://dl.velmora.cn/collected");
    draft->SetDesc(L"collected");
    draft->SetResType(1);
    return draft;
  }

  // ------------------------------------------------------------ what is compared

  // The session as the host's queries show it: the directory, every album with its
  // fields and resources, the content-id index and the stored comment count.
  std::vector<std::string> SessionState() {
    std::vector<std::string> lines;
    bool opened = false;
    const HRESULT opened_hr = blog()->IsBlogOpened(kUin, &opened);
    lines.push_back("opened " + std::to_string(opened_hr) + " " + std::to_string(opened));
    BSTR url = nullptr;
    blog()->GetCidDatUrl(kUin, &url);
    lines.push_back("cid url " + Narrow(TakeBstr(url)));
    for (const SessionAlbum& a : SessionAlbums(kUin)) {
      bool loaded = false;
      blog()->IsResourceListLoaded(kUin, a.id, &loaded);
      std::string line = "album " + std::to_string(a.id) + "|" + std::to_string(a.show_status) +
                         "|" + std::to_string(a.category_type) + "|" +
                         std::to_string(a.tag_num) + "|" + std::to_string(a.newly_added) +
                         "|" + Narrow(a.name) + "|" + Narrow(a.desc) + "|" +
                         Narrow(a.pic_url) + "|loaded " + std::to_string(loaded);
      for (const std::wstring& tag : a.tags) line += "|" + Narrow(tag);
      lines.push_back(line);
      for (const SessionResource& r : a.resources) {
        lines.push_back("  resource " + std::to_string(r.id) + "|" +
                        std::to_string(r.category_id) + "|" + std::to_string(r.state) + "|" +
                        std::to_string(r.res_type) + "|" + Narrow(r.cid) + "|" +
                        Narrow(r.gcid) + "|" + Narrow(r.name) + "|" + Narrow(r.format) + "|" +
                        Narrow(r.size) + "|" + Narrow(r.url) + "|" + Narrow(r.desc) + "|" +
                        Narrow(r.uin));
      }
    }
    for (int n : kContentNumbers) {
      std::string line = "index " + std::to_string(n) + ":";
      for (int album : AlbumsByCid(WideFromUtf8(ContentId(n)))) {
        line += " " + std::to_string(album);
      }
      lines.push_back(line);
    }
    int count = -1;
    const HRESULT count_hr = blog()->GetCidValue(kWideCommentKey, &count);
    lines.push_back("comments " + std::to_string(count_hr) + " " + std::to_string(count));
    return lines;
  }

  // The cache: every file of the user's cache folder with its text, and each entry's
  // Last-Modified validator (name's as well, present or not).
  std::map<std::string, std::string> CacheState(const std::string& name) {
    std::map<std::string, std::string> state;
    std::vector<std::string> names;
    if (!name.empty()) names.push_back(name);
    const std::filesystem::path folder =
        std::filesystem::path(host_->DataRoot()) / "users" / kUser / "BlogCache";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      const std::filesystem::path path = entry.path();
      state["file " + path.filename().string()] = ReadWholeFile(path);
      names.push_back(path.stem().string());
    }
    for (const std::string& entry : names) {
      state["validator " + entry] = Setting(kUser, entry + "_Modified");
    }
    return state;
  }

  // A value of the host's settings store; "<none>" when the section or key is missing.
  std::string Setting(const std::string& section_name, const std::string& key) {
    std::wstring wide(section_name.begin(), section_name.end());
    BSTR section_bstr = SysAllocString(wide.c_str());
    CComPtr<ISettingsSection> section;
    const HRESULT opened = host().SettingsStore()->OpenSection(section_bstr, &section);
    SysFreeString(section_bstr);
    if (opened != S_OK || !section) return "<none>";
    char buffer[256] = {};
    int length = sizeof(buffer);
    if (section->ReadValue(key.c_str(), buffer, &length) != S_OK) return "<none>";
    return std::string(buffer, static_cast<size_t>(length));
  }

  // The text of the cache file of name ("" when there is none).
  std::string CacheFile(const std::string& name) {
    if (name.empty()) return "";
    return ReadWholeFile(std::filesystem::path(host_->DataRoot()) / "users" / kUser /
                         "BlogCache" / (name + ".xml"));
  }

  // The cache with every last_time="..." of its files read as last_time="*".
  static std::map<std::string, std::string> MaskStamps(std::map<std::string, std::string> cache) {
    static const std::regex kStamp("last_time=\"[^\"]*\"");
    for (auto& entry : cache) {
      if (entry.first.rfind("file ", 0) == 0) {
        entry.second = std::regex_replace(entry.second, kStamp, "last_time=\"*\"");
      }
    }
    return cache;
  }

  static std::vector<std::string> CacheLines(const std::map<std::string, std::string>& cache) {
    std::vector<std::string> lines;
    for (const auto& entry : cache) {
      lines.push_back(entry.first + " = " + std::to_string(entry.second.size()) + " bytes: " +
                      entry.second.substr(0, 80));
    }
    return lines;
  }

  // ------------------------------------------------------------ the table

  static void PrintMatrix() {
    if (Matrix().empty()) return;
    std::string out =
        "\nFault matrix (rows: operations, columns: faults). A cell is the outcome the host "
        "saw: result, result/<status>, failure,\nnone (no notice), timeout; '+' marks a cell "
        "whose session or cache took the complete reply, '*' one that\nfailed a check beyond "
        "its outcome, '#n' n sink notices instead of one, '.' a cell not run.\n\n";
    char text[64];
    std::snprintf(text, sizeof(text), "%-22s", "");
    out += text;
    for (NetworkFault fault : kAllNetworkFaults) {
      std::snprintf(text, sizeof(text), " %-10s", NetworkFaultName(fault));
      out += text;
    }
    out += "\n";
    std::vector<std::string> failing;
    std::string cells = "\nEvery cell:\n";
    for (int o = 0; o < kOperationCount; ++o) {
      std::snprintf(text, sizeof(text), "%-22s", OperationTitle(static_cast<BlogOp>(o)));
      out += text;
      for (int f = 0; f < kFaultCount; ++f) {
        auto it = Matrix().find({o, f});
        std::string word = it == Matrix().end() ? "." : it->second.word;
        std::snprintf(text, sizeof(text), " %-10s", word.c_str());
        out += text;
        if (it != Matrix().end()) {
          cells += std::string("  ") + OperationTitle(static_cast<BlogOp>(o)) + " x " +
                   NetworkFaultName(kAllNetworkFaults[f]) + ": " + it->second.detail + "\n";
        }
        if (it != Matrix().end() && !it->second.problems.empty()) {
          std::string line = std::string(OperationTitle(static_cast<BlogOp>(o))) + " x " +
                             NetworkFaultName(kAllNetworkFaults[f]) + ": " + it->second.detail;
          for (const std::string& problem : it->second.problems) line += "\n      - " + problem;
          failing.push_back(line);
        }
      }
      out += "\n";
    }
    out += cells;
    out += "\nFailing cells: " + std::to_string(failing.size()) + " of " +
           std::to_string(Matrix().size()) + "\n";
    for (const std::string& line : failing) out += "  " + line + "\n";
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
  }

  WorldIds ids_;
  std::unique_ptr<FaultRelay> relay_;
};

TEST_P(FaultMatrixTest, OneNoticeAndAWholeState) {
  const Cell cell = GetParam();
  CellReport& report =
      Matrix()[{static_cast<int>(cell.op), static_cast<int>(cell.fault)}];
  report.word = "setup?";
  report.problems = {"the cell did not get as far as the operation"};

  std::vector<std::string> complete_session;
  std::string complete_file;
  ASSERT_NO_FATAL_FAILURE(RunControl(cell.op, &complete_session, &complete_file));
  const WorldIds control_ids = ids_;
  ids_ = Seed(store());
  ASSERT_TRUE(ids_ == control_ids) << "the two worlds must hold the same ids";
  relay_ = std::make_unique<FaultRelay>(service_.port());
  ASSERT_NO_FATAL_FAILURE(EnterWorld(store(), relay_->port(), root_ + "/host"));
  const std::vector<std::string> session_before = SessionState();
  const std::map<std::string, std::string> cache_before = CacheState(CacheName(cell.op));
  ASSERT_EQ(1u, cache_before.count(std::string("file AlbumList_") + kUser + ".xml"))
      << "the prepared album list is not in this host's cache folder";

  relay_->Arm(cell.fault, WireSuffix(cell.op));
  const size_t notices_mark = host().SinkEventCount();
  const auto started = std::chrono::steady_clock::now();
  const OperationOutcome outcome = RunOperation(cell.op);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  relay_->Disarm();
  // A second or late notice would arrive now; a command that timed out gets the time to
  // end and say so.
  const bool timed_out = outcome.kind == OperationOutcome::Kind::kTimedOut;
  const auto settled = std::chrono::steady_clock::now() +
                       (timed_out ? kStallTimeout + std::chrono::seconds(2)
                                  : std::chrono::milliseconds(200));
  while (std::chrono::steady_clock::now() < settled &&
         !(timed_out && host().SinkEventCount() > notices_mark)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const size_t notices = host().SinkEventCount() - notices_mark;
  const std::vector<std::string> session_after = SessionState();
  const std::map<std::string, std::string> cache_after = CacheState(CacheName(cell.op));
  const std::vector<FaultedExchange> faulted = relay_->Faulted();

  // What a complete reply leaves in the cache: the control's file, the real validator.
  std::map<std::string, std::string> cache_complete = cache_before;
  const std::string name = CacheName(cell.op);
  if (!name.empty() && !faulted.empty() && faulted.front().real_status == 200) {
    cache_complete["file " + name + ".xml"] = complete_file;
    cache_complete["validator " + name] = faulted.front().real_last_modified;
  }

  report.problems.clear();
  report.word = KindWord(outcome);
  report.detail = report.word + " (" + outcome.Describe() + "; final_state " +
                  std::to_string(outcome.final_state) + ", http_status " +
                  std::to_string(outcome.http_status) + ", " + std::to_string(notices) +
                  " sink notice(s), " + std::to_string(elapsed.count()) + " ms";
  if (!faulted.empty()) {
    report.detail += "; the service answered " + std::to_string(faulted.front().real_status) +
                     ", the relay sent " + std::to_string(faulted.front().bytes_sent) +
                     " bytes over " + std::to_string(faulted.size()) + " request(s)";
  }
  report.detail += ")";
  const bool one_outcome = outcome.kind == OperationOutcome::Kind::kResult ||
                           outcome.kind == OperationOutcome::Kind::kFailure;
  if (!one_outcome) report.problems.push_back("no single outcome: " + report.word);
  if (notices != 1) {
    report.word += "#" + std::to_string(notices);
    report.problems.push_back(std::to_string(notices) + " sink notices instead of one");
  }
  if (outcome.final_state < 5 || outcome.final_state > 8) {
    report.problems.push_back("the command is not in a terminal state");
  }
  bool whole = true;
  if (faulted.empty()) {
    whole = false;
    report.problems.push_back("the operation's request never met the armed fault");
  }
  if (session_after != session_before && session_after != complete_session) {
    whole = false;
    report.problems.push_back("the session is neither as before nor as a complete reply "
                              "leaves it:\n" + Lines(session_after) + "    before:\n" +
                              Lines(session_before) + "    complete:\n" +
                              Lines(complete_session));
  }
  if (cache_after != cache_before && MaskStamps(cache_after) != MaskStamps(cache_complete)) {
    whole = false;
    report.problems.push_back("the cache is neither as before nor as a complete reply "
                              "leaves it:\n" + Lines(CacheLines(cache_after)) + "    before:\n" +
                              Lines(CacheLines(cache_before)) + "    complete:\n" +
                              Lines(CacheLines(cache_complete)));
  }
  if (cell.fault == NetworkFault::kHugeBody && !faulted.empty() && faulted.front().sent_all) {
    whole = false;
    report.problems.push_back("the host took the whole 100 MiB body instead of giving up");
  }
  if (!whole) report.word += "*";
  if (whole && (session_after != session_before || cache_after != cache_before)) {
    report.word += "+";
  }

  for (const std::string& problem : report.problems) {
    ADD_FAILURE() << report.detail << ": " << problem;
  }
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrixTest, ::testing::ValuesIn(SelectedCells()),
                         [](const ::testing::TestParamInfo<Cell>& info) {
                           return std::string(OperationTitle(info.param.op)) + "_" +
                                  NetworkFaultName(info.param.fault);
                         });

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
