#include "BlogHandler.h"

#include <cstring>

#include "CookieCheck.h"
#include "FormData.h"
#include "HttpDate.h"
#include "StoreOutcome.h"
#include "XmlWriter.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

const char* const kWriteOperations[7] = {
    "resource_batch_collect", "resource_batch_remove", "category_delete", "category_create",
    "category_update",        "resource_update",       "resource_batch_move",
};

namespace {

enum Operation {
  kBatchCollect = 0,
  kBatchRemove = 1,
  kCategoryDelete = 2,
  kCategoryCreate = 3,
  kCategoryUpdate = 4,
  kResourceUpdate = 5,
  kBatchMove = 6,
};

const char kXmlType[] = "text/xml; charset=utf-8";
const char kTextType[] = "text/plain; charset=utf-8";

// The most tags an album keeps; further tag fields of a form are ignored.
const size_t kMaxTags = 3;

HttpReply Status(int status) {
  HttpReply reply;
  reply.status = status;
  return reply;
}

HttpReply XmlReply(std::string body) {
  HttpReply reply;
  reply.content_type = kXmlType;
  reply.body = std::move(body);
  return reply;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// The path of a request target: an absolute URL loses its scheme and host.
std::string PathOf(const std::string& target) {
  for (const char* scheme : {"http://", "https://"}) {
    if (StartsWith(target, scheme)) {
      const size_t slash = target.find('/', std::strlen(scheme));
      return slash == std::string::npos ? std::string("/") : target.substr(slash);
    }
  }
  return target;
}

// A URL for a field the client reads in its ANSI code page: bytes outside printable
// ASCII are percent-escaped.
std::string AsciiUrl(const std::string& url) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : url) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) {
      out += '%';
      out += kDigits[u >> 4];
      out += kDigits[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// True when the request's If-Modified-Since is not earlier than modified.
bool NotModified(const HttpRequest& request, int64_t modified) {
  const std::string since = request.Header("If-Modified-Since");
  int64_t seconds = 0;
  return !since.empty() && ParseHttpDate(since, &seconds) && seconds >= modified;
}

HttpReply NotModifiedReply(int64_t modified) {
  HttpReply reply = Status(304);
  reply.headers.emplace_back("Last-Modified", FormatHttpDate(modified));
  return reply;
}

// The reply to a read of a list last changed at modified: 304 when the request's
// If-Modified-Since covers it, else the XML that write(xml) makes, with Last-Modified.
template <class Write>
HttpReply ListReply(const HttpRequest& request, int64_t modified, Write write) {
  if (NotModified(request, modified)) return NotModifiedReply(modified);
  XmlWriter xml;
  write(xml);
  HttpReply reply = XmlReply(xml.Finish());
  reply.headers.emplace_back("Last-Modified", FormatHttpDate(modified));
  return reply;
}

// The reply shapes of the write operations.
bool HasReturnValue(int operation) {
  return operation == kBatchCollect || operation == kCategoryCreate ||
         operation == kCategoryUpdate || operation == kResourceUpdate;
}

HttpReply ResultReply(int operation, Outcome outcome, int category_id = 0) {
  const bool success = outcome == Outcome::kSuccess;
  XmlWriter xml;
  xml.Open("result");
  if (HasReturnValue(operation)) xml.Attribute("return", success ? "1" : "0");
  xml.Attribute("message", OutcomeWord(outcome));
  if (success && (operation == kCategoryCreate || operation == kCategoryUpdate)) {
    xml.Attribute("category_id", category_id);
  }
  return XmlReply(xml.Finish());
}

// Reads the album fields of a create or update form. False for a malformed form.
bool ReadAlbumForm(const FormData& form, AlbumFields* fields) {
  const std::string* name = form.Find("category_name");
  if (name == nullptr) return false;
  fields->name = *name;
  fields->desc = form.Get("category_desc");
  fields->pic_url = form.Get("pic_url");
  int32_t number = 0;
  if (form.Find("category_type") != nullptr) {
    if (!form.GetInt("category_type", &number)) return false;
    fields->category_type = number;
  }
  if (form.Find("show_status") != nullptr) {
    if (!form.GetInt("show_status", &number)) return false;
    fields->show_status = number;
  }
  if (form.Find("newly_added_res_num") != nullptr) {
    if (!form.GetInt("newly_added_res_num", &number)) return false;
    fields->newly_added_res_num = number;
  }
  for (size_t i = 0; i < kMaxTags; ++i) {
    const std::string* tag = form.Find("tag" + std::to_string(i));
    if (tag == nullptr) break;
    fields->tags.push_back(*tag);
  }
  return true;
}

// Reads num and the id_<i> fields. False for a malformed form.
bool ReadIds(const FormData& form, int max_items, std::vector<int>* ids) {
  int32_t num = 0;
  if (!form.GetInt("num", &num) || num < 0 || num > max_items) return false;
  for (int32_t i = 0; i < num; ++i) {
    int32_t id = 0;
    if (!form.GetInt("id_" + std::to_string(i), &id)) return false;
    ids->push_back(id);
  }
  return true;
}

void WriteItems(XmlWriter& xml, const BatchOutcome& outcome, const char* done_name) {
  for (const ItemOutcome& item : outcome.items) {
    xml.Open("resource");
    xml.Attribute(done_name, item.done ? "1" : "0");
    xml.Attribute("id", item.id);
    if (item.done) {
      xml.Attribute("state", item.state);
    } else {
      xml.Attribute("message", OutcomeWord(item.result));
    }
    xml.Close();
  }
}

}  // namespace

BlogHandler::BlogHandler(BlogStore& store, const ServiceOptions& options)
    : store_(store), options_(options) {}

HttpReply BlogHandler::Handle(const HttpRequest& request) {
  const std::string target = PathOf(request.target);
  // Known paths answer 405 to a method they do not take; unknown paths 404.
  const bool get = request.method == "GET";
  try {
    if (StartsWith(target, "/comment/")) {
      if (!get) return Status(405);
      return CommentCount(target.substr(std::strlen("/comment/")));
    }
    const std::string path = target.substr(0, target.find('?'));
    for (int op = 0; op < 7; ++op) {
      if (path == options_.api_prefix + kWriteOperations[op]) {
        if (request.method != "POST") return Status(405);
        return Write(request, op);
      }
    }
    for (const char* prefix : {"/touch3/", "/touch/"}) {
      if (StartsWith(path, prefix)) {
        const std::string uin = path.substr(std::strlen(prefix));
        if (uin.find('/') != std::string::npos) return Status(404);
        if (!get) return Status(405);
        return Directory(uin);
      }
    }
    if (StartsWith(path, "/cid/") && EndsWith(path, "/Cid.dat")) {
      const std::string uin = path.substr(5, path.size() - 5 - std::strlen("/Cid.dat"));
      if (uin.find('/') != std::string::npos) return Status(404);
      if (!get) return Status(405);
      return CidDat(uin);
    }
    if (StartsWith(path, "/blog/")) {
      const std::string rest = path.substr(6);
      const size_t slash = rest.find('/');
      if (slash == std::string::npos) return Status(404);
      const std::string uin = rest.substr(0, slash);
      const std::string tail = rest.substr(slash);
      if (tail == "/albums.xml") {
        if (!get) return Status(405);
        return AlbumList(request, uin);
      }
      if (StartsWith(tail, "/album/") && EndsWith(tail, ".xml")) {
        if (!get) return Status(405);
        return ResourceList(request, uin, tail.substr(7, tail.size() - 7 - 4));
      }
    }
    return Status(404);
  } catch (const StoreError&) {
    return Status(500);
  }
}

HttpReply BlogHandler::Directory(const std::string& uin) {
  HttpReply reply;
  reply.content_type = kTextType;
  const auto info = store_.GetDirectory(uin);
  if (!info) {
    reply.body = "404";
    return reply;
  }
  const std::string data = "http://" + options_.data_host;
  std::vector<std::string> lines = {
      "200",
      std::to_string(info->cid_count),
      data + "/cid/" + uin + "/Cid.dat",
      std::to_string(info->album_count),
      data + "/blog/" + uin + "/albums.xml",
      std::to_string(info->resource_count),
      data + "/blog/" + uin + "/album/<id>.xml",
  };
  for (const char* operation : kWriteOperations) {
    lines.push_back(operation);
    lines.push_back(options_.post_host);
    lines.push_back(options_.api_prefix + operation);
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) reply.body += "\r\n";
    reply.body += lines[i];
  }
  return reply;
}

HttpReply BlogHandler::AlbumList(const HttpRequest& request, const std::string& uin) {
  const auto list = store_.GetAlbumList(uin);
  if (!list) return Status(404);
  return ListReply(request, list->modified, [&](XmlWriter& xml) {
    xml.Open("categories");
    for (const AlbumRecord& album : list->albums) {
      xml.Open("category");
      xml.Attribute("id", album.id);
      xml.Attribute("category_type", album.fields.category_type);
      xml.Attribute("show_status", album.fields.show_status);
      xml.Attribute("last_time", FormatLocalTime(album.last_time));
      xml.Element("category_name", album.fields.name);
      xml.Element("desc", album.fields.desc);
      xml.Element("pic_url", AsciiUrl(album.fields.pic_url));
      xml.Open("tags");
      xml.Attribute("tag_num", static_cast<int64_t>(album.fields.tags.size()));
      for (const std::string& tag : album.fields.tags) xml.Element("tag", tag);
      xml.Close();
      xml.Close();
    }
  });
}

HttpReply BlogHandler::ResourceList(const HttpRequest& request, const std::string& uin,
                                    const std::string& album) {
  int32_t album_id = 0;
  if (!ParseInt32(album, &album_id)) return Status(404);
  const auto list = store_.GetResourceList(uin, album_id);
  // An album the user does not have and an empty album both answer 404.
  if (!list || list->resources.empty()) return Status(404);
  return ListReply(request, list->modified, [&](XmlWriter& xml) {
    xml.Open("resources");
    for (const ResourceRecord& r : list->resources) {
      xml.Open("resource");
      xml.Attribute("id", r.id);
      xml.Attribute("cid", r.fields.cid);
      xml.Attribute("gcid", r.fields.gcid);
      xml.Attribute("res_type", r.fields.res_type);
      xml.Attribute("size", r.fields.size);
      xml.Attribute("format", r.fields.format);
      xml.Attribute("last_time", FormatLocalTime(r.last_time));
      xml.Attribute("state", r.state());
      xml.Element("res_name", r.fields.name);
      xml.Element("url", r.fields.url);
      xml.Element("original", r.fields.original);
      xml.Element("desc", r.fields.desc);
      xml.Close();
    }
  });
}

HttpReply BlogHandler::CidDat(const std::string& uin) {
  const std::vector<CidEntry> entries = store_.GetCidEntries(uin);
  if (entries.empty()) return Status(404);
  HttpReply reply;
  reply.content_type = "application/octet-stream";
  reply.body.reserve(entries.size() * 24);
  for (const CidEntry& entry : entries) {
    reply.body.append(reinterpret_cast<const char*>(entry.cid), 20);
    const uint32_t id = static_cast<uint32_t>(entry.album_id);
    for (int shift = 0; shift < 32; shift += 8) {
      reply.body += static_cast<char>((id >> shift) & 0xFF);
    }
  }
  return reply;
}

HttpReply BlogHandler::CommentCount(const std::string& key) {
  HttpReply reply;
  reply.content_type = kTextType;
  reply.body = std::to_string(store_.GetCommentCount(key));
  return reply;
}

HttpReply BlogHandler::Write(const HttpRequest& request, int operation) {
  const FormData form = FormData::Parse(request.body);
  const std::string uin = form.Get("uin");
  const std::string cookie = request.Header("Cookie");
  if (!BlogStore::IsValidUin(uin) || !CookieIsValid(cookie, uin) ||
      !CookieIsFresh(cookie, store_.Now(), options_.cookie_window.count())) {
    return ResultReply(operation, Outcome::kDenied);
  }
  try {
    switch (operation) {
      case kCategoryCreate: {
        AlbumFields fields;
        if (!ReadAlbumForm(form, &fields)) return ResultReply(operation, Outcome::kFail);
        const WriteOutcome outcome = store_.CreateAlbum(uin, fields);
        return ResultReply(operation, outcome.result, outcome.category_id);
      }
      case kCategoryUpdate: {
        AlbumFields fields;
        int32_t album_id = 0;
        if (!form.GetInt("category_id", &album_id) || !ReadAlbumForm(form, &fields)) {
          return ResultReply(operation, Outcome::kFail);
        }
        const WriteOutcome outcome = store_.ModifyAlbum(uin, album_id, fields);
        return ResultReply(operation, outcome.result, outcome.category_id);
      }
      case kCategoryDelete: {
        int32_t album_id = 0;
        if (!form.GetInt("category_id", &album_id)) return ResultReply(operation, Outcome::kFail);
        return ResultReply(operation, store_.RemoveAlbum(uin, album_id).result);
      }
      case kBatchRemove: {
        int32_t album_id = 0;
        std::vector<int> ids;
        if (!form.GetInt("category_id", &album_id) ||
            !ReadIds(form, options_.max_batch_items, &ids)) {
          return ResultReply(operation, Outcome::kFail);
        }
        return ResultReply(operation, store_.RemoveResources(uin, album_id, ids).result);
      }
      case kResourceUpdate: {
        int32_t from = 0, to = 0, id = 0;
        const std::string* name = form.Find("res_name");
        if (!form.GetInt("category_id_from", &from) || !form.GetInt("category_id_to", &to) ||
            !form.GetInt("res_id", &id) || name == nullptr) {
          return ResultReply(operation, Outcome::kFail);
        }
        const WriteOutcome outcome =
            store_.ModifyResource(uin, from, to, id, *name, form.Get("desc"));
        return ResultReply(operation, outcome.result);
      }
      case kBatchCollect: {
        int32_t album_id = 0, num = 0;
        if (!form.GetInt("category_id", &album_id) || !form.GetInt("num", &num) || num < 0 ||
            num > options_.max_batch_items) {
          return ResultReply(operation, Outcome::kFail);
        }
        std::vector<ResourceFields> resources;
        for (int32_t i = 0; i < num; ++i) {
          const std::string n = std::to_string(i);
          ResourceFields r;
          r.cid = form.Get("cid_" + n);
          r.gcid = form.Get("gcid_" + n);
          r.name = form.Get("res_name_" + n);
          r.size = form.Get("size_" + n);
          r.format = form.Get("format_" + n);
          r.url = form.Get("url_" + n);
          r.original = form.Get("original_" + n);
          r.refer = form.Get("refer_" + n);
          r.desc = form.Get("desc_" + n);
          int32_t number = 0;
          if (form.GetInt("res_type_" + n, &number)) r.res_type = number;
          if (form.GetInt("undone_" + n, &number)) r.undone = number != 0;
          resources.push_back(std::move(r));
        }
        const BatchOutcome outcome = store_.CollectResources(uin, album_id, resources);
        XmlWriter xml;
        xml.Open("result");
        xml.Attribute("return", outcome.accepted ? "1" : "0");
        xml.Attribute("message", OutcomeWord(outcome.result));
        WriteItems(xml, outcome, "add");
        return XmlReply(xml.Finish());
      }
      case kBatchMove: {
        int32_t from = 0, to = 0, choice = 0;
        std::vector<int> ids;
        if (!form.GetInt("category_id_from", &from) || !form.GetInt("category_id_to", &to) ||
            (form.Find("choice") != nullptr && !form.GetInt("choice", &choice)) ||
            !ReadIds(form, options_.max_batch_items, &ids)) {
          return ResultReply(operation, Outcome::kFail);
        }
        // The client sends copy and move alike; "choice" tells them apart: 1 keeps the
        // originals (copy), 0 takes them out of the source album (move).
        const BatchOutcome outcome = store_.TransferResources(uin, from, to, choice != 0, ids);
        XmlWriter xml;
        xml.Open("result");
        xml.Attribute("message", OutcomeWord(outcome.result));
        WriteItems(xml, outcome, "done");
        return XmlReply(xml.Finish());
      }
      default:
        return Status(404);
    }
  } catch (const StoreError&) {
    // A database fault: the collect endpoint reports it as a server error, the others
    // with their "fail" word.
    if (operation == kBatchCollect) return Status(500);
    return ResultReply(operation, Outcome::kFail);
  }
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
