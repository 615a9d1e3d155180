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

// The text for a command of kind that the request ran, from its report object. Every
// line ends with "\n". Fields missing from report are left out, never invented.
std::string RenderHuman(const CliRequest& request, const nlohmann::json& report);

// The albums as a table (ID, NAME, TYPE, SHOW, TAGS, RESOURCES, LAST CHANGE), the
// resource count "-" when the album's resources were not fetched.
std::string RenderAlbumTable(const nlohmann::json& albums);
// The resources of one album as a table (ID, NAME, FORMAT, SIZE, TYPE, STATE, CID).
std::string RenderResourceTable(const nlohmann::json& resources);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_HUMANOUTPUT_H_
