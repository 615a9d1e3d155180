#include "host/sharesession/ShareSessionFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sharesession/ShareSessionEndpoint.h"

namespace Velmora {
namespace ZQHost {
namespace {

using Type = ShareSessionFrame::Type;

ShareSessionFrame Sample(Type type) {
  ShareSessionFrame frame;
  frame.type = type;
  frame.instance = 0x0102030405060708ull;
  if (type == Type::kOperation || type == Type::kResult) {
    frame.message_id = -7;
    frame.module = "ZQBlog";
    frame.name = "GetAlbumList";
    frame.payload = {5, 0, 0, 0, '1', '0', '0', '0', '1', 0xFF};
  } else if (type == Type::kBroadcast) {
    frame.module = "ZQBlog";
    frame.has_payload = true;
    frame.notice[0] = 0;
    frame.notice[1] = 10;
    frame.notice[2] = -1;
    frame.notice[3] = 0x7FFFFFFF;
    frame.payload = {1, 2, 3};
  }
  return frame;
}

class ShareSessionFrameTest : public ::testing::TestWithParam<Type> {};

TEST_P(ShareSessionFrameTest, RoundTripsAndRefusesEveryCutOrExtension) {
  const ShareSessionFrame frame = Sample(GetParam());
  const std::vector<uint8_t> bytes = EncodeShareSessionFrame(frame);
  ASSERT_GE(bytes.size(), kShareSessionFrameHeaderSize);

  ShareSessionFrame back;
  std::string problem;
  ASSERT_TRUE(DecodeShareSessionFrame(bytes.data(), bytes.size(), &back, &problem)) << problem;
  EXPECT_EQ(frame.type, back.type);
  EXPECT_EQ(frame.instance, back.instance);
  EXPECT_EQ(frame.message_id, back.message_id);
  EXPECT_EQ(frame.module, back.module);
  EXPECT_EQ(frame.name, back.name);
  EXPECT_EQ(frame.has_payload, back.has_payload);
  EXPECT_EQ(std::vector<int32_t>(frame.notice, frame.notice + 4),
            std::vector<int32_t>(back.notice, back.notice + 4));
  EXPECT_EQ(frame.payload, back.payload);

  // Every shorter prefix and one byte more are refused, each with a reason.
  for (size_t size = 0; size < bytes.size(); ++size) {
    problem.clear();
    EXPECT_FALSE(DecodeShareSessionFrame(bytes.data(), size, &back, &problem)) << size;
    EXPECT_FALSE(problem.empty());
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(DecodeShareSessionFrame(longer.data(), longer.size(), &back, &problem));
  EXPECT_EQ("1 bytes after the end", problem);
}

INSTANTIATE_TEST_SUITE_P(EveryType, ShareSessionFrameTest,
                         ::testing::Values(Type::kHello, Type::kWelcome, Type::kOperation,
                                           Type::kResult, Type::kBroadcast, Type::kPing,
                                           Type::kPong, Type::kReset, Type::kBye));

TEST(ShareSessionFrameCodecTest, RefusesWhatItCannotCarryAndNamesForeignBytes) {
  ShareSessionFrame frame = Sample(Type::kOperation);
  frame.message_id = 0;
  EXPECT_TRUE(EncodeShareSessionFrame(frame).empty());
  frame = Sample(Type::kOperation);
  frame.name.assign(kShareSessionFrameMaxText + 1, 'n');
  EXPECT_TRUE(EncodeShareSessionFrame(frame).empty());
  frame = Sample(Type::kBroadcast);
  frame.payload.assign(kShareSessionFrameMaxSize, 0);
  EXPECT_TRUE(EncodeShareSessionFrame(frame).empty());

  const std::vector<uint8_t> good = EncodeShareSessionFrame(Sample(Type::kResult));
  struct Case {
    std::vector<std::pair<size_t, uint8_t>> changes;  // (offset, new byte)
    const char* problem;
  };
  const Case cases[] = {
      {{{0, 'X'}}, "bad magic"},
      {{{4, 2}}, "version 2"},
      {{{5, 0}}, "unknown type 0"},
      {{{6, 1}}, "bad flags"},  // the payload flag belongs to broadcasts only
      {{{7, 1}}, "bad flags"},
      {{{21, 1}}, "module too long"},  // module length 0x0106
      {{{16, 0}, {17, 0}, {18, 0}, {19, 0}}, "message id 0"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    for (const auto& change : c.changes) bytes[change.first] = change.second;
    ShareSessionFrame back;
    std::string problem;
    EXPECT_FALSE(DecodeShareSessionFrame(bytes.data(), bytes.size(), &back, &problem));
    EXPECT_EQ(c.problem, problem);
  }
  std::string problem;
  ShareSessionFrame back;
  std::vector<uint8_t> huge(kShareSessionFrameMaxSize + 1, 0);
  EXPECT_FALSE(DecodeShareSessionFrame(huge.data(), huge.size(), &back, &problem));
  EXPECT_EQ(0u, problem.find("oversized"));
}

TEST(ShareSessionEndpointTest, NamesFilesAfterTheUserAndRefusesLongSocketPaths) {
  const std::pair<const char*, const char*> stems[] = {
      {"10001", "10001"},
      {"a.b@c-d_E9", "a.b@c-d_E9"},
      {"a/b c", "a%2Fb%20c"},
      {"%", "%25"},
      {"\xE7\x94\xA8", "%E7%94%A8"},
  };
  for (const auto& stem : stems) EXPECT_EQ(stem.second, ShareSessionEndpoint::FileStem(stem.first));

  ShareSessionEndpoint endpoint;
  std::string error;
  ASSERT_TRUE(ShareSessionEndpoint::Resolve("/tmp/d/", "u 1", &endpoint, &error)) << error;
  EXPECT_EQ("/tmp/d/share/", endpoint.folder);
  EXPECT_EQ("ipc:///tmp/d/share/u%201.sock", endpoint.Address());
  EXPECT_EQ("/tmp/d/share/u%201.lock", endpoint.lock_path);

  EXPECT_FALSE(ShareSessionEndpoint::Resolve("/tmp/d", "", &endpoint, &error));
  const std::string folder = "/tmp/" + std::string(90, 'f');
  EXPECT_FALSE(ShareSessionEndpoint::Resolve(folder, "10001", &endpoint, &error));
  EXPECT_NE(std::string::npos, error.find("bytes long")) << error;
  EXPECT_NE(std::string::npos, error.find("shorter path")) << error;
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
