// The millisecond clock, the 1 ms tick, delays, and the numeric helpers that
// compiled code calls: float-to-integer conversion, power, small Int and
// Double operations and the 64-bit integer family (results through the
// destination pointer, comparisons as Int).
#pragma once

#include "runtime/object.h"

extern volatile Int PendingSignal;  // last tick signal (14), 0 when none

Int kxMilliSecs();
void kxDelay(Int ms);
void kxClockStart();
void kxSetTickInterval(Int ms);
// Run at the start of every delay of 1 ms or more on the main thread, before
// the first pause: the display layer hands the drawing it has queued to the
// rasteriser there, so that it is done while the program waits. Null: none.
void kxSetDelayStartHook(void (*hook)());

Int kxTruncateToInt(Double v);
void kxLongOfDouble(Long* result, Double v);
Double kxPow(Double a, Double b);

Int kxIntAbs(Int a);
Int kxIntSgn(Int a);
Int kxIntMod(Int a, Int b);
Int kxIntMin(Int a, Int b);
Int kxIntMax(Int a, Int b);
Double kxDoubleAbs(Double a);
Double kxDoubleSgn(Double a);
Double kxDoubleMod(Double a, Double b);
Double kxDoubleMin(Double a, Double b);
Double kxDoubleMax(Double a, Double b);

void kxLongAdd(Long* r, Long a, Long b);
void kxLongSub(Long* r, Long a, Long b);
void kxLongMul(Long* r, Long a, Long b);
void kxLongDiv(Long* r, Long a, Long b);
void kxLongMod(Long* r, Long a, Long b);
void kxLongNeg(Long* r, Long a);
void kxLongNot(Long* r, Long a);
void kxLongAbs(Long* r, Long a);
void kxLongSgn(Long* r, Long a);
void kxLongMin(Long* r, Long a, Long b);
void kxLongMax(Long* r, Long a, Long b);
void kxLongAnd(Long* r, Long a, Long b);
void kxLongOr(Long* r, Long a, Long b);
void kxLongXor(Long* r, Long a, Long b);
void kxLongShl(Long* r, Long a, Int count);
void kxLongShr(Long* r, Long a, Int count);  // logical
void kxLongSar(Long* r, Long a, Int count);  // arithmetic
Int kxLongLt(Long a, Long b);
Int kxLongGt(Long a, Long b);
Int kxLongLe(Long a, Long b);
Int kxLongGe(Long a, Long b);
Int kxLongEq(Long a, Long b);
Int kxLongNe(Long a, Long b);
Double kxLongToDouble(Long a);

// Degree-based trigonometry used by the 2D layer.
Double kxSinDeg(Double degrees);
Double kxCosDeg(Double degrees);
