// Polled input: key, character and mouse state kept from the event stream
// by a hook on EventHookId (priority 0) while graphics are open. Every query
// pumps the system events first.
#pragma once

#include "runtime/object.h"

void StartPolledInput(Object* source);
void StopPolledInput();
Int KeyHit(Int key);
Int KeyIsDown(Int key);
Int NextChar();
void ClearKeys();
Int WaitForKey();
Int WaitForChar();
Int MouseButtonHits(Int button);
Int MouseButtonIsDown(Int button);
Int PointerX();
Int PointerY();
Int WheelTotal();
void ClearMouse();
Int WaitForMouseButton();
Int AppIsSuspended();
Int TerminateRequested();
Int PolledInputActive();

Int InitPolledInputModule();
