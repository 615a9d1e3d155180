/* Writes cp936_windows.txt: code page 936 as Windows converts it, one sequence at a time.
 * Built with mingw-w64 and run once under Wine (LANG=zh_CN.UTF-8):
 *
 *   i686-w64-mingw32-gcc -o cp936_windows.exe cp936_windows.c
 *   wine cp936_windows.exe | tr -d '\r' > cp936_windows.txt
 *
 * Each sequence goes through MultiByteToWideChar(936, MB_ERR_INVALID_CHARS) alone: every
 * single byte, and every lead byte 81-FE followed by every trail byte 40-FE (24,322
 * sequences). A line is the first byte ("--" for the line of single bytes), then one field
 * per sequence: the UTF-16 code units in hex (joined by "+" if more than one), or "----"
 * when Windows refuses the sequence. Every code given is also checked to convert back to
 * its sequence with WideCharToMultiByte(936, 0) without the default character; a line
 * "# not reversible" would say otherwise. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static int irreversible;

static void Field(const char* bytes, int length) {
  WCHAR wide[8];
  char back[8];
  BOOL usedDefault = FALSE;
  int units = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, length, wide, 8);
  if (units <= 0) {
    printf(" ----");
    return;
  }
  printf(" ");
  for (int i = 0; i < units; ++i) printf(i ? "+%04X" : "%04X", (unsigned)wide[i]);
  if (WideCharToMultiByte(936, 0, wide, units, back, 8, NULL, &usedDefault) != length ||
      memcmp(back, bytes, (size_t)length) != 0 || usedDefault) {
    ++irreversible;
  }
}

int main(void) {
  printf("# Code page 936 as Windows converts it (made by cp936_windows.c under Wine).\n");
  printf("--");
  for (int b = 0; b < 256; ++b) {
    char c = (char)b;
    Field(&c, 1);
  }
  printf("\n");
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    printf("%02X", lead);
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      char pair[2] = {(char)lead, (char)trail};
      Field(pair, 2);
    }
    printf("\n");
  }
  if (irreversible) printf("# not reversible: %d codes\n", irreversible);
  return 0;
}
