// Helpers for the data object tests (included by *_test.cpp only).
#ifndef ZQBLOG_TEST_DATATESTSUPPORT_H_
#define ZQBLOG_TEST_DATATESTSUPPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/BstrText.h"
#include "platform/atl.h"
#include "test/ComTestSupport.h"
#include "util/RecordItem.h"

namespace Velmora {
namespace ZQBlog {
namespace testing_support {

using com_testing::ModuleLockWatch;
using com_testing::RefCount;

// Calls a BSTR getter and returns the text; the call must succeed.
template <class Object, class Getter>
std::wstring TextOf(Object* object, Getter getter) {
  ScopedBstr text;
  HRESULT hr = (object->*getter)(text.Receive());
  if (FAILED(hr) || text.get() == nullptr) return L"<failed>";
  return text.ToWide();
}

template <class Object, class Getter>
int IntOf(Object* object, Getter getter) {
  int value = -12345;
  if (FAILED((object->*getter)(&value))) return -54321;
  return value;
}

// Little-endian record items built by hand, to check layouts byte by byte.
class RecordBytes {
 public:
  RecordBytes& Int(int32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
    return *this;
  }
  RecordBytes& Text(const std::string& text) {
    Int(static_cast<int32_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Writes object's record into a buffer of exactly RecordSize bytes; empty on failure.
template <class Object>
std::vector<uint8_t> RecordOf(const Object& object) {
  std::vector<uint8_t> buffer(static_cast<size_t>(object.RecordSize()));
  RecordWriter writer(buffer.data(), buffer.size());
  if (!object.WriteRecord(writer) || writer.written() != buffer.size()) return {};
  return buffer;
}

}  // namespace testing_support
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_DATATESTSUPPORT_H_
