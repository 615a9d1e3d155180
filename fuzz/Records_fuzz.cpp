// The album and resource records of the share session, read from arbitrary bytes. A
// record that reads whole writes back in its canonical form (a show status other than
// 0 is written as 1, a resource type above 2 as 2, texts as the code page spells
// them), and that form reads and writes back to exactly the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/AlbumInfo.h"
#include "data/ResourceInfo.h"
#include "platform/atl.h"
#include "util/RecordItem.h"

namespace {

using Velmora::ZQBlog::AlbumInfo;
using Velmora::ZQBlog::RecordReader;
using Velmora::ZQBlog::RecordWriter;
using Velmora::ZQBlog::ResourceInfo;

template <class T>
CComPtr<T> Make() {
  CComObject<T>* made = nullptr;
  if (FAILED(CComObject<T>::CreateInstance(&made)) || made == nullptr) std::abort();
  return CComPtr<T>(made);
}

// The record read from [data, data + size), written back; empty when it does not read
// whole (or a text the code page cannot hold is refused).
template <class T>
std::vector<uint8_t> ReadAndWrite(const uint8_t* data, size_t size, size_t* consumed) {
  CComPtr<T> object = Make<T>();
  RecordReader reader(data, size);
  try {
    if (!object->ReadRecord(reader)) return {};
  } catch (const std::exception&) {
    return {};
  }
  *consumed = reader.consumed();
  std::vector<uint8_t> written(static_cast<size_t>(object->RecordSize()));
  RecordWriter writer(written.data(), written.size());
  if (!object->WriteRecord(writer) || writer.written() != written.size()) std::abort();
  return written;
}

template <class T>
void RoundTrip(const uint8_t* data, size_t size) {
  size_t consumed = 0;
  const std::vector<uint8_t> canonical = ReadAndWrite<T>(data, size, &consumed);
  if (canonical.empty()) return;
  size_t again_consumed = 0;
  const std::vector<uint8_t> again =
      ReadAndWrite<T>(canonical.data(), canonical.size(), &again_consumed);
  if (again != canonical || again_consumed != canonical.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the record.
  if (data[0] & 1) {
    RoundTrip<ResourceInfo>(data + 1, size - 1);
  } else {
    RoundTrip<AlbumInfo>(data + 1, size - 1);
  }
  return 0;
}
