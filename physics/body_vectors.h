// Small conversions between the dynamics library's arrays and Vec3, shared by
// the bike physics modules.
#pragma once

#include <ode/ode.h>

#include "physics/contact_geometry.h"

// v clamped to lo..hi; NaN becomes lo.
inline double clampd(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}

inline Vec3 to_vec(const dReal* p) { return vec3(p[0], p[1], p[2]); }
inline Vec3 fvec(const float* p) { return vec3(p[0], p[1], p[2]); }
inline Vec3 body_position(dBodyID body) { return to_vec(dBodyGetPosition(body)); }
