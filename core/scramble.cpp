// Scrambled data files: a position-dependent XOR key stream (see scramble.h).
#include "core/scramble.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/mem.h"

void scramble_start(ScrambleStream* stream) { stream->state = SCRAMBLE_SEED; }

void scramble_apply(ScrambleStream* stream, uint8_t* bytes, size_t count) {
  uint32_t s = stream->state;
  for (size_t i = 0; i < count; i++) {
    s = s * 1664525u + 1013904223u;
    bytes[i] ^= (uint8_t)(s >> 24);
  }
  stream->state = s;
}

bool scramble_file(const char* in_path, const char* out_path) {
  if (!in_path || !out_path) return false;
  FILE* in = fopen(in_path, "rb");
  if (!in) return false;
  // Writing onto the input would truncate it before it is read.
  struct stat in_stat, out_stat;
  if (fstat(fileno(in), &in_stat) == 0 && stat(out_path, &out_stat) == 0 &&
      in_stat.st_dev == out_stat.st_dev && in_stat.st_ino == out_stat.st_ino) {
    fclose(in);
    return false;
  }
  FILE* out = fopen(out_path, "wb");
  if (!out) {
    fclose(in);
    return false;
  }
  const size_t block = 64 * 1024;
  uint8_t* buffer = (uint8_t*)mem_alloc(block);
  bool ok = buffer != nullptr;
  ScrambleStream stream;
  scramble_start(&stream);
  while (ok) {
    size_t got = fread(buffer, 1, block, in);
    if (got == 0) {
      ok = !ferror(in);
      break;
    }
    scramble_apply(&stream, buffer, got);
    if (fwrite(buffer, 1, got, out) != got) ok = false;
  }
  mem_free(buffer);
  fclose(in);
  if (fclose(out) != 0) ok = false;
  if (!ok) remove(out_path);
  return ok;
}
