// The process-wide pointer to the host's platform object: null from load until the
// plug-in's Initialize, then every use of the host (command submission, share sessions,
// reply parsers, the settings store) goes through it. Released when the library unloads.
#ifndef ZQBLOG_MODULE_HOSTPLATFORM_H_
#define ZQBLOG_MODULE_HOSTPLATFORM_H_

#include "interfaces/IZQCPPlatform.h"

namespace Velmora {
namespace ZQCP {

// The platform object (borrowed), or null before Initialize.
// Written once at start-up on the host's start-up thread, read without a lock after.
IZQCPPlatform* GetHostPlatform();

// Replaces the platform object: adds a reference to the new one, releases the old one.
void SetHostPlatform(IZQCPPlatform* platform);

}  // namespace ZQCP
}  // namespace Velmora

#endif  // ZQBLOG_MODULE_HOSTPLATFORM_H_
