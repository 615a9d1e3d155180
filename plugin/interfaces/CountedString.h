// CountedString: a narrow text passed by value as its byte length followed by a pointer
// to its characters, the form in which the host's HTTP service takes texts (host names,
// methods, paths, header names and values).
//
// On 32-bit Windows the struct is exactly two 32-bit words, pushed by value as two
// arguments would be. On 64-bit Linux it is 16 bytes (length, padding, pointer) passed
// by value; the meaning is the same, and the plug-in and the host are built with the
// same compiler there.
#ifndef ZQBLOG_INTERFACES_COUNTEDSTRING_H_
#define ZQBLOG_INTERFACES_COUNTEDSTRING_H_

#include <cstdint>
#include <cstring>

struct CountedString {
  int32_t length;    // bytes at text; no terminator is counted (or needed)
  const char* text;  // never null: a missing text goes as length 0 and ""
};

// The counted form of the zero-terminated text; null gives length 0 and "".
inline CountedString MakeCountedString(const char* text) {
  if (text == nullptr) return CountedString{0, ""};
  return CountedString{static_cast<int32_t>(std::strlen(text)), text};
}

#endif  // ZQBLOG_INTERFACES_COUNTEDSTRING_H_
