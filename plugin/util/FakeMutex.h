// The lock type that does nothing, for singletons first reached before any other
// thread exists.
#ifndef ZQBLOG_UTIL_FAKEMUTEX_H_
#define ZQBLOG_UTIL_FAKEMUTEX_H_

namespace TAVO {
namespace Pattern {

class FakeMutex {
 public:
  void Lock() {}
  void Unlock() {}
};

}  // namespace Pattern
}  // namespace TAVO

#endif  // ZQBLOG_UTIL_FAKEMUTEX_H_
