// Fuzzes the ".saf" archive header reader over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  GrowArray<SafMember> members;
  if (saf_read_header(f, &members)) {
    uint64_t end_of_header = (uint64_t)f->position;
    for (int32_t i = 0; i < members.count; i++) {
      const SafMember& m = members.data[i];
      // Members lie after the header, back to back, with names free of "//".
      if (m.offset < end_of_header || (uint64_t)m.offset + m.size > UINT32_MAX) __builtin_trap();
      if (!m.name || !*m.name || strstr(m.name, "//")) __builtin_trap();
    }
  } else if (members.count != 0 || members.data) {
    __builtin_trap();
  }
  saf_members_free(&members);
  data_close(f);
  return 0;
}
