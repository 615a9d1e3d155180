// The common result slots and the COM identity, for each of the four result classes.
#include "data/CommonResult.h"

#include <gtest/gtest.h>

#include "data/ResultOnAlbum.h"
#include "data/ResultOnBatchOperation.h"
#include "data/ResultOnResComment.h"
#include "data/ResultOnResource.h"
#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::IntOf;
using testing_support::ModuleLockWatch;
using testing_support::TextOf;

template <class Result>
class CommonResultTest : public ::testing::Test {
 protected:
  CComPtr<Result> Make() {
    CComObject<Result>* result = nullptr;
    EXPECT_EQ(S_OK, CComObject<Result>::CreateInstance(&result));
    return CComPtr<Result>(result);
  }
};

using ResultClasses = ::testing::Types<ResultOnAlbum, ResultOnResource, ResultOnBatchOperation,
                                       ResultOnResComment>;
TYPED_TEST_SUITE(CommonResultTest, ResultClasses);

TYPED_TEST(CommonResultTest, FreshResultIsZeroAndEmpty) {
  CComPtr<TypeParam> result = this->Make();
  ICommonResult* common = result.p;
  EXPECT_EQ(L"", TextOf(common, &ICommonResult::GetUin));
  EXPECT_EQ(0, IntOf(common, &ICommonResult::GetStatus));
  EXPECT_EQ(L"", TextOf(common, &ICommonResult::GetMessageText));
  EXPECT_EQ(0, IntOf(common, &ICommonResult::GetOperationIndex));
  EXPECT_EQ(L"", TextOf(common, &ICommonResult::GetOperationTitle));
  EXPECT_EQ(0, IntOf(common, &ICommonResult::GetExtraValue));
  EXPECT_EQ(0, IntOf(common, &ICommonResult::GetCategoryId));
}

TYPED_TEST(CommonResultTest, CommonSlotsKeepWhatIsSet) {
  CComPtr<TypeParam> result = this->Make();
  ICommonResult* common = result.p;
  EXPECT_EQ(S_OK, common->SetUin(L"10001"));
  EXPECT_EQ(S_OK, common->SetStatus(1));
  EXPECT_EQ(S_OK, common->SetMessageText(L"专辑不存在"));
  EXPECT_EQ(S_OK, common->SetOperationIndex(11));
  EXPECT_EQ(S_OK, common->SetOperationTitle(L"复制资源"));
  EXPECT_EQ(S_OK, common->SetExtraValue(-9));
  EXPECT_EQ(S_OK, common->SetCategoryId(345));
  EXPECT_EQ(L"10001", TextOf(common, &ICommonResult::GetUin));
  EXPECT_EQ(1, IntOf(common, &ICommonResult::GetStatus));
  EXPECT_EQ(L"专辑不存在", TextOf(common, &ICommonResult::GetMessageText));
  EXPECT_EQ(11, IntOf(common, &ICommonResult::GetOperationIndex));
  EXPECT_EQ(L"复制资源", TextOf(common, &ICommonResult::GetOperationTitle));
  EXPECT_EQ(-9, IntOf(common, &ICommonResult::GetExtraValue));
  EXPECT_EQ(345, IntOf(common, &ICommonResult::GetCategoryId));
  EXPECT_EQ(S_OK, common->SetUin(nullptr));
  EXPECT_EQ(L"", TextOf(common, &ICommonResult::GetUin));
  EXPECT_EQ(E_POINTER, common->GetUin(nullptr));
  EXPECT_EQ(E_POINTER, common->GetStatus(nullptr));
}

// The interface id each result class answers besides IUnknown.
template <class Result>
const IID& OwnIid();
template <>
const IID& OwnIid<ResultOnAlbum>() { return IID_IResultOnAlbum; }
template <>
const IID& OwnIid<ResultOnResource>() { return IID_IResultOnResource; }
template <>
const IID& OwnIid<ResultOnBatchOperation>() { return IID_IResultOnBatchOperation; }
template <>
const IID& OwnIid<ResultOnResComment>() { return IID_IResultOnResComment; }

TYPED_TEST(CommonResultTest, QueryInterfaceAnswersIUnknownAndItsOwnInterfaceOnly) {
  CComPtr<TypeParam> result = this->Make();
  CComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, result->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  CComPtr<IUnknown> own;
  ASSERT_EQ(S_OK,
            result->QueryInterface(OwnIid<TypeParam>(), reinterpret_cast<void**>(&own)));
  EXPECT_EQ(unknown.p, own.p);

  const IID* others[] = {&IID_ICommonResult, &IID_IResultOnAlbum, &IID_IResultOnResource,
                         &IID_IResultOnBatchOperation, &IID_IResultOnResComment};
  for (const IID* iid : others) {
    if (IsEqualGUID(*iid, OwnIid<TypeParam>())) continue;
    void* out = &out;
    EXPECT_EQ(E_NOINTERFACE, result->QueryInterface(*iid, &out));
    EXPECT_EQ(nullptr, out);
  }
}

TYPED_TEST(CommonResultTest, ResultHoldsTheModuleWhileAlive) {
  ModuleLockWatch watch;
  {
    CComPtr<TypeParam> result = this->Make();
    EXPECT_EQ(1, watch.Delta());
  }
  EXPECT_EQ(0, watch.Delta());
}

// ---------------------------------------------------------------- own slots

template <class Result>
CComPtr<Result> MakeResult() {
  CComObject<Result>* result = nullptr;
  EXPECT_EQ(S_OK, CComObject<Result>::CreateInstance(&result));
  return CComPtr<Result>(result);
}

TEST(ResultOnAlbumTest, CategoryName) {
  CComPtr<ResultOnAlbum> result = MakeResult<ResultOnAlbum>();
  EXPECT_EQ(L"", TextOf(result.p, &IResultOnAlbum::GetCategoryName));
  result->SetCategoryName(L"旅行");
  EXPECT_EQ(L"旅行", TextOf(result.p, &IResultOnAlbum::GetCategoryName));
  EXPECT_EQ(0, IntOf(result.p, &ICommonResult::GetCategoryId));  // a separate field
}

TEST(ResultOnResourceTest, TargetCategoryAndResourceId) {
  CComPtr<ResultOnResource> result = MakeResult<ResultOnResource>();
  EXPECT_EQ(0, IntOf(result.p, &IResultOnResource::GetTargetCategoryId));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnResource::GetResourceId));
  result->SetCategoryId(1);
  result->SetTargetCategoryId(2);
  result->SetResourceId(3);
  EXPECT_EQ(1, IntOf(result.p, &ICommonResult::GetCategoryId));
  EXPECT_EQ(2, IntOf(result.p, &IResultOnResource::GetTargetCategoryId));
  EXPECT_EQ(3, IntOf(result.p, &IResultOnResource::GetResourceId));
}

TEST(ResultOnResCommentTest, KeyAndRequestNumberComeBackUnchanged) {
  CComPtr<ResultOnResComment> result = MakeResult<ResultOnResComment>();
  EXPECT_EQ(L"", TextOf(result.p, &IResultOnResComment::GetResourceKey));
  EXPECT_EQ(0, IntOf(result.p, &IResultOnResComment::GetRequestNumber));
  result->SetResourceKey(L"CID:ABCDEF");
  result->SetRequestNumber(-17);
  EXPECT_EQ(L"CID:ABCDEF", TextOf(result.p, &IResultOnResComment::GetResourceKey));
  EXPECT_EQ(-17, IntOf(result.p, &IResultOnResComment::GetRequestNumber));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
