#include "cli/HumanOutput.h"

#include "cli/TextTable.h"

namespace Velmora {
namespace ZQCli {

namespace {

std::string Str(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::string();
  return it->get<std::string>();
}

int Int(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return 0;
  return it->get<int>();
}

const nlohmann::json* FindAlbum(const nlohmann::json& report, int id) {
  auto albums = report.find("albums");
  if (albums == report.end() || !albums->is_array()) return nullptr;
  for (const nlohmann::json& album : *albums) {
    if (Int(album, "id") == id) return &album;
  }
  return nullptr;
}

std::string Plural(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Join(const nlohmann::json& values, const char* separator) {
  std::string out;
  for (const nlohmann::json& value : values) {
    if (!out.empty()) out += separator;
    out += value.is_string() ? value.get<std::string>() : value.dump();
  }
  return out;
}

// The content id of resource id in album, "" when the album does not show it.
std::string CidIn(const nlohmann::json* album, int id) {
  if (album == nullptr) return std::string();
  for (const nlohmann::json& resource : album->value("resources", nlohmann::json::array())) {
    if (Int(resource, "id") == id) return Str(resource, "cid");
  }
  return std::string();
}

// The id of the resource with content id cid in album other than id, or 0.
int CopyIn(const nlohmann::json* album, const std::string& cid, int id) {
  if (album == nullptr || cid.empty()) return 0;
  for (const nlohmann::json& resource : album->value("resources", nlohmann::json::array())) {
    if (Str(resource, "cid") == cid && Int(resource, "id") != id) return Int(resource, "id");
  }
  return 0;
}

// The done and refused items of a batch result, one line each. For a copy (from and to
// set), a done item also names the id its copy got: the target album's resource with the
// same content id (an album holds a content id once).
std::string BatchItems(const nlohmann::json& result, const nlohmann::json* from = nullptr,
                       const nlohmann::json* to = nullptr) {
  TextTable table({"ID", "OUTCOME", "DETAIL"});
  table.SetRightAligned(0);
  const nlohmann::json first = result.value("first_texts", nlohmann::json::object());
  const nlohmann::json second = result.value("second_texts", nlohmann::json::object());
  for (const nlohmann::json& id : result.value("first_ids", nlohmann::json::array())) {
    const std::string key = id.dump();
    std::string detail = first.contains(key) ? "state " + first[key].get<std::string>() : "";
    const int copy = id.is_number_integer() ? CopyIn(to, CidIn(from, id.get<int>()), id.get<int>())
                                            : 0;
    if (copy != 0) {
      detail = "copied as " + std::to_string(copy) + (detail.empty() ? "" : ", " + detail);
    }
    table.AddRow({key, "done", detail});
  }
  for (auto it = second.begin(); it != second.end(); ++it) {
    table.AddRow({it.key(), "refused", it.value().is_string() ? it.value().get<std::string>() : ""});
  }
  return table.RowCount() > 0 ? table.Render() : std::string();
}

std::string AlbumLabel(const nlohmann::json& report, int id) {
  const nlohmann::json* album = FindAlbum(report, id);
  std::string label = "album " + std::to_string(id);
  if (album != nullptr) label += " (" + Str(*album, "category_name") + ")";
  return label;
}

}  // namespace

std::string RenderAlbumTable(const nlohmann::json& albums) {
  TextTable table({"ID", "NAME", "TYPE", "SHOW", "TAGS", "RESOURCES", "LAST CHANGE"});
  table.SetRightAligned(0);
  table.SetRightAligned(2);
  table.SetRightAligned(3);
  table.SetRightAligned(5);
  table.SetMaxWidth(1, 40);
  table.SetMaxWidth(4, 30);
  for (const nlohmann::json& album : albums) {
    std::string resources = "-";
    if (album.value("resources_loaded", false) && album.contains("resources")) {
      resources = std::to_string(album["resources"].size());
    }
    table.AddRow({std::to_string(Int(album, "id")), Str(album, "category_name"),
                  std::to_string(Int(album, "category_type")),
                  std::to_string(Int(album, "show_status")),
                  Join(album.value("tags", nlohmann::json::array()), ", "), resources,
                  Str(album, "last_time")});
  }
  return table.Render();
}

std::string RenderResourceTable(const nlohmann::json& resources) {
  TextTable table({"ID", "NAME", "FORMAT", "SIZE", "TYPE", "STATE", "CID"});
  table.SetRightAligned(0);
  table.SetRightAligned(3);
  table.SetRightAligned(4);
  table.SetRightAligned(5);
  table.SetMaxWidth(1, 40);
  table.SetMaxWidth(6, 13);
  for (const nlohmann::json& resource : resources) {
    table.AddRow({std::to_string(Int(resource, "id")), Str(resource, "res_name"),
                  Str(resource, "format"), Str(resource, "size"),
                  std::to_string(Int(resource, "res_type")),
                  std::to_string(Int(resource, "state")), Str(resource, "cid")});
  }
  return table.Render();
}

std::string RenderHuman(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  const nlohmann::json albums = report.value("albums", nlohmann::json::array());
  std::string out;
  switch (request.kind) {
    case CommandKind::kDirectory: {
      const std::string uin = result.contains("uin") ? Str(result, "uin") : request.uin;
      if (report.value("opened", false)) {
        out += "User " + uin + " has a blog.\n";
        out += "Content-id table: " + Str(report, "cid_dat_url") + "\n";
      } else {
        out += "User " + uin + " has no blog.\n";
      }
      return out;
    }
    case CommandKind::kAlbums:
      out += RenderAlbumTable(albums);
      out += Plural(static_cast<int>(albums.size()), "album", "albums") + "\n";
      return out;
    case CommandKind::kResources: {
      const nlohmann::json* album = FindAlbum(report, request.album);
      if (album == nullptr) return "Album " + std::to_string(request.album) + " is gone.\n";
      const nlohmann::json resources = album->value("resources", nlohmann::json::array());
      out += "Album " + std::to_string(request.album) + " " + Str(*album, "category_name") +
             ": " + Plural(static_cast<int>(resources.size()), "resource", "resources") + "\n";
      if (!resources.empty()) out += RenderResourceTable(resources);
      return out;
    }
    case CommandKind::kCidDat:
      return "Fetched the content-id table of " + Str(result, "uin") + ".\n";
    case CommandKind::kAlbumsByCid: {
      const nlohmann::json ids = report.value("album_ids", nlohmann::json::array());
      if (ids.empty()) return "No album holds " + request.cid + ".\n";
      return request.cid + " is in " + (ids.size() == 1 ? "album " : "albums ") +
             Join(ids, ", ") + ".\n";
    }
    case CommandKind::kComments:
      return Str(result, "resource_key") + ": " +
             Plural(Int(result, "category_id"), "comment", "comments") + ".\n";
    case CommandKind::kCreateAlbum:
      out += "Created album " + std::to_string(Int(result, "category_id")) + " (" +
             Str(result, "category_name") + ").\n";
      return out + RenderAlbumTable(albums);
    case CommandKind::kModifyAlbum:
      out += "Changed album " + std::to_string(Int(result, "category_id")) + " (" +
             Str(result, "category_name") + ").\n";
      return out + RenderAlbumTable(albums);
    case CommandKind::kRemoveAlbum:
      out += "Removed album " + std::to_string(Int(result, "category_id")) +
             (Str(result, "category_name").empty() ? "" : " (" + Str(result, "category_name") + ")") +
             ".\n";
      return out + RenderAlbumTable(albums);
    case CommandKind::kCollect:
      out += "Collected " + std::to_string(Int(result, "first_count")) + " of " +
             Plural(static_cast<int>(request.resources.size()), "resource", "resources") +
             " into " + AlbumLabel(report, request.album) + "; " +
             std::to_string(Int(result, "second_count")) + " refused.\n";
      return out + BatchItems(result);
    case CommandKind::kRemoveResources:
      out += "Removed " + Plural(Int(result, "first_count"), "resource", "resources") +
             " from " + AlbumLabel(report, request.album) + ".\n";
      return out;
    case CommandKind::kCopy:
    case CommandKind::kMove:
      out += std::string(request.kind == CommandKind::kCopy ? "Copied " : "Moved ") +
             Plural(Int(result, "first_count"), "resource", "resources") + " from " +
             AlbumLabel(report, request.from) + " to " + AlbumLabel(report, request.to) + "; " +
             std::to_string(Int(result, "second_count")) + " refused.\n";
      if (request.kind == CommandKind::kCopy) {
        return out + BatchItems(result, FindAlbum(report, request.from),
                                FindAlbum(report, request.to));
      }
      return out + BatchItems(result);
    case CommandKind::kModifyResource:
      out += "Changed resource " + std::to_string(Int(result, "resource_id"));
      if (Int(result, "target_category_id") != Int(result, "category_id")) {
        out += ", moved from album " + std::to_string(Int(result, "category_id")) +
               " to album " + std::to_string(Int(result, "target_category_id"));
      }
      return out + ".\n";
    case CommandKind::kSession: {
      const nlohmann::json session = report.value("session", nlohmann::json::object());
      const nlohmann::json held = session.value("albums", nlohmann::json::array());
      const nlohmann::json index = session.value("index", nlohmann::json::object());
      out += "Session of " + Str(session, "uin") + ": ";
      if (session.value("opened", nlohmann::json()).is_null()) {
        out += "no server directory held.\n";
      } else {
        out += session.value("opened", false) ? "has a blog.\n" : "has no blog.\n";
      }
      out += RenderAlbumTable(held);
      out += Plural(static_cast<int>(held.size()), "album", "albums") + "; ";
      out += Plural(static_cast<int>(index.size()), "indexed content id", "indexed content ids") +
             "\n";
      for (auto entry = index.begin(); entry != index.end(); ++entry) {
        out += "  " + entry.key() + " -> " + Join(entry.value(), ", ") + "\n";
      }
      return out;
    }
    case CommandKind::kShell:
    case CommandKind::kDemo:
    case CommandKind::kServe:
    case CommandKind::kWatch:
      break;
  }
  return out;
}

}  // namespace ZQCli
}  // namespace Velmora
