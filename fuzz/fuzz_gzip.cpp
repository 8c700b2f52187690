// Fuzzes the gzip header parser and the inflating reader through a DataFile
// over memory. The first byte picks the variant: bit 0 scrambles the input
// (so the descrambler runs), bit 1 puts a valid gzip header in front of the
// rest (so the inflater sees data quickly), bits 2-3 pick the reading calls.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/files.h"
#include "core/scramble.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t mode = data[0];
  data++;
  size--;
  static const uint8_t HEADER[10] = {31, 139, 8, 0, 0, 0, 0, 0, 0, 3};
  bool add_header = mode & 2;
  size_t total = size + (add_header ? sizeof HEADER : 0);
  uint8_t* bytes = (uint8_t*)mem_alloc(total ? total : 1);
  if (!bytes) return 0;
  if (add_header) memcpy(bytes, HEADER, sizeof HEADER);
  if (size) memcpy(bytes + (add_header ? sizeof HEADER : 0), data, size);
  bool scrambled = mode & 1;
  if (scrambled) {
    // Store the scrambled form so descrambling gives back the bytes built above.
    ScrambleStream s;
    scramble_start(&s);
    scramble_apply(&s, bytes, total);
  }
  DataFile* f = data_open_memory(bytes, total, true, scrambled);
  mem_free(bytes);
  if (!f) return 0;
  char line[97];
  uint8_t block[1500];
  size_t produced = 0;
  for (int step = 0;; step++) {
    int how = ((mode >> 2) + step) & 3;
    if (how == 0) {
      int c = data_getc(f);
      if (c == EOF) break;
      if (c < 0 || c > 255) __builtin_trap();
      produced++;
    } else if (how == 1) {
      char* got = data_read_line(f, line, sizeof line);
      if (!got) break;
      size_t len = strnlen(line, sizeof line);
      if (len >= sizeof line) __builtin_trap();
      produced += len;
    } else if (how == 2) {
      size_t got = data_read(f, block, sizeof block);
      if (got > sizeof block) __builtin_trap();
      if (got == 0) break;
      produced += got;
    } else {
      int a = data_peek(f);
      int b = data_peek(f);
      if (a != b) __builtin_trap();
      if (a == EOF) break;
      if (data_getc(f) != a) __builtin_trap();
      produced++;
    }
    if (produced > (64u << 20)) break;  // keep zip bombs short
  }
  if (data_getc(f) != EOF) __builtin_trap();
  data_close(f);
  return 0;
}
