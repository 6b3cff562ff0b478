// The registry of embedded data blocks: byte blocks built into the program
// and registered by name during module initialisation (font bitmaps), read
// by name afterwards. A list, newest first; a name is registered once.
#include <cstdlib>

#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"

namespace {

struct BlobNode {
  BlobNode* next;
  String* name;  // holds one reference: the node lives outside object memory
  const void* data;
  Int length;
};

BlobNode* blobs = nullptr;

BlobNode* FindBlob(String* name) {
  for (BlobNode* n = blobs; n; n = n->next)
    if (kxStringCompare(n->name, name) == 0) return n;
  return nullptr;
}

}  // namespace

// The size is handed back as it was given: a negative one, or bytes that
// are not there, would become a reader's fault, so they are refused here.
Int kxAddEmbeddedBlob(String* name, const void* data, Int length) {
  if (length < 0) kxRaiseError(KX_STR("Attempt to register an embedded block of negative length"));
  if (!data && length > 0) kxRaiseNullAccess();
  if (FindBlob(name)) return 0;
  BlobNode* n = static_cast<BlobNode*>(std::malloc(sizeof(BlobNode)));
  if (!n) kxOutOfMemory(sizeof(BlobNode));
  kxRetain(name);
  *n = BlobNode{blobs, name, data, length};
  blobs = n;
  return 1;
}

const void* kxEmbeddedBlobData(String* name) {
  BlobNode* n = FindBlob(name);
  return n ? n->data : nullptr;
}

Int kxEmbeddedBlobSize(String* name) {
  BlobNode* n = FindBlob(name);
  return n ? n->length : 0;
}
