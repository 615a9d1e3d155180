// IStringSetter: receives one text value from the host, such as a reply header.
#ifndef ZQBLOG_INTERFACES_ISTRINGSETTER_H_
#define ZQBLOG_INTERFACES_ISTRINGSETTER_H_

#include "platform/platform.h"

struct IStringSetter : public IUnknown {
  // Replaces the held text with the length bytes at data, zero bytes included.
  // REQUIRES: length >= 0 (E_INVALIDARG); data not null unless length is 0 (E_POINTER).
  STDMETHOD(SetString)(int length, const BYTE* data) = 0;
};

// {83A323B1-3B99-496F-91BE-5786FC213443}
ZQ_DEFINE_IID(IStringSetter, 0x83A323B1, 0x3B99, 0x496F, 0x91, 0xBE, 0x57, 0x86, 0xFC, 0x21,
              0x34, 0x43)

#endif  // ZQBLOG_INTERFACES_ISTRINGSETTER_H_
