// The registration of the library's blog commands with the command parser of the
// module "ZQBlog": each command name maps to the factory of its ShareSessionCmd, so a
// serving process can create the commands other processes forward to it. Run once at
// library load, from the static initialisation, right after the module object.
#ifndef ZQBLOG_COMMANDS_COMMANDREGISTRY_H_
#define ZQBLOG_COMMANDS_COMMANDREGISTRY_H_

#include <cstddef>

#include "framework/ShareSessionCmdParser.h"

namespace Velmora {
namespace ZQBlog {

// One row of the registration table.
struct BlogCommandRegistration {
  const char* name;  // the command name, equal to the command's GetCommandName
  CommandFactory factory;
};

// The registration table, in registration order; *count receives its length.
// REQUIRES: count not null.
const BlogCommandRegistration* BlogCommandTable(size_t* count);

// Registers every row of the table with the parser of "ZQBlog" (creating the manager
// and the parser on first use). Idempotent: a name already registered keeps its first
// factory. Returns false, with the rows before it registered, when memory runs out or
// the manager is already gone (process exit); nothing escapes (it runs during static
// initialisation).
bool RegisterBlogCommands();

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_COMMANDREGISTRY_H_
