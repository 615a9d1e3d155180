// ICommonResult: what every command result tells the host. The four result interfaces
// (IResultOnAlbum, IResultOnResource, IResultOnBatchOperation, IResultOnResComment)
// derive from it and add their own slots from the 15th on.
// String getters hand out a new BSTR the caller frees; setters copy the text (a null
// text is taken as empty). Out pointers must not be null (E_POINTER otherwise).
#ifndef ZQBLOG_INTERFACES_ICOMMONRESULT_H_
#define ZQBLOG_INTERFACES_ICOMMONRESULT_H_

#include "platform/platform.h"

struct ICommonResult : public IUnknown {
  // The user id of the command.
  STDMETHOD(GetUin)(BSTR* uin) = 0;
  STDMETHOD(SetUin)(LPCWSTR uin) = 0;
  // 1 when the server accepted the request, else 0.
  STDMETHOD(GetStatus)(int* status) = 0;
  STDMETHOD(SetStatus)(int status) = 0;
  // The user-facing text for the server's message word (write operations only).
  STDMETHOD(GetMessageText)(BSTR* text) = 0;
  STDMETHOD(SetMessageText)(LPCWSTR text) = 0;
  // Which operation the result belongs to (0 to 11).
  STDMETHOD(GetOperationIndex)(int* index) = 0;
  STDMETHOD(SetOperationIndex)(int index) = 0;
  // The operation's title text.
  STDMETHOD(GetOperationTitle)(BSTR* title) = 0;
  STDMETHOD(SetOperationTitle)(LPCWSTR title) = 0;
  // The caller's context value of a server directory refresh; 0 elsewhere.
  STDMETHOD(GetExtraValue)(int* value) = 0;
  STDMETHOD(SetExtraValue)(int value) = 0;
  // The album the operation concerned (the comment count for a comment refresh).
  STDMETHOD(GetCategoryId)(int* categoryId) = 0;
  STDMETHOD(SetCategoryId)(int categoryId) = 0;
};

// {4A7E6360-801C-4BB8-8F0D-1A1BDF3D6545}
// This id is our own: ICommonResult has no published id, and the result objects do not
// answer it in QueryInterface (they answer IUnknown and their own interface). It exists
// so that IidOf<ICommonResult>() is defined.
ZQ_DEFINE_IID(ICommonResult, 0x4A7E6360, 0x801C, 0x4BB8, 0x8F, 0x0D, 0x1A, 0x1B, 0xDF, 0x3D,
              0x65, 0x45)

#endif  // ZQBLOG_INTERFACES_ICOMMONRESULT_H_
