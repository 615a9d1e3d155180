// PackedTexts: a fixed number N of texts kept back to back in one buffer, so that an
// object holding a dozen short texts pays for one allocation instead of a dozen (a
// resource list reply makes a thousand such objects at a time, and drops as many).
// A text is held either as wide text or as the bytes of a code page, converted to wide
// text each time it is read: a reply's values are stored as they came, and only those
// someone reads are converted. Reading never changes the object, so readers on several
// threads need no lock among themselves.
// Replacing a text appends the new one; the old bytes stay unused until they outweigh
// the texts in use (and number at least 256), when the buffer is compacted. Texts may
// hold zeros. No lock: the owner's.
#ifndef ZQBLOG_DATA_PACKEDTEXTS_H_
#define ZQBLOG_DATA_PACKEDTEXTS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {

template <size_t N>
class PackedTexts {
 public:
  // The text of field as wide text (empty when never set). Bytes of a code page are
  // converted as MultiByteToWide does; its ConversionError goes on to the caller.
  // REQUIRES: field < N.
  std::wstring Get(size_t field) const {
    std::wstring text;
    AppendTo(field, &text);
    return text;
  }

  // Appends the wide text of field to *out, as Get gives it. On failure *out is as it
  // was. REQUIRES: field < N.
  void AppendTo(size_t field, std::wstring* out) const {
    const char* data = buffer_.data() + start_[field];
    const size_t size = size_[field];
    if (codePage_[field] == kWide) {
      const size_t characters = size / sizeof(wchar_t);
      const size_t at = out->size();
      out->resize(at + characters);
      if (characters > 0) std::memcpy(&(*out)[at], data, size);  // the buffer is not aligned
      return;
    }
    AppendMultiByteToWide(codePage_[field], data, size, out);
  }

  // When field is held as bytes of a code page: true, with the bytes (valid until the
  // next change) and the code page. False for wide text.
  bool Bytes(size_t field, std::string_view* bytes, UINT* codePage) const {
    if (codePage_[field] == kWide) return false;
    *bytes = std::string_view(buffer_.data() + start_[field], size_[field]);
    *codePage = codePage_[field];
    return true;
  }

  // Whether field holds no text at all.
  bool Empty(size_t field) const { return size_[field] == 0; }

  // Sets field to the wide text text, which may be a view of a text of this object.
  // On std::bad_alloc every text is as it was. REQUIRES: field < N.
  void Set(size_t field, std::wstring_view text) {
    Store(field, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t),
          kWide);
  }

  // Sets field to bytes of codePage (never CP_ACP: the caller names the code page it
  // means), converted when read. On std::bad_alloc every text is as it was.
  // REQUIRES: field < N.
  void SetBytes(size_t field, std::string_view bytes, UINT codePage) {
    Store(field, bytes.data(), bytes.size(), codePage);
  }

  // Makes room for bytes more bytes of texts without a new allocation.
  void Reserve(size_t bytes) { buffer_.reserve(buffer_.size() + bytes); }

 private:
  static constexpr UINT kWide = 0xFFFFFFFFu;  // no code page has this number
  static constexpr size_t kMaxSize = UINT32_MAX;

  void Store(size_t field, const char* data, size_t size, UINT codePage) {
    if (size > kMaxSize - buffer_.size()) throw std::bad_alloc();
    const size_t start = buffer_.size();
    if (size > 0 && data >= buffer_.data() && data < buffer_.data() + buffer_.size()) {
      const std::string copy(data, size);  // appending may move the buffer under data
      buffer_.append(copy);
    } else {
      buffer_.append(data, size);
    }
    unused_ += size_[field];  // the text replaced, if any
    start_[field] = static_cast<uint32_t>(start);
    size_[field] = static_cast<uint32_t>(size);
    codePage_[field] = codePage;
    if (unused_ >= 256) CompactIfSparse();
  }

  // Rewrites the buffer with only the texts in use once the unused bytes are more than
  // those in use: replacing a text costs amortized O(1).
  void CompactIfSparse() {
    const size_t used = buffer_.size() - unused_;
    if (unused_ <= used) return;
    std::string packed;
    try {
      packed.reserve(used);
    } catch (const std::bad_alloc&) {
      return;  // the texts stay where they are
    }
    for (size_t i = 0; i < N; ++i) {
      const size_t start = packed.size();
      packed.append(buffer_, start_[i], size_[i]);
      start_[i] = static_cast<uint32_t>(start);
    }
    buffer_.swap(packed);
    unused_ = 0;
  }

  std::string buffer_;
  uint32_t start_[N] = {};
  uint32_t size_[N] = {};  // in bytes
  UINT codePage_[N] = {};  // kWide, or the code page of the bytes
  size_t unused_ = 0;      // bytes of the buffer no field uses
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_PACKEDTEXTS_H_
