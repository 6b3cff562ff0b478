// Texture sizes and uploads, and the debug text drawer read back from the
// frame buffer.
#include "tests/graphics/x_observer.h"

#include <GL/gl.h>
#include <GL/glx.h>

#include <vector>

#include "graphics/font8x16.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "tests/support/test_util.h"

namespace {

TEST(NextPowerOfTwo, RoundsUpToAPowerOfTwo) {
  const Int cases[][2] = {{-5, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {17, 32},
                          {1024, 1024}, {1025, 2048}, {(1 << 30) + 1, 1 << 30}};
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
    glViewport(0, 0, 64, 32);
  }
  void TearDown() override { GLDisplayClose(context_); }

  // RGBA of the back buffer with row 0 at the top.
  std::vector<uint8_t> ReadBack() {
    std::vector<uint8_t> rows(64 * 32 * 4), flipped(rows.size());
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 64, 32, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    for (int y = 0; y < 32; ++y)
      std::copy_n(&rows[(31 - y) * 64 * 4], 64 * 4, &flipped[y * 64 * 4]);
    return flipped;
  }

  GLDisplayContext* context_ = nullptr;
};

TEST_F(GLContextTest, FitTextureSizeRoundsUpAndShrinksToTheLimit) {
  Int w = 100, h = 30;
  FitTextureSize(&w, &h);
  EXPECT_EQ(w, 128);
  EXPECT_EQ(h, 32);
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  w = 1 << 24;
  h = 3;
  FitTextureSize(&w, &h);
  EXPECT_LE(w, limit);
  EXPECT_EQ(w & (w - 1), 0);
  EXPECT_GE(w, limit / 2);
}

TEST(FitTextureSize, RaisesWhenNoSizeIsAccepted) {
  // With no context bound, every proxy query reads 0.
  REQUIRE_X_SERVER();
  InitGLDisplayModule();
  GLDisplayContext* current = GLDisplayCurrent();
  ASSERT_EQ(current, nullptr);
  glXMakeCurrent(X11Display(), None, nullptr);
  Int w = 16, h = 16;
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
  for (Int y = 0; y < 5; ++y)
    for (Int x = 0; x < 3; ++x) p->SetPixel(x, y, static_cast<Int>(0xff204060u));
  GLuint before = 0;
  glGenTextures(1, &before);
  glBindTexture(GL_TEXTURE_2D, before);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);

  const GLuint name = TextureFromPixmap(p, 1);
  ASSERT_NE(name, 0u);
  GLint binding = 0, rowLength = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &binding);
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
  EXPECT_EQ(static_cast<GLuint>(binding), before);
  EXPECT_EQ(rowLength, 7);

  glBindTexture(GL_TEXTURE_2D, name);
  const GLint sizes[][2] = {{4, 8}, {2, 4}, {1, 2}, {1, 1}};
  for (GLint level = 0; level < 4; ++level) {
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
    EXPECT_EQ(w, sizes[level][0]) << "level " << level;
    EXPECT_EQ(h, sizes[level][1]) << "level " << level;
  }
  uint8_t texel[4] = {};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 3, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  EXPECT_EQ(texel[0], 0x20);
  EXPECT_EQ(texel[1], 0x40);
  EXPECT_EQ(texel[2], 0x60);
  EXPECT_EQ(texel[3], 0xff);
  glDeleteTextures(1, &name);
  glDeleteTextures(1, &before);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

TEST_F(GLContextTest, DebugTextDrawsTheGlyphBitsAndAdvancesPerUnit) {
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glColor4f(1, 1, 1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(3, 4, 0);  // the drawer must not use nor keep this
  // A control unit and a unit above 127 are skipped but still advance.
  const uint16_t units[] = {'A', 1, 0x00e9, 'g'};
  DrawDebugText(kxStringCopyUnits(units, 4), 0, 8);

  GLfloat matrix[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
  EXPECT_EQ(matrix[12], 3.0f);
  EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), GL_FALSE);

  const std::vector<uint8_t> px = ReadBack();
  auto at = [&](int x, int y) { return &px[(y * 64 + x) * 4]; };
  int ink = 0;
  for (int cell : {0, 3}) {
    const int glyph = (cell == 0 ? 'A' : 'g') - 32;
    for (int r = 0; r < 16; ++r) {
      for (int k = 0; k < 8; ++k) {
        const uint8_t* p = at(cell * 8 + k, 8 + r);
        const bool set = kBuiltinFont8x16[r * 96 + glyph] >> k & 1;
        ink += set;
        if (set) {
          EXPECT_TRUE(p[0] > 200 && p[1] > 200 && p[2] > 200) << cell << ":" << r << "," << k;
        } else {
          EXPECT_LT(p[0], 50) << cell << ":" << r << "," << k;
        }
      }
    }
  }
  EXPECT_GT(ink, 20);
  // The skipped cells and the rows above the text keep the clear colour.
  for (int x = 8; x < 24; ++x) EXPECT_EQ(at(x, 12)[2], 255) << x;
  EXPECT_EQ(at(0, 0)[2], 255);
}

}  // namespace
