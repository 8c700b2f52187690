// Packs generated files into a ".saf" archive: a text header of
// "<size> <name>\n" lines ended by "-\n", then the members back to back.
// Members that compress well are stored gzip-compressed under their name
// with ".gz" appended (the file layer inflates them when opened); pictures
// that are already compressed (PNG) are stored as they are. The gzip header
// is fixed (no time stamp, no name), so the archive is the same on every run.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/mem.h"
#include "tools/datagen.h"

namespace {

struct Member {
  char name[256];
  uint8_t* data;
  size_t size;
};

bool read_whole(const char* path, uint8_t** data, size_t* size) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  fseek(f, 0, SEEK_END);
  long n = ftell(f);
  fseek(f, 0, SEEK_SET);
  *data = (uint8_t*)mem_alloc(n > 0 ? (size_t)n : 1);
  bool ok = *data && n >= 0 && fread(*data, 1, (size_t)n, f) == (size_t)n;
  fclose(f);
  *size = ok ? (size_t)n : 0;
  return ok;
}

void put_le32(uint8_t* p, uint32_t v) {
  p[0] = v & 255, p[1] = (v >> 8) & 255, p[2] = (v >> 16) & 255, p[3] = v >> 24;
}

bool ends_with(const char* s, const char* tail) {
  size_t n = strlen(s), t = strlen(tail);
  return n >= t && strcmp(s + n - t, tail) == 0;
}

}  // namespace

// gzip stream of data (fixed header, best compression). mem_alloc'd result.
bool dg_gzip(const uint8_t* data, size_t size, uint8_t** out, size_t* out_size) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  size_t bound = deflateBound(&z, (uLong)size) + 18;
  uint8_t* buf = (uint8_t*)mem_alloc(bound);
  if (!buf) {
    deflateEnd(&z);
    return false;
  }
  const uint8_t header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
  memcpy(buf, header, 10);
  z.next_in = (Bytef*)data;
  z.avail_in = (uInt)size;
  z.next_out = buf + 10;
  z.avail_out = (uInt)(bound - 18);
  int rc = deflate(&z, Z_FINISH);
  size_t body = z.total_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END) {
    mem_free(buf);
    return false;
  }
  put_le32(buf + 10 + body, (uint32_t)crc32(crc32(0, nullptr, 0), data, (uInt)size));
  put_le32(buf + 14 + body, (uint32_t)size);
  *out = buf;
  *out_size = body + 18;
  return true;
}

// Packs the files named by assets (names as in datagen.h, relative to
// out_dir) into out_dir + archive, in the given order, then removes the
// loose files. False when a file is missing or the archive can't be written.
bool dg_pack(const char* out_dir, const char* archive, const char* const* assets, int32_t count) {
  Member* members = (Member*)mem_alloc_zeroed((size_t)(count > 0 ? count : 1), sizeof(Member));
  if (!members) return false;
  bool ok = true;
  char path[4200];
  for (int32_t i = 0; ok && i < count; i++) {
    const char* name = dg_file(assets[i]);
    snprintf(path, sizeof path, "%s%s", out_dir, name);
    uint8_t* raw = nullptr;
    size_t raw_size = 0;
    if (!read_whole(path, &raw, &raw_size)) {
      fprintf(stderr, "rt_datagen: can't read %s for %s\n", path, archive);
      mem_free(raw);
      ok = false;
      break;
    }
    if (ends_with(name, ".png")) {
      snprintf(members[i].name, sizeof members[i].name, "%s", name);
      members[i].data = raw;
      members[i].size = raw_size;
    } else {
      snprintf(members[i].name, sizeof members[i].name, "%s.gz", name);
      ok = dg_gzip(raw, raw_size, &members[i].data, &members[i].size);
      mem_free(raw);
    }
  }
  if (ok) {
    snprintf(path, sizeof path, "%s%s", out_dir, archive);
    FILE* f = fopen(path, "wb");
    ok = f != nullptr;
    if (f) {
      for (int32_t i = 0; i < count; i++) fprintf(f, "%zu %s\n", members[i].size, members[i].name);
      fputs("-\n", f);
      for (int32_t i = 0; i < count; i++)
        if (fwrite(members[i].data, 1, members[i].size, f) != members[i].size) ok = false;
      ok = fclose(f) == 0 && ok;
    }
    if (!ok) fprintf(stderr, "rt_datagen: can't write %s\n", path);
  }
  for (int32_t i = 0; ok && i < count; i++) {
    snprintf(path, sizeof path, "%s%s", out_dir, dg_file(assets[i]));
    remove(path);
  }
  for (int32_t i = 0; i < count; i++) mem_free(members[i].data);
  mem_free(members);
  return ok;
}
