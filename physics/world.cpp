#include "physics/world.h"

#include <cstdarg>
#include <cstdio>

#include "core/common.h"
#include "platform/log.h"

dWorldID physics_world = nullptr;
dJointGroupID contact_group = nullptr;

namespace {
bool ode_open = false;
int64_t ode_messages = 0;

// The dynamics library's warnings (for example a degenerate constraint
// system in one step) go to the log, not to standard error: the first ones
// in full, then one line per 1024 with the count.
void ode_message(int num, const char* msg, va_list ap) {
  ode_messages++;
  if (ode_messages > 16 && ode_messages % 1024 != 0) return;
  char text[256];
  vsnprintf(text, sizeof text, msg, ap);
  log_printf("Physics message %d (%lld so far): %s\n", num, (long long)ode_messages, text);
}
}  // namespace

int64_t physics_message_count() { return ode_messages; }

bool physics_world_create() {
  if (physics_world && contact_group) return true;
  if (!ode_open) {
    if (!dInitODE2(0)) {
      log_printf("Physics library could not be initialised\n");
      return false;
    }
    ode_open = true;
    dSetMessageHandler(ode_message);
  }
  if (!physics_world) physics_world = dWorldCreate();
  if (!physics_world) {
    log_printf("Physics world could not be created\n");
    return false;
  }
  dWorldSetGravity(physics_world, 0, WORLD_GRAVITY_Y, 0);
  if (!contact_group) contact_group = dJointGroupCreate(0);
  if (!contact_group) {
    log_printf("Physics contact group could not be created\n");
    dWorldDestroy(physics_world);
    physics_world = nullptr;
    return false;
  }
  return true;
}

void physics_world_destroy() {
  if (contact_group) dJointGroupDestroy(contact_group);
  contact_group = nullptr;
  if (physics_world) dWorldDestroy(physics_world);
  physics_world = nullptr;
  if (ode_open) dCloseODE();
  ode_open = false;
}

void physics_world_step() {
  if (!physics_world) return;
  dWorldStep(physics_world, TICK_SECONDS);
  if (contact_group) dJointGroupEmpty(contact_group);
}
