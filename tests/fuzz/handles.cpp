// The handle table: random sequences of handing out, looking up and
// dropping handles, mixed with forged numbers, against a model of which
// handle names which object.
#include <map>

#include "tests/fuzz/fuzz_input.h"

namespace {

// The live handles of this input: handle -> object. Each holds a reference,
// so the objects outlive collections until dropped.
using Model = std::map<Int, Object*>;

Int Forged(FuzzInput& in, const Model& live) {
  Int h;
  switch (in.Byte() % 4) {
    case 0: h = in.Take<Int>(); break;
    case 1: {
      // A live handle with high bits added: what a 32-bit multiple of 8 would alias.
      const Int base = live.empty() ? 1 : live.begin()->first;
      h = static_cast<Int>(static_cast<uint32_t>(base) +
                           (static_cast<uint32_t>(in.Range(1, 7)) << 29));
      break;
    }
    case 2: h = -in.Range(0, 3); break;
    default: h = live.empty() ? 1 : live.rbegin()->first + in.Range(1, 3); break;
  }
  return live.count(h) ? 0 : h;
}

void CheckAll(const Model& live) {
  for (const auto& [handle, object] : live) {
    FUZZ_CHECK(kxHandleLookup(handle) == object);
    FUZZ_CHECK(kxObjectToHandle(object) == handle);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0));
  FuzzInput in(data, size);
  Model live;
  for (Int step = 0; step < 200 && !in.Empty(); ++step) {
    switch (in.Byte() % 6) {
      case 0:
      case 1: {
        Object* o = kxStringFromInt(in.Take<Int>());
        const Int h = kxObjectToHandle(o);
        FUZZ_CHECK(h > 0 && !live.count(h));
        live[h] = o;
        break;
      }
      case 2: {
        if (live.empty()) break;
        auto it = std::next(live.begin(), in.Range(0, Int(live.size()) - 1));
        kxHandleDrop(it->first);
        FUZZ_CHECK(kxHandleLookup(it->first) == nullptr);
        live.erase(it);
        break;
      }
      case 3: {
        const Int h = Forged(in, live);
        FUZZ_CHECK(kxHandleLookup(h) == nullptr);
        break;
      }
      case 4:
        kxHandleDrop(Forged(in, live));  // must not drop anyone else's object
        CheckAll(live);
        break;
      default:
        kxCollectGarbage();
        CheckAll(live);
        break;
    }
  }
  FUZZ_CHECK(kxObjectToHandle(nullptr) == 0 && kxHandleLookup(0) == nullptr);
  CheckAll(live);
  for (const auto& entry : live) kxHandleDrop(entry.first);
  kxCollectGarbage();
  return 0;
}
