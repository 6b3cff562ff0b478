// Random pairs of small images with random alpha, placement, rotation and
// scale: ImagesOverlap and ImagesOverlapTransformed must agree with a brute
// force reference that maps every screen row of both quads on its own.
//
// The reference keeps no scan state: for row y it finds each side's edge by
// walking the corners from the top one, takes the edge's values half a row
// past its first corner plus one step per row since (added one at a time:
// float sums are not associative), and samples both quads at every pixel
// of their common span.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "render2d/collision.h"
#include "tests/render2d/test_render2d_support.h"

namespace {

struct Placed {
  Float c[4][4];  // corners: x, y, u, v
  TPixmap* pixels;
  int Row(int k) const { return int(c[k][1]); }  // toward zero
};

Placed Place(TImage* image, Float x, Float y, const Float m[4]) {
  Float ox, oy;
  GetDrawOrigin(&ox, &oy);
  const Float hx = -image->handleX, hy = -image->handleY, w = image->width, h = image->height;
  const Float local[4][4] = {
      {hx, hy, 0, 0}, {w + hx, hy, 1, 0}, {w + hx, h + hy, 1, 1}, {hx, h + hy, 0, 1}};
  Placed p{{}, LockImagePixels(image, 0, 1, 0)};
  for (int k = 0; k < 4; ++k) {
    const Float lx = local[k][0], ly = local[k][1];
    const Float corner[4] = {lx * m[0] + ly * m[1] + (x + ox), lx * m[2] + ly * m[3] + (y + oy),
                             local[k][2], local[k][3]};
    std::copy(corner, corner + 4, p.c[k]);
  }
  // Corners that do not turn clockwise on screen (y down) are reversed.
  bool clockwise = false;
  for (int i = 2; i < 4; ++i) {
    const Float *a = p.c[0], *b = p.c[i - 1], *d = p.c[i];
    clockwise |= int((b[1] - a[1]) * (d[0] - b[0]) - (b[0] - a[0]) * (d[1] - b[1])) < 0;
  }
  if (!clockwise) std::reverse(p.c, p.c + 4);
  return p;
}

// One side at row y (dir 1: the right side); false below the last corner row.
bool SideAt(const Placed& p, int top, int dir, int y, Float out[4]) {
  for (int k = 1, from = top; k < 4; from = (top + dir * k + 4) % 4, ++k) {
    const int to = (top + dir * k + 4) % 4;
    if (p.Row(to) <= y) continue;
    for (int ch = 0; ch < 4; ++ch) {
      const Float step = (p.c[to][ch] - p.c[from][ch]) / Float(p.Row(to) - p.Row(from));
      out[ch] = p.c[from][ch] + step * 0.5f;
      for (int r = p.Row(from); r < y; ++r) out[ch] += step;
    }
    return true;
  }
  return false;
}

// Which pixels of the span [s, s + len) the quad makes opaque.
std::vector<bool> Opaque(const Placed& p, const Float l[4], const Float r[4], int s, int len) {
  std::vector<bool> opaque(len, false);
  const int e = int(l[0]), f = int(r[0]);
  if (f - e < 1) return opaque;
  const Float du = (r[2] - l[2]) / Float(f - e), dv = (r[3] - l[3]) / Float(f - e);
  Float u = l[2] + (Float(s - e) + 0.5f) * du, v = l[3] + (Float(s - e) + 0.5f) * dv;
  const TPixmap* pm = p.pixels;
  for (int i = 0; i < len; ++i, u += du, v += dv) {
    u = std::min(u >= 0 ? u : 0.0f, 1.0f);
    v = std::min(v >= 0 ? v : 0.0f, 1.0f);
    const int col = std::min(int(u * pm->width), pm->width - 1);
    const int row = std::min(int(v * pm->height), pm->height - 1);
    uint32_t texel;
    std::memcpy(&texel, pm->pixels + 4 * (row * (pm->pitch / 4) + col), 4);
    opaque[i] = texel >> 31;
  }
  return opaque;
}

bool ReferenceOverlap(const Placed (&q)[2]) {
  int top[2] = {0, 0}, lo = INT32_MAX, hi = INT32_MIN;
  for (int j = 0; j < 2; ++j)
    for (int k = 0; k < 4; ++k) {
      if (q[j].Row(k) < q[j].Row(top[j])) top[j] = k;
      lo = std::min(lo, q[j].Row(k));
      hi = std::max(hi, q[j].Row(k));
    }
  for (int y = lo; y < hi; ++y) {
    Float l[2][4], r[2][4];
    bool active = true;
    for (int j = 0; j < 2; ++j)
      active = active && y >= q[j].Row(top[j]) && SideAt(q[j], top[j], -1, y, l[j]) &&
               SideAt(q[j], top[j], 1, y, r[j]);
    if (!active) continue;
    const int s = std::max(int(l[0][0]), int(l[1][0]));
    const int len = std::min(int(r[0][0]), int(r[1][0])) - s;
    if (len <= 0) continue;
    const std::vector<bool> a = Opaque(q[0], l[0], r[0], s, len);
    const std::vector<bool> b = Opaque(q[1], l[1], r[1], s, len);
    for (int i = 0; i < len; ++i)
      if (a[i] && b[i]) return true;
  }
  return false;
}

using CollisionProperty = DisplayTest;

TEST_F(CollisionProperty, DirectTestsAgreeWithTheReference) {
  std::mt19937 rng(20261207);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto uniform = [&](Float lo, Float hi) {
    return std::uniform_real_distribution<Float>(lo, hi)(rng);
  };
  auto image = [&] {
    TImage* im = NewImage(pick(1, 12), pick(1, 12), 1, 0);
    TPixmap* p = LockImagePixels(im, 0, 1, 1);
    const int density = pick(3, 10);
    for (int y = 0; y < p->height; ++y)
      for (int x = 0; x < p->width; ++x) {  // alpha 0, 127, 128 or 255
        const uint32_t alpha = pick(1, 10) <= density ? 128 + 127 * pick(0, 1) : 127 * pick(0, 1);
        p->SetPixel(x, y, Int(alpha << 24));
      }
    if (pick(0, 1)) SetImageHandlePoint(im, uniform(0, im->width), uniform(0, im->height));
    return im;
  };
  auto rotation = [&] { return pick(0, 3) == 0 ? Float(90 * pick(0, 3)) : uniform(0, 360); };
  auto scale = [&] {  // sometimes 0 or exactly 1 or -1
    if (pick(0, 9) == 0) return 0.0f;
    return pick(0, 2) == 0 ? Float(pick(0, 1) * 2 - 1) : uniform(-2.5f, 2.5f);
  };
  auto matrix = [](Float rot, Float sx, Float sy, Float m[4]) {
    SetDrawTransform(rot, sx, sy);
    GetCollisionMatrix(&m[0], &m[1], &m[2], &m[3]);
  };
  constexpr int kPlain = 2000, kCases = 6000;
  int hits = 0, disagreements = 0;
  for (int n = 0; n < kCases; ++n) {
    TImage* a = image();
    TImage* b = image();
    const Float x1 = pick(0, 2) ? uniform(-10, 30) : Float(pick(-10, 30)), y1 = uniform(-10, 30);
    const Float x2 = x1 + uniform(-5, 5), y2 = y1 + uniform(-5, 5);
    Float m1[4], m2[4];
    bool got;
    if (n < kPlain) {  // under whatever draw state is current
      matrix(rotation(), scale(), scale(), m1);
      std::copy(m1, m1 + 4, m2);
      SetDrawOrigin(uniform(-5, 5), uniform(-5, 5));
      got = ImagesOverlap(a, x1, y1, 0, b, x2, y2, 0);
    } else {
      const Float r1 = rotation(), sx1 = scale(), sy1 = scale();
      const Float r2 = rotation(), sx2 = scale(), sy2 = scale();
      matrix(r1, sx1, sy1, m1);
      matrix(r2, sx2, sy2, m2);
      got = ImagesOverlapTransformed(a, x1, y1, 0, r1, sx1, sy1, b, x2, y2, 0, r2, sx2, sy2);
    }
    const bool expected = ReferenceOverlap({Place(a, x1, y1, m1), Place(b, x2, y2, m2)});
    hits += expected;
    if (got != expected && ++disagreements <= 5) ADD_FAILURE() << "case " << n << ": got " << got;
  }
  EXPECT_EQ(disagreements, 0);
  // Both answers must be common, or the cases would prove little.
  EXPECT_GT(hits, kCases * 3 / 20);
  EXPECT_LT(hits, kCases * 17 / 20);
  std::printf("%d cases, %d overlapping\n", kCases, hits);
}

}  // namespace
