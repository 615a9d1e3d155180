// IResultOnResource: the result of a resource modification.
#ifndef ZQBLOG_INTERFACES_IRESULTONRESOURCE_H_
#define ZQBLOG_INTERFACES_IRESULTONRESOURCE_H_

#include "interfaces/ICommonResult.h"

struct IResultOnResource : public ICommonResult {
  // The destination album of the modification.
  STDMETHOD(GetTargetCategoryId)(int* categoryId) = 0;
  STDMETHOD(SetTargetCategoryId)(int categoryId) = 0;
  // The modified resource.
  STDMETHOD(GetResourceId)(int* resourceId) = 0;
  STDMETHOD(SetResourceId)(int resourceId) = 0;
};

// {1BF009AA-25A1-4CF0-8D75-73C9FFC630FE}
ZQ_DEFINE_IID(IResultOnResource, 0x1BF009AA, 0x25A1, 0x4CF0, 0x8D, 0x75, 0x73, 0xC9, 0xFF, 0xC6,
              0x30, 0xFE)

#endif  // ZQBLOG_INTERFACES_IRESULTONRESOURCE_H_
