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

// Body point p (body coordinates) in the world; nullptr is the static world.
inline Vec3 body_point(dBodyID body, Vec3 p) {
  if (!body) return p;
  dVector3 w;
  dBodyGetRelPointPos(body, p.x, p.y, p.z, w);
  return to_vec(w);
}
// Velocity of the body at world point p; nullptr (static) does not move.
inline Vec3 point_velocity(dBodyID body, Vec3 p) {
  if (!body) return vec3(0, 0, 0);
  dVector3 v;
  dBodyGetPointVel(body, p.x, p.y, p.z, v);
  return to_vec(v);
}
// Column c of a body's rotation: its own axis c in world coordinates.
inline Vec3 body_axis(dBodyID body, int c) {
  const dReal* r = dBodyGetRotation(body);
  return vec3(r[c], r[4 + c], r[8 + c]);
}
inline Vec3 to_world(dBodyID body, Vec3 v) {
  dVector3 out;
  dBodyVectorToWorld(body, v.x, v.y, v.z, out);
  return to_vec(out);
}
inline Vec3 from_world(dBodyID body, Vec3 v) {
  dVector3 out;
  dBodyVectorFromWorld(body, v.x, v.y, v.z, out);
  return to_vec(out);
}
