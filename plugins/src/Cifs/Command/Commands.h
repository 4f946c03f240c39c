// The "cifs" context and its settings; each only forwards to the server.
#ifndef CIFS_COMMAND_COMMANDS_H
#define CIFS_COMMAND_COMMANDS_H

#include "zmocore.h"

namespace Cifs {
namespace Command {

// Registers every command with the module in table order; false at the
// first refusal (what was registered stays with the module to clean up).
bool RegisterAll(Core::Module::Object &module, Server &server, FileSystem::Repository &files);

}  // namespace Command
}  // namespace Cifs

#endif
