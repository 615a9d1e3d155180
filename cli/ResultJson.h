// ResultJson: what the plug-in hands the host, as the JSON of the command-line contract:
// result objects (common fields plus the fields of their kind), albums and resources.
// Text values are the plug-in's wide strings written as UTF-8.
#ifndef ZQBLOG_CLI_RESULTJSON_H_
#define ZQBLOG_CLI_RESULTJSON_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "interfaces/ICommonResult.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQBlog.h"
#include "interfaces/IZQResInfo.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQCli {

// "album", "resource", "batch", "comment"; "unknown" for other kinds.
const char* ResultKindName(int kind);

// The result of command_id: command_id, kind, uin, status, message_text,
// operation_index, operation_title, extra_value, category_id, then by kind:
// album: category_name; resource: target_category_id, resource_id; comment:
// resource_key, request_number; batch: first_count, second_count, target_category_id,
// first_ids, second_ids, first_texts, second_texts. The result interfaces cannot list
// the keys of the two batch tables, so the tables are read for the ids of the two lists
// and for table_keys (ids the caller knows may be keys: requested ids, stand-in ids).
nlohmann::json ResultJson(ICommonResult* result, int command_id, int result_kind,
                          const std::vector<int>& table_keys);

// One resource: id, cid, gcid, res_name, format, size, last_time, url, original, refer,
// desc, res_type, state, category_id, uin.
nlohmann::json ResourceJson(IZQResInfo* resource);

// One album of uin: id, category_name, show_status, category_type, desc, last_time,
// tag_num, tags, pic_url, newly_added_res_num, resources_loaded and, when loaded,
// resources.
nlohmann::json AlbumJson(IZQBlog* blog, const std::wstring& uin, IZQAlbumInfo* album);

// The albums the plug-in holds for uin, in list order: S_OK and the array; E_FAIL and
// an empty array when it holds no list for uin; any other failure is the plug-in's
// answer (for example E_NOTIMPL) and *out is left alone.
HRESULT AlbumsJson(IZQBlog* blog, const std::wstring& uin, nlohmann::json* out);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_RESULTJSON_H_
