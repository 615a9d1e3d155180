#include "host/http/HttpConnectionService.h"

#include <boost/asio/io_context.hpp>

#include "host/http/HttpConnectionFactory.h"
#include "host/http/HttpErrorCodes.h"
#include "host/http/HttpServiceCore.h"

namespace Velmora {
namespace ZQHost {

namespace {

// Runs the io_context until it has no more work; a handler that throws is dropped and
// the others go on.
void RunConnectionThread(boost::asio::io_context* io) {
  for (;;) {
    try {
      io->run();
      return;
    } catch (...) {
    }
  }
}

}  // namespace

HttpConnectionService::HttpConnectionService(const HttpServiceOptions& options)
    : core_(std::make_shared<HttpServiceCore>()) {
  SetStallTimeout(options.stall_timeout);
  SetMaxBodyBytes(options.max_body_bytes);
  SetReadPieceBytes(options.read_piece_bytes);
  SetMaxOpenConnections(options.max_open_connections);
  core_->max_header_bytes = options.max_header_bytes > 0 ? options.max_header_bytes : 1;
  HttpConnectionFactory::Create(core_, &factory_);
  boost::asio::io_context* io = &core_->Io();
  thread_ = std::thread([io]() { RunConnectionThread(io); });
  thread_id_ = thread_.get_id();
}

HttpConnectionService::~HttpConnectionService() {
  core_->BeginShutdown(kHttpErrorAborted);
  if (thread_.joinable()) thread_.join();
}

HRESULT HttpConnectionService::GetFactory(IHttpConnectionFactory** out) {
  if (out == nullptr) return E_POINTER;
  return factory_.CopyTo(out);
}

HttpResolverTable& HttpConnectionService::ResolverTable() { return core_->ResolverTable(); }

void HttpConnectionService::SetStallTimeout(std::chrono::milliseconds timeout) {
  core_->stall_timeout_ms = timeout.count() > 0 ? timeout.count() : 1;
}

void HttpConnectionService::SetMaxBodyBytes(uint64_t bytes) { core_->max_body_bytes = bytes; }

void HttpConnectionService::SetReplyObserver(HttpReplyObserver observer) {
  core_->SetReplyObserver(std::move(observer));
}

void HttpConnectionService::SetReadPieceBytes(size_t bytes) {
  core_->read_piece_bytes = bytes > 0 ? bytes : 1;
}

void HttpConnectionService::SetMaxOpenConnections(size_t connections) {
  core_->max_open_connections = connections > 0 ? connections : 1;
  std::shared_ptr<HttpServiceCore> core = core_;
  core_->Post([core]() { core->AdmitWaiters(); });
}

size_t HttpConnectionService::OpenConnections() const { return core_->OpenSlots(); }

size_t HttpConnectionService::OpenConnectionPeak() const { return core_->PeakOpenSlots(); }

}  // namespace ZQHost
}  // namespace Velmora
