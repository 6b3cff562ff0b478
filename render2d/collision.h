// Pixel-exact collisions between images and rectangles as they would be
// drawn. The collision matrix follows the 2D draw matrix: every time the
// draw matrix is recomputed the same four values are handed over here, so
// that collision quads are placed exactly like drawn images.
#pragma once

#include "runtime/object.h"

void SetCollisionMatrix(Float ix, Float iy, Float jx, Float jy);
void GetCollisionMatrix(Float* ix, Float* iy, Float* jx, Float* jy);
