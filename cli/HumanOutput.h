// HumanOutput: the text a command prints for people when it succeeded, made from the
// same JSON object the --json output prints (CliSession.h): aligned tables of albums
// and resources, and one sentence per operation outcome.
#ifndef ZQBLOG_CLI_HUMANOUTPUT_H_
#define ZQBLOG_CLI_HUMANOUTPUT_H_

#include <string>

#include <nlohmann/json.hpp>

#include "cli/CliRequest.h"

namespace Velmora {
namespace ZQCli {

// The text each command of the session prints for people when it succeeded, from the
// request it ran and its report object (the command table names them). Every line ends
// with "\n". Fields missing from report are left out, never invented.
std::string DirectoryText(const CliRequest& request, const nlohmann::json& report);
std::string AlbumsText(const CliRequest& request, const nlohmann::json& report);
std::string ResourcesText(const CliRequest& request, const nlohmann::json& report);
std::string CidDatText(const CliRequest& request, const nlohmann::json& report);
std::string AlbumsByCidText(const CliRequest& request, const nlohmann::json& report);
std::string CommentsText(const CliRequest& request, const nlohmann::json& report);
std::string CreateAlbumText(const CliRequest& request, const nlohmann::json& report);
std::string ModifyAlbumText(const CliRequest& request, const nlohmann::json& report);
std::string RemoveAlbumText(const CliRequest& request, const nlohmann::json& report);
std::string CollectText(const CliRequest& request, const nlohmann::json& report);
std::string RemoveResourcesText(const CliRequest& request, const nlohmann::json& report);
// copy and move.
std::string CopyOrMoveText(const CliRequest& request, const nlohmann::json& report);
std::string ModifyResourceText(const CliRequest& request, const nlohmann::json& report);
std::string SessionText(const CliRequest& request, const nlohmann::json& report);

// The albums as a table (ID, NAME, TYPE, SHOW, TAGS, RESOURCES, LAST CHANGE), the
// resource count "-" when the album's resources were not fetched.
std::string RenderAlbumTable(const nlohmann::json& albums);
// The resources of one album as a table (ID, NAME, FORMAT, SIZE, TYPE, STATE, CID).
std::string RenderResourceTable(const nlohmann::json& resources);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_HUMANOUTPUT_H_
