// The Life step on the simulator's own grids: the rule, the hard edges and
// the module counters.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <utility>

#include "app/life.h"
#include "graphics/graphics.h"
#include "render2d/gl2d.h"
#include "render2d/pixmap/pixmap.h"
#include "render2d/render2d.h"

namespace {

using Cells = std::set<std::pair<int, int>>;

void Load(const Cells& live) {
  CreateGrids();
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y) {
      Int v = live.count({x, y}) ? 1 : 0;
      Cell(cellules, x, y) = v;
      Cell(cellules_copie, x, y) = v;
    }
}

Cells Live() {
  Cells out;
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y)
      if (Cell(cellules, x, y) == 1) out.insert({x, y});
  return out;
}

Cells Step(int generations = 1) {
  for (int i = 0; i < generations; ++i) {
    StepGeneration();
    CopyBack();
  }
  return Live();
}

// Patterns against what follows them a number of generations later.
TEST(LifeRule, KnownPatternsStillLivesOscillatorsAndHardEdges) {
  // A full-width row: the ends have one neighbour fewer than with wrapping.
  Cells row, rowNext;
  for (int x = 0; x < kGridColumns; ++x) row.insert({x, 12});
  for (int x = 1; x < kGridColumns - 1; ++x) rowNext.insert({{x, 11}, {x, 12}, {x, 13}});
  const Cells horizontal = {{29, 12}, {30, 12}, {31, 12}};
  const Cells block = {{20, 10}, {21, 10}, {20, 11}, {21, 11}};
  const Cells corners = {{0, 0},   {1, 0},   {0, 1},   {1, 1},     // top-left
                         {55, 0},  {56, 0},  {55, 1},  {56, 1},    // top-right
                         {0, 22},  {1, 22},  {0, 23},  {1, 23},    // bottom-left
                         {55, 22}, {56, 22}, {55, 23}, {56, 23}};  // bottom-right
  const struct {
    const char* name;
    Cells start;
    int generations;
    Cells want;
  } cases[] = {
      {"single cell dies", {{20, 10}}, 1, {}},
      {"empty stays empty", {}, 2, {}},
      {"block", block, 5, block},
      {"blinker", horizontal, 1, {{30, 11}, {30, 12}, {30, 13}}},
      {"blinker period", horizontal, 2, horizontal},
      // (10,10) has exactly two live neighbours: dead stays dead, live stays live.
      {"two keep dead", {{9, 10}, {11, 10}}, 1, {}},
      {"two keep live", {{9, 10}, {10, 10}, {11, 10}}, 1, {{10, 9}, {10, 10}, {10, 11}}},
      {"corner blocks", corners, 3, corners},
      // A vertical blinker cut by the top edge: with wrap-around the cell at
      // (5, 23) would gain neighbours; with hard edges the two cells just die.
      {"cut blinker", {{5, 0}, {5, 1}}, 1, {}},
      {"full row", row, 1, rowNext},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.start);
    EXPECT_EQ(Step(c.generations), c.want);
  }
}

// Random grids, with values other than 0 and 1 that are not live, against
// the rule written out cell by cell with every index tested: the edge cells
// and the cells inside must come out alike, the copy keeping its own value
// where there are two neighbours.
TEST(LifeRule, RandomGridsMatchTheRuleCellByCell) {
  CreateGrids();
  uint32_t seed = 7;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 20; ++round) {
    Int now[kGridColumns][kGridRows], copy[kGridColumns][kGridRows];
    for (Int x = 0; x < kGridColumns; ++x)
      for (Int y = 0; y < kGridRows; ++y) {
        now[x][y] = Cell(cellules, x, y) = Int(next() % 3);  // 2 is not alive
        copy[x][y] = Cell(cellules_copie, x, y) = Int(next() % 3);
      }
    StepGeneration();
    Int lastCount = 0;
    for (Int x = 0; x < kGridColumns; ++x)
      for (Int y = 0; y < kGridRows; ++y) {
        Int count = 0;
        for (Int dx = -1; dx <= 1; ++dx)
          for (Int dy = -1; dy <= 1; ++dy) {
            const Int nx = x + dx, ny = y + dy;
            if ((dx || dy) && nx >= 0 && nx < kGridColumns && ny >= 0 && ny < kGridRows)
              count += now[nx][ny] == 1;
          }
        const Int want = count == 3 ? 1 : count == 2 ? copy[x][y] : 0;
        ASSERT_EQ(Cell(cellules_copie, x, y), want)
            << "round " << round << " cell " << x << "," << y;
        lastCount = count;
      }
    EXPECT_EQ(iComptVoisins, lastCount);
  }
}

TEST(LifeEdges, GliderBreaksUpAtTheCornerInsteadOfReappearing) {
  // A glider heading down and right towards the bottom-right corner.
  Load({{45, 12}, {46, 13}, {44, 14}, {45, 14}, {46, 14}});
  Cells end = Step(100);
  for (const auto& c : end) {
    EXPECT_GE(c.first, 40) << "a cell appeared on the far side";
    EXPECT_GE(c.second, 10) << "a cell appeared on the far side";
  }
  // Whatever is left has settled: the glider did not survive the edge.
  EXPECT_EQ(Step(1), end);
  EXPECT_EQ(Step(1), end);
  EXPECT_LT(end.size(), 8u);
}

// Grids are made once; a step and the copy back leave the module
// counters at the grid size.
TEST(LifeGrids, AreTwoDimensionalIntArraysCreatedOnceAndStepsCountToTheirSize) {
  CreateGrids();
  Array* first = cellules;
  ASSERT_EQ(first->dims, 2);
  EXPECT_EQ(first->Extents()[0], 57 * 24);
  EXPECT_EQ(first->Extents()[1], 24);
  EXPECT_NE(cellules, cellules_copie);
  Load({});
  EXPECT_EQ(cellules, first);
  StepGeneration();
  EXPECT_EQ(std::make_pair(iCompteurX, iCompteurY), std::make_pair(57, 24));
  iCompteurX = iCompteurY = 0;
  CopyBack();
  EXPECT_EQ(std::make_pair(iCompteurX, iCompteurY), std::make_pair(57, 24));
}

// Text is drawn over grey here, where the one-pixel shadow in the opposite
// colour shows; on lifesim's black screen it never does.
TEST(StatusText, TextOverItsShadowInTheOppositeColourAndTheColourComesBack) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test needs an X server";
  InitGLRender2DModule();
  ASSERT_NE(Graphics(640, 480, 0, 60, 0), nullptr);
  SetBlend(3);
  SetAlpha(1.0f);
  const auto* glyphs = static_cast<const uint8_t*>(kxEmbeddedBlobData(KX_STR("zorbefont.bin")));
  ASSERT_NE(glyphs, nullptr);
  const char text[] = "10";
  // Ink of the built-in font: row r of glyph j is byte r * 96 + j, bit k = column k.
  auto ink = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= 16 || y >= 16) return false;
    return (glyphs[y * 96 + (text[x / 8] - 32)] >> (x % 8) & 1) != 0;
  };
  const struct {
    const char* colour;
    Int shadow;
    uint32_t fore, back;
  } cases[] = {
      {"blanc", 1, 0xffffff, 0x000000},
      {"Blanc", 1, 0x000000, 0xffffff},  // any other name: black on white
      {"blanc", 0, 0xffffff, 0x808080},  // no shadow: the grey stays
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.colour) + " shadow " + std::to_string(c.shadow));
    SetColor(128, 128, 128);
    DrawRect(0, 0, 64, 32);
    SetColor(1, 2, 3);
    afficherTexte(kxStringDecodeCText(text), kxStringDecodeCText(c.colour), c.shadow, 10, 5);
    Int r = 0, g = 0, b = 0;
    GetColor(&r, &g, &b);
    EXPECT_EQ(r * 65536 + g * 256 + b, 0x010203);
    TPixmap* shot = CapturePixmap(10, 5, 24, 24);
    int wrong = 0, shadowed = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x) {
        uint32_t want = ink(x, y) ? c.fore : ink(x - 1, y - 1) ? c.back : 0x808080;
        shadowed += want == c.back;
        wrong += (static_cast<uint32_t>(GetPixmapPixel(shot, x, y)) & 0xffffff) != want;
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(shadowed, 0);
  }
  EndGraphics();
}

}  // namespace
