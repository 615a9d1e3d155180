// Our ATL conversion pieces: the exception that carries an HRESULT, and the classes
// that convert a zero-terminated text between a code page and wide characters for the
// life of a statement (CA2W, CW2A).
//
// Contract, as far as the library relies on it:
// - A converted text (terminator included) of at most t_nBufferLength characters
//   (CA2WEx) or bytes (CW2AEx) lives in the object's inline buffer; a longer one on the
//   heap, freed by the destructor.
// - A null input gives a null result.
// - A failed conversion throws CAtlException with the system's last error as an
//   HRESULT (E_FAIL when it is 0); a failed allocation throws it with E_OUTOFMEMORY.
#ifndef ZQBLOG_PLATFORM_ATLCONV_H_
#define ZQBLOG_PLATFORM_ATLCONV_H_

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "platform/platform.h"

namespace ATL {

// An error raised by the ATL pieces, carrying its HRESULT.
class CAtlException : public std::exception {
 public:
  explicit CAtlException(HRESULT hr = E_FAIL) : m_hr(hr) {
    std::snprintf(m_text, sizeof m_text, "ATL exception 0x%08X",
                  static_cast<unsigned int>(m_hr));
  }

  operator HRESULT() const { return m_hr; }  // NOLINT: implicit, as ATL's
  const char* what() const noexcept override { return m_text; }

  HRESULT m_hr;

 private:
  char m_text[32];
};

[[noreturn]] inline void AtlThrow(HRESULT hr) { throw CAtlException(hr); }

// Throws the calling thread's last error as an HRESULT (E_FAIL when there is none).
[[noreturn]] inline void AtlThrowLastWin32() {
  DWORD error = GetLastError();
  AtlThrow(error == 0 ? E_FAIL : HRESULT_FROM_WIN32(static_cast<long>(error)));
}

// Multi-byte text of a code page to wide text.
template <int t_nBufferLength = 128>
class CA2WEx {
  static_assert(t_nBufferLength > 0, "the inline buffer needs room for the terminator");

 public:
  CA2WEx(LPCSTR psz, UINT nCodePage = ZqGetConversionACP()) { Init(psz, nCodePage); }
  ~CA2WEx() {
    if (m_psz != m_szBuffer) std::free(m_psz);
  }
  CA2WEx(const CA2WEx&) = delete;
  CA2WEx& operator=(const CA2WEx&) = delete;

  operator LPWSTR() const { return m_psz; }  // NOLINT: implicit, as ATL's

  LPWSTR m_psz = nullptr;
  wchar_t m_szBuffer[t_nBufferLength];

 private:
  void Init(LPCSTR psz, UINT nCodePage) {
    if (psz == nullptr) return;
    // The inline buffer first; its failure for lack of room asks for the size.
    int written = MultiByteToWideChar(nCodePage, 0, psz, -1, m_szBuffer, t_nBufferLength);
    if (written != 0) {
      m_psz = m_szBuffer;
      return;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) AtlThrowLastWin32();
    int needed = MultiByteToWideChar(nCodePage, 0, psz, -1, nullptr, 0);
    if (needed == 0) AtlThrowLastWin32();
    LPWSTR heap = static_cast<LPWSTR>(std::malloc(static_cast<size_t>(needed) * sizeof(wchar_t)));
    if (heap == nullptr) AtlThrow(E_OUTOFMEMORY);
    if (MultiByteToWideChar(nCodePage, 0, psz, -1, heap, needed) == 0) {
      DWORD error = GetLastError();
      std::free(heap);
      SetLastError(error);
      AtlThrowLastWin32();
    }
    m_psz = heap;
  }
};

// Wide text to multi-byte text of a code page.
template <int t_nBufferLength = 128>
class CW2AEx {
  static_assert(t_nBufferLength > 0, "the inline buffer needs room for the terminator");

 public:
  CW2AEx(LPCWSTR psz, UINT nCodePage = ZqGetConversionACP()) { Init(psz, nCodePage); }
  ~CW2AEx() {
    if (m_psz != m_szBuffer) std::free(m_psz);
  }
  CW2AEx(const CW2AEx&) = delete;
  CW2AEx& operator=(const CW2AEx&) = delete;

  operator LPSTR() const { return m_psz; }  // NOLINT: implicit, as ATL's

  LPSTR m_psz = nullptr;
  char m_szBuffer[t_nBufferLength];

 private:
  void Init(LPCWSTR psz, UINT nCodePage) {
    if (psz == nullptr) return;
    int written =
        WideCharToMultiByte(nCodePage, 0, psz, -1, m_szBuffer, t_nBufferLength, nullptr, nullptr);
    if (written != 0) {
      m_psz = m_szBuffer;
      return;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) AtlThrowLastWin32();
    int needed = WideCharToMultiByte(nCodePage, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    if (needed == 0) AtlThrowLastWin32();
    LPSTR heap = static_cast<LPSTR>(std::malloc(static_cast<size_t>(needed)));
    if (heap == nullptr) AtlThrow(E_OUTOFMEMORY);
    if (WideCharToMultiByte(nCodePage, 0, psz, -1, heap, needed, nullptr, nullptr) == 0) {
      DWORD error = GetLastError();
      std::free(heap);
      SetLastError(error);
      AtlThrowLastWin32();
    }
    m_psz = heap;
  }
};

typedef CA2WEx<> CA2W;
typedef CW2AEx<> CW2A;

}  // namespace ATL

using namespace ATL;  // NOLINT: the library is written against ATL's names

#endif  // ZQBLOG_PLATFORM_ATLCONV_H_
