// The object memory manager: a size-class allocator for small blocks, the
// presence bitmap that tells which addresses start an object, the pending
// list of objects whose count fell to zero, and the collector that frees
// pending objects no word of the main thread's stack points at.
//
// Invariants kept here:
//  - every object allocated by kxAllocObjectMemory has its presence bit set
//    until the collector frees it (the bit is cleared just before the free
//    routine runs);
//  - an object on the pending list carries the 0x80000000 bit in its count;
//  - the collector never runs inside itself (the re-entrance flag), and it
//    leaves its state consistent even when a consistency check raises.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "runtime/module.h"
#include "runtime/object.h"

namespace {

// --- failure of the C allocator ---------------------------------------------

// Memory set aside from the start and given back at the first refusal, so
// that the at-exit routines (the video mode put back, the display closed)
// still find some when nothing else is left. Only address space until then:
// its pages are never touched.
constexpr size_t kReserveBytes = size_t(1) << 20;
void* reserve = std::malloc(kReserveBytes);

// A refusal seen by the runtime, and whether its line has been written.
volatile sig_atomic_t refused = 0;
int lineWritten = 0;

// Probes for a process starved of memory. A block of a few MiB that malloc
// refuses; or address space that cannot be had for what creating a display
// takes (the software GL driver alone maps some 150 MiB): under a limit on
// the address space (ulimit -v) or strict overcommit, a driver fails to load
// while small blocks are still to be had. The space is only mapped, never
// touched.
constexpr size_t kProbeBytes = size_t(4) << 20;
constexpr size_t kProbeSpaceBytes = size_t(256) << 20;

bool AddressSpaceFree() {
  void* probe = mmap(nullptr, kProbeSpaceBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
  if (probe == MAP_FAILED) return false;
  munmap(probe, kProbeSpaceBytes);
  return true;
}

size_t FormatOutOfMemory(char* out, size_t bytes) {
  static const char kText[] = "lifesim: out of memory";
  size_t n = sizeof kText - 1;
  std::memcpy(out, kText, n);
  if (bytes != 0) {
    char digits[24];
    size_t d = 0;
    do {
      digits[d++] = static_cast<char>('0' + bytes % 10);
      bytes /= 10;
    } while (bytes != 0);
    out[n++] = ' ';
    out[n++] = '(';
    while (d > 0) out[n++] = digits[--d];
    std::memcpy(out + n, " bytes)", 7);
    n += 7;
  }
  out[n++] = '\n';
  return n;
}

// The runtime has no way to carry on without memory; dereferencing a null
// block later would only hide the cause, so say it and end.
[[noreturn]] void OutOfMemory(size_t bytes) { kxOutOfMemory(bytes); }

// --- small-block allocator ---------------------------------------------------

constexpr Int kSmallLimit = 240;  // larger blocks go to kxAlignedAlloc
constexpr Int kClassCount = 15;   // 16, 32, ..., 240 bytes
constexpr Int kChunkBytes = 65536;

struct FreeBlock {
  FreeBlock* next;
};

FreeBlock* freeLists[kClassCount + 1];  // index = size class 1..15
char* chunkNext = nullptr;
Int chunkLeft = 0;  // always a multiple of 16
Long bytesInUse = 0;

inline Int SizeClass(Int size) { return (size + 15) >> 4; }

void PushFree(void* block, Int cls) {
  FreeBlock* b = static_cast<FreeBlock*>(block);
  b->next = freeLists[cls];
  freeLists[cls] = b;
}

// --- presence bitmap -----------------------------------------------------------
//
// One bit per 16-byte unit, in 4 KiB blocks of 1024 words, each block
// covering a 512 KiB region. With 32-bit addresses that is the documented
// layout exactly: one top table indexed by address bits 31..19. With 47-bit
// user addresses that table would need 2^28 entries, so there the region
// index is split once more: a 4096-entry root (address bits 46..35) points at
// lazily made tables of 65536 region entries (bits 34..19), and a word above
// the user address range is rejected at once. Either way a lookup is a few
// loads and a bit test.

constexpr int kRegionShift = 19;  // 512 KiB regions
using BitBlock = uint32_t[1024];

#if UINTPTR_MAX == 0xffffffffu
constexpr int kTopBits = 32 - kRegionShift;  // 8192 entries, 32 KiB
BitBlock* bitmapTop[1 << kTopBits];

inline BitBlock** BlockSlot(uintptr_t a, bool) { return &bitmapTop[a >> kRegionShift]; }
#else
constexpr int kMidBits = 16;
constexpr int kRootShift = kRegionShift + kMidBits;
constexpr int kRootBits = 12;
constexpr uintptr_t kAddressLimit = uintptr_t(1) << (kRootShift + kRootBits);

using MidTable = BitBlock * [1 << kMidBits];
MidTable* bitmapRoot[1 << kRootBits];

inline BitBlock** BlockSlot(uintptr_t a, bool create) {
  if (a >= kAddressLimit) return nullptr;
  MidTable*& mid = bitmapRoot[a >> kRootShift];
  if (!mid) {
    if (!create) return nullptr;
    mid = static_cast<MidTable*>(std::calloc(1, sizeof(MidTable)));
    if (!mid) OutOfMemory(sizeof(MidTable));
  }
  return &(*mid)[(a >> kRegionShift) & ((1u << kMidBits) - 1)];
}
#endif

Int bitmapBlocks = 0;

// The block of the region looked up last: objects made one after another
// come from the same chunk, so nearly every lookup of an allocation or a
// free is in it. Blocks are never freed, so the entry cannot go stale.
uintptr_t lastRegion = ~uintptr_t(0);
BitBlock* lastBlock = nullptr;

inline uint32_t* BitWord(uintptr_t a, bool create) {
  if ((a >> kRegionShift) == lastRegion) return &(*lastBlock)[(a >> 9) & 1023];
  BitBlock** slot = BlockSlot(a, create);
  if (!slot) return nullptr;
  BitBlock*& block = *slot;
  if (!block) {
    if (!create) return nullptr;
    block = static_cast<BitBlock*>(std::calloc(1, sizeof(BitBlock)));
    if (!block) OutOfMemory(sizeof(BitBlock));
    ++bitmapBlocks;
  }
  lastRegion = a >> kRegionShift;
  lastBlock = block;
  return &(*block)[(a >> 9) & 1023];
}

inline uint32_t BitMask(uintptr_t a) { return uint32_t(1) << ((a >> 4) & 31); }

void SetPresence(void* p) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  uint32_t* w = BitWord(a, true);
  if (!w || (*w & BitMask(a))) kxThrowCString("GC setMemBit: membit already set!");
  *w |= BitMask(a);
}

void ClearPresence(void* p) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  uint32_t* w = BitWord(a, false);
  if (!w || !(*w & BitMask(a))) kxThrowCString("GC clrMemBit: membit not set!");
  *w &= ~BitMask(a);
}

// --- pending list and collector state -------------------------------------------

Object** pending = nullptr;
Int pendingCount = 0;
Int pendingCapacity = 0;

Object** scratch = nullptr;  // objects found on the stack by one collection
size_t scratchCount = 0;
size_t scratchCapacity = 0;

Int collectMode = KX_COLLECT_AUTO;
Int collectThreshold = 500;
Long bytesSinceCollect = 0;
Int lastBytesFreed = 0;
Int lastObjectsFreed = 0;
bool collecting = false;
void* stackBase = nullptr;

void EnsureScratch(size_t needed) {
  if (needed <= scratchCapacity) return;
  size_t cap = scratchCapacity + 1000;
  if (cap < needed) cap = needed;
  void* p = std::realloc(scratch, cap * sizeof(Object*));
  if (!p) OutOfMemory(cap * sizeof(Object*));
  scratch = static_cast<Object**>(p);
  scratchCapacity = cap;
}

// Reads every pointer-sized word (4 bytes on i686, 8 on x86-64) from the
// current stack pointer up to the base, then the callee-saved registers,
// which __builtin_unwind_init has made this frame spill below the words
// read. Conservative on purpose: it reads stack memory that AddressSanitizer
// considers out of bounds (other frames' red zones), so it must not be
// instrumented.
__attribute__((noinline, no_sanitize_address)) size_t ScanStack() {
  __builtin_unwind_init();
  uintptr_t sp;
#if defined(__x86_64__)
  asm volatile("mov %%rsp, %0" : "=r"(sp));
#else
  asm volatile("mov %%esp, %0" : "=r"(sp));
#endif
  sp &= ~uintptr_t(sizeof(uintptr_t) - 1);
  uintptr_t top = reinterpret_cast<uintptr_t>(stackBase);
  if (top <= sp) return 0;
  size_t words = (top - sp) / sizeof(uintptr_t);
  EnsureScratch(words + 4);
  const uintptr_t* w = reinterpret_cast<const uintptr_t*>(sp);
  size_t found = 0;
  for (size_t i = 0; i < words; ++i) {
    uintptr_t a = w[i];
    if (a & 15) continue;
    const uint32_t* bits = BitWord(a, false);
    if (bits && (*bits & BitMask(a))) scratch[found++] = reinterpret_cast<Object*>(a);
  }
  scratchCount = found;
  return words;
}

void ReportBadRefs(Object* o) {
  std::printf("bad refs:obj=$%lx refs=$%x\n",
              static_cast<unsigned long>(reinterpret_cast<uintptr_t>(o)), o->refs);
  if (String* s = Cast<String>(o)) {
    char* text = kxStringEncodeCText(s);
    std::printf("String:%s\n", text ? text : "");
    kxStringFreeCText(text);
  }
  std::fflush(stdout);
}

// Finishes a collection: entries before `done` have been handled and leave
// the list; the rest (only when a consistency check raised part way) stay
// pending for a later collection. Then the stack protection is taken back.
struct CollectionEnd {
  Int done = 0;
  ~CollectionEnd() {
    if (done >= pendingCount) {
      pendingCount = 0;
    } else {
      std::memmove(pending, pending + done, sizeof(Object*) * (pendingCount - done));
      pendingCount -= done;
    }
    // Releasing may schedule objects (appending to the pending list); the
    // scratch array itself is not touched by that.
    size_t n = scratchCount;
    scratchCount = 0;
    for (size_t i = 0; i < n; ++i) kxReleaseObject(scratch[i]);
    collecting = false;
  }
};

}  // namespace

// --- aligned blocks ------------------------------------------------------------------

// The block starts at a 16-byte boundary at least one pointer above the
// malloc result, and the word before it keeps that result.
void* kxAlignedAlloc(size_t n) {
  // A size within the overhead of the top would wrap to a tiny block.
  if (n > SIZE_MAX - kxAlignedOverhead) OutOfMemory(n);
  size_t total = n + kxAlignedOverhead;
  void* raw = std::malloc(total);
  if (!raw) OutOfMemory(total);
  uintptr_t r = reinterpret_cast<uintptr_t>(raw);
  uintptr_t block = (r + 16) & ~uintptr_t(15);
  if (block - r < sizeof(void*)) block += 16;
  reinterpret_cast<void**>(block)[-1] = raw;
  return reinterpret_cast<void*>(block);
}

void kxAlignedFree(void* block) {
  if (!block) return;
  std::free(static_cast<void**>(block)[-1]);
}

// Copies only what fits: a shrinking grow must not read past the new block.
void* kxAlignedGrow(void* block, size_t oldSize, size_t newSize) {
  void* grown = kxAlignedAlloc(newSize);
  if (block) {
    std::memcpy(grown, block, oldSize < newSize ? oldSize : newSize);
    kxAlignedFree(block);
  }
  return grown;
}

// --- small blocks --------------------------------------------------------------------

namespace {
// The allocator's body, inlined into the object allocator too.
inline void* SmallAlloc(Int size) {
  if (size <= 0) return nullptr;
  if (size > kSmallLimit) {
    bytesInUse += size;
    return kxAlignedAlloc(static_cast<size_t>(size));
  }
  Int cls = SizeClass(size);
  void* block;
  if (FreeBlock* b = freeLists[cls]) {
    freeLists[cls] = b->next;
    block = b;
  } else {
    Int bytes = cls << 4;
    if (bytes > chunkLeft) {
      // The rest goes to the free lists before the new chunk is asked for:
      // an exit that the request starts may still allocate.
      if (chunkLeft > 0) PushFree(chunkNext, chunkLeft >> 4);
      chunkLeft = 0;
      chunkNext = static_cast<char*>(kxAlignedAlloc(kChunkBytes));
      chunkLeft = kChunkBytes;
    }
    block = chunkNext;
    chunkNext += bytes;
    chunkLeft -= bytes;
  }
  bytesInUse += size;
  return block;
}
}  // namespace

void* kxSmallAlloc(Int size) { return SmallAlloc(size); }

void kxSmallFree(void* block, Int size) {
  if (!block) return;
  if (size <= kSmallLimit) {
    PushFree(block, SizeClass(size));
  } else {
    kxAlignedFree(block);
  }
  bytesInUse -= size;
}

// --- objects ----------------------------------------------------------------------------

void* kxAllocObjectMemory(size_t size) {
  // Allocations made by free routines during a collection neither collect
  // (the collector does not nest) nor move the threshold on stale counts.
  Int mode = collecting ? KX_COLLECT_ON_REQUEST : (collectMode & KX_COLLECT_SCHEDULE);
  if (mode == KX_COLLECT_AUTO) {
    bytesSinceCollect += static_cast<Long>(size);
    if (bytesSinceCollect > 1048576 || pendingCount > collectThreshold) {
      kxCollectGarbage();
      bytesSinceCollect = 0;
      // Never below the initial 500: after a large free the plain formula
      // goes deeply negative and every following allocation would collect.
      const Long next = Long(collectThreshold) - lastObjectsFreed + 500;
      collectThreshold = static_cast<Int>(std::clamp<Long>(next, 500, INT32_MAX));
    }
  } else if (mode == KX_COLLECT_EVERY_ALLOC) {
    kxCollectGarbage();
  }
  if (size > 0x7fffffff) OutOfMemory(size);
  void* p = SmallAlloc(static_cast<Int>(size));
  // Count and class pointer start cleared, so that a collection running
  // before the constructor has stored them sees a count of 0 and no class.
  std::memset(p, 0, sizeof(Object));
  SetPresence(p);
  return p;
}

void kxSchedulePending(Object* o) {
  if (o->refs != 0) kxThrowCString("GC kxGCFree: mem has non-0 refs");
  if (pendingCount == pendingCapacity) {
    Int cap = pendingCapacity + 1024;
    void* p = std::realloc(pending, sizeof(Object*) * static_cast<size_t>(cap));
    if (!p) OutOfMemory(sizeof(Object*) * static_cast<size_t>(cap));
    pending = static_cast<Object**>(p);
    pendingCapacity = cap;
  }
  o->refs = KX_REFS_PENDING;
  pending[pendingCount++] = o;
}

void kxReleaseObject(Object* o) {
  if (--o->refs == 0) kxSchedulePending(o);
}

Int kxCollectGarbage() {
  if (collecting || !stackBase || !kxCanScanStack()) return 0;
  collecting = true;
  Long before = bytesInUse;
  Int freed = 0;
  size_t scanned, live;
  {
    CollectionEnd end;
    scanned = ScanStack();
    live = scratchCount;
    for (size_t i = 0; i < scratchCount; ++i) scratch[i]->refs += 1;
    // Free routines release fields and elements, which can append to the
    // list (and move it): re-read both at every step.
    for (Int i = 0; i < pendingCount; ++i) {
      Object* o = pending[i];
      end.done = i + 1;
      if (!(o->refs & KX_REFS_PENDING)) ReportBadRefs(o);
      o->refs &= ~KX_REFS_PENDING;
      if (o->refs == 0) {
        ClearPresence(o);
        o->Class()->free(o);
        ++freed;
      }
    }
    end.done = pendingCount;
    lastObjectsFreed = freed;
    lastBytesFreed = static_cast<Int>(before - bytesInUse);
  }
  if (collectMode & KX_COLLECT_STATISTICS) {
    std::printf(
        "GC collectMem: memFreed=%i, time=%ims, objsFreed=%i, objsScanned=%i, objsLive=%i\n",
        lastBytesFreed, -1, freed, static_cast<Int>(scanned), static_cast<Int>(live));
    std::fflush(stdout);
  }
  return lastBytesFreed;
}

// Gives back the memory of an object whose constructor raised: it never
// became a complete object, so it leaves the pending list (a collection
// during construction may have put it there) and the presence bitmap.
void kxAbandonObjectMemory(void* p, size_t size) {
  Object* o = static_cast<Object*>(p);
  for (Int i = pendingCount - 1; i >= 0; --i) {
    if (pending[i] == o) {
      std::memmove(pending + i, pending + i + 1, sizeof(Object*) * (pendingCount - i - 1));
      --pendingCount;
    }
  }
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  if (uint32_t* w = BitWord(a, false)) *w &= ~BitMask(a);
  kxSmallFree(p, static_cast<Int>(size));
}

Int kxSetCollectMode(Int mode) {
  collectMode = mode;
  return mode;
}

void kxSetStackBase(void* base) { stackBase = base; }
void* kxStackBase() { return stackBase; }

bool kxIsObjectAddress(const void* p) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  if (a & 15) return false;
  const uint32_t* w = BitWord(a, false);
  return w && (*w & BitMask(a));
}

Int kxPendingCount() { return pendingCount; }
Int kxPendingCapacity() { return pendingCapacity; }
Int kxBitmapBlockCount() { return bitmapBlocks; }
Int kxBytesInUse() { return static_cast<Int>(bytesInUse); }
Int kxLastBytesFreed() { return lastBytesFreed; }
Int kxLastObjectsFreed() { return lastObjectsFreed; }
Int kxCollectTime() { return -1; }

// --- running out -----------------------------------------------------------------

void kxWriteOutOfMemoryLine(size_t bytes) {
  if (__atomic_exchange_n(&lineWritten, 1, __ATOMIC_SEQ_CST)) return;
  char text[64];
  const size_t n = FormatOutOfMemory(text, bytes);
  ssize_t ignored = write(STDERR_FILENO, text, n);
  (void)ignored;
}

// The reserve is given back first: the exit's routines need memory too. A
// refusal inside them ends the process then and there (kxExitProcess does).
void kxOutOfMemory(size_t bytes) {
  refused = 1;
  std::free(reserve);
  reserve = nullptr;
  kxWriteOutOfMemoryLine(bytes);
  if (!kxOnMainThread()) kxHandExitToMainThread();
  kxExitProcess(255);
}

bool kxMemoryExhausted() {
  if (refused) return true;
  void* probe = std::malloc(kProbeBytes);
  std::free(probe);
  if (!probe || !AddressSpaceFree()) refused = 1;
  return refused;
}

// Without the allocator, which a fault may have interrupted.
bool kxMemoryExhaustedInSignal() { return refused || !AddressSpaceFree(); }
