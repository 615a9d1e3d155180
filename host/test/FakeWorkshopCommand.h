// FakeWorkshopCommand: a command for the workshop's tests, with the command contract a
// workshop relies on: a re-entrant lock, sinks told of every state change in order
// with the lock held, SetState to the same state a no-op. Start and Step do what the
// test scripts and record the thread they ran on. Header-only; used by tests only.
#ifndef ZQBLOG_HOST_TEST_FAKEWORKSHOPCOMMAND_H_
#define ZQBLOG_HOST_TEST_FAKEWORKSHOPCOMMAND_H_

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "interfaces/IWorkshopCmd.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class FakeWorkshopCommand : public CComObjectRootEx<CComMultiThreadModel>, public IWorkshopCmd {
 public:
  BEGIN_COM_MAP(FakeWorkshopCommand)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  END_COM_MAP()

  FakeWorkshopCommand() { InitializeCriticalSection(&lock_); }
  ~FakeWorkshopCommand() {
    EnterCriticalSection(&lock_);
    sinks_.clear();
    LeaveCriticalSection(&lock_);
    DeleteCriticalSection(&lock_);
    if (destroyed_) *destroyed_ = true;
  }

  // A new command with one reference for the caller; *destroyed becomes true when it
  // is destroyed.
  static CComPtr<CComObject<FakeWorkshopCommand>> Create(
      const std::shared_ptr<std::atomic<bool>>& destroyed = nullptr) {
    CComObject<FakeWorkshopCommand>* command = nullptr;
    CComObject<FakeWorkshopCommand>::CreateInstance(&command);
    command->destroyed_ = destroyed;
    return CComPtr<CComObject<FakeWorkshopCommand>>(command);
  }

  // What Start does: the state it sets and its answer.
  void ScriptStart(int state, HRESULT result) {
    start_state_ = state;
    start_result_ = result;
  }
  // The states the following Steps set, one each (2 once the list is used up).
  void ScriptSteps(std::deque<int> states) {
    std::lock_guard<std::mutex> guard(record_mutex_);
    step_states_ = std::move(states);
  }
  // AddEventSink answers this without registering (S_OK: registers).
  void RefuseSinks(HRESULT answer) { refuse_sinks_ = answer; }

  // A connection event: asks for a step, on the calling thread.
  void Fire() {
    int old = 0;
    SetState(3, &old);
  }

  int StartCalls() const { return start_calls_.load(); }
  int StepCalls() const { return step_calls_.load(); }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard<std::mutex> guard(record_mutex_);
    return threads_;
  }
  size_t SinkCount() {
    EnterCriticalSection(&lock_);
    size_t count = sinks_.size();
    LeaveCriticalSection(&lock_);
    return count;
  }

  // IWorkshopCmd
  STDMETHOD(AddEventSink)(ICmdEvent* sink) override {
    if (FAILED(refuse_sinks_)) return refuse_sinks_;
    EnterCriticalSection(&lock_);
    HRESULT hr = S_OK;
    for (const auto& existing : sinks_) {
      if (existing.p == sink) hr = S_FALSE;
    }
    if (hr == S_OK) sinks_.emplace_back(sink);
    LeaveCriticalSection(&lock_);
    return hr;
  }
  STDMETHOD(GetState)(int* state) override {
    *state = state_.load();
    return S_OK;
  }
  STDMETHOD(SetState)(int newState, int* oldState) override {
    EnterCriticalSection(&lock_);
    int current = state_.load();
    if (current != newState) {
      *oldState = current;
      state_ = newState;
      for (size_t i = 0; i < sinks_.size(); ++i) {
        sinks_[i]->OnStateChanged(this, current, newState);
      }
    }
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  STDMETHOD(Reserved1)() override { return E_FAIL; }
  STDMETHOD(Reserved2)(void*) override { return E_FAIL; }
  STDMETHOD(Start)() override {
    Record();
    start_calls_++;
    int old = 0;
    SetState(start_state_, &old);
    return start_result_;
  }
  STDMETHOD(Step)() override {
    EnterCriticalSection(&lock_);
    Record();
    step_calls_++;
    int next = 2;
    {
      std::lock_guard<std::mutex> guard(record_mutex_);
      if (!step_states_.empty()) {
        next = step_states_.front();
        step_states_.pop_front();
      }
    }
    int old = 0;
    SetState(next, &old);
    LeaveCriticalSection(&lock_);
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return S_OK; }
  STDMETHOD(Reserved4)() override { return E_FAIL; }
  STDMETHOD(GetDescription)(BSTR* description) override {
    *description = SysAllocString(L"");
    return S_OK;
  }

 private:
  void Record() {
    std::lock_guard<std::mutex> guard(record_mutex_);
    threads_.push_back(std::this_thread::get_id());
  }

  CRITICAL_SECTION lock_;
  std::vector<CComPtr<ICmdEvent>> sinks_;
  std::atomic<int> state_{0};
  int start_state_ = 2;
  HRESULT start_result_ = S_OK;
  HRESULT refuse_sinks_ = S_OK;
  std::atomic<int> start_calls_{0};
  std::atomic<int> step_calls_{0};
  mutable std::mutex record_mutex_;
  std::deque<int> step_states_;
  std::vector<std::thread::id> threads_;
  std::shared_ptr<std::atomic<bool>> destroyed_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_TEST_FAKEWORKSHOPCOMMAND_H_
