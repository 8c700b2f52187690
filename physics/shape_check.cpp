// The start-up check of the seven stock collision shapes: one RIPEMD-160
// digest over their contents, compared with the accepted digests. The race
// server client refuses to connect when the shapes are not stock
// (`stock_shapes_ok` 0), since every client must collide the same way.
#include <nettle/ripemd160.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/subsystems.h"

int32_t stock_shapes_ok = 0;

namespace {

const char* const STOCK_SHAPES[7] = {
    "@generic_frame.shp",    "@generic_fork_upper.shp", "@generic_fork_lower.shp",
    "@generic_swingarm.shp", "@front_wheel.shp",        "@rear_wheel.shp",
    "@generic_rider.shp",
};

const char* const ACCEPTED_DIGESTS[] = {
    "ee2bd2db0c54d7bd8fc462236101c0e504397245",
    "b415fe951efef9ad61196884906535c832dbc6f4",
    "c3a9426047a7a18c235dae0208b6f22a206890a3",
    // The stock shapes this project's data generator writes.
    "c2986bc58c328d123e20ad8714c8553eb5ab8654",
};

}  // namespace

// The digest over the seven files in order, as 40 lower-case hex digits;
// files that cannot be opened are skipped.
void stock_shapes_digest(char out[41]) {
  struct ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  uint8_t buf[1024];
  for (const char* name : STOCK_SHAPES) {
    DataFile* file = data_open(name, "rb");
    if (!file) continue;
    size_t got;
    while ((got = data_read(file, buf, sizeof buf)) > 0) ripemd160_update(&ctx, got, buf);
    data_close(file);
  }
  uint8_t digest[RIPEMD160_DIGEST_SIZE];
  ripemd160_digest(&ctx, sizeof digest, digest);
  for (int32_t i = 0; i < RIPEMD160_DIGEST_SIZE; i++) snprintf(out + 2 * i, 3, "%02x", digest[i]);
}

bool check_shape_digests() {
  char hex[41];
  stock_shapes_digest(hex);
  stock_shapes_ok = 0;
  for (const char* accepted : ACCEPTED_DIGESTS)
    if (strcmp(hex, accepted) == 0) stock_shapes_ok = 1;
  return stock_shapes_ok != 0;
}
