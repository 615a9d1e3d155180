#include "data/StringSetter.h"

#include <gtest/gtest.h>

#include <string>

#include "interfaces/IPackage.h"
#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::ModuleLockWatch;

const BYTE* Bytes(const std::string& text) { return reinterpret_cast<const BYTE*>(text.data()); }

TEST(StringSetterTest, StartsEmptyWithCountOne) {
  StringSetter setter;
  EXPECT_EQ("", setter.GetString());
  EXPECT_EQ(2u, setter.AddRef());
  EXPECT_EQ(1u, setter.Release());
}

TEST(StringSetterTest, SetStringKeepsEveryByteZerosIncluded) {
  StringSetter setter;
  const std::string value("ab\0cd", 5);
  EXPECT_EQ(S_OK, setter.SetString(5, Bytes(value)));
  EXPECT_EQ(5u, setter.GetString().size());
  EXPECT_EQ(value, setter.GetString());
  EXPECT_EQ(S_OK, setter.SetString(2, Bytes("Thu")));
  EXPECT_EQ("Th", setter.GetString());  // replaced, not appended
}

TEST(StringSetterTest, EmptyAndMalformedValues) {
  StringSetter setter;
  setter.SetString(4, Bytes("kept"));
  EXPECT_EQ(E_INVALIDARG, setter.SetString(-1, Bytes("x")));
  EXPECT_EQ(E_POINTER, setter.SetString(3, nullptr));
  EXPECT_EQ("kept", setter.GetString());
  EXPECT_EQ(S_OK, setter.SetString(0, nullptr));
  EXPECT_EQ("", setter.GetString());
}

TEST(StringSetterTest, QueryInterfaceAnswersIStringSetterOnlyWithoutAReference) {
  StringSetter setter;
  void* out = nullptr;
  EXPECT_EQ(S_OK, setter.QueryInterface(IID_IStringSetter, &out));
  EXPECT_EQ(static_cast<IStringSetter*>(&setter), out);
  EXPECT_EQ(2u, setter.AddRef());  // QueryInterface added none
  EXPECT_EQ(1u, setter.Release());

  out = &out;
  EXPECT_EQ(E_NOINTERFACE, setter.QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);
  out = &out;
  EXPECT_EQ(E_NOINTERFACE, setter.QueryInterface(IID_IPackage, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, setter.QueryInterface(IID_IStringSetter, nullptr));
}

TEST(StringSetterTest, ReleaseToZeroDeletesAHeapSetter) {
  ModuleLockWatch watch;
  StringSetter* setter = new StringSetter();  // count 1
  EXPECT_EQ(0, watch.Delta());                // not counted in the module
  EXPECT_EQ(2u, setter->AddRef());
  EXPECT_EQ(1u, setter->Release());
  setter->SetString(3, Bytes("abc"));
  // The last release deletes it; the leak checker catches it if not.
  EXPECT_EQ(0u, setter->Release());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
