#include "cli/CliSession.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "cli/ResultJson.h"
#include "cli/Utf8Text.h"
#include "common/Folders.h"
#include "host/app/AlbumDraft.h"
#include "host/app/ResourceDraft.h"
#include "host/http/HttpErrorCodes.h"
#include "host/http/HttpResolverTable.h"
#include "service/BlogService.h"

namespace Velmora {
namespace ZQCli {

using ZQHost::AlbumDraft;
using ZQHost::OperationOutcome;
using ZQHost::ResourceDraft;

namespace {

std::wstring Wide(const std::string& text) {
  std::wstring out;
  if (!Utf8ToWide(text, &out)) out.clear();
  return out;
}

std::string Trimmed(const std::string& folder) {
  std::string out = folder;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// Distinct values in first-seen order.
std::vector<int> Distinct(const std::vector<int>& values) {
  std::vector<int> out;
  for (int value : values) {
    if (std::find(out.begin(), out.end(), value) == out.end()) out.push_back(value);
  }
  return out;
}

}  // namespace

CliSession::CliSession(GlobalOptions options) : options_(std::move(options)) {}

CliSession::~CliSession() { Close(); }

std::string CliSession::EmbeddedAddress() const {
  if (!service_) return std::string();
  return service_->address() + ":" + std::to_string(service_->port());
}

bool CliSession::Open(std::string* error, ShareMode mode) {
  const std::string data = Trimmed(options_.data);
  ZQHost::HostApplicationOptions host_options;
  host_options.data_root = data;
  // Outside a served share session the host keeps its session to itself, as before.
  forwarding_ = mode == ShareMode::kWatch ||
                (mode == ShareMode::kAuto &&
                 ZQHost::HostApplication::IsShareSessionServed(data, options_.user));
  if (mode == ShareMode::kServe &&
      ZQHost::HostApplication::IsShareSessionServed(data, options_.user)) {
    // Checked before the embedded service opens its database; the host's lock decides.
    *error = "another process already serves the share session of " + options_.user + " in " +
             data;
    return false;
  }
  if (mode == ShareMode::kServe || forwarding_) {
    host_options.share_session_user = options_.user;
    host_options.share_session_role = forwarding_ ? 0 : 1;
    host_options.on_change = change_listener_;
  }
  const auto timeout = std::chrono::milliseconds(
      std::max<long long>(1, static_cast<long long>(options_.timeout_seconds * 1000.0)));
  host_options.operation_timeout = timeout;
  host_options.on_reply = [this](const ZQHost::HttpReplyProgress& reply) {
    std::lock_guard<std::mutex> lock(progress_mutex_);
    if (progress_ != nullptr) progress_->Received(reply.received, reply.content_length, reply.complete);
  };
  // The connection's own stall time-out comes later, so a stalled operation is reported
  // as a time-out of the operation.
  host_options.http_stall_timeout = timeout + std::chrono::seconds(2);

  if (forwarding_) {
    // The serving process talks to the service; this one never does.
  } else if (options_.connect_to.empty()) {
    const std::string folder = data + "/service";
    if (!Common::MakeFolders(folder)) {
      *error = "cannot create " + folder + ": " + std::strerror(errno);
      return false;
    }
    ZQBlog::Service::ServiceOptions service_options;
    service_options.database_path = folder + "/blog.db";
    service_ = std::make_unique<ZQBlog::Service::BlogService>(service_options);
    std::string service_error;
    if (!service_->Open(&service_error)) {
      *error = "the embedded blog service cannot open its database: " + service_error;
      service_.reset();
      return false;
    }
    try {
      auto& store = service_->store();
      if (ZQBlog::Service::BlogStore::IsValidUin(options_.user) &&
          !store.GetDirectory(options_.user)) {
        store.SeedDemo(options_.user);
      }
    } catch (const std::exception& e) {
      *error = "the embedded blog service cannot seed " + options_.user + ": " + e.what();
      service_.reset();
      return false;
    }
    if (!service_->Start("127.0.0.1", 0, &service_error)) {
      *error = "the embedded blog service does not start: " + service_error;
      service_.reset();
      return false;
    }
    host_options.connect_to = {"127.0.0.1", service_->port()};
  } else if (!ZQHost::HttpResolverTable::ParseEndpoint(options_.connect_to,
                                                       &host_options.connect_to)) {
    *error = "--connect-to '" + options_.connect_to + "' is not ADDR:PORT";
    return false;
  }

  host_ = std::make_unique<ZQHost::HostApplication>(host_options);
  std::string host_error;
  if (!host_->Start(&host_error)) {
    *error = host_error;
    Close();
    return false;
  }
  HRESULT hr = host_->SignIn(Wide(options_.user));
  if (FAILED(hr)) {
    *error = "the plug-in did not sign " + options_.user +
             " in: " + ZQHost::DescribeHResult(hr);
    Close();
    return false;
  }
  return true;
}

void CliSession::Close() {
  if (host_) {
    host_->Shutdown();
    host_.reset();
  }
  if (service_) {
    service_->Stop();
    service_.reset();
  }
}

// ---------------------------------------------------------------- building blocks

bool CliSession::Fail(CommandReport* report, const std::string& text) {
  report->exit_status = 1;
  report->error = text;
  report->json["error"] = text;
  return false;
}

bool CliSession::QueryFailed(CommandReport* report, const char* query, HRESULT hr) {
  return Fail(report, std::string("the plug-in's ") + query + " answered " +
                          ZQHost::DescribeHResult(hr));
}

std::string CliSession::FailureSentence(const OperationOutcome& outcome) {
  switch (outcome.failure_operation) {
    case 3:   // resource list
    case 5:   // batch remove
    case 10:  // move
    case 11:  // copy
      // These name the album, not what went wrong.
      if (outcome.http_status != 0) {
        return "the service's reply (HTTP " + std::to_string(outcome.http_status) +
               ") could not be used";
      }
      return "the exchange with the service failed before a reply came";
    default:
      // A reply the plug-in could not use: its HTTP status says more than the code.
      if (outcome.failure_code == ZQHost::kHttpErrorBadReply && outcome.http_status != 0) {
        return "the service answered HTTP " + std::to_string(outcome.http_status) +
               " with nothing the plug-in could use";
      }
      return ZQHost::DescribeHttpError(outcome.failure_code);
  }
}

bool CliSession::Operation(const std::string& what, const OperationCall& call,
                           CommandReport* report, const std::vector<int>& table_keys) {
  {
    std::lock_guard<std::mutex> lock(progress_mutex_);
    if (progress_ != nullptr) progress_->Begin(what);
  }
  OperationOutcome outcome = host_->RunOperation(call);
  report->json.erase("result");
  report->json.erase("failure");
  switch (outcome.kind) {
    case OperationOutcome::Kind::kResult: {
      nlohmann::json result =
          ResultJson(outcome.result, outcome.command_id, outcome.result_kind, table_keys);
      const int status = result.value("status", 0);
      const std::string message = result.value("message_text", std::string());
      report->json["result"] = std::move(result);
      if (status == 1) return true;
      if (outcome.serving_process_lost) {
        return Fail(report, what + ": the serving process went away before it answered");
      }
      // Without a word of the service, an HTTP error status is what there is to tell.
      const int http = outcome.http_status;
      if (message.empty() && http != 0 && (http < 200 || http > 299) && http != 304) {
        return Fail(report, what + ": the service answered HTTP " + std::to_string(http) +
                                " (status 0)");
      }
      return Fail(report, what + ": refused" + (message.empty() ? "" : ": " + message) +
                              " (status 0)");
    }
    case OperationOutcome::Kind::kFailure:
      report->json["failure"] = {{"code", outcome.failure_code},
                                 {"operation_index", outcome.failure_operation}};
      return Fail(report, what + ": " + FailureSentence(outcome));
    default:
      return Fail(report, what + ": " + outcome.Describe());
  }
}

void CliSession::WriteOperation(const std::string& what, const OperationCall& call,
                                CommandReport* report, const std::vector<int>& table_keys) {
  if (Operation(what, call, report, table_keys)) AddAlbums(options_.user, report);
}

bool CliSession::EnsureDirectory(const std::string& uin, bool force, CommandReport* report,
                                 bool* opened) {
  if (!force && directories_.count(uin) != 0) {
    if (opened != nullptr) *opened = true;
    return true;
  }
  const std::wstring wide = Wide(uin);
  if (!Operation("server directory of " + uin,
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->RefreshBlogServerInfo(wide.c_str(), 0, nullptr, command);
                 },
                 report)) {
    return false;
  }
  bool is_open = false;
  HRESULT hr = host_->Blog()->IsBlogOpened(wide.c_str(), &is_open);
  if (hr == E_FAIL) {
    is_open = false;  // no record: a user without a blog leaves none
  } else if (FAILED(hr)) {
    return QueryFailed(report, "IsBlogOpened", hr);
  }
  if (!is_open) {
    directories_.erase(uin);
    if (opened != nullptr) {
      *opened = false;
      return true;
    }
    return Fail(report, "user " + uin + " has no blog (the server directory answered 404)");
  }
  directories_.insert(uin);
  if (opened != nullptr) *opened = true;
  return true;
}

bool CliSession::EnsureAlbumList(const std::string& uin, bool force, CommandReport* report) {
  if (!force && album_lists_.count(uin) != 0) return true;
  const std::wstring wide = Wide(uin);
  if (!Operation("album list of " + uin,
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->GetAlbumList(wide.c_str(), nullptr, command);
                 },
                 report)) {
    return false;
  }
  album_lists_.insert(uin);
  return true;
}

bool CliSession::EnsureResources(const std::string& uin, int album, bool force,
                                 CommandReport* report) {
  const std::wstring wide = Wide(uin);
  if (!force) {
    bool loaded = false;
    HRESULT hr = host_->Blog()->IsResourceListLoaded(wide.c_str(), album, &loaded);
    if (FAILED(hr) && hr != E_FAIL) return QueryFailed(report, "IsResourceListLoaded", hr);
    if (SUCCEEDED(hr) && loaded) return true;
  }
  return Operation("resources of album " + std::to_string(album),
                   [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                     return operation->GetResourceList(wide.c_str(), album, nullptr, command);
                   },
                   report);
}

bool CliSession::HasAlbum(const std::string& uin, int album, bool* known,
                          CommandReport* report) {
  CComPtr<IZQAlbumInfo> info;
  HRESULT hr = host_->Blog()->GetAlbumInfo(Wide(uin).c_str(), album, &info);
  if (hr == E_FAIL) {
    *known = false;
    return true;
  }
  if (FAILED(hr)) return QueryFailed(report, "GetAlbumInfo", hr);
  *known = info != nullptr;
  return true;
}

bool CliSession::AddAlbums(const std::string& uin, CommandReport* report) {
  nlohmann::json albums;
  HRESULT hr = AlbumsJson(host_->Blog(), Wide(uin), &albums);
  if (FAILED(hr) && hr != E_FAIL) return QueryFailed(report, "GetAlbumListInfo", hr);
  report->json["albums"] = albums;
  return true;
}

bool CliSession::PrepareWrite(const std::vector<int>& albums, CommandReport* report) {
  const std::string& uin = options_.user;
  if (!EnsureDirectory(uin, false, report)) return false;
  if (!EnsureAlbumList(uin, false, report)) return false;
  for (int album : Distinct(albums)) {
    bool known = false;
    if (!HasAlbum(uin, album, &known, report)) return false;
    // An album the list does not hold is left to the service to refuse.
    if (known && !EnsureResources(uin, album, false, report)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- commands

CommandReport CliSession::Run(const CliRequest& request) {
  CommandReport report;
  report.kind = request.kind;
  if (!host_) {
    Fail(&report, "the session is not open");
    return report;
  }
  try {
    const CliCommand& command = CommandFor(request.kind);
    if (command.run == nullptr) {
      Fail(&report, std::string(command.word) + " is not a single command");
    } else {
      (this->*command.run)(request, &report);
    }
  } catch (const std::exception& e) {
    Fail(&report, std::string("internal error: ") + e.what());
  }
  return report;
}

void CliSession::RunDirectory(const CliRequest& request, CommandReport* report) {
  const std::string uin = request.uin.empty() ? options_.user : request.uin;
  bool opened = false;
  if (!EnsureDirectory(uin, true, report, &opened)) return;
  report->json["opened"] = opened;
  if (!opened) {
    report->json["cid_dat_url"] = nullptr;
    report->notes.push_back("user " + uin + " has no blog (the server directory answered 404)");
    return;
  }
  BSTR url = nullptr;
  HRESULT hr = host_->Blog()->GetCidDatUrl(Wide(uin).c_str(), &url);
  if (FAILED(hr)) {
    SysFreeString(url);
    QueryFailed(report, "GetCidDatUrl", hr);
    return;
  }
  report->json["cid_dat_url"] = TakeBstrUtf8(url);
}

void CliSession::RunAlbums(const CliRequest& request, CommandReport* report) {
  const std::string uin = request.uin.empty() ? options_.user : request.uin;
  if (!EnsureDirectory(uin, false, report)) return;
  if (!EnsureAlbumList(uin, true, report)) return;
  AddAlbums(uin, report);
}

void CliSession::RunResources(const CliRequest& request, CommandReport* report) {
  const std::string uin = request.uin.empty() ? options_.user : request.uin;
  if (!EnsureDirectory(uin, false, report)) return;
  if (!EnsureAlbumList(uin, false, report)) return;
  bool known = false;
  if (!HasAlbum(uin, request.album, &known, report)) return;
  if (!known) {
    Fail(report, "user " + uin + " has no album " + std::to_string(request.album));
    return;
  }
  if (!EnsureResources(uin, request.album, true, report)) return;
  AddAlbums(uin, report);
}

bool CliSession::FetchCidDat(const std::string& uin, CommandReport* report) {
  const std::wstring wide = Wide(uin);
  if (!Operation("Cid.dat of " + uin,
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->GetCidDat(wide.c_str(), nullptr, command);
                 },
                 report)) {
    return false;
  }
  if (uin == options_.user) cid_dat_fetched_ = true;
  return true;
}

void CliSession::RunCidDat(const CliRequest& request, CommandReport* report) {
  const std::string uin = request.uin.empty() ? options_.user : request.uin;
  if (!EnsureDirectory(uin, false, report)) return;
  FetchCidDat(uin, report);
}

void CliSession::RunAlbumsByCid(const CliRequest& request, CommandReport* report) {
  const std::string& uin = options_.user;
  if (!EnsureDirectory(uin, false, report)) return;
  if (!EnsureAlbumList(uin, false, report)) return;
  if (!cid_dat_fetched_ && !FetchCidDat(uin, report)) return;
  const std::wstring cid = Wide(request.cid);
  std::vector<int> ids(16);
  int count = static_cast<int>(ids.size());
  HRESULT hr = host_->Blog()->GetAlbumsByCid(cid.c_str(), ids.data(), &count);
  for (int attempt = 0; hr == E_OUTOFMEMORY && attempt < 3 && count > 0; ++attempt) {
    ids.assign(static_cast<size_t>(count), 0);
    hr = host_->Blog()->GetAlbumsByCid(cid.c_str(), ids.data(), &count);
  }
  if (hr == E_FAIL) {
    count = 0;  // the index is empty
  } else if (FAILED(hr)) {
    QueryFailed(report, "GetAlbumsByCid", hr);
    return;
  }
  ids.resize(static_cast<size_t>(std::max(0, std::min<int>(count, static_cast<int>(ids.size())))));
  report->json["album_ids"] = Distinct(ids);
}

void CliSession::RunComments(const CliRequest& request, CommandReport* report) {
  const std::wstring key = Wide(request.key);
  const int number = request.number;
  Operation("comment count of " + request.key,
            [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
              return operation->RefreshResComment(key.c_str(), number, nullptr, command);
            },
            report);
}

void CliSession::RunCreateAlbum(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({}, report)) return;
  const AlbumSpec& spec = request.album_spec;
  CComPtr<IZQAlbumInfo> draft;
  HRESULT hr = AlbumDraft::Create(&draft);
  if (FAILED(hr)) {
    Fail(report, "cannot make the album: " + ZQHost::DescribeHResult(hr));
    return;
  }
  draft->SetCategoryName(Wide(spec.name.value_or("")).c_str());
  draft->SetDesc(Wide(spec.desc.value_or("")).c_str());
  draft->SetPicUrl(Wide(spec.pic_url.value_or("")).c_str());
  draft->SetCategoryType(spec.category_type.value_or(0));
  draft->SetShowStatus(spec.show_status.value_or(1));
  const std::vector<std::string> tags = spec.tags.value_or(std::vector<std::string>());
  draft->SetTagNum(static_cast<int>(tags.size()));
  for (size_t i = 0; i < tags.size(); ++i) draft->SetTag(static_cast<int>(i), Wide(tags[i]).c_str());
  WriteOperation("create album " + spec.name.value_or(""),
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->CreateAlbum(draft, nullptr, command);
                 },
                 report);
}

void CliSession::RunModifyAlbum(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({}, report)) return;
  CComPtr<IZQAlbumInfo> current;
  HRESULT hr = host_->Blog()->GetAlbumInfo(Wide(options_.user).c_str(), request.album, &current);
  if (hr == E_FAIL || (SUCCEEDED(hr) && !current)) {
    Fail(report, "album " + std::to_string(request.album) + " is not in " + options_.user +
                     "'s album list");
    return;
  }
  if (FAILED(hr)) {
    QueryFailed(report, "GetAlbumInfo", hr);
    return;
  }
  // Everything left out keeps the album's current value.
  CComPtr<IZQAlbumInfo> draft;
  hr = AlbumDraft::CreateCopy(current, &draft);
  if (FAILED(hr)) {
    Fail(report, "cannot copy the album: " + ZQHost::DescribeHResult(hr));
    return;
  }
  const AlbumSpec& spec = request.album_spec;
  if (spec.name) draft->SetCategoryName(Wide(*spec.name).c_str());
  if (spec.desc) draft->SetDesc(Wide(*spec.desc).c_str());
  if (spec.pic_url) draft->SetPicUrl(Wide(*spec.pic_url).c_str());
  if (spec.category_type) draft->SetCategoryType(*spec.category_type);
  if (spec.show_status) draft->SetShowStatus(*spec.show_status);
  if (spec.new_count) draft->SetNewlyAddedResNum(*spec.new_count);
  if (spec.tags) {
    draft->SetTagNum(static_cast<int>(spec.tags->size()));
    for (int i = 0; i < 3; ++i) {
      const std::string tag = i < static_cast<int>(spec.tags->size()) ? (*spec.tags)[i] : "";
      draft->SetTag(i, Wide(tag).c_str());
    }
  }
  WriteOperation("modify album " + std::to_string(request.album),
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->ModifyAlbum(draft, nullptr, command);
                 },
                 report);
}

void CliSession::RunRemoveAlbum(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({}, report)) return;
  const int album = request.album;
  WriteOperation("remove album " + std::to_string(album),
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->RemoveAlbum(album, nullptr, command);
                 },
                 report);
}

void CliSession::RunCollect(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({request.album}, report)) return;
  std::vector<CComPtr<IZQResInfo>> drafts;
  std::vector<IZQResInfo*> items;
  std::vector<int> keys;
  for (const ResourceSpec& spec : request.resources) {
    CComPtr<IZQResInfo> draft;
    HRESULT hr = ResourceDraft::Create(&draft);
    if (FAILED(hr)) {
      Fail(report, "cannot make a resource: " + ZQHost::DescribeHResult(hr));
      return;
    }
    draft->SetCid(Wide(spec.cid).c_str());
    draft->SetGcid(Wide(spec.gcid).c_str());
    draft->SetResName(Wide(spec.res_name).c_str());
    draft->SetFormat(Wide(spec.format).c_str());
    draft->SetSize(Wide(spec.size).c_str());
    draft->SetUrl(Wide(spec.url).c_str());
    draft->SetOriginal(Wide(spec.original).c_str());
    draft->SetRefer(Wide(spec.refer).c_str());
    draft->SetDesc(Wide(spec.desc).c_str());
    draft->SetResType(spec.res_type);
    draft->SetState(spec.state);
    draft->SetCategoryId(request.album);
    draft->SetUin(Wide(options_.user).c_str());
    items.push_back(draft);
    drafts.push_back(draft);
    // A refused item carries no resource id: the service keys it by a stand-in (0, or
    // minus its position).
    keys.push_back(-static_cast<int>(keys.size()));
  }
  const int album = request.album;
  WriteOperation("collect into album " + std::to_string(album),
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->BatchCollect(album, items.data(),
                                                  static_cast<int>(items.size()), nullptr,
                                                  command);
                 },
                 report, keys);
}

void CliSession::RunRemoveResources(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({request.album}, report)) return;
  const int album = request.album;
  const std::vector<int> ids = request.ids;
  WriteOperation("remove resources from album " + std::to_string(album),
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->BatchRemove(album, static_cast<int>(ids.size()), ids.data(),
                                                 nullptr, command);
                 },
                 report, ids);
}

void CliSession::RunCopyOrMove(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({request.from, request.to}, report)) return;
  const bool copy = request.kind == CommandKind::kCopy;
  const int from = request.from;
  const int to = request.to;
  const bool choice = copy ? true : request.choice;
  const std::vector<int> ids = request.ids;
  const std::string what = std::string(copy ? "copy" : "move") + " from album " +
                           std::to_string(from) + " to album " + std::to_string(to);
  WriteOperation(what,
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   const int count = static_cast<int>(ids.size());
                   return copy ? operation->CopyResource(from, to, choice, count, ids.data(),
                                                         nullptr, command)
                               : operation->MoveResource(from, to, choice, count, ids.data(),
                                                         nullptr, command);
                 },
                 report, ids);
}

void CliSession::RunModifyResource(const CliRequest& request, CommandReport* report) {
  if (!PrepareWrite({request.from, request.to}, report)) return;
  // The resource as the source album holds it: its current name and description.
  CComPtr<IZQAlbumInfo> album;
  HRESULT hr = host_->Blog()->GetAlbumInfo(Wide(options_.user).c_str(), request.from, &album);
  if (FAILED(hr) && hr != E_FAIL) {
    QueryFailed(report, "GetAlbumInfo", hr);
    return;
  }
  CComPtr<IZQResInfo> found;
  if (album) {
    int count = 0;
    album->GetResourceCount(&count);
    for (int i = 0; i < count && !found; ++i) {
      CComPtr<IZQResInfo> resource;
      int id = 0;
      if (SUCCEEDED(album->GetResource(i, &resource)) && resource &&
          SUCCEEDED(resource->GetId(&id)) && id == request.resource) {
        found = resource;
      }
    }
  }
  if (!found) {
    Fail(report, "resource " + std::to_string(request.resource) + " is not in album " +
                     std::to_string(request.from) + " of " + options_.user);
    return;
  }
  BSTR text = nullptr;
  found->GetResName(&text);
  const std::wstring name = request.res_name ? Wide(*request.res_name)
                                             : Wide(TakeBstrUtf8(text));
  if (request.res_name) SysFreeString(text);
  text = nullptr;
  found->GetDesc(&text);
  const std::wstring desc = request.res_desc ? Wide(*request.res_desc)
                                             : Wide(TakeBstrUtf8(text));
  if (request.res_desc) SysFreeString(text);
  const int from = request.from;
  const int to = request.to;
  const int id = request.resource;
  WriteOperation("modify resource " + std::to_string(id),
                 [&](IZQBlogOperation* operation, IWorkshopCmd** command) {
                   return operation->ModifyResource(from, to, id, name.c_str(), desc.c_str(),
                                                    nullptr, command);
                 },
                 report);
}

void CliSession::RunSession(const CliRequest& request, CommandReport* report) {
  const std::string uin = request.uin.empty() ? options_.user : request.uin;
  const std::wstring wide = Wide(uin);
  IZQBlog* blog = host_->Blog();
  nlohmann::json session = {{"uin", uin}};
  bool opened = false;
  HRESULT hr = blog->IsBlogOpened(wide.c_str(), &opened);
  if (hr == E_FAIL) {
    session["opened"] = nullptr;  // no server directory held for uin
    session["cid_dat_url"] = nullptr;
  } else if (FAILED(hr)) {
    QueryFailed(report, "IsBlogOpened", hr);
    return;
  } else {
    session["opened"] = opened;
    BSTR url = nullptr;
    hr = blog->GetCidDatUrl(wide.c_str(), &url);
    session["cid_dat_url"] = SUCCEEDED(hr) ? nlohmann::json(TakeBstrUtf8(url)) : nlohmann::json();
    if (FAILED(hr)) SysFreeString(url);
  }
  nlohmann::json albums;
  hr = AlbumsJson(blog, wide, &albums);
  if (FAILED(hr) && hr != E_FAIL) {
    QueryFailed(report, "GetAlbumListInfo", hr);
    return;
  }
  session["albums"] = albums;
  // The content-id index, as far as the held resources name content ids: the plug-in
  // answers which albums hold a content id, not which content ids it knows.
  nlohmann::json index = nlohmann::json::object();
  for (const nlohmann::json& album : albums) {
    for (const nlohmann::json& resource : album.value("resources", nlohmann::json::array())) {
      const std::string cid = resource.value("cid", std::string());
      if (cid.empty() || index.contains(cid)) continue;
      std::vector<int> ids(16);
      int count = static_cast<int>(ids.size());
      hr = blog->GetAlbumsByCid(Wide(cid).c_str(), ids.data(), &count);
      if (hr == E_OUTOFMEMORY && count > 0) {
        ids.assign(static_cast<size_t>(count), 0);
        hr = blog->GetAlbumsByCid(Wide(cid).c_str(), ids.data(), &count);
      }
      if (FAILED(hr)) count = 0;  // E_FAIL: the index holds nothing
      ids.resize(static_cast<size_t>(std::max(0, std::min<int>(count, static_cast<int>(ids.size())))));
      std::sort(ids.begin(), ids.end());
      index[cid] = ids;
    }
  }
  session["index"] = index;
  report->json["session"] = session;
}

}  // namespace ZQCli
}  // namespace Velmora
