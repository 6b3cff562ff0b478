// Texture sizes and uploads, and the debug text drawer read back from the
// frame buffer.
#include "tests/graphics/x_observer.h"

#include <GL/gl.h>
#include <GL/glx.h>

#include <algorithm>
#include <vector>

#include "graphics/font8x16.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "tests/support/test_util.h"

namespace {

TEST(NextPowerOfTwo, RoundsUpToAPowerOfTwo) {
  const Int cases[][2] = {{-5, 1},  {0, 1},       {1, 1},       {3, 4},
                          {17, 32}, {1024, 1024}, {1025, 2048}, {(1 << 30) + 1, 1 << 30}};
  for (const auto& c : cases) EXPECT_EQ(NextPowerOfTwo(c[0]), c[1]) << c[0];
}

class GLContextTest : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_X_SERVER();
    InitGLDisplayModule();
    context_ = GLDisplayCreate(64, 32, 0, 0, DISPLAY_BACK_BUFFER);
    ASSERT_NE(context_, nullptr);
    GLDisplaySelect(context_);
  }
  void TearDown() override { GLDisplayClose(context_); }
  GLDisplayContext* context_ = nullptr;
};

TEST_F(GLContextTest, FitTextureSizeRoundsUpShrinksToTheLimitAndRaisesWithoutAContext) {
  Int w = 100, h = 30;
  FitTextureSize(&w, &h);
  EXPECT_TRUE(w == 128 && h == 32) << w << " x " << h;
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  w = 1 << 24;
  FitTextureSize(&w, &h);
  EXPECT_EQ(w, limit);
  Int halvedHeight = 32;  // both sides halve together, not only the one too large
  for (Int s = 1 << 24; s > limit; s /= 2) halvedHeight = std::max(1, halvedHeight / 2);
  EXPECT_EQ(h, halvedHeight);

  // With nothing bound every proxy query reads 0, down to 1 x 1.
  glXMakeCurrent(X11Display(), None, nullptr);
  std::string message;
  try {
    KxTry region;
    FitTextureSize(&w, &h);
  } catch (const KxThrown& e) {
    message = ToStd(kxErrorText(e.error.get()));
  }
  EXPECT_NE(message.find("Unable to calculate tex size"), std::string::npos) << message;
}

TEST_F(GLContextTest, TextureFromPixmapUploadsEveryMipLevelAndRestoresState) {
  TPixmap* p = NewPixmap(3, 5, PIXFMT_RGB24, 4);
  for (Int i = 0; i < 15; ++i) p->SetPixel(i % 3, i / 3, static_cast<Int>(0xff204060u));
  GLuint before = 0;
  glGenTextures(1, &before);
  glBindTexture(GL_TEXTURE_2D, before);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
  const GLuint name = TextureFromPixmap(p, 1);
  GLint binding = 0, rowLength = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &binding);
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
  EXPECT_EQ(static_cast<GLuint>(binding), before);
  EXPECT_EQ(rowLength, 7);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

  ASSERT_NE(name, 0u);
  glBindTexture(GL_TEXTURE_2D, name);
  const GLint sizes[][2] = {{4, 8}, {2, 4}, {1, 2}, {1, 1}};
  for (GLint level = 0; level < 4; ++level) {
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
    EXPECT_TRUE(w == sizes[level][0] && h == sizes[level][1]) << level << ": " << w << " x " << h;
  }
  uint8_t texel[4] = {};
  glGetTexImage(GL_TEXTURE_2D, 3, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  EXPECT_EQ(std::vector<int>(texel, texel + 4), (std::vector<int>{0x20, 0x40, 0x60, 0xff}));
  glDeleteTextures(1, &name);
  glDeleteTextures(1, &before);
}

TEST_F(GLContextTest, DebugTextDrawsTheGlyphBitsAndAdvancesPerUnit) {
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(3, 4, 0);  // the drawer must neither use nor keep this
  // A control unit and a unit above 127 are skipped but still advance.
  const uint16_t units[] = {'A', 1, 0x00e9, 'g'};
  DrawDebugText(kxStringCopyUnits(units, 4), 0, 8);
  GLfloat matrix[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
  EXPECT_EQ(matrix[12], 3.0f);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

  std::vector<uint8_t> px(64 * 32 * 4);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, 64, 32, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  auto at = [&](int x, int y) { return &px[((31 - y) * 64 + x) * 4]; };  // y down
  int ink = 0;
  for (int cell : {0, 3}) {
    const int glyph = (cell == 0 ? 'A' : 'g') - 32;
    for (int r = 0; r < 16; ++r) {
      for (int k = 0; k < 8; ++k) {
        const uint8_t* p = at(cell * 8 + k, 8 + r);
        const bool set = kBuiltinFont8x16[r * 96 + glyph] >> k & 1;
        ink += set;
        // Ink is opaque white; the rest of the cell transparent black,
        // drawn without blending.
        const bool white = p[0] > 200 && p[1] > 200 && p[2] > 200;
        const bool black = p[0] < 50 && p[1] < 50 && p[2] < 50;
        EXPECT_TRUE(set ? white : black) << "cell " << cell << " row " << r << " column " << k;
      }
    }
  }
  EXPECT_GT(ink, 20);
  for (int x = 8; x < 24; ++x) EXPECT_EQ(at(x, 12)[2], 255) << "skipped cell, x " << x;
  EXPECT_EQ(at(0, 0)[2], 255) << "above the text";
}

}  // namespace
