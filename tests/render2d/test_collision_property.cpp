// Random pairs of small images with random alpha, placement, rotation and
// scale: ImagesOverlap and ImagesOverlapTransformed must agree with a brute
// force reference that maps every screen row of both quads on its own.
//
// The reference works row by row and quad by quad, with no scan state and
// no active list: for row y it finds each side's edge by walking the
// corners from the top one, and takes the edge values as the start value
// half a row past the edge's first vertex plus one step per row since then
// (added one at a time, as float sums are not associative). Along the row
// it samples both quads at every pixel of their common span.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "render2d/collision.h"
#include "tests/render2d/test_image_support.h"

namespace {

struct Corner {
  Float x, y, u, v;
};

struct Placed {
  Corner c[4];
  TPixmap* pixels;
};

int RowOf(Float y) { return static_cast<int>(y); }  // toward zero; values stay small

Placed Place(TImage* image, Float x, Float y, const Float m[4]) {
  Float ox, oy;
  GetDrawOrigin(&ox, &oy);
  const Float hx = -image->handleX, hy = -image->handleY;
  const Float w = Float(image->width), h = Float(image->height);
  const Float local[4][4] = {{hx, hy, 0, 0}, {w + hx, hy, 1, 0}, {w + hx, h + hy, 1, 1},
                             {hx, h + hy, 0, 1}};
  Placed p{};
  for (int k = 0; k < 4; ++k) {
    const Float lx = local[k][0], ly = local[k][1];
    p.c[k] = {lx * m[0] + ly * m[1] + (x + ox), lx * m[2] + ly * m[3] + (y + oy), local[k][2],
              local[k][3]};
  }
  // Corners that turn anticlockwise on screen (or not at all) are reversed.
  bool turnsClockwise = false;
  for (int i = 2; i < 4; ++i) {
    const Corner &a = p.c[0], &b = p.c[i - 1], &d = p.c[i];
    const Float cross = (b.y - a.y) * (d.x - b.x) - (b.x - a.x) * (d.y - b.y);
    if (static_cast<int>(cross) < 0) turnsClockwise = true;
  }
  if (!turnsClockwise) std::reverse(p.c, p.c + 4);
  p.pixels = LockImagePixels(image, 0, 1, 0);
  return p;
}

// One side of a quad at row y: forwards is the right side. False once the
// row is at or below the quad's last corner row.
bool SideAt(const Placed& p, int top, int dir, int y, Float out[4]) {
  int from = top;
  for (int k = 1; k < 4; ++k) {
    const int to = (top + dir * k + 4) % 4;
    if (RowOf(p.c[to].y) > y) {
      const Corner &s = p.c[from], &e = p.c[to];
      const Float rows = Float(RowOf(e.y) - RowOf(s.y));
      const Float sv[4] = {s.x, s.y, s.u, s.v}, ev[4] = {e.x, e.y, e.u, e.v};
      for (int ch = 0; ch < 4; ++ch) {
        const Float step = (ev[ch] - sv[ch]) / rows;
        out[ch] = sv[ch] + step * 0.5f;
        for (int r = RowOf(s.y); r < y; ++r) out[ch] += step;
      }
      return true;
    }
    from = to;
  }
  return false;
}

// Which pixels of the span [s, s + len) the quad makes opaque on row y.
std::vector<bool> OpaqueAlong(const Placed& p, const Float l[4], const Float r[4], int s, int len) {
  std::vector<bool> opaque(len, false);
  const int e = static_cast<int>(l[0]), f = static_cast<int>(r[0]);
  if (f - e < 1) return opaque;
  const TPixmap* pm = p.pixels;
  const Float du = (r[2] - l[2]) / Float(f - e), dv = (r[3] - l[3]) / Float(f - e);
  const Float c = Float(s - e) + 0.5f;
  Float u = l[2] + c * du, v = l[3] + c * dv;
  for (int i = 0; i < len; ++i, u += du, v += dv) {
    u = std::clamp(u >= 0 ? u : 0.0f, 0.0f, 1.0f);
    v = std::clamp(v >= 0 ? v : 0.0f, 0.0f, 1.0f);
    const int col = std::min(int(u * Float(pm->width)), pm->width - 1);
    const int row = std::min(int(v * Float(pm->height)), pm->height - 1);
    uint32_t texel;
    std::memcpy(&texel, pm->pixels + 4 * (row * (pm->pitch / 4) + col), 4);
    opaque[i] = texel >> 31;
  }
  return opaque;
}

bool ReferenceOverlap(const Placed& a, const Placed& b) {
  int top[2], lo = INT32_MAX, hi = INT32_MIN;
  const Placed* q[2] = {&a, &b};
  for (int j = 0; j < 2; ++j) {
    top[j] = 0;
    for (int k = 0; k < 4; ++k) {
      const int row = RowOf(q[j]->c[k].y);
      if (row < RowOf(q[j]->c[top[j]].y)) top[j] = k;
      lo = std::min(lo, row);
      hi = std::max(hi, row);
    }
  }
  for (int y = lo; y < hi; ++y) {
    Float l[2][4], r[2][4];
    bool active = true;
    for (int j = 0; j < 2; ++j) {
      if (y < RowOf(q[j]->c[top[j]].y)) active = false;
      active = active && SideAt(*q[j], top[j], -1, y, l[j]) && SideAt(*q[j], top[j], 1, y, r[j]);
    }
    if (!active) continue;
    const int l1 = int(l[0][0]), r1 = int(r[0][0]), l2 = int(l[1][0]), r2 = int(r[1][0]);
    const int s = std::max(l1, l2), len = std::min(r1, r2) - s;
    if (l2 >= r1 || l1 >= r2 || len <= 0) continue;
    const std::vector<bool> oa = OpaqueAlong(a, l[0], r[0], s, len);
    const std::vector<bool> ob = OpaqueAlong(b, l[1], r[1], s, len);
    for (int i = 0; i < len; ++i)
      if (oa[i] && ob[i]) return true;
  }
  return false;
}

struct Generator {
  std::mt19937 rng{20261207};
  Float Uniform(Float lo, Float hi) { return std::uniform_real_distribution<Float>(lo, hi)(rng); }
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

  TImage* Image() {
    TImage* image = NewImage(Pick(1, 12), Pick(1, 12), 1, 0);
    TPixmap* p = LockImagePixels(image, 0, 1, 1);
    const int density = Pick(3, 10);
    static const uint32_t kAlphas[] = {0, 0x7F, 0x80, 0xFF};
    for (int y = 0; y < p->height; ++y)
      for (int x = 0; x < p->width; ++x) {
        const uint32_t alpha = Pick(1, 10) <= density ? kAlphas[Pick(2, 3)] : kAlphas[Pick(0, 1)];
        p->SetPixel(x, y, Int(alpha << 24 | 0x336699));
      }
    if (Pick(0, 1)) SetImageHandlePoint(image, Uniform(0, Float(image->width)),
                                       Uniform(0, Float(image->height)));
    return image;
  }
  Float Rotation() { return Pick(0, 3) == 0 ? Float(90 * Pick(0, 3)) : Uniform(0, 360); }
  Float Scale() {
    const int pick = Pick(0, 9);
    if (pick == 0) return 0;
    if (pick <= 3) return Pick(0, 1) ? 1.0f : -1.0f;
    return Uniform(-2.5f, 2.5f);
  }
  Float Position() { return Pick(0, 2) == 0 ? Float(Pick(-10, 30)) : Uniform(-10, 30); }
};

void Matrix(Float rotation, Float sx, Float sy, Float m[4]) {
  SetDrawTransform(rotation, sx, sy);
  GetCollisionMatrix(&m[0], &m[1], &m[2], &m[3]);
}

using CollisionProperty = DisplayTest;

TEST_F(CollisionProperty, DirectTestsAgreeWithTheReference) {
  Generator gen;
  constexpr int kPlain = 2000, kTransformed = 4000;
  int hits = 0, disagreements = 0;
  for (int n = 0; n < kPlain + kTransformed; ++n) {
    TImage* a = gen.Image();
    TImage* b = gen.Image();
    const Float x1 = gen.Position(), y1 = gen.Position();
    const Float x2 = x1 + gen.Uniform(-5, 5), y2 = y1 + gen.Uniform(-5, 5);
    Float m1[4], m2[4];
    bool got;
    if (n < kPlain) {
      // The plain test uses whatever draw state is current.
      Matrix(gen.Rotation(), gen.Scale(), gen.Scale(), m1);
      std::copy(m1, m1 + 4, m2);
      SetDrawOrigin(gen.Uniform(-5, 5), gen.Uniform(-5, 5));
      got = ImagesOverlap(a, x1, y1, 0, b, x2, y2, 0);
    } else {
      const Float r1 = gen.Rotation(), sx1 = gen.Scale(), sy1 = gen.Scale();
      const Float r2 = gen.Rotation(), sx2 = gen.Scale(), sy2 = gen.Scale();
      Matrix(r1, sx1, sy1, m1);
      Matrix(r2, sx2, sy2, m2);
      SetDrawTransform(0, 1, 1);
      got = ImagesOverlapTransformed(a, x1, y1, 0, r1, sx1, sy1, b, x2, y2, 0, r2, sx2, sy2);
    }
    const bool expected = ReferenceOverlap(Place(a, x1, y1, m1), Place(b, x2, y2, m2));
    hits += expected;
    if (got != expected && ++disagreements <= 5)
      ADD_FAILURE() << "case " << n << ": got " << got << ", reference " << expected;
  }
  EXPECT_EQ(disagreements, 0);
  // Both answers must be common, or the cases would prove little.
  EXPECT_GT(hits, (kPlain + kTransformed) * 3 / 20);
  EXPECT_LT(hits, (kPlain + kTransformed) * 17 / 20);
  RecordProperty("cases", kPlain + kTransformed);
  RecordProperty("overlapping", hits);
  std::printf("%d cases, %d overlapping\n", kPlain + kTransformed, hits);
}

}  // namespace
