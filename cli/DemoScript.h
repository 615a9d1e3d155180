// DemoScript: the guided session of "zqblog demo". It runs ordinary commands through
// the session, printing each as the command line a person would type and its output:
// the server directory, the albums, the resources of an album; then it creates two
// albums, collects two resources into the first, copies one and moves the other to the
// second, asks a comment count and which albums hold a content id, and removes what it
// made. It stops at the first step that fails, saying which.
#ifndef ZQBLOG_CLI_DEMOSCRIPT_H_
#define ZQBLOG_CLI_DEMOSCRIPT_H_

#include "cli/CliMain.h"
#include "cli/CliSession.h"

namespace Velmora {
namespace ZQCli {

// Runs the demo in session. With json, prints one object {"steps": [...]} (each step's
// report object with its "command") instead of the narration. Returns 0 when every
// step succeeded, else 1.
int RunDemo(CliSession& session, bool json, CliStreams streams);

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_DEMOSCRIPT_H_
