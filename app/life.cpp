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
static inline Int LiveAt(Int x, Int y) {
  if (x < 0 || x >= kGridColumns || y < 0 || y >= kGridRows) return 0;
  return Cell(cellules, x, y) == 1 ? 1 : 0;
}

void StepGeneration() {
  for (iCompteurX = 0; iCompteurX < kGridColumns; ++iCompteurX) {
    for (iCompteurY = 0; iCompteurY < kGridRows; ++iCompteurY) {
      const Int x = iCompteurX, y = iCompteurY;
      iComptVoisins = 0;
      iComptVoisins += LiveAt(x - 1, y - 1);
      iComptVoisins += LiveAt(x, y - 1);
      iComptVoisins += LiveAt(x - 1, y);
      iComptVoisins += LiveAt(x - 1, y + 1);
      iComptVoisins += LiveAt(x, y + 1);
      iComptVoisins += LiveAt(x + 1, y - 1);
      iComptVoisins += LiveAt(x + 1, y);
      iComptVoisins += LiveAt(x + 1, y + 1);
      // Two neighbours: nothing is written, the copy keeps the current state.
      if (iComptVoisins < 2 || iComptVoisins > 3)
        Cell(cellules_copie, x, y) = 0;
      else if (iComptVoisins == 3)
        Cell(cellules_copie, x, y) = 1;
    }
  }
}

void CopyBack() {
  for (iCompteurX = 0; iCompteurX < kGridColumns; ++iCompteurX)
    for (iCompteurY = 0; iCompteurY < kGridRows; ++iCompteurY)
      Cell(cellules, iCompteurX, iCompteurY) = Cell(cellules_copie, iCompteurX, iCompteurY);
}
