#include "HttpDate.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool ParseNumber(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 9) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

int MonthIndex(const std::string& text) {
  for (int i = 0; i < 12; ++i) {
    if (text.size() == 3 && std::tolower(static_cast<unsigned char>(text[0])) ==
                                std::tolower(static_cast<unsigned char>(kMonths[i][0])) &&
        std::tolower(static_cast<unsigned char>(text[1])) == kMonths[i][1] &&
        std::tolower(static_cast<unsigned char>(text[2])) == kMonths[i][2]) {
      return i + 1;
    }
  }
  return 0;
}

bool ParseClock(const std::string& text, int64_t* h, int64_t* m, int64_t* s) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  return ParseNumber(text.substr(0, 2), h) && ParseNumber(text.substr(3, 2), m) &&
         ParseNumber(text.substr(6, 2), s) && *h < 24 && *m < 60 && *s < 61;
}

bool IsAlphaWord(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string FormatHttpDate(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, 86400);
  const int64_t rest = seconds - days * 86400;
  int64_t year;
  int month, day;
  CivilFromDays(days, &year, &month, &day);
  const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", kWeekdays[weekday],
                day, kMonths[month - 1], static_cast<long long>(year),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

bool ParseHttpDate(std::string_view text, int64_t* seconds) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ',' || c == '-') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  size_t i = 0;
  if (i < tokens.size() && IsAlphaWord(tokens[i]) && MonthIndex(tokens[i]) == 0) ++i;  // weekday
  if (tokens.size() - i < 4) return false;
  int64_t year, month, day, h, m, s;
  if (MonthIndex(tokens[i]) != 0) {
    // asctime: Mon D HH:MM:SS YYYY
    month = MonthIndex(tokens[i]);
    if (tokens.size() - i != 4) return false;
    if (!ParseNumber(tokens[i + 1], &day) || !ParseClock(tokens[i + 2], &h, &m, &s) ||
        !ParseNumber(tokens[i + 3], &year) || tokens[i + 3].size() != 4) {
      return false;
    }
  } else {
    // RFC 1123 / RFC 850: D Mon Y HH:MM:SS GMT
    if (tokens.size() - i != 5 || tokens[i + 4] != "GMT") return false;
    month = MonthIndex(tokens[i + 1]);
    if (month == 0 || !ParseNumber(tokens[i], &day) || tokens[i].size() > 2 ||
        !ParseNumber(tokens[i + 2], &year) || !ParseClock(tokens[i + 3], &h, &m, &s)) {
      return false;
    }
    if (tokens[i + 2].size() == 2) {
      year += year < 70 ? 2000 : 1900;
    } else if (tokens[i + 2].size() != 4) {
      return false;
    }
  }
  if (day < 1 || day > 31) return false;
  *seconds = DaysFromCivil(year, month, day) * 86400 + h * 3600 + m * 60 + s;
  return true;
}

std::string FormatLocalTime(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return "1970-01-01 00:00:00";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
