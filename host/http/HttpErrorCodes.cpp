#include "host/http/HttpErrorCodes.h"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>

namespace Velmora {
namespace ZQHost {

namespace asio_error = boost::asio::error;
namespace http_error = boost::beast::http;

int HttpErrorFromBoost(const boost::system::error_code& error) {
  if (error == boost::beast::error::timeout || error == asio_error::timed_out) {
    return kHttpErrorTimedOut;
  }
  if (error == asio_error::host_not_found || error == asio_error::host_not_found_try_again ||
      error == asio_error::no_data || error == asio_error::no_recovery ||
      error == asio_error::service_not_found) {
    return kHttpErrorHostNotFound;
  }
  if (error == asio_error::connection_refused) return kHttpErrorConnectionRefused;
  if (error == asio_error::connection_reset || error == asio_error::connection_aborted ||
      error == asio_error::broken_pipe) {
    return kHttpErrorConnectionReset;
  }
  if (error == asio_error::network_unreachable || error == asio_error::network_down) {
    return kHttpErrorNetworkUnreachable;
  }
  if (error == asio_error::host_unreachable) return kHttpErrorHostUnreachable;
  if (error == asio_error::operation_aborted) return kHttpErrorAborted;
  if (error == asio_error::eof || error == http_error::error::end_of_stream ||
      error == http_error::error::partial_message) {
    return kHttpErrorConnectionClosed;
  }
  if (error == http_error::error::body_limit || error == http_error::error::header_limit ||
      error == http_error::error::buffer_overflow) {
    return kHttpErrorReplyTooLarge;
  }
  // Every other HTTP parse error (status line, fields, chunking, content length).
  static const boost::system::error_category& http_category =
      http_error::make_error_code(http_error::error::bad_version).category();
  if (error.category() == http_category) return kHttpErrorBadReply;
  return kHttpErrorOther;
}

}  // namespace ZQHost
}  // namespace Velmora
