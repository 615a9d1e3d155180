#include "data/BlogPackageParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/BlogPackage.h"
#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::ModuleLockWatch;
using testing_support::RefCount;

CComPtr<BlogPackageParser> MakeParser() {
  CComObject<BlogPackageParser>* parser = nullptr;
  EXPECT_EQ(S_OK, CComObject<BlogPackageParser>::CreateInstance(&parser));
  return CComPtr<BlogPackageParser>(parser);
}

CComPtr<BlogPackage> MakePackage() {
  CComObject<BlogPackage>* package = nullptr;
  EXPECT_EQ(S_OK, CComObject<BlogPackage>::CreateInstance(&package));
  return CComPtr<BlogPackage>(package);
}

const BYTE* Bytes(const std::string& text) { return reinterpret_cast<const BYTE*>(text.data()); }

// The bytes a package holds, or "<none>" when GetData leaves its outputs untouched.
std::string ContentOf(IPackage* package) {
  // The parser only ever hands out its own packages.
  const BlogPackage* blog = static_cast<BlogPackage*>(package);
  const BYTE* data = nullptr;
  int length = -1;
  blog->GetData(&data, &length);
  if (data == nullptr && length == -1) return "<none>";
  if (data == nullptr || length < 0) return "<inconsistent>";
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

CComPtr<IPackage> PackageOf(IPackageParser* parser) {
  CComPtr<IPackage> package;
  EXPECT_EQ(S_OK, parser->GetPackage(&package));
  return package;
}

TEST(BlogPackageParserTest, FreshParserGivesOneEmptyPackage) {
  CComPtr<BlogPackageParser> parser = MakeParser();
  int count = 0;
  EXPECT_EQ(S_OK, parser->GetPackageCount(&count));
  EXPECT_EQ(1, count);
  CComPtr<IPackage> package = PackageOf(parser);
  ASSERT_NE(nullptr, package.p);
  EXPECT_EQ("<none>", ContentOf(package));
}

TEST(BlogPackageParserTest, ParseReplacesRatherThanAppends) {
  CComPtr<BlogPackageParser> parser = MakeParser();
  const std::string ten = "0123456789";
  const std::string three = "abc";
  ASSERT_EQ(S_OK, parser->Parse(Bytes(ten), 10));
  EXPECT_EQ(ten, ContentOf(PackageOf(parser)));
  ASSERT_EQ(S_OK, parser->Parse(Bytes(three), 3));
  EXPECT_EQ(three, ContentOf(PackageOf(parser)));
}

TEST(BlogPackageParserTest, BodyBytesArePreservedExactly) {
  CComPtr<BlogPackageParser> parser = MakeParser();
  const std::string body("a\0b\xff\r\n", 6);
  ASSERT_EQ(S_OK, parser->Parse(Bytes(body), static_cast<int>(body.size())));
  EXPECT_EQ(body, ContentOf(PackageOf(parser)));
}

TEST(BlogPackageParserTest, PackageOwnsItsCopy) {
  CComPtr<IPackage> package;
  std::string body = "directory";
  {
    CComPtr<BlogPackageParser> parser = MakeParser();
    parser->Parse(Bytes(body), static_cast<int>(body.size()));
    package = PackageOf(parser);
    // The package shares the parser's bytes: a later parse must not reach them.
    const std::string other = "another body";
    parser->Parse(Bytes(other), static_cast<int>(other.size()));
    EXPECT_EQ("directory", ContentOf(package));
    parser->Reset();
    EXPECT_EQ("<none>", ContentOf(PackageOf(parser)));
  }
  body[0] = 'X';
  EXPECT_EQ("directory", ContentOf(package));
}

TEST(BlogPackageParserTest, AdoptKeepsTheBlockAndReplacesWhatWasHeld) {
  CComPtr<BlogPackageParser> parser = MakeParser();
  ASSERT_EQ(S_OK, parser->Parse(Bytes("old"), 3));
  const std::string body("ta\0ble", 6);
  std::vector<BYTE> block(body.begin(), body.end());
  const BYTE* address = block.data();
  ASSERT_EQ(S_OK, parser->Adopt(std::move(block)));
  CComPtr<IPackage> package = PackageOf(parser);
  EXPECT_EQ(body, ContentOf(package));
  const BYTE* data = nullptr;
  int length = 0;
  static_cast<BlogPackage*>(package.p)->GetData(&data, &length);
  EXPECT_EQ(address, data) << "the block itself, not a copy";
  parser->Reset();
  EXPECT_EQ(body, ContentOf(package)) << "the package keeps the block alive";
  ASSERT_EQ(S_OK, parser->Adopt(std::vector<BYTE>()));
  EXPECT_EQ("<none>", ContentOf(PackageOf(parser)));
}

TEST(BlogPackageParserTest, EveryGetPackageMakesANewPackageForTheCaller) {
  ModuleLockWatch watch;
  {
    CComPtr<BlogPackageParser> parser = MakeParser();
    IPackage* first = nullptr;
    IPackage* second = nullptr;
    ASSERT_EQ(S_OK, parser->GetPackage(&first));
    ASSERT_EQ(S_OK, parser->GetPackage(&second));
    EXPECT_NE(first, second);
    EXPECT_EQ(1u, RefCount(first));  // the caller's reference only
    EXPECT_EQ(3, watch.Delta());
    first->Release();
    second->Release();
    EXPECT_EQ(1, watch.Delta());
    EXPECT_EQ(E_POINTER, parser->GetPackage(nullptr));
  }
  EXPECT_EQ(0, watch.Delta());
}

TEST(BlogPackageParserTest, EmptyAndMalformedInput) {
  CComPtr<BlogPackageParser> parser = MakeParser();
  const std::string body = "kept";
  ASSERT_EQ(S_OK, parser->Parse(Bytes(body), 4));
  // Refused calls change nothing.
  EXPECT_EQ(E_POINTER, parser->Parse(nullptr, 3));
  EXPECT_EQ(E_INVALIDARG, parser->Parse(Bytes(body), -1));
  EXPECT_EQ("kept", ContentOf(PackageOf(parser)));
  // A null, empty body is accepted and leaves nothing held.
  EXPECT_EQ(S_OK, parser->Parse(nullptr, 0));
  EXPECT_EQ("<none>", ContentOf(PackageOf(parser)));
  ASSERT_EQ(S_OK, parser->Parse(Bytes(body), 4));
  EXPECT_EQ(S_OK, parser->Parse(Bytes(body), 0));
  EXPECT_EQ("<none>", ContentOf(PackageOf(parser)));
  EXPECT_EQ(E_POINTER, parser->GetPackageCount(nullptr));
}

TEST(BlogPackageParserTest, QueryInterfaceAnswersIUnknownAndIPackageParser) {
  CComPtr<BlogPackageParser> parser = MakeParser();
  CComPtr<IPackageParser> asParser;
  EXPECT_EQ(S_OK, parser.QueryInterface(&asParser));
  CComPtr<IPackage> asPackage;
  EXPECT_EQ(E_NOINTERFACE, parser.QueryInterface(&asPackage));
  CComPtr<IPackage> package = PackageOf(parser);
  CComPtr<IPackage> again;
  EXPECT_EQ(S_OK, package.QueryInterface(&again));
  CComPtr<IPackageParser> wrong;
  EXPECT_EQ(E_NOINTERFACE, package.QueryInterface(&wrong));
}

TEST(BlogPackageTest, SetDataCopiesAndReportsTheLength) {
  CComPtr<BlogPackage> package = MakePackage();
  std::string body = "12345";
  int stored = -1;
  ASSERT_EQ(S_OK, package->SetData(Bytes(body), 5, &stored));
  EXPECT_EQ(5, stored);
  body[0] = 'X';
  EXPECT_EQ("12345", ContentOf(package));
  ASSERT_EQ(S_OK, package->SetData(Bytes(body), 2, &stored));
  EXPECT_EQ(2, stored);
  EXPECT_EQ("X2", ContentOf(package));
}

TEST(BlogPackageTest, NullDataFailsAndChangesNothing) {
  CComPtr<BlogPackage> package = MakePackage();
  const std::string body = "keep";
  int stored = -1;
  ASSERT_EQ(S_OK, package->SetData(Bytes(body), 4, &stored));
  stored = -1;
  EXPECT_EQ(E_FAIL, package->SetData(nullptr, 4, &stored));
  EXPECT_EQ(E_FAIL, package->SetData(nullptr, 0, &stored));
  EXPECT_EQ(-1, stored);
  EXPECT_EQ("keep", ContentOf(package));
  EXPECT_EQ(E_INVALIDARG, package->SetData(Bytes(body), -4, &stored));
  EXPECT_EQ(E_POINTER, package->SetData(Bytes(body), 4, nullptr));
  EXPECT_EQ("keep", ContentOf(package));
  // Zero bytes: accepted, nothing held afterwards.
  EXPECT_EQ(S_OK, package->SetData(Bytes(body), 0, &stored));
  EXPECT_EQ(0, stored);
  EXPECT_EQ("<none>", ContentOf(package));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
