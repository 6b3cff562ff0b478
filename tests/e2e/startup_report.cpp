// lifesim with one line more: when the simulator closes its display after
// Escape, a report of what start-up left behind goes to standard error, while
// the display and polled input are still up. Linked with
// --wrap=<EndGraphics>, so the program's own objects run unchanged.
#include <cstdio>
#include <string>

#include "graphics/graphics.h"
#include "input/event.h"
#include "input/hooks.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"

extern "C" void __real__Z11EndGraphicsv();

extern "C" void __wrap__Z11EndGraphicsv() {
  static bool reported = false;
  if (!reported) {
    reported = true;
    std::string priorities;
    for (THook* h = FirstHook(EventHookId); h; h = h->next)
      priorities += (priorities.empty() ? "" : ",") + std::to_string(h->priority);
    std::fprintf(stderr,
                 "startup event_hook=%d priorities=%s flip_hook=%d gldrawtextfont.bin=%d "
                 "zorbefont.bin=%d queued=%d\n",
                 EventHookId, priorities.c_str(), FlipHookId,
                 kxEmbeddedBlobSize(kxStringDecodeCText("gldrawtextfont.bin")),
                 kxEmbeddedBlobSize(kxStringDecodeCText("zorbefont.bin")), QueuedEventCount());
    std::fflush(stderr);
  }
  __real__Z11EndGraphicsv();
}
