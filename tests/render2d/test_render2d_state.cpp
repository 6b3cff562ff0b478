// The 2D state object and its setters and getters, activation and the
// lifecycle of a 2D graphics.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render2d/collision.h"
#include "render2d/font.h"
#include "render2d/image.h"
#include "tests/render2d/test_render2d_support.h"

namespace {

TEST(Render2DAbstract, BaseDriverAndFrameSlotsRaiseTheAbstractCallError) {
  TRender2DDriver* d = New<TRender2DDriver>();
  TImageFrame* f = New<TImageFrame>();
  const ClassRecord* abstract = &TAbstractCallError::classRecord;
  EXPECT_EQ(RaisedClass([&] { d->CreateFrame(nullptr, 0); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ApplyBlend(1); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ApplyAlpha(1); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ApplyColor(1, 2, 3); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ApplyClipRect(0, 0, 1, 1); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ApplyTransform(1, 0, 0, 1); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ClearScreen(); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->PlotPoint(0, 0); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->FillPolygon(nullptr, 0, 0, 0, 0); }), abstract);
  EXPECT_EQ(RaisedClass([&] { d->ReadPixmap(0, 0, 1, 1); }), abstract);
  EXPECT_EQ(RaisedClass([&] { f->Paint(0, 0, 1, 1, 0, 0); }), abstract);
}

TEST(Render2DAbstract, CreateWrapsWithoutActivating) {
  TRender2DDriver* d = New<TRender2DDriver>();
  TRender2DGraphics* inner = TRender2DGraphics::Create(nullptr, d);
  TRender2DGraphics* g = TRender2DGraphics::Create(inner, d);
  EXPECT_EQ(g->graphics.get(), inner);
  EXPECT_EQ(g->DisplayDriver(), d);
  EXPECT_EQ(g->initialised, 0);
  EXPECT_EQ(g->colorRed, 0);
  EXPECT_EQ(g->alpha, 0.0f);
  EXPECT_EQ(g->scaleX, 0.0f);
  EXPECT_EQ(g->blend, 0);
  // A closed wrapper forgets both references and closing again is harmless.
  g->CloseDisplay();
  EXPECT_EQ(g->graphics.get(), nullptr);
  EXPECT_EQ(g->DisplayDriver(), nullptr);
  g->CloseDisplay();
  EXPECT_EQ(RaisedClass([&] {
              Int w, h, dp, hz, fl;
              g->ReadSettings(&w, &h, &dp, &hz, &fl);
            }),
            &TNullAccessError::classRecord);
}

using Render2DState_ = Window2DTest;

TEST_F(Render2DState_, FirstActivationGivesTheDefaults) {
  TRender2DGraphics* g = CurrentRender2D();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g, Cast<TRender2DGraphics>(CurrentGraphics()));
  EXPECT_EQ(CurrentRender2DDriver(), GLRender2DDriver());
  EXPECT_EQ(g->initialised, 1);
  Int r, gr, b, x, y, w, h;
  GetColor(&r, &gr, &b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(gr, 255);
  EXPECT_EQ(b, 255);
  GetClearColor(&r, &gr, &b);
  EXPECT_EQ(r + gr + b, 0);
  EXPECT_EQ(GetAlpha(), 1.0f);
  EXPECT_EQ(GetBlend(), BLEND_MASKED);
  EXPECT_EQ(GetLineThickness(), 1.0f);
  EXPECT_EQ(GetDrawRotation(), 0.0f);
  GetClipRect(&x, &y, &w, &h);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  Float sx, sy, ox, oy, hx, hy;
  GetDrawScale(&sx, &sy);
  GetDrawOrigin(&ox, &oy);
  GetDrawHandle(&hx, &hy);
  EXPECT_EQ(sx, 1.0f);
  EXPECT_EQ(sy, 1.0f);
  EXPECT_EQ(ox + oy + hx + hy, 0.0f);
  EXPECT_EQ(g->ix, 1.0f);
  EXPECT_EQ(g->iy, 0.0f);
  EXPECT_EQ(g->jx, 0.0f);
  EXPECT_EQ(g->jy, 1.0f);
  EXPECT_EQ(GetDefaultImageFlags(), IMAGE_MASKED | IMAGE_FILTERED);
  ASSERT_NE(GetTextFont(), nullptr);
  EXPECT_EQ(GetTextFont(), DefaultTextFont());
  // Settings come from the wrapped display graphics.
  Int sw, sh, sd, shz, sf;
  g->ReadSettings(&sw, &sh, &sd, &shz, &sf);
  EXPECT_EQ(sw, 640);
  EXPECT_EQ(sh, 480);
  EXPECT_EQ(sf & DISPLAY_BACK_BUFFER, DISPLAY_BACK_BUFFER);
}

TEST_F(Render2DState_, SettersStoreValuesAsPassed) {
  SetColor(300, -5, 20);
  Int r, g, b;
  GetColor(&r, &g, &b);
  EXPECT_EQ(r, 300);
  EXPECT_EQ(g, -5);
  EXPECT_EQ(b, 20);
  SetClearColor(-1, 999, 7);
  GetClearColor(&r, &g, &b);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(g, 999);
  EXPECT_EQ(b, 7);
  SetAlpha(1.5f);
  EXPECT_EQ(GetAlpha(), 1.5f);
  SetAlpha(std::numeric_limits<Float>::quiet_NaN());
  EXPECT_TRUE(std::isnan(GetAlpha()));
  SetBlend(7);
  EXPECT_EQ(GetBlend(), 7);
  SetLineThickness(-3.0f);
  EXPECT_EQ(GetLineThickness(), -3.0f);
  SetClipRect(-10, 5, -20, 1000);
  Int x, y, w, h;
  GetClipRect(&x, &y, &w, &h);
  EXPECT_EQ(x, -10);
  EXPECT_EQ(y, 5);
  EXPECT_EQ(w, -20);
  EXPECT_EQ(h, 1000);
  SetDrawHandle(5, 7);
  Float fx, fy;
  GetDrawHandle(&fx, &fy);
  EXPECT_EQ(fx, 5.0f);
  EXPECT_EQ(fy, 7.0f);
  SetDrawOrigin(-2.5f, 1e6f);
  GetDrawOrigin(&fx, &fy);
  EXPECT_EQ(fx, -2.5f);
  EXPECT_EQ(fy, 1e6f);
}

TEST_F(Render2DState_, DrawMatrixFollowsRotationAndScaleAndReachesCollisions) {
  TRender2DGraphics* g = CurrentRender2D();
  SetDrawRotation(90);
  EXPECT_NEAR(g->ix, 0.0f, 1e-6f);
  EXPECT_NEAR(g->iy, -1.0f, 1e-6f);
  EXPECT_NEAR(g->jx, 1.0f, 1e-6f);
  EXPECT_NEAR(g->jy, 0.0f, 1e-6f);
  SetDrawScale(2, 3);
  EXPECT_NEAR(g->iy, -3.0f, 1e-6f);
  EXPECT_NEAR(g->jx, 2.0f, 1e-6f);
  SetDrawTransform(30, 1, -1);
  EXPECT_EQ(GetDrawRotation(), 30.0f);
  Float sx, sy;
  GetDrawScale(&sx, &sy);
  EXPECT_EQ(sy, -1.0f);
  const Float c = std::cos(30 * 3.14159265358979 / 180), s = std::sin(30 * 3.14159265358979 / 180);
  EXPECT_NEAR(g->ix, c, 1e-6f);
  EXPECT_NEAR(g->iy, s, 1e-6f);  // -s * -1
  EXPECT_NEAR(g->jx, s, 1e-6f);
  EXPECT_NEAR(g->jy, -c, 1e-6f);
  Float cix, ciy, cjx, cjy;
  GetCollisionMatrix(&cix, &ciy, &cjx, &cjy);
  EXPECT_EQ(cix, g->ix);
  EXPECT_EQ(ciy, g->iy);
  EXPECT_EQ(cjx, g->jx);
  EXPECT_EQ(cjy, g->jy);
}

TEST_F(Render2DState_, ReselectingKeepsStateAndReapplyStatePushesIt) {
  TGraphics* graphics = CurrentGraphics();
  SetColor(10, 20, 30);
  SetBlend(BLEND_ADDITIVE);
  SetDrawOrigin(4, 5);
  SetDrawRotation(45);
  MakeGraphicsCurrent(nullptr);
  MakeGraphicsCurrent(graphics);
  Int r, g, b;
  GetColor(&r, &g, &b);
  EXPECT_EQ(r, 10);
  EXPECT_EQ(GetBlend(), BLEND_ADDITIVE);
  EXPECT_EQ(GetDrawRotation(), 45.0f);
  float rgba[4];
  CurrentGlColor(rgba);
  EXPECT_NEAR(rgba[0], 10 / 255.0f, 1e-4f);
  EXPECT_NEAR(rgba[2], 30 / 255.0f, 1e-4f);
  // The blend mode is not pushed on reselection; ReapplyState sends it.
  const GL2DCallCounts before = GL2DCalls;
  CurrentRender2D()->ReapplyState();
  EXPECT_EQ(GetBlend(), BLEND_ADDITIVE);
  EXPECT_EQ(GL2DCalls.blendFuncs, before.blendFuncs + 1);
  Float ox, oy;
  GetDrawOrigin(&ox, &oy);
  EXPECT_EQ(ox, 4.0f);
  EXPECT_EQ(oy, 5.0f);
}

TEST_F(Render2DState_, ReopeningGivesFreshDefaultsOnANewObject) {
  TRender2DGraphics* first = CurrentRender2D();
  SetColor(1, 2, 3);
  SetBlend(BLEND_TRANSLUCENT);
  SetDrawScale(4, 4);
  SetClearColor(9, 9, 9);
  ASSERT_NE(OpenWindow2D(), nullptr);
  EXPECT_NE(CurrentRender2D(), first);
  Int r, g, b;
  GetColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 3 * 255);
  EXPECT_EQ(GetBlend(), BLEND_MASKED);
  Float sx, sy;
  GetDrawScale(&sx, &sy);
  EXPECT_EQ(sx, 1.0f);
  GetClearColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 0);
  // The old object was closed and keeps what was set on it.
  EXPECT_EQ(first->graphics.get(), nullptr);
  EXPECT_EQ(first->colorRed, 1);
}

TEST_F(Render2DState_, CallsAfterEndGraphicsRaiseTheNullObjectError) {
  EndGraphics();
  const ClassRecord* null = &TNullAccessError::classRecord;
  EXPECT_EQ(RaisedClass([] { SetColor(1, 2, 3); }), null);
  EXPECT_EQ(RaisedClass([] { GetBlend(); }), null);
  EXPECT_EQ(RaisedClass([] { SetDrawRotation(10); }), null);
  EXPECT_EQ(RaisedClass([] { Cls(); }), null);
  EXPECT_EQ(RaisedClass([] { DrawRect(0, 0, 1, 1); }), null);
  EXPECT_EQ(RaisedClass([] { CapturePixmap(0, 0, 1, 1); }), null);
}

}  // namespace
