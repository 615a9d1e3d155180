#include "util/StringConversion.h"

#include <climits>
#include <new>

namespace Velmora {
namespace ZQBlog {

namespace {

[[noreturn]] void ThrowInvalidLength() {
  AtlThrow(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
}

}  // namespace

std::wstring MultiByteToWide(UINT codePage, const char* text, size_t length) {
  if (length == 0) return std::wstring();
  if (text == nullptr || length > static_cast<size_t>(INT_MAX)) ThrowInvalidLength();
  int source = static_cast<int>(length);
  int needed = MultiByteToWideChar(codePage, 0, text, source, nullptr, 0);
  if (needed == 0) AtlThrowLastWin32();
  std::wstring result;
  try {
    result.resize(static_cast<size_t>(needed));
  } catch (const std::bad_alloc&) {
    AtlThrow(E_OUTOFMEMORY);
  }
  if (MultiByteToWideChar(codePage, 0, text, source, &result[0], needed) == 0) {
    AtlThrowLastWin32();
  }
  return result;
}

std::string WideToMultiByte(UINT codePage, const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  if (text == nullptr || length > static_cast<size_t>(INT_MAX)) ThrowInvalidLength();
  int source = static_cast<int>(length);
  int needed = WideCharToMultiByte(codePage, 0, text, source, nullptr, 0, nullptr, nullptr);
  if (needed == 0) AtlThrowLastWin32();
  std::string result;
  try {
    result.resize(static_cast<size_t>(needed));
  } catch (const std::bad_alloc&) {
    AtlThrow(E_OUTOFMEMORY);
  }
  if (WideCharToMultiByte(codePage, 0, text, source, &result[0], needed, nullptr, nullptr) ==
      0) {
    AtlThrowLastWin32();
  }
  return result;
}

std::wstring AnsiToWide(const std::string& text) {
  return MultiByteToWide(ZqGetConversionACP(), text.data(), text.size());
}

std::string WideToAnsi(const std::wstring& text) {
  return WideToMultiByte(ZqGetConversionACP(), text.data(), text.size());
}

}  // namespace ZQBlog
}  // namespace Velmora
