#include "framework/BaseHttpCmd.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <new>
#include <utility>

#include "data/StringSetter.h"
#include "interfaces/CountedString.h"

namespace Velmora {
namespace ZQBlog {

namespace {

// The counted form of a whole std::string (its bytes may include NULs).
CountedString Counted(const std::string& text) {
  return CountedString{static_cast<int32_t>(text.size()), text.c_str()};
}

const char* MethodText(int method) {
  switch (method) {
    case BaseHttpCmd::kMethodGet:
      return "GET";
    case BaseHttpCmd::kMethodPost:
      return "POST";
    default:
      return "";
  }
}

// The parser's length argument is an int: a body may not grow beyond it.
constexpr size_t kMaxReplyBody = static_cast<size_t>(INT_MAX);

}  // namespace

BaseHttpCmd::BaseHttpCmd() = default;

BaseHttpCmd::~BaseHttpCmd() {
  requestBody_.Release();
  if (connection_ != nullptr) {
    connection_->Close();
    connection_.Release();
  }
  request_.Release();
  replyHeaders_.Release();
  DropReplyBody();
  parser_.Release();
  package_.Release();
  headers_.clear();
  factory_.Release();
}

// ---------------------------------------------------------------- set-up

void BaseHttpCmd::SetHttpFactory(IHttpConnectionFactory* factory) {
  CmdLock hold(*this);
  factory_ = factory;
}

void BaseHttpCmd::SetHeader(const char* name, const char* value) {
  if (name == nullptr) return;
  CmdLock hold(*this);
  headers_.emplace(name, value != nullptr ? value : "");  // keeps an existing value
}

// ---------------------------------------------------------------- IWorkshopCmd

STDMETHODIMP BaseHttpCmd::Start() {
  CmdLock hold(*this);
  if (CurrentState() != kStateCreated) return E_FAIL;
  AddEventSink(SelfSink());
  int next;
  try {
    next = DoOpenConnection();
  } catch (const std::exception&) {
    next = kStateFailed;
  }
  SetState(next, nullptr);
  // hold's destructor may end the command's life: nothing of it is read after.
  return next == kStateRunning ? S_OK : E_FAIL;
}

STDMETHODIMP BaseHttpCmd::Step() {
  CmdLock hold(*this);
  // A command that has ended stays ended, whatever the workshop calls.
  if (IsTerminalState(CurrentState())) return S_OK;
  const bool processingReply = phase_ == kPhaseReplyComplete;
  int next;
  try {
    next = DoStep();
  } catch (const std::exception&) {
    request_.Release();
    requestBody_.Release();
    next = kStateFailed;
  }
  if (processingReply && IsTerminalState(next)) {
    try {
      OnReplyFinished(next);
    } catch (const std::exception&) {
      next = kStateFailed;
    }
  }
  if (next != kNoTransition) SetState(next, nullptr);
  return S_OK;
}

STDMETHODIMP BaseHttpCmd::Reserved3() { return S_OK; }

STDMETHODIMP BaseHttpCmd::Reserved4() { return E_FAIL; }

// ---------------------------------------------------------------- the step machine

int BaseHttpCmd::DoStep() {
  // The phase is the latest connection event; Step never changes it itself.
  switch (phase_) {
    case kPhaseNone:
      // Nothing has arrived yet: the state stays.
      return kNoTransition;
    case kPhaseConnected:
      // Connected: send the request -> 2; no request or body buffer -> 6.
      return DoSendRequest();
    case kPhaseTransferring:
      // Sent, headers or data: let the connection go on -> 2.
      return DoContinue();
    case kPhaseReplyComplete:
      // Complete: accepted, no body or no parser wanted -> 5; otherwise -> 6.
      return DoProcessReply();
    case kPhaseError:
      // The connection failed: tell the command, -> 6.
      OnTransportError(transportError_);
      return kStateFailed;
  }
  return kNoTransition;
}

int BaseHttpCmd::DoOpenConnection() {
  if (factory_ == nullptr) return kStateFailed;  // never given one: nothing to open with
  ConnectionParameter block = {};
  block.size = sizeof(block);
  const bool useBlock = GetConnectionParameter(&block);
  CComPtr<IHttpConnection> connection;
  HRESULT hr = factory_->CreateConnection(0, useBlock ? &block : nullptr, &connection);
  if (FAILED(hr) || connection == nullptr) return kStateFailed;
  connection_ = connection;

  const char* host = nullptr;
  unsigned short port = 0;
  GetServer(&host, &port);
  if (host == nullptr) host = "";
  SetHeader("Host", host);
  connection_->SetServer(MakeCountedString(host), static_cast<DWORD>(port));
  connection_->Advise(static_cast<IHttpConnectionClientEvents*>(this));
  connection_->Open();
  return kStateRunning;
}

int BaseHttpCmd::DoSendRequest() {
  if (connection_ == nullptr || factory_ == nullptr) return kStateFailed;
  int method = -1;
  std::string path;
  GetRequestLine(&method, &path);
  HRESULT hr = factory_->CreateRequest(&request_, MakeCountedString(MethodText(method)),
                                       Counted(path), MakeCountedString("1.1"));
  if (FAILED(hr) || request_ == nullptr) {
    request_.Release();
    return kStateFailed;
  }
  for (const auto& header : headers_) {
    request_->AddHeader(Counted(header.first), Counted(header.second));
  }
  const BYTE* data = nullptr;
  int length = 0;
  if (GetRequestBody(&data, &length)) {
    // A body that cannot be carried fails the request rather than sending it without
    // its body.
    hr = factory_->CreateBuffer(&requestBody_);
    if (SUCCEEDED(hr) && requestBody_ != nullptr) hr = requestBody_->SetData(data, length);
    if (FAILED(hr) || requestBody_ == nullptr) {
      requestBody_.Release();
      request_.Release();
      return kStateFailed;
    }
  }
  connection_->Send(request_, requestBody_);
  requestBody_.Release();
  request_.Release();
  return kStateRunning;
}

int BaseHttpCmd::DoContinue() {
  if (connection_ == nullptr) return kStateFailed;
  connection_->Continue();
  return kStateRunning;
}

int BaseHttpCmd::DoProcessReply() {
  if (replyHeaders_ != nullptr) {
    CComPtr<IHttpReplyHeaders> headers(std::move(replyHeaders_));
    OnResponseHeaders(headers);  // whatever it answers, the reply goes on
  }
  if (replyBodyLost_) {
    DropReplyBody();
    return kStateFailed;
  }
  if (!replyBodyPresent_) return kStateSucceeded;
  if (parser_ == nullptr) parser_ = CreateReplyParser();
  if (parser_ == nullptr) {
    DropReplyBody();
    return kStateSucceeded;
  }
  // A body that came in one piece is parsed from the host's buffer itself.
  CComPtr<IHttpBuffer> piece(std::move(replyFirstPiece_));
  std::vector<BYTE> body;
  body.swap(replyBody_);
  DropReplyBody();
  const BYTE* data = body.data();
  size_t length = body.size();
  if (piece != nullptr && (!PieceData(piece, &data, &length) || length > kMaxReplyBody)) {
    return kStateFailed;
  }
  HRESULT hr = piece != nullptr ? ParseBytes(parser_, data, length)
                                 : ParseJoinedBody(parser_, &body);
  piece.Release();
  body.clear();
  body.shrink_to_fit();
  if (FAILED(hr)) return kStateFailed;

  int count = 0;
  if (FAILED(parser_->GetPackageCount(&count))) count = 0;
  if (count > 0) {
    CComPtr<IPackage> package;
    if (FAILED(parser_->GetPackage(&package))) package.Release();
    package_ = package;
    if (package_ != nullptr && SUCCEEDED(OnReplyPackage(package_))) return kStateSucceeded;
  }
  return kStateFailed;
}

HRESULT BaseHttpCmd::ParseBytes(IPackageParser* parser, const BYTE* data, size_t length) {
  // An empty body still goes to the parser, at a valid address.
  static const BYTE kNoBytes[1] = {0};
  return parser->Parse(length == 0 ? kNoBytes : data, static_cast<int>(length));
}

HRESULT BaseHttpCmd::ParseJoinedBody(IPackageParser* parser, std::vector<BYTE>* body) {
  return ParseBytes(parser, body->data(), body->size());
}

void BaseHttpCmd::ReleaseConnection() {
  CmdLock hold(*this);
  if (connection_ == nullptr) return;
  CComPtr<IHttpConnection> connection(std::move(connection_));
  connection->Unadvise(static_cast<IHttpConnectionClientEvents*>(this));
  connection->Close();
}

void BaseHttpCmd::OnTransportError(int /*code*/) {}

void BaseHttpCmd::OnReplyFinished(int /*state*/) {}

// ---------------------------------------------------------------- connection events

STDMETHODIMP BaseHttpCmd::OnConnect(int error, void* /*unused*/) {
  CmdLock hold(*this);
  if (ExchangeEnded()) return S_OK;
  if (error != 0) {
    RecordError(error);
  } else {
    phase_ = kPhaseConnected;
  }
  RequestStep();
  return S_OK;
}

STDMETHODIMP BaseHttpCmd::OnSendComplete(int error, void* /*unused*/) {
  CmdLock hold(*this);
  if (ExchangeEnded()) return S_OK;
  if (error != 0) {
    RecordError(error);
  } else {
    phase_ = kPhaseTransferring;
  }
  RequestStep();
  return S_OK;
}

STDMETHODIMP BaseHttpCmd::OnHeaders(IHttpReplyHeaders* headers, void* /*unused*/) {
  CmdLock hold(*this);
  if (ExchangeEnded()) return S_OK;
  RecordHeaders(headers);
  phase_ = kPhaseTransferring;
  RequestStep();
  return S_OK;
}

STDMETHODIMP BaseHttpCmd::OnData(IHttpBuffer* body, void* /*unused*/) {
  CmdLock hold(*this);
  if (ExchangeEnded()) return S_OK;
  AppendReplyBody(body);
  phase_ = kPhaseTransferring;
  RequestStep();
  return S_OK;
}

STDMETHODIMP BaseHttpCmd::OnComplete(int error, IHttpReplyHeaders* headers, IHttpBuffer* body,
                                     void* /*unused*/) {
  CmdLock hold(*this);
  if (ExchangeEnded()) return S_OK;
  if (error != 0) {
    RecordError(error);
  } else {
    RecordHeaders(headers);
    AppendReplyBody(body);
    phase_ = kPhaseReplyComplete;
  }
  RequestStep();
  return S_OK;
}

bool BaseHttpCmd::ExchangeEnded() const {
  return phase_ == kPhaseReplyComplete || phase_ == kPhaseError ||
         IsTerminalState(CurrentState());
}

void BaseHttpCmd::RecordError(int error) {
  transportError_ = error;
  phase_ = kPhaseError;
}

void BaseHttpCmd::RecordHeaders(IHttpReplyHeaders* headers) {
  if (headers == nullptr) return;
  replyHeaders_ = headers;
  // Pieces of announced length are joined in one block instead of regrowing it piece
  // by piece; a wrong length only costs a regrowth (the limit still holds). Only a
  // length a reply of this library may have is trusted with memory up front: the
  // content-id table of a large blog is tens of megabytes, and no host hands on a body
  // above 64 MiB. Reserved memory the pieces never fill is never touched.
  constexpr uint64_t kLargestReservation = 64u << 20;
  replyBodyExpected_ = 0;
  StringSetter length;
  if (headers->GetHeader("Content-Length", &length) != S_OK) return;
  const std::string& text = length.GetString();
  if (text.empty() || text.size() > 19) return;
  uint64_t bytes = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return;
    bytes = bytes * 10 + static_cast<uint64_t>(c - '0');
  }
  if (bytes <= kLargestReservation) replyBodyExpected_ = static_cast<size_t>(bytes);
}

bool BaseHttpCmd::PieceData(IHttpBuffer* piece, const BYTE** data, size_t* length) {
  BYTE* bytes = nullptr;
  int size = 0;
  if (FAILED(piece->GetData(&bytes, &size)) || size < 0 || (size > 0 && bytes == nullptr)) {
    return false;
  }
  *data = bytes;
  *length = static_cast<size_t>(size);
  return true;
}

void BaseHttpCmd::AppendReplyBody(IHttpBuffer* piece) {
  if (piece == nullptr) return;
  const bool first = !replyBodyPresent_;
  replyBodyPresent_ = true;
  if (replyBodyLost_) return;
  // The first piece is kept as it is, and read once needed: a body that comes whole is
  // never copied.
  if (first) {
    replyFirstPiece_ = piece;
    return;
  }
  const BYTE* data = nullptr;
  size_t length = 0;
  if (!PieceData(piece, &data, &length) || length > kMaxReplyBody) {
    replyBodyLost_ = true;
    return;
  }
  if (length == 0) return;
  try {
    if (replyFirstPiece_ != nullptr) {
      CComPtr<IHttpBuffer> kept(std::move(replyFirstPiece_));
      const BYTE* keptData = nullptr;
      size_t keptLength = 0;
      if (!PieceData(kept, &keptData, &keptLength)) {
        replyBodyLost_ = true;
        return;
      }
      replyBody_.reserve(std::max(replyBodyExpected_, keptLength + length));
      replyBody_.assign(keptData, keptData + keptLength);
    }
    if (length > kMaxReplyBody - replyBody_.size()) {
      replyBodyLost_ = true;
      return;
    }
    replyBody_.insert(replyBody_.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    replyBodyLost_ = true;
  }
}

void BaseHttpCmd::DropReplyBody() {
  replyFirstPiece_.Release();
  std::vector<BYTE>().swap(replyBody_);
  replyBodyPresent_ = false;
  replyBodyLost_ = false;
}

void BaseHttpCmd::RequestStep() { SetState(kStateStepRequested, nullptr); }

}  // namespace ZQBlog
}  // namespace Velmora
