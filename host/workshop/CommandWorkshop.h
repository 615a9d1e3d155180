// CommandWorkshop: the host's command runner. One thread of its own starts and steps
// every command; the plug-in reaches it through IZQCPCommandWorkshop (GetInterface),
// the embedder waits on it through the C++ calls below.
//
// AddCommand registers a sink of the workshop's on the command and queues its Start.
// Whenever the command's state becomes 3 the sink queues a Step, and the workshop
// thread calls Step if the state is still 3 when its turn comes; Step is never called
// on the thread that reported the change (the connection thread, typically). The
// workshop holds one reference on each command from AddCommand until the command
// reaches a terminal state (5 to 8), or until its Start fails leaving it in another
// state (it is "given up" then). The sink only queues: it is called with the
// command's lock held and never calls into the command.
//
// A command whose Start returns S_OK in state 0 (forwarded to a serving participant)
// keeps running until its result message sets a terminal state; WaitForStart reports
// that state after Start.
#ifndef ZQBLOG_HOST_WORKSHOP_COMMANDWORKSHOP_H_
#define ZQBLOG_HOST_WORKSHOP_COMMANDWORKSHOP_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

#include "interfaces/IWorkshopCmd.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

class CommandWorkshopCore;

class CommandWorkshop {
 public:
  enum class WaitResult {
    kFinished,     // the command is in a terminal state
    kGivenUp,      // its Start failed and left it in another state
    kTimedOut,     // neither happened in time
    kUnknown,      // never added to this workshop, and not in a terminal state
  };

  // What Start did.
  struct StartInfo {
    HRESULT result = E_FAIL;  // Start's answer
    int state = 0;            // the command's state right after Start
  };

  // Starts the workshop thread.
  CommandWorkshop();
  // Stops the thread (queued starts and steps are dropped) and drops every reference
  // the workshop still holds. Commands that are still running stay as they are;
  // AddCommand on the interface answers E_UNEXPECTED afterwards.
  ~CommandWorkshop();
  CommandWorkshop(const CommandWorkshop&) = delete;
  CommandWorkshop& operator=(const CommandWorkshop&) = delete;

  // The workshop's COM face, one reference for the caller (the same object each time).
  HRESULT GetInterface(IZQCPCommandWorkshop** out);

  // As IZQCPCommandWorkshop::AddCommand: S_OK when queued; S_FALSE when the command
  // is already running in this workshop; E_POINTER for null; the command's answer when
  // it refuses the sink (the command is not run then).
  HRESULT AddCommand(IWorkshopCmd* command);

  // Waits until command is in a terminal state (and the workshop has dropped its
  // reference, if it held one) or was given up. The caller holds a reference on
  // command for the call.
  WaitResult WaitForCommand(IWorkshopCmd* command, std::chrono::milliseconds timeout);

  // Waits until every command added so far is finished or given up; false on time-out.
  bool WaitForAll(std::chrono::milliseconds timeout);

  // Waits until Start has returned for command (added to this workshop) and reports
  // what it did; false on time-out or for a command not added here.
  bool WaitForStart(IWorkshopCmd* command, std::chrono::milliseconds timeout, StartInfo* info);

  // Commands added and neither finished nor given up.
  size_t PendingCount() const;

  // The thread that starts and steps the commands.
  std::thread::id ThreadId() const { return thread_id_; }

 private:
  std::shared_ptr<CommandWorkshopCore> core_;
  CComPtr<IZQCPCommandWorkshop> front_;
  std::thread thread_;
  std::thread::id thread_id_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_WORKSHOP_COMMANDWORKSHOP_H_
