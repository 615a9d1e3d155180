// IResultOnBatchOperation: the result of a batch collect, remove, copy or move, with
// per-item outcomes: two id lists (done, refused) and two tables from id to text (done
// states, refusal messages).
#ifndef ZQBLOG_INTERFACES_IRESULTONBATCHOPERATION_H_
#define ZQBLOG_INTERFACES_IRESULTONBATCHOPERATION_H_

#include "interfaces/ICommonResult.h"

struct IResultOnBatchOperation : public ICommonResult {
  // The number of items done (collected, removed, copied or moved).
  STDMETHOD(GetFirstCount)(int* count) = 0;
  STDMETHOD(SetFirstCount)(int count) = 0;
  // The number of items refused.
  STDMETHOD(GetSecondCount)(int* count) = 0;
  STDMETHOD(SetSecondCount)(int count) = 0;
  // Item index of the first id list when list is 1, of the second for any other list.
  // REQUIRES: index below that list's length; otherwise E_INVALIDARG, *id untouched.
  STDMETHOD(GetListItem)(int list, int index, int* id) = 0;
  // A new BSTR of the first table's text for key; *text untouched when the key is
  // absent; S_OK either way. Never adds an entry.
  STDMETHOD(GetFirstText)(int key, BSTR* text) = 0;
  // The same for the second table.
  STDMETHOD(GetSecondText)(int key, BSTR* text) = 0;
  // The destination album of a copy or move.
  STDMETHOD(GetTargetCategoryId)(int* categoryId) = 0;
  STDMETHOD(SetTargetCategoryId)(int categoryId) = 0;
};

// {AC4FF167-B9B0-4778-B37B-103FB378F6F7}
ZQ_DEFINE_IID(IResultOnBatchOperation, 0xAC4FF167, 0xB9B0, 0x4778, 0xB3, 0x7B, 0x10, 0x3F, 0xB3,
              0x78, 0xF6, 0xF7)

#endif  // ZQBLOG_INTERFACES_IRESULTONBATCHOPERATION_H_
