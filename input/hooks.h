// Hook chains: priority-ordered lists of callbacks under small integer ids.
#pragma once

#include "runtime/object.h"

using HookFunction = Object* (*)(Int id, Object* data, Object* context);

class THook : public Object {
  KX_CLASS(THook, Object)
 public:
  THook();
  Ref<THook> next;
  Int priority = 0;
  HookFunction function;  // the runtime's unset-function routine until set
  Ref<Object> context;
};

Int NewHookId();  // 0, 1, ... 255; then raises "Too many hook ids"
void AttachHook(Int id, HookFunction function, Object* context, Int priority);
Object* CallHooks(Int id, Object* data);
void DetachHook(Int id, HookFunction function, Object* context);
// The first hook of a chain (null when it is empty); the rest follow by next.
THook* FirstHook(Int id);

Int InitHooksModule();
