// CrossProcessTransport: the share session of one (data folder, user) between the
// processes of a host, over ZeroMQ on the session's local socket
// (ShareSessionEndpoint.h). Beside the local delivery queue of the in-process transport
// it keeps one I/O thread that owns the socket.
//
// Exactly one process serves a session: the one holding its lock (ShareSessionLock.h).
// It binds the socket; every forwarding process connects, says hello and gets every
// broadcast and every answer over that one connection, in the order the serving
// process sent them, so a broadcast sent before an answer is applied before it.
//
// The router decides who gets what; this transport only carries, and maps ids at the
// boundary:
// - In the serving process each joined forwarding process is a remote participant of
//   role 0. Its operation messages get a message id of this process (the answer goes
//   back under the forwarding process's own id).
// - In a forwarding process the serving process is one remote participant that serves
//   the module given in the options (above any local registration). An operation sent
//   while no serving process is joined is answered at once with an empty payload; so
//   is every operation still pending when the joined serving process goes away (its
//   lock is let go, it stops answering pings, or a new instance answers instead). The
//   forwarding process then keeps looking for a serving process and joins the next
//   one by itself.
//
// Frames from other processes are checked (ShareSessionFrame.h); a frame that is not
// one well-formed frame of this version is dropped with one line on stderr and never
// reaches a participant.
#ifndef ZQBLOG_HOST_SHARESESSION_CROSSPROCESSTRANSPORT_H_
#define ZQBLOG_HOST_SHARESESSION_CROSSPROCESSTRANSPORT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "host/sharesession/ShareSessionTransport.h"

namespace Velmora {
namespace ZQHost {

class CrossProcessTransport : public ShareSessionTransport {
 public:
  enum class Side {
    kServe,    // take the lock, bind the socket, serve whoever joins
    kForward,  // join the serving process, whenever there is one
  };
  struct Options {
    std::string data_root;  // the host's data folder (relative: from the working folder)
    std::string user;       // the signed-in user; REQUIRES: not empty
    Side side = Side::kForward;
    std::string module = "ZQBlog";  // kForward: the module the serving process serves
  };

  // The transport of options.side, ready to start: the lock taken and the socket bound
  // (kServe), or the socket connecting (kForward). Creates <data_root>/share/. Null,
  // with *error set to one line, when another process serves the session already
  // ("another process already serves the share session of U in DATA"), when the
  // socket path is too long, or when the lock or the socket cannot be had.
  static std::unique_ptr<CrossProcessTransport> Create(const Options& options,
                                                       std::string* error);

  // True when a live process serves the session of (data_root, user) now. Looks at the
  // lock without keeping it.
  static bool IsServed(const std::string& data_root, const std::string& user);

  // Forwarded operations this process answered with an empty payload so far, because
  // their serving process went away before answering or none was joined.
  virtual uint64_t LostOperations() const = 0;
  // kForward: 1 while joined to a serving process, else 0. kServe: the number of
  // forwarding processes joined now.
  virtual int JoinedPeers() const = 0;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_CROSSPROCESSTRANSPORT_H_
