// The error codes the host's HTTP connections report in OnConnect, OnSendComplete and
// OnComplete. Every failure gives a non-zero code, and the same failure always gives
// the same code: an HRESULT built with HRESULT_FROM_WIN32 from the WinSock or Win32
// error a Windows host would see, so the values read the same on both systems.
//
//   code         constant                      cause
//   0x80072AF9   kHttpErrorHostNotFound        the server name does not resolve (WSAHOST_NOT_FOUND)
//   0x8007274D   kHttpErrorConnectionRefused   nothing listens at the address (WSAECONNREFUSED)
//   0x8007274C   kHttpErrorTimedOut            no progress for the stall time-out (WSAETIMEDOUT)
//   0x80072746   kHttpErrorConnectionReset     the peer reset the connection (WSAECONNRESET)
//   0x80072743   kHttpErrorNetworkUnreachable  no route to the network (WSAENETUNREACH)
//   0x80072751   kHttpErrorHostUnreachable     no route to the host (WSAEHOSTUNREACH)
//   0x80070026   kHttpErrorConnectionClosed    the reply ended before it was complete (ERROR_HANDLE_EOF)
//   0x8007000D   kHttpErrorBadReply            the reply is not well-formed HTTP (ERROR_INVALID_DATA)
//   0x800700DF   kHttpErrorReplyTooLarge       reply body or header above the limit (ERROR_FILE_TOO_LARGE)
//   0x800703E3   kHttpErrorAborted             the HTTP service shut down (ERROR_OPERATION_ABORTED)
//   0x80070057   kHttpErrorBadServer           no usable server: none set, port 0 (ERROR_INVALID_PARAMETER)
//   0x80004005   kHttpErrorOther               any other failure (E_FAIL)
#ifndef ZQBLOG_HOST_HTTP_HTTPERRORCODES_H_
#define ZQBLOG_HOST_HTTP_HTTPERRORCODES_H_

#include <boost/system/error_code.hpp>

#include "platform/platform.h"

namespace Velmora {
namespace ZQHost {

inline constexpr int kHttpErrorHostNotFound = static_cast<int>(0x80072AF9u);
inline constexpr int kHttpErrorConnectionRefused = static_cast<int>(0x8007274Du);
inline constexpr int kHttpErrorTimedOut = static_cast<int>(0x8007274Cu);
inline constexpr int kHttpErrorConnectionReset = static_cast<int>(0x80072746u);
inline constexpr int kHttpErrorNetworkUnreachable = static_cast<int>(0x80072743u);
inline constexpr int kHttpErrorHostUnreachable = static_cast<int>(0x80072751u);
inline constexpr int kHttpErrorConnectionClosed = static_cast<int>(0x80070026u);
inline constexpr int kHttpErrorBadReply = static_cast<int>(0x8007000Du);
inline constexpr int kHttpErrorReplyTooLarge = static_cast<int>(0x800700DFu);
inline constexpr int kHttpErrorAborted = static_cast<int>(0x800703E3u);
inline constexpr int kHttpErrorBadServer = static_cast<int>(0x80070057u);
inline constexpr int kHttpErrorOther = static_cast<int>(0x80004005u);

// The code for a failed network or HTTP operation (Asio, resolver and Beast errors).
// REQUIRES: error is a failure; a success code gives kHttpErrorOther all the same,
// never 0.
int HttpErrorFromBoost(const boost::system::error_code& error);

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPERRORCODES_H_
