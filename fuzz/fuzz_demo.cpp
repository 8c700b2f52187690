// Demo files: the header reader for versions 4, 5 and 6, then the data.
// Version 6: blocks walked forward (records and bodies read) and back again
// through the XOR chain, which must find the same blocks. Versions 4 and 5:
// snapshots read tick by tick.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/files.h"
#include "race/demo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataFile* file = data_open_memory(data, size, false, false);
  if (!file) return 0;
  DemoHeader header;
  if (!demo_header_read(file, &header)) {
    data_close(file);
    return 0;
  }
  if (header.data_start < 0 || (size_t)header.data_start > size) abort();
  DemoStream stream = {file, header.data_start};

  if (header.version >= 6) {
    std::vector<DemoBlock> blocks;
    DemoBlock block;
    while (blocks.size() < 4096 &&
           demo_block_next(&stream, header.data_start, blocks.empty() ? nullptr : &blocks.back(),
                           &block)) {
      bool whole;
      if (block.type == DEMO_BLOCK_STATES && block.length % DEMO_RECORD_BYTES == 0) {
        whole = true;
        DemoRecord record;
        for (uint32_t i = 0; whole && i < block.length / DEMO_RECORD_BYTES; i++)
          whole = demo_record_read(&stream, &record);
      } else {
        whole = demo_stream_skip(&stream, block.length);
      }
      if (!whole) break;
      blocks.push_back(block);
    }
    // Back from the last block: the chain must lead through the same blocks.
    for (size_t i = blocks.size(); i > 1; i--) {
      DemoBlock previous;
      if (!demo_block_previous(&stream, header.data_start, blocks[i - 1], &previous)) abort();
      if (previous.offset != blocks[i - 2].offset || previous.length != blocks[i - 2].length ||
          previous.tick != blocks[i - 2].tick)
        abort();
    }
    DemoBlock none;
    if (!blocks.empty() && demo_block_previous(&stream, header.data_start, blocks[0], &none))
      abort();
  } else {
    size_t bytes = header.version == 4 ? 26 : 39;
    uint8_t snapshot[39];
    for (int32_t tick = 0; tick < 100000; tick++) {
      bool ok = true;
      for (int32_t b = 0; ok && b < header.bike_count; b++)
        ok = demo_stream_read(&stream, snapshot, bytes);
      if (!ok || header.bike_count == 0) break;
    }
  }
  demo_header_free(&header);
  data_close(file);
  return 0;
}
