// The process-wide seeded random generator: a multiplicative congruential
// generator modulo 2^31 - 1 with multiplier 48271. A given seed always gives
// the same sequence. Main thread only.
#pragma once

#include "runtime/object.h"

Int InitRandomModule();

Int SeedRnd(Int seed);                 // seed AND 0x7fffffff; 0 and 2^31 - 1 give 4660
Int SeedValue();                       // the current state
Float UnitFloat();                     // [0, 1), one step
Double UnitDouble();                   // [0, 1), two steps
Double RandRange(Double a, Double b);  // [lower, upper), two steps
Int Rand(Int a, Int b);                // a .. b inclusive, either order, two steps
