// The collision matrix: the four floats that place collision quads. All
// zero until the first 2D activation sets the draw matrix.
#include "render2d/collision.h"

namespace {
Float matrixIx = 0, matrixIy = 0, matrixJx = 0, matrixJy = 0;
}  // namespace

void SetCollisionMatrix(Float ix, Float iy, Float jx, Float jy) {
  matrixIx = ix;
  matrixIy = iy;
  matrixJx = jx;
  matrixJy = jy;
}

void GetCollisionMatrix(Float* ix, Float* iy, Float* jx, Float* jy) {
  *ix = matrixIx;
  *iy = matrixIy;
  *jx = matrixJx;
  *jy = matrixJy;
}
