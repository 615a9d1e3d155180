// The demo blog SeedDemo gives a user.
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "BlogStore.h"

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A stable made-up content id for demo data.
std::string DemoContentId(const std::string& uin, int index, char salt) {
  uint64_t state = 1469598103934665603ULL;
  for (char c : uin) state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  state ^= static_cast<uint64_t>(index) * 0x100000001B3ULL + static_cast<unsigned char>(salt);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  while (hex.size() < 40) {
    uint64_t v = SplitMix64(state);
    for (int k = 0; k < 16 && hex.size() < 40; ++k, v >>= 4) hex += kDigits[v & 0xF];
  }
  return hex;
}

}  // namespace

bool BlogStore::SeedDemo(const std::string& uin) {
  if (!IsValidUin(uin)) throw StoreError("invalid user id");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    CheckFault();
    SqliteStatement st(db_, "SELECT COUNT(*) FROM albums WHERE uin = ?");
    st.Bind(1, uin);
    st.Step();
    if (st.Int(0) > 0) return false;
  }
  AddUser(uin, true);

  struct DemoAlbum {
    AlbumFields fields;
    std::vector<ResourceFields> resources;
  };
  auto resource = [&](int index, const char* name, const char* format, const char* size,
                      int res_type, const char* desc) {
    ResourceFields r;
    r.cid = DemoContentId(uin, index, 'c');
    r.gcid = DemoContentId(uin, index, 'g');
    r.name = name;
    r.format = format;
    r.size = size;
    r.url = std::string("http://dl.velmora.cn/") + r.cid + "/" + name;
    r.original = std::string("http://www.velmora.cn/share/") + std::to_string(index);
    r.refer = "http://www.velmora.cn/";
    r.desc = desc;
    r.res_type = res_type;
    return r;
  };

  auto album = [](const char* name, const char* desc, const char* pic_url, int category_type,
                  int show_status, std::vector<std::string> tags,
                  std::vector<ResourceFields> resources) {
    DemoAlbum a;
    a.fields.name = name;
    a.fields.desc = desc;
    a.fields.pic_url = pic_url;
    a.fields.category_type = category_type;
    a.fields.show_status = show_status;
    a.fields.tags = std::move(tags);
    a.resources = std::move(resources);
    return a;
  };

  const std::vector<DemoAlbum> albums = {
      album("旅行", "海边和山里拍的视频", "http://pic.velmora.cn/demo/travel.jpg", 0, 1,
            {"海", "山"},
            {
                resource(1, "海边日落.mp4", "mp4", "73400320", 1, "三亚的傍晚"),
                resource(2, "黄山云海.mkv", "mkv", "524288000", 1, "清晨的云海"),
                resource(3, "旅行计划.pdf", "pdf", "1048576", 0, "行程与预算"),
            }),
      album("Open Source", "Installers and source archives",
            "http://pic.velmora.cn/demo/opensource.png", 1, 1, {"linux", "tools", "iso"},
            {
                resource(4, "debian-12.iso", "iso", "659554304", 0, "netinst image"),
                resource(5, "sqlite-3.40.tar.gz", "gz", "3174400", 0, "amalgamation source"),
            }),
      album("音乐 Music", "", "", 2, 0, {},
            {
                resource(6, "夜曲.mp3", "mp3", "4718592", 1, "still downloading"),
                resource(7, "Demo Song.flac", "flac", "31457280", 1, "waiting for review"),
            }),
      album("Empty", "Nothing here yet", "http://pic.velmora.cn/demo/empty.png", 0, 1, {"new"},
            {}),
  };

  int64_t comments = 3;
  for (const DemoAlbum& demo : albums) {
    const int album_id = AddAlbum(uin, demo.fields);
    for (const ResourceFields& r : demo.resources) {
      const bool review = r.desc == "waiting for review";
      ResourceFields fields = r;
      fields.undone = r.desc == "still downloading";
      AddResource(album_id, fields, review);
      SetCommentCount(r.cid, comments);
      comments = comments * 3 % 17 + 1;
    }
  }
  return true;
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
