#include "data/ResultOnBatchOperation.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::IntOf;

class ResultOnBatchOperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CComObject<ResultOnBatchOperation>* raw = nullptr;
    ASSERT_EQ(S_OK, CComObject<ResultOnBatchOperation>::CreateInstance(&raw));
    result_ = raw;
  }

  int Item(int list, int index) {
    int id = -1;
    EXPECT_EQ(S_OK, result_->GetListItem(list, index, &id));
    return id;
  }

  CComPtr<ResultOnBatchOperation> result_;
};

TEST_F(ResultOnBatchOperationTest, CountsAndTargetStartAtZeroAndKeepWhatIsSet) {
  EXPECT_EQ(0, IntOf(result_.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(0, IntOf(result_.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_EQ(0, IntOf(result_.p, &IResultOnBatchOperation::GetTargetCategoryId));
  result_->SetFirstCount(4);
  result_->SetSecondCount(2);
  result_->SetTargetCategoryId(88);
  EXPECT_EQ(4, IntOf(result_.p, &IResultOnBatchOperation::GetFirstCount));
  EXPECT_EQ(2, IntOf(result_.p, &IResultOnBatchOperation::GetSecondCount));
  EXPECT_EQ(88, IntOf(result_.p, &IResultOnBatchOperation::GetTargetCategoryId));
  EXPECT_EQ(0, result_->ListLength(1));  // the counts are independent of the lists
}

TEST_F(ResultOnBatchOperationTest, ListOneIsTheFirstListAnyOtherTheSecond) {
  const std::vector<int> done = {11, 12, 13};
  const int refused[] = {21, 22};
  result_->AppendFirstIds(done.begin(), done.end());
  result_->AppendSecondIds(std::begin(refused), std::end(refused));
  result_->AppendFirstIds(done.begin(), done.begin() + 1);  // appends, keeps order
  EXPECT_EQ(4, result_->ListLength(1));
  EXPECT_EQ(11, Item(1, 0));
  EXPECT_EQ(13, Item(1, 2));
  EXPECT_EQ(11, Item(1, 3));
  for (int list : {2, 0, -1, 7}) {
    EXPECT_EQ(2, result_->ListLength(list));
    EXPECT_EQ(21, Item(list, 0)) << list;
    EXPECT_EQ(22, Item(list, 1)) << list;
  }
}

TEST_F(ResultOnBatchOperationTest, ListIndexOutsideTheListIsRefusedUntouched) {
  const int done[] = {5};
  result_->AppendFirstIds(std::begin(done), std::end(done));
  int id = 777;
  EXPECT_EQ(E_INVALIDARG, result_->GetListItem(1, 1, &id));
  EXPECT_EQ(E_INVALIDARG, result_->GetListItem(1, -1, &id));
  EXPECT_EQ(E_INVALIDARG, result_->GetListItem(2, 0, &id));  // the second list is empty
  EXPECT_EQ(777, id);
  EXPECT_EQ(E_POINTER, result_->GetListItem(1, 0, nullptr));
}

TEST_F(ResultOnBatchOperationTest, TextLookupsReadTheirOwnTable) {
  result_->InsertFirstText(1, L"2");
  result_->InsertSecondText(2, L"duplicate");

  ScopedBstr text;
  ASSERT_EQ(S_OK, result_->GetFirstText(1, text.Receive()));
  EXPECT_EQ(L"2", text.ToWide());
  ASSERT_EQ(S_OK, result_->GetSecondText(2, text.Receive()));
  EXPECT_EQ(L"duplicate", text.ToWide());

  // A key only in the first table: the second lookup leaves the caller's BSTR alone.
  BSTR sentinel = SysAllocString(L"caller");
  BSTR out = sentinel;
  EXPECT_EQ(S_OK, result_->GetSecondText(1, &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(S_OK, result_->GetFirstText(2, &out));
  EXPECT_EQ(sentinel, out);
  SysFreeString(sentinel);
  EXPECT_EQ(E_POINTER, result_->GetFirstText(1, nullptr));
}

TEST_F(ResultOnBatchOperationTest, GetFirstTextNeverAddsAnEntry) {
  BSTR out = nullptr;
  EXPECT_EQ(S_OK, result_->GetFirstText(42, &out));
  EXPECT_EQ(nullptr, out);
  // Had the lookup added an empty entry, a second lookup would find it, and the
  // insertion below (which keeps an existing key) would not take effect.
  EXPECT_EQ(S_OK, result_->GetFirstText(42, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(S_OK, result_->GetSecondText(42, &out));
  EXPECT_EQ(nullptr, out);
  result_->InsertFirstText(42, L"inserted");
  result_->InsertSecondText(42, L"second");
  ScopedBstr text;
  ASSERT_EQ(S_OK, result_->GetFirstText(42, text.Receive()));
  EXPECT_EQ(L"inserted", text.ToWide());
  ASSERT_EQ(S_OK, result_->GetSecondText(42, text.Receive()));
  EXPECT_EQ(L"second", text.ToWide());
}

TEST_F(ResultOnBatchOperationTest, InsertingAnExistingKeyKeepsTheFirstText) {
  result_->InsertFirstText(3, L"first");
  result_->InsertFirstText(3, L"second");
  ScopedBstr text;
  ASSERT_EQ(S_OK, result_->GetFirstText(3, text.Receive()));
  EXPECT_EQ(L"first", text.ToWide());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
