// BaseCmd: the root of every command the host's workshop runs. It keeps the command's
// state, its ordered list of ICmdEvent sinks and its lock, answers the bookkeeping
// slots of IWorkshopCmd and watches its own state through ICmdEvent: when the command
// enters a terminal state (5, 6, 7 or 8) it releases its connection and drops the
// reference its own sink holds on it.
//
// States: 0 created, 2 running, 3 step requested, 5 succeeded, 6 failed; 7 and 8 are
// terminal and set only from outside the library. 1 and 4 are not used.
//
// The COM identity (AddRef, Release, QueryInterface) and the interface map come from
// the most derived class, wrapped in CComObject; BaseCmd is abstract (Start, Step,
// Reserved3 and Reserved4 belong to the derived classes).
//
// Every sink registered when the state changes is told of that change, whatever any
// sink does to the list meanwhile; a sink registered once the command has ended is told
// of its last change at once, so no sink misses the end.
//
// Threads: one re-entrant lock guards the state, the sink list and the derived classes'
// fields. Sinks are called on the thread that changes the state, with that lock held.
// The state may be read without the lock (GetState).
#ifndef ZQBLOG_FRAMEWORK_BASECMD_H_
#define ZQBLOG_FRAMEWORK_BASECMD_H_

#include <atomic>
#include <string>
#include <vector>

#include "common/ThreadSafety.h"
#include "interfaces/ICmdEvent.h"
#include "interfaces/IWorkshopCmd.h"
#include "platform/atl.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {

class BaseCmd : public IWorkshopCmd,
                public ICmdEvent,
                public CComObjectRootEx<CComMultiThreadModel> {
 public:
  // Values of the state field.
  enum CmdState : int {
    kStateCreated = 0,
    kStateRunning = 2,
    kStateStepRequested = 3,
    kStateSucceeded = 5,
    kStateFailed = 6,
    kStateTerminal7 = 7,
    kStateTerminal8 = 8,
  };

  // True for 5, 6, 7 and 8.
  static bool IsTerminalState(int state) { return state >= 5 && state <= 8; }

  BaseCmd(const BaseCmd&) = delete;
  BaseCmd& operator=(const BaseCmd&) = delete;

  // IWorkshopCmd
  // Appends sink with one reference; S_FALSE (nothing changes) when that pointer is
  // already registered; E_POINTER for null. When the command is in a terminal state
  // the new sink is told at once of the change that put it there (old state, terminal
  // state).
  STDMETHOD(AddEventSink)(ICmdEvent* sink) override;
  // E_POINTER for null.
  STDMETHOD(GetState)(int* state) override;
  // Stores newState and tells every sink registered at that moment (old state, new
  // state) in registration order, each once, even when a sink adds or removes sinks
  // during its call (the command's own sink removes itself on a terminal state). The
  // old state goes to *oldState (skipped when oldState is null). Setting the current
  // state does nothing at all. Always S_OK.
  STDMETHOD(SetState)(int newState, int* oldState) override;
  // E_FAIL.
  STDMETHOD(Reserved1)() override;
  // E_FAIL; the argument is not read.
  STDMETHOD(Reserved2)(void* unused) override;
  // Start, Step, Reserved3 and Reserved4 are left to the derived classes.
  // Every description line followed by "\r\n" in a new BSTR (empty, never null, when
  // there are none). E_POINTER for null, E_OUTOFMEMORY when the BSTR cannot be made.
  STDMETHOD(GetDescription)(BSTR* description) override;

  // ICmdEvent: the command watching itself. For this command entering 5, 6, 7 or 8:
  // ReleaseConnection, then the first entry of the sink list that is the command's own
  // sink is removed. Anything else is ignored. Always S_OK.
  STDMETHOD(OnStateChanged)(IWorkshopCmd* command, int oldState, int newState) override;

  // REQUIRES: no thread holds the lock. Releases every sink still registered.
  virtual ~BaseCmd() ZQ_EXCLUDES(lock_);
  // Drops whatever connection the command holds; nothing here. Called with the lock
  // held when the command enters a terminal state.
  virtual void ReleaseConnection();

 protected:
  BaseCmd();

  // Holds the command lock for the life of the object. Every entry point of the
  // command takes the lock through it (and never through the lock itself): the
  // reference the command's own sink held is released only when the outermost holder
  // lets go, after the lock is free, so a command whose last reference that was is
  // destroyed only once no member function of it is still running.
  class ZQ_SCOPED_CAPABILITY CmdLock {
   public:
    explicit CmdLock(BaseCmd& command) ZQ_ACQUIRE(command.lock_);
    // May destroy the command (see above): the caller must not touch it afterwards.
    ~CmdLock() ZQ_RELEASE();
    CmdLock(const CmdLock&) = delete;
    CmdLock& operator=(const CmdLock&) = delete;

   private:
    BaseCmd& command_;
  };

  // The command lock, for the lock annotations of the derived classes
  // (ZQ_GUARDED_BY(CommandLock()), ZQ_REQUIRES(CommandLock())); it is taken only through
  // CmdLock.
  const TAVO::System::Thread::CriticalSection& CommandLock() const ZQ_RETURN_CAPABILITY(lock_) {
    return lock_;
  }

  // The command's own sink, as registered with AddEventSink.
  ICmdEvent* SelfSink() { return static_cast<ICmdEvent*>(this); }
  // The command as its sinks see it.
  IWorkshopCmd* SelfCmd() { return static_cast<IWorkshopCmd*>(this); }

  // The current state (any thread).
  int CurrentState() const { return state_.load(); }

  // Appends a line to the description (nothing in the library adds any yet).
  void AddDescriptionLine(const std::wstring& line);

 private:
  // The state: written under lock_, readable without it.
  std::atomic<int> state_{kStateCreated};
  // Registered sinks, one reference each.
  std::vector<ICmdEvent*> sinks_ ZQ_GUARDED_BY(lock_);
  // The state before the latest change.
  int lastOldState_ ZQ_GUARDED_BY(lock_) = kStateCreated;
  TAVO::System::Thread::CriticalSection lock_{"BaseCmd"};
  std::vector<std::wstring> descriptionLines_ ZQ_GUARDED_BY(lock_);

  // How many CmdLock holders are active on the owning thread.
  int lockDepth_ ZQ_GUARDED_BY(lock_) = 0;
  // References of the own sink removed from sinks_ and not yet released (released when
  // lockDepth_ falls to 0).
  int pendingSelfReleases_ ZQ_GUARDED_BY(lock_) = 0;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FRAMEWORK_BASECMD_H_
