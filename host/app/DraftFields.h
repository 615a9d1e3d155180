// What the host's drafts (AlbumDraft, ResourceDraft) share: the accessors of their
// plain fields, with the conventions of the interfaces they
// implement (E_POINTER for a null out, a null text read as empty).
#ifndef ZQBLOG_HOST_APP_DRAFTFIELDS_H_
#define ZQBLOG_HOST_APP_DRAFTFIELDS_H_

#include <string>

#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

// A copy of field in a new BSTR the caller frees; E_OUTOFMEMORY when it cannot be made.
inline HRESULT GetDraftText(const std::wstring& field, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// field in *out.
inline HRESULT GetDraftInt(int field, int* out) {
  if (out == nullptr) return E_POINTER;
  *out = field;
  return S_OK;
}

// Copies value (null: empty) into *field; S_OK.
inline HRESULT SetDraftText(LPCWSTR value, std::wstring* field) {
  *field = value != nullptr ? value : L"";
  return S_OK;
}

// Stores value in *field; S_OK.
inline HRESULT SetDraftInt(int value, int* field) {
  *field = value;
  return S_OK;
}

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_APP_DRAFTFIELDS_H_
