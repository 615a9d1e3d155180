#include "host/workshop/CommandWorkshop.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Velmora {
namespace ZQHost {

namespace {

bool IsTerminal(int state) { return state >= 5 && state <= 8; }

}  // namespace

// The workshop's state, shared by the workshop, its COM face and the sinks it
// registers. mutex_ guards everything here. Lock order: a command's lock (held while
// a sink runs) may be followed by mutex_, never the other way round: nothing calls
// into a command while holding mutex_.
class CommandWorkshopCore {
 public:
  enum class TaskKind { kStart, kStep, kFinished };
  struct Task {
    TaskKind kind;
    IWorkshopCmd* key;
    uint64_t id;
  };

  HRESULT Add(const std::shared_ptr<CommandWorkshopCore>& self, IWorkshopCmd* command);
  // Queues task for the workshop thread; dropped once stopping.
  void Queue(const Task& task);
  // The workshop thread's loop; returns once stopping.
  void Run();
  // Ends Run and drops every reference held.
  void Stop();
  // The record of (key, id) goes: its command is being destroyed.
  void Forget(IWorkshopCmd* key, uint64_t id);

  CommandWorkshop::WaitResult WaitForCommand(IWorkshopCmd* command,
                                             std::chrono::milliseconds timeout);
  bool WaitForAll(std::chrono::milliseconds timeout);
  bool WaitForStart(IWorkshopCmd* command, std::chrono::milliseconds timeout,
                    CommandWorkshop::StartInfo* info);
  size_t PendingCount() const;

 private:
  struct Record {
    uint64_t id = 0;
    CComPtr<IWorkshopCmd> command;  // held while the command runs
    bool started = false;
    CommandWorkshop::StartInfo start;
    bool finished = false;
    bool given_up = false;

    bool Done() const { return finished || given_up; }
  };

  // The command of (key, id) with one more reference, or null when that record is gone
  // or done. REQUIRES: mutex_ not held.
  CComPtr<IWorkshopCmd> Running(IWorkshopCmd* key, uint64_t id);
  Record* Find(IWorkshopCmd* key, uint64_t id);
  void DoStart(const Task& task);
  void DoStep(const Task& task);
  void Finish(IWorkshopCmd* key, uint64_t id);

  mutable std::mutex mutex_;
  std::condition_variable task_cv_;
  std::condition_variable done_cv_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::unordered_map<IWorkshopCmd*, Record> records_;
  uint64_t next_id_ = 1;
};

namespace {

// The ICmdEvent the workshop registers on one command. It only queues work: it runs
// with the command's lock held. Its last Release (when the command is destroyed)
// makes the workshop forget the command.
class WorkshopCmdSink : public CComObjectRootEx<CComMultiThreadModel>, public ICmdEvent {
 public:
  BEGIN_COM_MAP(WorkshopCmdSink)
  COM_INTERFACE_ENTRY(ICmdEvent)
  END_COM_MAP()

  void Init(const std::shared_ptr<CommandWorkshopCore>& core, IWorkshopCmd* key, uint64_t id) {
    core_ = core;
    key_ = key;
    id_ = id;
  }

  void FinalRelease() {
    if (auto core = core_.lock()) core->Forget(key_, id_);
  }

  STDMETHOD(OnStateChanged)(IWorkshopCmd* /*command*/, int /*oldState*/, int newState) override {
    auto core = core_.lock();
    if (!core) return S_OK;
    if (newState == 3) {
      core->Queue({CommandWorkshopCore::TaskKind::kStep, key_, id_});
    } else if (IsTerminal(newState)) {
      core->Queue({CommandWorkshopCore::TaskKind::kFinished, key_, id_});
    }
    return S_OK;
  }

 private:
  std::weak_ptr<CommandWorkshopCore> core_;
  IWorkshopCmd* key_ = nullptr;
  uint64_t id_ = 0;
};

// The workshop's COM face.
class WorkshopFront : public CComObjectRootEx<CComMultiThreadModel>,
                      public IZQCPCommandWorkshop {
 public:
  BEGIN_COM_MAP(WorkshopFront)
  COM_INTERFACE_ENTRY(IZQCPCommandWorkshop)
  END_COM_MAP()

  void Init(const std::shared_ptr<CommandWorkshopCore>& core) { core_ = core; }

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(AddCommand)(IWorkshopCmd* command) override { return core_->Add(core_, command); }

 private:
  std::shared_ptr<CommandWorkshopCore> core_;
};

}  // namespace

// ---------------------------------------------------------------- CommandWorkshopCore

HRESULT CommandWorkshopCore::Add(const std::shared_ptr<CommandWorkshopCore>& self,
                                 IWorkshopCmd* command) {
  if (command == nullptr) return E_POINTER;
  CComObject<WorkshopCmdSink>* sink_object = nullptr;
  HRESULT hr = CComObject<WorkshopCmdSink>::CreateInstance(&sink_object);
  if (FAILED(hr)) return hr;
  CComPtr<ICmdEvent> sink(sink_object);
  uint64_t id = 0;
  CComPtr<IWorkshopCmd> replaced;  // a done record's command, released outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return E_UNEXPECTED;
    auto found = records_.find(command);
    if (found != records_.end() && !found->second.Done()) return S_FALSE;
    id = next_id_++;
    try {
      Record& record = records_[command];
      replaced.Attach(record.command.Detach());
      record = Record();
      record.id = id;
      record.command = command;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  sink_object->Init(self, command, id);
  hr = command->AddEventSink(sink);
  if (FAILED(hr)) {
    CComPtr<IWorkshopCmd> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = records_.find(command);
      if (found != records_.end() && found->second.id == id) {
        dropped.Attach(found->second.command.Detach());
        records_.erase(found);
      }
    }
    dropped.Release();
    done_cv_.notify_all();
    return hr;
  }
  Queue({TaskKind::kStart, command, id});
  return S_OK;
}

void CommandWorkshopCore::Queue(const Task& task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    tasks_.push_back(task);
  }
  task_cv_.notify_one();
}

void CommandWorkshopCore::Run() {
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      task_cv_.wait(lock, [this]() { return stopping_ || !tasks_.empty(); });
      if (stopping_) return;
      task = tasks_.front();
      tasks_.pop_front();
    }
    switch (task.kind) {
      case TaskKind::kStart:
        DoStart(task);
        break;
      case TaskKind::kStep:
        DoStep(task);
        break;
      case TaskKind::kFinished:
        Finish(task.key, task.id);
        break;
    }
  }
}

void CommandWorkshopCore::Stop() {
  std::vector<CComPtr<IWorkshopCmd>> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    tasks_.clear();
    for (auto& entry : records_) {
      if (entry.second.command) {
        held.emplace_back();
        held.back().Attach(entry.second.command.Detach());
      }
    }
  }
  // Released outside the lock: a command may be destroyed now, and its sink calls
  // Forget.
  held.clear();
  task_cv_.notify_all();
  done_cv_.notify_all();
}

void CommandWorkshopCore::Forget(IWorkshopCmd* key, uint64_t id) {
  CComPtr<IWorkshopCmd> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = records_.find(key);
    if (found == records_.end() || found->second.id != id) return;
    dropped.Attach(found->second.command.Detach());
    records_.erase(found);
  }
  dropped.Release();
  done_cv_.notify_all();
}

CommandWorkshopCore::Record* CommandWorkshopCore::Find(IWorkshopCmd* key, uint64_t id) {
  auto found = records_.find(key);
  if (found == records_.end() || found->second.id != id) return nullptr;
  return &found->second;
}

CComPtr<IWorkshopCmd> CommandWorkshopCore::Running(IWorkshopCmd* key, uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record* record = Find(key, id);
  if (record == nullptr || record->Done()) return CComPtr<IWorkshopCmd>();
  return record->command;
}

void CommandWorkshopCore::DoStart(const Task& task) {
  CComPtr<IWorkshopCmd> command = Running(task.key, task.id);
  if (!command) return;
  HRESULT hr = command->Start();
  int state = -1;
  command->GetState(&state);
  CComPtr<IWorkshopCmd> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Record* record = Find(task.key, task.id);
    if (record == nullptr) return;
    record->started = true;
    record->start.result = hr;
    record->start.state = state;
    if (!record->Done()) {
      if (IsTerminal(state)) {
        record->finished = true;
      } else if (FAILED(hr)) {
        record->given_up = true;  // nothing will ever end it
      }
      if (record->Done()) dropped.Attach(record->command.Detach());
    }
  }
  // Every reference of the workshop goes before a waiter is told.
  dropped.Release();
  command.Release();
  done_cv_.notify_all();
}

void CommandWorkshopCore::DoStep(const Task& task) {
  CComPtr<IWorkshopCmd> command = Running(task.key, task.id);
  if (!command) return;
  int state = -1;
  command->GetState(&state);
  if (state != 3) return;  // stepped already, or ended from outside
  command->Step();
  command->GetState(&state);
  command.Release();  // before Finish tells the waiters that the workshop let go
  if (IsTerminal(state)) Finish(task.key, task.id);
}

void CommandWorkshopCore::Finish(IWorkshopCmd* key, uint64_t id) {
  CComPtr<IWorkshopCmd> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Record* record = Find(key, id);
    if (record == nullptr || record->finished) return;
    record->finished = true;
    dropped.Attach(record->command.Detach());
  }
  dropped.Release();
  done_cv_.notify_all();
}

CommandWorkshop::WaitResult CommandWorkshopCore::WaitForCommand(
    IWorkshopCmd* command, std::chrono::milliseconds timeout) {
  if (command == nullptr) return CommandWorkshop::WaitResult::kUnknown;
  bool known = false;
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    bool ended = done_cv_.wait_for(lock, timeout, [&]() {
      auto found = records_.find(command);
      return found == records_.end() || found->second.Done() || stopping_;
    });
    auto found = records_.find(command);
    known = found != records_.end();
    if (known) {
      if (found->second.finished) return CommandWorkshop::WaitResult::kFinished;
      if (found->second.given_up) return CommandWorkshop::WaitResult::kGivenUp;
    }
    if (!ended) return CommandWorkshop::WaitResult::kTimedOut;
  }
  // Not (or no longer) known: ask the command itself, outside the lock.
  int state = -1;
  command->GetState(&state);
  finished = IsTerminal(state);
  if (finished) return CommandWorkshop::WaitResult::kFinished;
  return known ? CommandWorkshop::WaitResult::kTimedOut : CommandWorkshop::WaitResult::kUnknown;
}

bool CommandWorkshopCore::WaitForAll(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_cv_.wait_for(lock, timeout, [&]() {
    for (const auto& entry : records_) {
      if (!entry.second.Done()) return false;
    }
    return true;
  });
}

bool CommandWorkshopCore::WaitForStart(IWorkshopCmd* command, std::chrono::milliseconds timeout,
                                       CommandWorkshop::StartInfo* info) {
  std::unique_lock<std::mutex> lock(mutex_);
  bool started = done_cv_.wait_for(lock, timeout, [&]() {
    auto found = records_.find(command);
    return found == records_.end() || found->second.started || stopping_;
  });
  auto found = records_.find(command);
  if (!started || found == records_.end() || !found->second.started) return false;
  if (info != nullptr) *info = found->second.start;
  return true;
}

size_t CommandWorkshopCore::PendingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t count = 0;
  for (const auto& entry : records_) {
    if (!entry.second.Done()) count++;
  }
  return count;
}

// ---------------------------------------------------------------- CommandWorkshop

CommandWorkshop::CommandWorkshop() : core_(std::make_shared<CommandWorkshopCore>()) {
  CComObject<WorkshopFront>* front = nullptr;
  if (SUCCEEDED(CComObject<WorkshopFront>::CreateInstance(&front))) {
    front->Init(core_);
    front_ = front;
  }
  std::shared_ptr<CommandWorkshopCore> core = core_;
  thread_ = std::thread([core]() { core->Run(); });
  thread_id_ = thread_.get_id();
}

CommandWorkshop::~CommandWorkshop() {
  core_->Stop();
  if (thread_.joinable()) thread_.join();
}

HRESULT CommandWorkshop::GetInterface(IZQCPCommandWorkshop** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!front_) return E_OUTOFMEMORY;
  return front_.CopyTo(out);
}

HRESULT CommandWorkshop::AddCommand(IWorkshopCmd* command) { return core_->Add(core_, command); }

CommandWorkshop::WaitResult CommandWorkshop::WaitForCommand(IWorkshopCmd* command,
                                                            std::chrono::milliseconds timeout) {
  return core_->WaitForCommand(command, timeout);
}

bool CommandWorkshop::WaitForAll(std::chrono::milliseconds timeout) {
  return core_->WaitForAll(timeout);
}

bool CommandWorkshop::WaitForStart(IWorkshopCmd* command, std::chrono::milliseconds timeout,
                                   StartInfo* info) {
  return core_->WaitForStart(command, timeout, info);
}

size_t CommandWorkshop::PendingCount() const { return core_->PendingCount(); }

}  // namespace ZQHost
}  // namespace Velmora
