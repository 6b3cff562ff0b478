// The chain of image-file decoders and LoadPixmapFile, which offers a
// stream to each decoder in turn. The last decoder constructed is asked
// first. A stream error inside a decoder means "not my format"; any other
// error is the caller's to see. The stream is closed on every path out.
#include "render2d/pixmap/pixmap.h"
#include "render2d/pixmap/stream.h"
#include "runtime/error.h"

KX_CLASS_RECORD(TPixmapDecoder, &TPixmapDecoder::DecodePixmap)

Ref<TPixmapDecoder> PixmapDecoderChain;

TPixmapDecoder::TPixmapDecoder() {
  nextDecoder = PixmapDecoderChain;
  PixmapDecoderChain = this;
}

TPixmap* TPixmapDecoder::DecodePixmap(TStream*) { kxRaiseAbstractCall(); }

namespace {

// Closes the stream however the loader is left. An error that nobody
// catches ends the process without unwinding, but then nothing is left to
// leak either.
class StreamCloser {
 public:
  explicit StreamCloser(TStream* s) : stream_(s) {}
  ~StreamCloser() { stream_->Close(); }

 private:
  TStream* stream_;
};

// One decoder's answer; stream errors count as a refusal.
TPixmap* TryDecoder(TPixmapDecoder* decoder, TStream* stream) {
  try {
    KxTry region;
    return decoder->DecodePixmap(stream);
  } catch (const KxThrown& thrown) {
    if (Cast<TStreamError>(thrown.error.get())) return nullptr;
    kxThrow(thrown.error.get());
  }
}

}  // namespace

TPixmap* LoadPixmapFile(Object* url) {
  TStream* stream = OpenReadStream(url);
  if (!stream) return nullptr;
  StreamCloser closer(stream);
  const Long start = stream->Position();
  if (start < 0) return nullptr;
  TPixmap* result = nullptr;
  for (TPixmapDecoder* d = PixmapDecoderChain; d && !result; d = d->nextDecoder) {
    // A decoder must not see the stream where the last one left it; one
    // that cannot be put back is not asked.
    if (stream->Seek(start) != start) continue;
    result = TryDecoder(d, stream);
  }
  return result;
}
