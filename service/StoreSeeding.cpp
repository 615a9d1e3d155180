// The demo blog SeedDemo gives a user.
#include <cstdint>
#include <mutex>
#include <string>
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

  std::vector<DemoAlbum> albums(4);
  albums[0].fields.name = "旅行";
  albums[0].fields.desc = "海边和山里拍的视频";
  albums[0].fields.pic_url = "http://pic.velmora.cn/demo/travel.jpg";
  albums[0].fields.category_type = 0;
  albums[0].fields.show_status = 1;
  albums[0].fields.tags = {"海", "山"};
  albums[0].resources = {
      resource(1, "海边日落.mp4", "mp4", "73400320", 1, "三亚的傍晚"),
      resource(2, "黄山云海.mkv", "mkv", "524288000", 1, "清晨的云海"),
      resource(3, "旅行计划.pdf", "pdf", "1048576", 0, "行程与预算"),
  };
  albums[1].fields.name = "Open Source";
  albums[1].fields.desc = "Installers and source archives";
  albums[1].fields.pic_url = "http://pic.velmora.cn/demo/opensource.png";
  albums[1].fields.category_type = 1;
  albums[1].fields.show_status = 1;
  albums[1].fields.tags = {"linux", "tools", "iso"};
  albums[1].resources = {
      resource(4, "debian-12.iso", "iso", "659554304", 0, "netinst image"),
      resource(5, "sqlite-3.40.tar.gz", "gz", "3174400", 0, "amalgamation source"),
  };
  albums[2].fields.name = "音乐 Music";
  albums[2].fields.desc = "";
  albums[2].fields.pic_url = "";
  albums[2].fields.category_type = 2;
  albums[2].fields.show_status = 0;
  albums[2].resources = {
      resource(6, "夜曲.mp3", "mp3", "4718592", 1, "still downloading"),
      resource(7, "Demo Song.flac", "flac", "31457280", 1, "waiting for review"),
  };
  albums[3].fields.name = "Empty";
  albums[3].fields.desc = "Nothing here yet";
  albums[3].fields.pic_url = "http://pic.velmora.cn/demo/empty.png";
  albums[3].fields.category_type = 0;
  albums[3].fields.show_status = 1;
  albums[3].fields.tags = {"new"};

  int64_t comments = 3;
  for (const DemoAlbum& album : albums) {
    const int album_id = AddAlbum(uin, album.fields);
    for (const ResourceFields& r : album.resources) {
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
