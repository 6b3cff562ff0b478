// Hook chains: one singly linked list of THook per id, kept in descending
// priority order, hooks of equal priority in the order they were attached.
// The chain heads live in a runtime array of 256 references so that the
// collector sees every hook; ids are handed out once and never reused.
#include "input/hooks.h"

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/module.h"

KX_CLASS_RECORD(THook)

namespace {

constexpr Int kHookIdCount = 256;

Ref<Array> chains;  // ":THook"[256], heads indexed by id
Int lastHookId = -1;

// A hook whose function was never set behaves as a call through a null
// function pointer would in compiled code: a runtime error, not a crash.
Object* UnsetHookFunction(Int, Object*, Object*) { kxRaiseNullFunction(); }

// Ids come only from NewHookId; anything else would index past the heads.
THook** ChainHead(Int id) {
  if (id < 0 || id >= kHookIdCount || !chains) kxRaiseIndexRange();
  return reinterpret_cast<THook**>(chains->RefElements()) + id;
}

}  // namespace

THook::THook() : function(&UnsetHookFunction) {}

Int NewHookId() {
  InitHooksModule();
  if (lastHookId >= kHookIdCount - 1) kxThrowCString("Too many hook ids");
  lastHookId += 1;
  return lastHookId;
}

void AttachHook(Int id, HookFunction function, Object* context, Int priority) {
  InitHooksModule();
  THook** head = ChainHead(id);
  THook* hook = New<THook>();
  hook->priority = priority;
  hook->function = function ? function : &UnsetHookFunction;
  hook->context = context;

  THook* after = nullptr;
  for (THook* h = *head; h && h->priority >= priority; h = h->next) after = h;
  if (after) {
    hook->next = after->next.get();
    after->next = hook;
  } else {
    hook->next = *head;
    kxArraySetRef(chains, id, hook);
  }
}

Object* CallHooks(Int id, Object* data) {
  // The current hook stays on this frame while it runs, so a hook that
  // detaches itself is not freed under us, and its next link still leads
  // on through the rest of the chain.
  for (THook* h = *ChainHead(id); h; h = h->next) data = h->function(id, data, h->context);
  return data;
}

void DetachHook(Int id, HookFunction function, Object* context) {
  THook** head = ChainHead(id);
  if (!function) function = &UnsetHookFunction;  // as AttachHook stored it
  THook* previous = nullptr;
  for (THook* h = *head; h; previous = h, h = h->next) {
    if (h->function != function || h->context.get() != context) continue;
    if (previous)
      previous->next = h->next.get();
    else
      kxArraySetRef(chains, id, h->next.get());
    return;
  }
}

THook* FirstHook(Int id) { return *ChainHead(id); }

Int InitHooksModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  chains = kxArrayNew(":THook", 1, kHookIdCount);
  return 0;
}
