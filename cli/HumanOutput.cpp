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

std::string DirectoryText(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  const std::string uin = result.contains("uin") ? Str(result, "uin") : request.uin;
  if (!report.value("opened", false)) return "User " + uin + " has no blog.\n";
  return "User " + uin + " has a blog.\nContent-id table: " + Str(report, "cid_dat_url") + "\n";
}

std::string AlbumsText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json albums = report.value("albums", nlohmann::json::array());
  return RenderAlbumTable(albums) + Plural(static_cast<int>(albums.size()), "album", "albums") +
         "\n";
}

std::string ResourcesText(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json* album = FindAlbum(report, request.album);
  if (album == nullptr) return "Album " + std::to_string(request.album) + " is gone.\n";
  const nlohmann::json resources = album->value("resources", nlohmann::json::array());
  std::string out = "Album " + std::to_string(request.album) + " " +
                    Str(*album, "category_name") + ": " +
                    Plural(static_cast<int>(resources.size()), "resource", "resources") + "\n";
  if (!resources.empty()) out += RenderResourceTable(resources);
  return out;
}

std::string CidDatText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  return "Fetched the content-id table of " + Str(result, "uin") + ".\n";
}

std::string AlbumsByCidText(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json ids = report.value("album_ids", nlohmann::json::array());
  if (ids.empty()) return "No album holds " + request.cid + ".\n";
  return request.cid + " is in " + (ids.size() == 1 ? "album " : "albums ") + Join(ids, ", ") +
         ".\n";
}

std::string CommentsText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  return Str(result, "resource_key") + ": " +
         Plural(Int(result, "category_id"), "comment", "comments") + ".\n";
}

std::string CreateAlbumText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  return "Created album " + std::to_string(Int(result, "category_id")) + " (" +
         Str(result, "category_name") + ").\n" +
         RenderAlbumTable(report.value("albums", nlohmann::json::array()));
}

std::string ModifyAlbumText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  return "Changed album " + std::to_string(Int(result, "category_id")) + " (" +
         Str(result, "category_name") + ").\n" +
         RenderAlbumTable(report.value("albums", nlohmann::json::array()));
}

std::string RemoveAlbumText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  const std::string name = Str(result, "category_name");
  return "Removed album " + std::to_string(Int(result, "category_id")) +
         (name.empty() ? "" : " (" + name + ")") + ".\n" +
         RenderAlbumTable(report.value("albums", nlohmann::json::array()));
}

std::string CollectText(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  return "Collected " + std::to_string(Int(result, "first_count")) + " of " +
         Plural(static_cast<int>(request.resources.size()), "resource", "resources") +
         " into " + AlbumLabel(report, request.album) + "; " +
         std::to_string(Int(result, "second_count")) + " refused.\n" + BatchItems(result);
}

std::string RemoveResourcesText(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  return "Removed " + Plural(Int(result, "first_count"), "resource", "resources") + " from " +
         AlbumLabel(report, request.album) + ".\n";
}

std::string CopyOrMoveText(const CliRequest& request, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  const bool copy = request.kind == CommandKind::kCopy;
  const std::string out =
      std::string(copy ? "Copied " : "Moved ") +
      Plural(Int(result, "first_count"), "resource", "resources") + " from " +
      AlbumLabel(report, request.from) + " to " + AlbumLabel(report, request.to) + "; " +
      std::to_string(Int(result, "second_count")) + " refused.\n";
  if (copy) {
    return out + BatchItems(result, FindAlbum(report, request.from), FindAlbum(report, request.to));
  }
  return out + BatchItems(result);
}

std::string ModifyResourceText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json result = report.value("result", nlohmann::json::object());
  std::string out = "Changed resource " + std::to_string(Int(result, "resource_id"));
  if (Int(result, "target_category_id") != Int(result, "category_id")) {
    out += ", moved from album " + std::to_string(Int(result, "category_id")) + " to album " +
           std::to_string(Int(result, "target_category_id"));
  }
  return out + ".\n";
}

std::string SessionText(const CliRequest&, const nlohmann::json& report) {
  const nlohmann::json session = report.value("session", nlohmann::json::object());
  const nlohmann::json held = session.value("albums", nlohmann::json::array());
  const nlohmann::json index = session.value("index", nlohmann::json::object());
  std::string out = "Session of " + Str(session, "uin") + ": ";
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

}  // namespace ZQCli
}  // namespace Velmora
