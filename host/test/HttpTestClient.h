// HttpTestClient: an IHttpConnectionClientEvents for the host's tests that records
// every event (kind, code, body piece, headers, thread) and can call Continue on its
// connection after each event that waits for it, as a command's Step would.
// Header-only; used by tests only.
#ifndef ZQBLOG_HOST_TEST_HTTPTESTCLIENT_H_
#define ZQBLOG_HOST_TEST_HTTPTESTCLIENT_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/IHttpConnection.h"
#include "interfaces/IHttpConnectionClientEvents.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class HttpTestClient : public CComObjectRootEx<CComMultiThreadModel>,
                       public IHttpConnectionClientEvents {
 public:
  struct Event {
    std::string kind;  // "connect", "sent", "headers", "data", "complete"
    int error = 0;
    std::string body;  // the piece of OnData / OnComplete
    bool had_body = false;
    CComPtr<IHttpReplyHeaders> headers;
    std::thread::id thread;
  };

  BEGIN_COM_MAP(HttpTestClient)
  COM_INTERFACE_ENTRY(IHttpConnectionClientEvents)
  END_COM_MAP()

  static CComPtr<CComObject<HttpTestClient>> Create() {
    CComObject<HttpTestClient>* client = nullptr;
    CComObject<HttpTestClient>::CreateInstance(&client);
    return CComPtr<CComObject<HttpTestClient>>(client);
  }

  // After OnSendComplete, OnHeaders and OnData, call connection->Continue() (null: never).
  // The caller keeps the connection alive while events may come.
  void AutoContinue(IHttpConnection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    continue_on_ = connection;
  }

  STDMETHOD(OnConnect)(int error, void*) override { return Record("connect", error, nullptr, nullptr); }
  STDMETHOD(OnSendComplete)(int error, void*) override {
    Record("sent", error, nullptr, nullptr);
    return MaybeContinue(error);
  }
  STDMETHOD(OnHeaders)(IHttpReplyHeaders* headers, void*) override {
    Record("headers", 0, headers, nullptr);
    return MaybeContinue(0);
  }
  STDMETHOD(OnData)(IHttpBuffer* body, void*) override {
    Record("data", 0, nullptr, body);
    return MaybeContinue(0);
  }
  STDMETHOD(OnComplete)(int error, IHttpReplyHeaders* headers, IHttpBuffer* body,
                        void*) override {
    return Record("complete", error, headers, body);
  }

  std::vector<Event> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  // The kinds in order, joined by spaces ("connect sent headers data complete").
  std::string Kinds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string kinds;
    for (const auto& event : events_) kinds += (kinds.empty() ? "" : " ") + event.kind;
    return kinds;
  }

  // Every body byte reported, in order.
  std::string Body() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string body;
    for (const auto& event : events_) body += event.body;
    return body;
  }

  // Waits until at least count events arrived.
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&]() { return events_.size() >= count; });
  }

  // Waits for the last event of an exchange: OnComplete or any event with an error.
  bool WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&]() {
      for (const auto& event : events_) {
        if (event.kind == "complete" || event.error != 0) return true;
      }
      return false;
    });
  }

 private:
  HRESULT Record(const char* kind, int error, IHttpReplyHeaders* headers, IHttpBuffer* body) {
    Event event;
    event.kind = kind;
    event.error = error;
    event.headers = headers;
    event.thread = std::this_thread::get_id();
    if (body != nullptr) {
      event.had_body = true;
      BYTE* data = nullptr;
      int length = 0;
      if (SUCCEEDED(body->GetData(&data, &length)) && length > 0) {
        event.body.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(event);
    }
    cv_.notify_all();
    return S_OK;
  }

  HRESULT MaybeContinue(int error) {
    IHttpConnection* connection = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection = continue_on_;
    }
    if (connection != nullptr && error == 0) connection->Continue();
    return S_OK;
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Event> events_;
  IHttpConnection* continue_on_ = nullptr;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_HTTPTESTCLIENT_H_
