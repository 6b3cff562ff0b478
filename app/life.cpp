// The Life grid: seeding, the generation step with hard edges, copy-back.
#include "app/life.h"

#include "random/random.h"
#include "render2d/render2d.h"
#include "graphics/graphics.h"
#include "runtime/time.h"

Array* cellules = &kxEmptyArray;
Array* cellules_copie = &kxEmptyArray;
Long iComptBoucles = 1;
Int iComptVoisins = 0;
Int iCompteurX = 0;
Int iCompteurY = 0;
uint16_t iModeRendu = 1;
uint8_t bVitesseSimulationMaximale = 0;

// One bit per module variable with a computed initial value.
static Int initBits = 0;

void CreateGrids() {
  if (!(initBits & 1)) {
    Array* grid = kxArrayNew("i", 2, kGridColumns, kGridRows);
    kxRetain(grid);  // the empty array it replaces is static: nothing to release
    cellules = grid;
    initBits |= 1;
  }
  if (!(initBits & 2)) {
    Array* grid = kxArrayNew("i", 2, kGridColumns, kGridRows);
    kxRetain(grid);
    cellules_copie = grid;
    initBits |= 2;
  }
}

Int initSim() {
  kxWriteStdout(KX_STR("      <INITSIM IN>      "));
  SetColor(40, 40, 40);
  SeedRnd(kxMilliSecs());
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y) Cell(cellules, x, y) = Rand(0, 1);
  Flip(-1);
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y) Cell(cellules_copie, x, y) = Cell(cellules, x, y);
  demarrerRendu(1);
  kxWriteStdout(KX_STR("      <INITSIM OUT>      "));
  return 0;
}

// A neighbour outside the grid does not exist: the bounds are tested on the
// indices before any element is read.
static inline Int LiveAt(const Int* grid, Int x, Int y) {
  if (x < 0 || x >= kGridColumns || y < 0 || y >= kGridRows) return 0;
  return grid[x * kGridRows + y] == 1 ? 1 : 0;
}

static inline Int CountAtEdge(const Int* now, Int x, Int y) {
  return LiveAt(now, x - 1, y - 1) + LiveAt(now, x, y - 1) + LiveAt(now, x - 1, y) +
         LiveAt(now, x - 1, y + 1) + LiveAt(now, x, y + 1) + LiveAt(now, x + 1, y - 1) +
         LiveAt(now, x + 1, y) + LiveAt(now, x + 1, y + 1);
}

// A cell away from the edges has all eight neighbours, at these offsets
// from its own index: no index needs a test.
static inline Int CountInside(const Int* now, Int i) {
  constexpr Int r = kGridRows;
  return (now[i - r - 1] == 1) + (now[i - 1] == 1) + (now[i - r] == 1) + (now[i - r + 1] == 1) +
         (now[i + 1] == 1) + (now[i + r - 1] == 1) + (now[i + r] == 1) + (now[i + r + 1] == 1);
}

// Two neighbours: nothing is written, the copy keeps the current state.
static inline void ApplyRule(Int* next, Int i, Int count) {
  if (count < 2 || count > 3)
    next[i] = 0;
  else if (count == 3)
    next[i] = 1;
}

// The loop runs on locals and leaves the module counters as the step
// defines them (57, 24 and the last cell's count); nothing in the step
// allocates, so the element pointers stay valid throughout. Cells are
// visited in the defined order, x outer and y inner; the first and last
// column and row test their neighbours' indices, the cells inside do not
// need to.
void StepGeneration() {
  const Int* now = cellules->Elements<Int>();
  Int* next = cellules_copie->Elements<Int>();
  constexpr Int last = kGridRows - 1;
  Int count = 0;
  for (Int x = 0; x < kGridColumns; ++x) {
    if (x == 0 || x == kGridColumns - 1) {
      for (Int y = 0; y < kGridRows; ++y) {
        count = CountAtEdge(now, x, y);
        ApplyRule(next, x * kGridRows + y, count);
      }
      continue;
    }
    const Int column = x * kGridRows;
    ApplyRule(next, column, CountAtEdge(now, x, 0));
    for (Int y = 1; y < last; ++y) ApplyRule(next, column + y, CountInside(now, column + y));
    count = CountAtEdge(now, x, last);
    ApplyRule(next, column + last, count);
  }
  iComptVoisins = count;
  iCompteurX = kGridColumns;
  iCompteurY = kGridRows;
}

void CopyBack() {
  Int* now = cellules->Elements<Int>();
  const Int* next = cellules_copie->Elements<Int>();
  for (Int i = 0; i < kGridColumns * kGridRows; ++i) now[i] = next[i];
  iCompteurX = kGridColumns;
  iCompteurY = kGridRows;
}
