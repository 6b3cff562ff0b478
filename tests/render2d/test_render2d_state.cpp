// The 2D state: defaults on first activation, fresh defaults on reopening,
// the draw matrix, and calls made with no open graphics.
#include <gtest/gtest.h>

#include <cstdlib>

#include "render2d/collision.h"
#include "render2d/font.h"
#include "render2d/image.h"
#include "tests/render2d/test_render2d_support.h"
#include "tests/support/test_util.h"

namespace {

void ExpectDefaults() {
  Int r, g, b, x, y, w, h;
  Float sx, sy, ox, oy, hx, hy;
  GetColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 3 * 255);
  GetClearColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 0);
  GetClipRect(&x, &y, &w, &h);
  EXPECT_TRUE(x == 0 && y == 0 && w == 640 && h == 480);
  GetDrawScale(&sx, &sy);
  GetDrawOrigin(&ox, &oy);
  GetDrawHandle(&hx, &hy);
  EXPECT_TRUE(sx == 1 && sy == 1 && ox == 0 && oy == 0 && hx == 0 && hy == 0);
  EXPECT_EQ(GetAlpha(), 1.0f);
  EXPECT_EQ(GetBlend(), BLEND_MASKED);
  EXPECT_EQ(GetLineThickness(), 1.0f);
  EXPECT_EQ(GetDefaultImageFlags(), IMAGE_MASKED | IMAGE_FILTERED);
  TImage* image = NewImage(8, 8, 1, -1);
  EXPECT_EQ(image->flags, IMAGE_MASKED | IMAGE_FILTERED | IMAGE_DYNAMIC);
  EXPECT_TRUE(image->FrameCount() == 1 && image->handleX == 0 && image->handleY == 0);
  EXPECT_NE(GetTextFont(), nullptr);
  EXPECT_EQ(GetTextFont(), DefaultTextFont());
}

TEST(Render2DState, FirstActivationGivesDefaultsReopeningFreshOnesAndClosingNone) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test needs an X server";
  ASSERT_NE(OpenWindow2D(), nullptr);
  TRender2DGraphics* first = CurrentRender2D();
  EXPECT_EQ(Cast<TRender2DGraphics>(CurrentGraphics()), first);
  EXPECT_EQ(CurrentRender2DDriver(), GLRender2DDriver());
  ExpectDefaults();
  SetColor(1, 2, 3);
  SetBlend(BLEND_TRANSLUCENT);
  SetDrawTransform(10, 4, 4);
  SetDrawOrigin(5, 5);
  ASSERT_NE(OpenWindow2D(), nullptr);
  EXPECT_NE(CurrentRender2D(), first);
  ExpectDefaults();
  // The closed object lets go of its display and keeps what was set on it.
  EXPECT_EQ(first->graphics.get(), nullptr);
  EXPECT_EQ(first->colorBlue, 3);
  // With no open graphics the calls raise the null object error.
  EndGraphics();
  const std::string null = ToStd(kxErrorText(New<TNullAccessError>()));
  EXPECT_EQ(Raised([] { SetColor(1, 2, 3); }), null);
  EXPECT_EQ(Raised([] { SetDrawRotation(10); }), null);
  EXPECT_EQ(Raised([] { DrawRect(0, 0, 1, 1); }), null);
  EXPECT_EQ(Raised([] { CapturePixmap(0, 0, 1, 1); }), null);
}

using Render2DMatrix = Window2DTest;

TEST_F(Render2DMatrix, RotationAndScaleMakeTheMatrixThatCollisionsShare) {
  TRender2DGraphics* g = CurrentRender2D();
  SetDrawRotation(90);
  EXPECT_NEAR(g->ix, 0, 1e-6);
  EXPECT_NEAR(g->iy, -1, 1e-6);
  EXPECT_NEAR(g->jx, 1, 1e-6);
  EXPECT_NEAR(g->jy, 0, 1e-6);
  SetDrawTransform(30, 2, -1);
  Float m[4];
  GetCollisionMatrix(&m[0], &m[1], &m[2], &m[3]);
  EXPECT_TRUE(m[0] == g->ix && m[1] == g->iy && m[2] == g->jx && m[3] == g->jy);
}

}  // namespace
