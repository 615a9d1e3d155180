// PackedTexts: a fixed number N of wide texts kept back to back in one buffer, so that
// an object holding a dozen short texts pays for one allocation instead of a dozen
// (a resource list reply makes a thousand such objects at a time, and drops as many).
// Replacing a text appends the new one; the old characters stay unused until they
// outweigh the texts in use (and number at least 64), when the buffer is compacted. Texts may hold zeros.
// No lock: the owner's.
#ifndef ZQBLOG_DATA_PACKEDTEXTS_H_
#define ZQBLOG_DATA_PACKEDTEXTS_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

namespace Velmora {
namespace ZQBlog {

template <size_t N>
class PackedTexts {
 public:
  // The text of field (empty when never set). Valid until the next change.
  // REQUIRES: field < N.
  std::wstring_view Get(size_t field) const {
    return std::wstring_view(buffer_.data() + start_[field], length_[field]);
  }

  // Sets field to text, which may be a view of this object's own texts. On
  // std::bad_alloc every text is as it was.
  // REQUIRES: field < N.
  void Set(size_t field, std::wstring_view text) {
    if (!buffer_.empty() && text.data() >= buffer_.data() &&
        text.data() < buffer_.data() + buffer_.size()) {
      const std::wstring copy(text);  // appending may move the buffer under the view
      SetBy(field, [&copy](std::wstring* out) { out->append(copy); });
      return;
    }
    SetBy(field, [text](std::wstring* out) { out->append(text); });
  }

  // Sets field to what append(std::wstring*) adds at the end of the string it is
  // handed, which must be left otherwise untouched: the way to convert a text straight
  // into place. If append throws, every text is as it was and the exception goes on.
  // REQUIRES: field < N.
  template <class Append>
  void SetBy(size_t field, Append append) {
    const size_t start = buffer_.size();
    try {
      append(&buffer_);
    } catch (...) {
      buffer_.resize(start);
      throw;
    }
    const size_t length = buffer_.size() - start;
    if (buffer_.size() > kMaxSize) {
      buffer_.resize(start);
      throw std::bad_alloc();
    }
    unused_ += length_[field];  // the text replaced, if any
    start_[field] = static_cast<uint32_t>(start);
    length_[field] = static_cast<uint32_t>(length);
    if (unused_ >= 64) CompactIfSparse();
  }

  // Makes room for characters more characters of text without a new allocation.
  void Reserve(size_t characters) { buffer_.reserve(buffer_.size() + characters); }

 private:
  static constexpr size_t kMaxSize = UINT32_MAX;

  // Rewrites the buffer with only the texts in use once the unused characters are more
  // than those in use (and more than a few): replacing a text costs amortized O(1).
  void CompactIfSparse() {
    const size_t used = buffer_.size() - unused_;
    if (unused_ <= used) return;
    std::wstring packed;
    try {
      packed.reserve(used);
    } catch (const std::bad_alloc&) {
      return;  // the texts stay where they are
    }
    for (size_t i = 0; i < N; ++i) {
      const size_t start = packed.size();
      packed.append(buffer_, start_[i], length_[i]);
      start_[i] = static_cast<uint32_t>(start);
    }
    buffer_.swap(packed);
    unused_ = 0;
  }

  std::wstring buffer_;
  uint32_t start_[N] = {};
  uint32_t length_[N] = {};
  size_t unused_ = 0;  // characters of the buffer no field uses
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_DATA_PACKEDTEXTS_H_
