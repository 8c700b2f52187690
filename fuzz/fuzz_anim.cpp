// Fuzzes the "ANIM1" sequence reader and the animation stepping. "PNG" frame
// lines name files: the file layer points at an empty temporary home and game
// directory, so they simply fail to open.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/messages.h"
#include "render/texture.h"

namespace {

void use_empty_directories() {
  static bool done = false;
  if (done) return;
  done = true;
  char tmpl[] = "/tmp/rt_fuzz_anim_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (!dir) dir = "/nonexistent-rt-fuzz";
  setenv("RT_HOME", dir, 1);
  setenv("XDG_DATA_HOME", dir, 1);
  file_list_free();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  use_empty_directories();
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  Texture record;
  uint32_t id = texture_anim_load(f, "fuzz.seq", 1, false, false, &record);
  data_close(f);
  if (id) {
    if (record.id != id || record.width <= 0 || record.height <= 0 || texture_anim_frame(id) < 0)
      __builtin_trap();
    texture_anim_restart(id, 3);
    static const int32_t TICKS[] = {0, 1, 7, 100, 100000, -5, 2147483647, -2147483647 - 1};
    for (int32_t tick : TICKS) {
      textures_animate(tick);
      if (texture_anim_frame(id) < 0) __builtin_trap();
    }
    texture_anim_pause(id);
    textures_animate(12);
    texture_unload(id, record.memory);
  }
  f = data_open_memory(data, size, false, false);
  MipChain chain;
  if (texture_anim_first_frame(f, "fuzz.seq", 0, &chain)) mip_chain_free(&chain);
  data_close(f);
  // Animations whose texture is not recorded are dropped here.
  texture_anims_purge(false);
  message_history_clear(message_history);
  return 0;
}
