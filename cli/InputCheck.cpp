#include "cli/InputCheck.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Utf8Text.h"

namespace Velmora {
namespace ZQCli {

namespace {

const char* const kResourceKeys[] = {"cid",  "gcid",     "res_name", "res_type",
                                     "size", "format",   "state",    "url",
                                     "original", "refer", "desc"};

bool IsResourceKey(const std::string& key) {
  for (const char* known : kResourceKeys) {
    if (key == known) return true;
  }
  return false;
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Builds a resource from its fields (key to UTF-8 text), checking every rule.
bool ResourceFromFields(const std::map<std::string, std::string>& fields, ResourceSpec* out,
                        std::string* error) {
  ResourceSpec spec;
  for (const char* required : {"cid", "res_name"}) {
    auto it = fields.find(required);
    if (it == fields.end() || it->second.empty()) {
      *error = std::string("the resource lacks ") + required;
      return false;
    }
  }
  for (const auto& field : fields) {
    std::wstring wide;
    if (!Utf8ToWide(field.second, &wide)) {
      *error = "the resource's " + field.first + " is not valid UTF-8";
      return false;
    }
  }
  if (!CheckContentId("cid", fields.at("cid"), &spec.cid, error)) return false;
  auto get = [&](const char* key) {
    auto it = fields.find(key);
    return it != fields.end() ? it->second : std::string();
  };
  if (!get("gcid").empty() && !CheckContentId("gcid", get("gcid"), &spec.gcid, error)) {
    return false;
  }
  spec.res_name = get("res_name");
  spec.format = get("format");
  spec.size = get("size");
  for (char c : spec.size) {
    if (c < '0' || c > '9') {
      *error = "size " + Quoted(spec.size) + " is not a decimal number of bytes";
      return false;
    }
  }
  if (spec.size.size() > 20) {
    *error = "size " + Quoted(spec.size) + " is too large";
    return false;
  }
  spec.url = get("url");
  spec.original = get("original");
  spec.refer = get("refer");
  spec.desc = get("desc");
  if (fields.count("res_type") != 0 &&
      !ParseNumber("res_type", fields.at("res_type"), &spec.res_type, error)) {
    return false;
  }
  if (fields.count("state") != 0 &&
      !ParseNumber("state", fields.at("state"), &spec.state, error)) {
    return false;
  }
  *out = spec;
  return true;
}

}  // namespace

bool ParseInt32(const std::string& text, int* out) {
  if (text.empty() || text.size() > 12) return false;
  size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j) {
    if (text[j] < '0' || text[j] > '9') return false;
  }
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < INT_MIN || value > INT_MAX) return false;
  *out = static_cast<int>(value);
  return true;
}

bool ParseId(const std::string& what, const std::string& text, int* out, std::string* error) {
  int value = 0;
  if (!ParseInt32(text, &value) || value < 1) {
    *error = what + " " + Quoted(text) + " is not an id (a number from 1 to 2147483647)";
    return false;
  }
  *out = value;
  return true;
}

bool ParseNumber(const std::string& what, const std::string& text, int* out,
                 std::string* error) {
  if (!ParseInt32(text, out)) {
    *error = what + " " + Quoted(text) + " is not a whole number";
    return false;
  }
  return true;
}

bool CheckUin(const std::string& what, const std::string& text, std::string* out,
              std::string* error) {
  bool ok = !text.empty() && text.size() <= 64;
  for (char c : text) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '@' || c == '-';
    if (!allowed) ok = false;
  }
  if (!ok) {
    *error = what + " " + Quoted(text) +
             " is not a user id (1 to 64 of the characters A-Z a-z 0-9 _ . @ -)";
    return false;
  }
  *out = LowerAscii(text);
  return true;
}

bool CheckContentId(const std::string& what, const std::string& text, std::string* out,
                    std::string* error) {
  bool ok = text.size() == 40;
  for (char c : text) {
    if (!IsHex(c)) ok = false;
  }
  if (!ok) {
    *error = what + " " + Quoted(text) + " is not a content id (40 hexadecimal digits)";
    return false;
  }
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  *out = upper;
  return true;
}

bool CheckCommentKey(const std::string& text, std::string* error) {
  bool ok = !text.empty() && text.size() <= 256;
  for (char c : text) {
    if (c <= 0x20 || c >= 0x7F || c == '/' || c == '?' || c == '#' || c == '%') ok = false;
  }
  if (!ok) {
    *error = "KEY " + Quoted(text) +
             " is not a comment key (1 to 256 printable ASCII characters, no space, / ? # %)";
    return false;
  }
  return true;
}

bool ParseResourceOption(const std::string& text, ResourceSpec* out, std::string* error) {
  std::map<std::string, std::string> fields;
  std::vector<std::string> pairs(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == ',' || text[i + 1] == '\\')) {
      pairs.back().push_back(text[++i]);
    } else if (c == ',') {
      pairs.emplace_back();
    } else {
      pairs.back().push_back(c);
    }
  }
  for (const std::string& pair : pairs) {
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      *error = "--resource: " + Quoted(pair) + " is not key=value";
      return false;
    }
    const std::string key = pair.substr(0, equals);
    if (!IsResourceKey(key)) {
      *error = "--resource: unknown key " + Quoted(key) +
               " (keys: cid, gcid, res_name, res_type, size, format, state, url, original, "
               "refer, desc)";
      return false;
    }
    if (!fields.emplace(key, pair.substr(equals + 1)).second) {
      *error = "--resource: key " + Quoted(key) + " given twice";
      return false;
    }
  }
  if (!ResourceFromFields(fields, out, error)) {
    *error = "--resource: " + *error;
    return false;
  }
  return true;
}

std::string ResourceOptionText(const ResourceSpec& spec) {
  std::string text;
  auto add = [&text](const char* key, const std::string& value) {
    if (value.empty()) return;
    if (!text.empty()) text += ',';
    text += key;
    text += '=';
    for (char c : value) {
      if (c == ',' || c == '\\') text += '\\';
      text += c;
    }
  };
  add("cid", spec.cid);
  add("gcid", spec.gcid);
  add("res_name", spec.res_name);
  add("format", spec.format);
  add("size", spec.size);
  add("url", spec.url);
  add("original", spec.original);
  add("refer", spec.refer);
  add("desc", spec.desc);
  add("res_type", spec.res_type != 0 ? std::to_string(spec.res_type) : std::string());
  add("state", spec.state != 0 ? std::to_string(spec.state) : std::string());
  return text;
}

bool LoadResourcesJson(const std::string& path, std::vector<ResourceSpec>* out,
                       std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "--from-json: cannot read " + Quoted(path);
    return false;
  }
  std::stringstream content;
  content << file.rdbuf();
  nlohmann::json document = nlohmann::json::parse(content.str(), nullptr, false);
  if (document.is_discarded()) {
    *error = "--from-json: " + Quoted(path) + " is not JSON";
    return false;
  }
  if (!document.is_array() || document.empty()) {
    *error = "--from-json: " + Quoted(path) + " is not a JSON array of resources";
    return false;
  }
  std::vector<ResourceSpec> resources;
  for (size_t i = 0; i < document.size(); ++i) {
    const nlohmann::json& entry = document[i];
    const std::string where = "--from-json: entry " + std::to_string(i);
    if (!entry.is_object()) {
      *error = where + " is not an object";
      return false;
    }
    std::map<std::string, std::string> fields;
    for (auto it = entry.begin(); it != entry.end(); ++it) {
      if (!IsResourceKey(it.key())) {
        *error = where + ": unknown key " + Quoted(it.key());
        return false;
      }
      const bool numeric_key =
          it.key() == "res_type" || it.key() == "state" || it.key() == "size";
      if (it.value().is_string()) {
        fields[it.key()] = it.value().get<std::string>();
      } else if (numeric_key && it.value().is_number_integer()) {
        fields[it.key()] = it.value().dump();
      } else {
        *error = where + ": " + it.key() + " must be " +
                 (numeric_key ? "a whole number or a string" : "a string");
        return false;
      }
    }
    ResourceSpec spec;
    if (!ResourceFromFields(fields, &spec, error)) {
      *error = where + ": " + *error;
      return false;
    }
    resources.push_back(spec);
  }
  *out = resources;
  return true;
}

}  // namespace ZQCli
}  // namespace Velmora
