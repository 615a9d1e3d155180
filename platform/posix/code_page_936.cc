// The codes of code page 936 that Windows maps to the Private Use Area and iconv refuses:
// the user-defined areas and a set of unassigned GBK codes.
#include "platform/posix/internal.h"

namespace {

// Unassigned GBK codes that Windows maps to U+E766 on, one after the other in the order
// of their sequences: (first sequence, how many).
struct Run {
  unsigned short first;
  unsigned short count;
};
constexpr Run kUnassigned[] = {
    {0xA2AB, 6},  {0xA2E3, 2},  {0xA2EF, 2},  {0xA2FD, 2}, {0xA4F4, 11}, {0xA5F7, 8},
    {0xA6B9, 8},  {0xA6D9, 7},  {0xA6EC, 2},  {0xA6F3, 1}, {0xA6F6, 9},  {0xA7C2, 15},
    {0xA7F2, 13}, {0xA896, 11}, {0xA8BC, 1},  {0xA8BF, 1}, {0xA8C1, 4},  {0xA8EA, 21},
    {0xA958, 1},  {0xA95B, 1},  {0xA95D, 3},  {0xA989, 13}, {0xA997, 13}, {0xA9F0, 15},
    {0xD7FA, 5},  {0xFE50, 47}, {0xFE80, 33},
};
constexpr wchar_t kUnassignedBase = 0xE766;
constexpr wchar_t kUnassignedEnd = 0xE865;  // one past the last

// Rows of 94 codes (second byte A1-FE): AA-AF to U+E000 on, then F8-FE.
constexpr wchar_t kRows94Base = 0xE000;
constexpr wchar_t kRows94End = 0xE4C6;
// Rows of 96 codes (second byte 40-7E, 80-A0): A1-A7 to U+E4C6 on.
constexpr wchar_t kRows96End = 0xE766;

int Rows94Index(unsigned lead) {
  if (lead >= 0xAA && lead <= 0xAF) return static_cast<int>(lead - 0xAA);
  if (lead >= 0xF8 && lead <= 0xFE) return static_cast<int>(lead - 0xF8 + 6);
  return -1;
}

}  // namespace

namespace zqplatform {

wchar_t Cp936PrivateUseOf(unsigned char lead, unsigned char trail) {
  int row = Rows94Index(lead);
  if (row >= 0 && trail >= 0xA1 && trail <= 0xFE) {
    return static_cast<wchar_t>(kRows94Base + row * 94 + (trail - 0xA1));
  }
  if (lead >= 0xA1 && lead <= 0xA7 && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F) {
    int column = trail - 0x40 - (trail > 0x7F ? 1 : 0);
    return static_cast<wchar_t>(kRows94End + (lead - 0xA1) * 96 + column);
  }
  unsigned sequence = static_cast<unsigned>(lead) << 8 | trail;
  wchar_t code = kUnassignedBase;
  for (const Run& run : kUnassigned) {
    if (sequence >= run.first && sequence < run.first + run.count) {
      return static_cast<wchar_t>(code + (sequence - run.first));
    }
    code = static_cast<wchar_t>(code + run.count);
  }
  return 0;
}

bool Cp936SequenceOf(wchar_t code, unsigned char* lead, unsigned char* trail) {
  if (code >= kRows94Base && code < kRows94End) {
    int row = (code - kRows94Base) / 94;
    *lead = static_cast<unsigned char>(row < 6 ? 0xAA + row : 0xF8 + row - 6);
    *trail = static_cast<unsigned char>(0xA1 + (code - kRows94Base) % 94);
    return true;
  }
  if (code >= kRows94End && code < kRows96End) {
    int column = (code - kRows94End) % 96;
    *lead = static_cast<unsigned char>(0xA1 + (code - kRows94End) / 96);
    *trail = static_cast<unsigned char>(0x40 + column + (column >= 0x3F ? 1 : 0));
    return true;
  }
  if (code >= kUnassignedBase && code < kUnassignedEnd) {
    unsigned left = static_cast<unsigned>(code - kUnassignedBase);
    for (const Run& run : kUnassigned) {
      if (left < run.count) {
        unsigned sequence = run.first + left;
        *lead = static_cast<unsigned char>(sequence >> 8);
        *trail = static_cast<unsigned char>(sequence & 0xFF);
        return true;
      }
      left -= run.count;
    }
  }
  return false;
}

}  // namespace zqplatform
