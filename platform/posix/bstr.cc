// BSTR with the Windows layout: a 32-bit byte length, then the characters, then a zero
// wchar_t. The pointer handed out points at the characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/posix/platform_posix.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// Allocates room for byteLength bytes of text plus the terminator, zeroed, and stores
// the length. Null when the length cannot be represented or memory runs out.
BSTR Allocate(size_t byteLength) {
  if (byteLength > UINT32_MAX - kPrefix - sizeof(wchar_t)) return nullptr;
  // Round the text up to whole characters so the terminator is aligned.
  size_t textBytes = (byteLength + sizeof(wchar_t) - 1) / sizeof(wchar_t) * sizeof(wchar_t);
  unsigned char* block =
      static_cast<unsigned char*>(std::calloc(1, kPrefix + textBytes + sizeof(wchar_t)));
  if (block == nullptr) return nullptr;
  uint32_t stored = static_cast<uint32_t>(byteLength);
  std::memcpy(block, &stored, kPrefix);
  return reinterpret_cast<BSTR>(block + kPrefix);
}

uint32_t StoredByteLength(BSTR text) {
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
  return length;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  size_t length = std::wcslen(text);
  if (length > UINT32_MAX / sizeof(wchar_t)) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (UINT32_MAX - kPrefix - sizeof(wchar_t)) / sizeof(wchar_t)) return nullptr;
  BSTR result = Allocate(static_cast<size_t>(length) * sizeof(wchar_t));
  if (result != nullptr && text != nullptr && length != 0) {
    std::memcpy(result, text, static_cast<size_t>(length) * sizeof(wchar_t));
  }
  return result;
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) {
  BSTR result = Allocate(length);
  if (result != nullptr && bytes != nullptr && length != 0) {
    std::memcpy(result, bytes, length);
  }
  return result;
}

UINT SysStringLen(BSTR text) {
  return text == nullptr ? 0 : StoredByteLength(text) / sizeof(wchar_t);
}

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : StoredByteLength(text); }

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

}  // extern "C"
