// Fuzzes data_scanf: fixed formats the game's readers use, and formats built
// from the input's first bytes out of safe pieces (every %s, %c and %[ has a
// width below the 64-byte destinations, so a legitimate call cannot overflow).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/files.h"

namespace {

constexpr int SLOTS = 8;

struct Destinations {
  alignas(16) unsigned char slot[SLOTS][64];
};

int scan(const uint8_t* data, size_t size, const char* format, Destinations* d) {
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  int r = data_scanf(f, format, d->slot[0], d->slot[1], d->slot[2], d->slot[3], d->slot[4],
                     d->slot[5], d->slot[6], d->slot[7]);
  if (r < -1 || r > SLOTS) __builtin_trap();
  // The stream stays usable after any outcome.
  while (data_getc(f) != EOF) {
  }
  data_close(f);
  return r;
}

const char* const FIXED[] = {
    "%d %d %d",      "%f %lf %Lf",
    "%63s %63[^\n]", " #%*[^\n]%n",
    "%i%n%x%o%u",    "%hhd %hd %ld %lld %jd %zd %td %qd",
    "%e %g %a %E",   "%5c%*d%10[a-z0-9]%%%n",
    "v%d.%d %63s",
};

// Conversions that take at most one destination of 64 bytes.
const char* const PIECES[] = {
    "%d",   "%i",       "%o",     "%u",      "%x",     "%X",       "%hhd", "%hd",     "%ld", "%lld",
    "%jd",  "%zu",      "%td",    "%qd",     "%Lf",    "%f",       "%lf",  "%e",      "%g",  "%a",
    "%E",   "%3d",      "%1i",    "%2x",     "%4f",    "%63s",     "%1s",  "%5s",     "%c",  "%7c",
    "%63c", "%n",       "%hhn",   "%lln",    "%*d",    "%*s",      "%*c",  "%*[^\n]", "%%",  " ",
    "%*f",  "%63[a-z]", "%9[^ ]", "%5[]x-]", "%3[-a]", "%*2[0-9]", "%y",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Destinations d;
  for (const char* format : FIXED) scan(data, size, format, &d);
  if (size < 2) return 0;

  // Format from the input: its first byte says how many format bytes follow.
  size_t format_bytes = data[0] % 16;
  if (format_bytes > size - 1) format_bytes = size - 1;
  char format[16 * 20 + 1];
  size_t len = 0;
  int conversions = 0;
  for (size_t i = 1; i <= format_bytes; i++) {
    uint8_t b = data[i];
    const char* piece;
    char literal[2] = {0, 0};
    if (b & 0x80) {
      // A literal character; never '%' so it cannot start a conversion.
      literal[0] = (char)(b & 0x7f);
      if (literal[0] == '%' || literal[0] == 0) literal[0] = 'L';
      piece = literal;
    } else {
      piece = PIECES[b % (sizeof PIECES / sizeof PIECES[0])];
      if (piece[0] == '%' && piece[1] != '%' && ++conversions > SLOTS) break;
    }
    size_t plen = strlen(piece);
    if (len + plen >= sizeof format) break;
    memcpy(format + len, piece, plen);
    len += plen;
  }
  format[len] = 0;
  const uint8_t* input = data + 1 + format_bytes;
  size_t input_size = size - 1 - format_bytes;
  memset(&d, 0x5a, sizeof d);
  int got = scan(input, input_size, format, &d);

  // Differential check against the C library on text without NUL bytes and
  // formats it understands: same count, same bytes in every destination.
  if (memchr(input, 0, input_size) || strstr(format, "%y")) return 0;
  char* text = (char*)mem_alloc(input_size + 1);
  if (!text) return 0;
  memcpy(text, input, input_size);
  text[input_size] = 0;
  Destinations expected;
  memset(&expected, 0x5a, sizeof expected);
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
  int want =
      sscanf(text, format, expected.slot[0], expected.slot[1], expected.slot[2], expected.slot[3],
             expected.slot[4], expected.slot[5], expected.slot[6], expected.slot[7]);
#pragma clang diagnostic pop
  mem_free(text);
  if (got != want || memcmp(&expected, &d, sizeof d) != 0) __builtin_trap();
  return 0;
}
