// Generated statue models in the ".jm" text format (version 1): hay bale,
// tuff block, tire stack, sign board and the starting gate.
//
// Units are feet; y is up and the origin is on the ground at the object's
// centre. Texture v is written with 1 at the top of the picture.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/mem.h"
#include "tools/datagen.h"

// Shared with the shape writer: the starting gate's geometry. The gate
// statue turns about its first axis through its origin, which lies on the
// ground this far in front of the riders' front wheels' row; raised, the plate
// stands upright across the grid place, lowered it lies turned down into the
// ground by the drop angle.
extern const float DG_GATE_DROP_ANGLE = 0.5890486f;  // 3/16 of a half turn
extern const float DG_GATE_PLATE_Z = 3.0f;           // raised plate, towards the riders (+z)
extern const float DG_GATE_PLATE_HEIGHT = 1.7f;
extern const float DG_GATE_HALF_WIDTH = 1.4f;

// The gate as modelled: a raised-state point (y, z) turned down into the
// lowered (modelled) state.
void dg_gate_lower(float y, float z, float* out_y, float* out_z) {
  float c = cosf(DG_GATE_DROP_ANGLE), s = sinf(DG_GATE_DROP_ANGLE);
  *out_y = c * y - s * z;
  *out_z = s * y + c * z;
}

namespace {

struct Vertex {
  float p[3], n[3], uv[2];
};
struct Tri {
  int32_t v[3];
};

struct Mesh {
  float shininess;
  float color[3];
  GrowArray<Vertex> verts;
  GrowArray<Tri> tris;
};

void mesh_init(Mesh* m, float shininess, float r, float g, float b) {
  m->shininess = shininess;
  m->color[0] = r, m->color[1] = g, m->color[2] = b;
  m->verts = GrowArray<Vertex>();
  m->tris = GrowArray<Tri>();
}

void mesh_free(Mesh* m) {
  grow_free(m->verts);
  grow_free(m->tris);
}

int32_t add_vertex(Mesh* m, const float p[3], const float n[3], float u, float v) {
  Vertex vx = {{p[0], p[1], p[2]}, {n[0], n[1], n[2]}, {u, v}};
  grow_push(m->verts, vx);
  return m->verts.count - 1;
}

// Adds a triangle wound counter-clockwise seen from the side its vertex
// normals point to.
void add_tri(Mesh* m, int32_t a, int32_t b, int32_t c) {
  const Vertex* A = &m->verts.data[a];
  const Vertex* B = &m->verts.data[b];
  const Vertex* C = &m->verts.data[c];
  float e1[3], e2[3], cr[3];
  for (int k = 0; k < 3; k++) e1[k] = B->p[k] - A->p[k], e2[k] = C->p[k] - A->p[k];
  cr[0] = e1[1] * e2[2] - e1[2] * e2[1];
  cr[1] = e1[2] * e2[0] - e1[0] * e2[2];
  cr[2] = e1[0] * e2[1] - e1[1] * e2[0];
  float dot = 0;
  for (int k = 0; k < 3; k++) dot += cr[k] * (A->n[k] + B->n[k] + C->n[k]);
  Tri t = dot >= 0 ? Tri{{a, b, c}} : Tri{{a, c, b}};
  grow_push(m->tris, t);
}

// A flat quad p0 p1 p2 p3 (in order around it) facing n; uv per corner.
void add_quad(Mesh* m, const float p[4][3], const float n[3], const float uv[4][2]) {
  int32_t i[4];
  for (int k = 0; k < 4; k++) i[k] = add_vertex(m, p[k], n, uv[k][0], uv[k][1]);
  add_tri(m, i[0], i[1], i[2]);
  add_tri(m, i[0], i[2], i[3]);
}

// Texture rectangle for box faces: u0..u1, v0..v1 (v from the top).
struct UvRect {
  float u0, v0, u1, v1;
};

// An axis-aligned box; `side` maps onto the four upright faces, `cap` on top
// and bottom.
void add_box(Mesh* m, float x0, float y0, float z0, float x1, float y1, float z1, UvRect side,
             UvRect cap) {
  const float X[2] = {x0, x1}, Y[2] = {y0, y1}, Z[2] = {z0, z1};
  for (int axis = 0; axis < 3; axis++)
    for (int hi = 0; hi < 2; hi++) {
      float n[3] = {0, 0, 0};
      n[axis] = hi ? 1.0f : -1.0f;
      float p[4][3];
      // The face's two free axes: a runs along u, b along v.
      int a = axis == 0 ? 2 : 0, b = axis == 1 ? 2 : 1;
      const float* A = a == 0 ? X : a == 1 ? Y : Z;
      const float* B = b == 0 ? X : b == 1 ? Y : Z;
      const float corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
      float uv[4][2];
      UvRect r = axis == 1 ? cap : side;
      for (int k = 0; k < 4; k++) {
        float fa = corner[k][0], fb = corner[k][1];
        p[k][axis] = hi ? (axis == 0   ? x1
                           : axis == 1 ? y1
                                       : z1)
                        : (axis == 0   ? x0
                           : axis == 1 ? y0
                                       : z0);
        p[k][a] = A[(int)fa];
        p[k][b] = B[(int)fb];
        uv[k][0] = r.u0 + (r.u1 - r.u0) * fa;
        // Upright faces: the top of the box at the top of the picture.
        uv[k][1] = axis == 1 ? r.v0 + (r.v1 - r.v0) * fb : r.v1 + (r.v0 - r.v1) * fb;
      }
      add_quad(m, p, n, uv);
    }
}

// A torus about the y axis: ring radius R, tube radius r, centre height y.
void add_torus(Mesh* m, float R, float r, float y, int32_t ring_steps, int32_t tube_steps) {
  const float PI = 3.14159265358979f;
  int32_t first = m->verts.count;
  for (int32_t i = 0; i <= ring_steps; i++) {
    float t = 2 * PI * i / ring_steps;
    for (int32_t j = 0; j <= tube_steps; j++) {
      float f = 2 * PI * j / tube_steps;
      float n[3] = {cosf(t) * cosf(f), sinf(f), sinf(t) * cosf(f)};
      float p[3] = {cosf(t) * (R + r * cosf(f)), y + r * sinf(f), sinf(t) * (R + r * cosf(f))};
      add_vertex(m, p, n, 4.0f * i / ring_steps, 0.1f + 0.8f * j / tube_steps);
    }
  }
  int32_t row = tube_steps + 1;
  for (int32_t i = 0; i < ring_steps; i++)
    for (int32_t j = 0; j < tube_steps; j++) {
      int32_t a = first + i * row + j, b = a + row, c = b + 1, d = a + 1;
      add_tri(m, a, b, c);
      add_tri(m, a, c, d);
    }
}

bool write_model(const char* out_dir, const char* asset, Mesh* meshes, int32_t count) {
  FILE* f = dg_create(out_dir, dg_file(asset));
  if (!f) return false;
  fprintf(f, "JM1\n");
  for (int32_t i = 0; i < count; i++) {
    Mesh* m = &meshes[i];
    fprintf(f, "%.4f 1.0 %.4f %.4f %.4f %d %d\n", m->shininess, m->color[0], m->color[1],
            m->color[2], m->verts.count, m->tris.count);
    for (int32_t k = 0; k < m->verts.count; k++) {
      const Vertex* v = &m->verts.data[k];
      // Texture v is written flipped: the reader stores 1 - v.
      fprintf(f, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", v->p[0], v->p[1], v->p[2], v->n[0],
              v->n[1], v->n[2], v->uv[0], 1.0f - v->uv[1]);
    }
    for (int32_t k = 0; k < m->tris.count; k++)
      fprintf(f, "%d %d %d\n", m->tris.data[k].v[0], m->tris.data[k].v[1], m->tris.data[k].v[2]);
  }
  bool ok = fclose(f) == 0;
  for (int32_t i = 0; i < count; i++) mesh_free(&meshes[i]);
  return ok;
}

bool haybale(const char* dir) {
  Mesh m;
  mesh_init(&m, 4, 0.1f, 0.1f, 0.08f);
  add_box(&m, -1.75f, 0, -0.9f, 1.75f, 1.4f, 0.9f, UvRect{0, 0, 1, 1}, UvRect{0, 0, 1, 0.5f});
  return write_model(dir, DG_HAYBALE_MODEL, &m, 1);
}

bool tuffblock(const char* dir) {
  Mesh m;
  mesh_init(&m, 24, 0.3f, 0.3f, 0.3f);
  add_box(&m, -2, 0, -0.6f, 2, 1.5f, 0.6f, UvRect{0, 0, 1, 1}, UvRect{0, 0, 1, 0.3f});
  return write_model(dir, DG_TUFFBLOCK_MODEL, &m, 1);
}

bool tire_stack(const char* dir) {
  Mesh m;
  mesh_init(&m, 8, 0.15f, 0.15f, 0.15f);
  for (int k = 0; k < TIRE_LAYERS; k++) add_torus(&m, 0.75f, 0.3f, 0.3f + 0.6f * k, 24, 10);
  return write_model(dir, DG_TIRE_MODEL, &m, 1);
}

bool sign(const char* dir) {
  Mesh m;
  mesh_init(&m, 16, 0.2f, 0.2f, 0.2f);
  // The board faces +z (towards the camera once turned); its back shows the
  // picture mirrored so the lettering reads from behind too.
  UvRect black = {0.005f, 0.005f, 0.015f, 0.015f};
  add_box(&m, -1.7f, 0, -0.1f, -1.5f, 3.2f, 0.1f, black, black);
  add_box(&m, 1.5f, 0, -0.1f, 1.7f, 3.2f, 0.1f, black, black);
  float front[4][3] = {{-2, 3, 0.12f}, {2, 3, 0.12f}, {2, 5, 0.12f}, {-2, 5, 0.12f}};
  float back[4][3] = {{2, 3, -0.12f}, {-2, 3, -0.12f}, {-2, 5, -0.12f}, {2, 5, -0.12f}};
  const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  float nf[3] = {0, 0, 1}, nb[3] = {0, 0, -1};
  add_quad(&m, front, nf, uv);
  add_quad(&m, back, nb, uv);
  // Board edges.
  add_box(&m, -2, 2.95f, -0.11f, 2, 3, 0.11f, black, black);
  add_box(&m, -2, 5, -0.11f, 2, 5.05f, 0.11f, black, black);
  return write_model(dir, DG_SIGN_MODEL, &m, 1);
}

// A box given in the raised gate's frame, turned down into the model.
void add_gate_box(Mesh* m, float x0, float y0, float z0, float x1, float y1, float z1, UvRect side,
                  UvRect cap) {
  int32_t first = m->verts.count;
  add_box(m, x0, y0, z0, x1, y1, z1, side, cap);
  for (int32_t k = first; k < m->verts.count; k++) {
    Vertex* v = &m->verts.data[k];
    dg_gate_lower(v->p[1], v->p[2], &v->p[1], &v->p[2]);
    dg_gate_lower(v->n[1], v->n[2], &v->n[1], &v->n[2]);
  }
}

bool startgate(const char* dir) {
  Mesh meshes[2];
  // The plate with its two arms, turning about the pivot beam.
  Mesh* plate = &meshes[0];
  mesh_init(plate, 32, 0.5f, 0.5f, 0.5f);
  float w = DG_GATE_HALF_WIDTH, z = DG_GATE_PLATE_Z;
  add_gate_box(plate, -w, 0, z - 0.05f, w, DG_GATE_PLATE_HEIGHT, z + 0.05f, UvRect{0, 0, 1, 1},
               UvRect{0, 0, 1, 0.05f});
  for (int side = -1; side <= 1; side += 2) {
    float x = side * (w - 0.15f);
    add_gate_box(plate, x - 0.08f, 0, 0.2f, x + 0.08f, 0.15f, z - 0.05f,
                 UvRect{0.0f, 0.0f, 0.2f, 0.15f}, UvRect{0.0f, 0.0f, 0.2f, 0.15f});
  }
  // The pivot beam on the ground.
  Mesh* beam = &meshes[1];
  mesh_init(beam, 48, 0.6f, 0.6f, 0.6f);
  add_box(beam, -w - 0.1f, 0, -0.2f, w + 0.1f, 0.3f, 0.2f, UvRect{0, 0.02f, 1, 0.15f},
          UvRect{0, 0.02f, 1, 0.15f});
  return write_model(dir, DG_STARTGATE_MODEL, meshes, 2);
}

}  // namespace

bool datagen_models(const char* out_dir) {
  return haybale(out_dir) && tuffblock(out_dir) && tire_stack(out_dir) && sign(out_dir) &&
         startgate(out_dir);
}
