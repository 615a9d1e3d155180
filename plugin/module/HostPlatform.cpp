#include "module/HostPlatform.h"

#include "platform/atl.h"

namespace Velmora {
namespace ZQCP {
namespace {

// Constant-initialised: null before any dynamic initialisation of the library runs.
CComPtr<IZQCPPlatform> g_hostPlatform;

}  // namespace

IZQCPPlatform* GetHostPlatform() { return g_hostPlatform; }

void SetHostPlatform(IZQCPPlatform* platform) { g_hostPlatform = platform; }

}  // namespace ZQCP
}  // namespace Velmora
