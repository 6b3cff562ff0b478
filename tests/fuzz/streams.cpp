// The read stream, the decoder chain and the embedded-block registry.
// A file of the input's bytes is read through the file stream with random
// seeks and reads of any count, checked against the bytes themselves;
// LoadPixmapFile offers that file, and a stream that fails or cannot seek
// when the input says so, to a chain of decoders that read headers and
// rows as the input describes them, refuse, or raise; blocks are
// registered and looked up under a small set of names against a model.
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "render2d/pixmap/pixmap.h"
#include "render2d/pixmap/stream.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

FuzzInput* current;  // the input being run, for the stream and decoders
std::string filePath;

// A stream over bytes held here, which fails, loses its position or reads
// short when the input says so.
class TFuzzStream : public TStream {
  KX_CLASS(TFuzzStream, TStream)
 public:
  std::vector<uint8_t> bytes;
  Long at = 0;
  bool closed = false;
  Long Position() override { return current->Byte() % 32 == 0 ? -1 : at; }
  Long Seek(Long position) override {
    if (position < 0 || position > Long(bytes.size()) || current->Byte() % 32 == 0) return -1;
    return at = position;
  }
  Int Read(void* buffer, Int count) override {
    FUZZ_CHECK(!closed);
    if (current->Byte() % 64 == 0) kxRaiseStreamReadError();
    if (count <= 0) return 0;
    Long n = std::min<Long>(count, Long(bytes.size()) - at);
    if (n <= 0) return 0;
    if (n > 1 && current->Flag()) n = current->Range(1, Int(n));  // short reads are allowed
    std::memcpy(buffer, bytes.data() + at, size_t(n));
    at += n;
    return Int(n);
  }
  void Close() override { closed = true; }
};

// Reads a header (width, height, format, alignment as bytes) and then
// the rows, as a decoder of a real format does; refuses a wrong magic.
class THeaderDecoder : public TPixmapDecoder {
  KX_CLASS(THeaderDecoder, TPixmapDecoder)
 public:
  uint8_t magic = 0;
  TPixmap* DecodePixmap(TStream* stream) override {
    if (stream->ReadByte() != magic) return nullptr;
    const Int w = stream->ReadByte() - 4, h = stream->ReadByte() - 4;
    const Int format = stream->ReadByte() % 8, align = stream->ReadByte() % 9;
    TPixmap* p = NewPixmap(w, h, format, align);
    for (Int y = 0; y < p->height; ++y)
      stream->ReadBytes(p->PixelAddress(0, y), p->width * PixelFormatBytes(format));
    return p;
  }
};

// Raises an error that is not a stream error: the caller must see it.
class TRaisingDecoder : public TPixmapDecoder {
  KX_CLASS(TRaisingDecoder, TPixmapDecoder)
 public:
  TPixmap* DecodePixmap(TStream* stream) override {
    if (stream->ReadByte() == 0xEE) kxRaiseError(KX_STR("decoder failure"));
    return nullptr;
  }
};

KX_CLASS_RECORD(TFuzzStream)
KX_CLASS_RECORD(THeaderDecoder)
KX_CLASS_RECORD(TRaisingDecoder)

void SetUp() {
  InitPixmapModule();
  New<TRaisingDecoder>();
  New<THeaderDecoder>()->magic = 'P';
  New<THeaderDecoder>()->magic = 'Q';
  filePath = "/tmp/lifesim-fuzz-streams-" + std::to_string(getpid());
}

void CheckFileStream(FuzzInput& in, const std::vector<uint8_t>& bytes) {
  TFileStream* s = TFileStream::OpenRead(kxStringDecodeCText(filePath.c_str()));
  FUZZ_CHECK(s && s->IsOpen() && s->Position() == 0);
  Long at = 0;
  std::vector<uint8_t> buffer;
  for (int step = 0; step < 16 && !in.Empty(); ++step) {
    switch (in.Byte() % 4) {
      case 0: {
        const Long to = in.Flag() ? Long(in.Position()) : Long(in.Range(0, Int(bytes.size()) + 8));
        const Long got = s->Seek(to);
        FUZZ_CHECK(got == (to < 0 ? -1 : to));
        if (got >= 0) at = got;
        break;
      }
      case 1: {
        const Int count = in.Flag() ? in.Position() : in.Range(0, TFileStream::kBufferSize + 64);
        if (count > 1 << 20) break;  // the buffer is the caller's: keep it small
        buffer.assign(size_t(std::max(count, 0)) + 1, 0);
        const Int n = s->Read(buffer.data(), count);
        const Long left = std::max<Long>(Long(bytes.size()) - at, 0);
        FUZZ_CHECK(n == std::min<Long>(std::max(count, 0), left));
        FUZZ_CHECK(n == 0 || std::memcmp(buffer.data(), bytes.data() + at, size_t(n)) == 0);
        at += n;
        break;
      }
      case 2: {
        const Int count = in.Range(-2, 64);
        buffer.assign(size_t(std::max(count, 0)) + 1, 0);
        const bool enough = count <= 0 || at + count <= Long(bytes.size());
        const bool raised = *RaisedText([&] { s->ReadBytes(buffer.data(), count); }) != 0;
        FUZZ_CHECK(raised != enough);
        at = raised ? s->Position() : at + std::max(count, 0);
        break;
      }
      default: FUZZ_CHECK(s->Position() == at); break;
    }
  }
  s->Close();
  s->Close();
  FUZZ_CHECK(s->Position() == -1 && s->Seek(0) == -1);
  FUZZ_CHECK(*RaisedText([&] { s->Read(buffer.data(), 1); }) != 0);
}

void CheckDecoders(FuzzInput& in, const std::vector<uint8_t>& bytes) {
  Object* url;
  TFuzzStream* stream = nullptr;
  switch (in.Byte() % 4) {
    case 0: url = kxStringDecodeCText(filePath.c_str()); break;
    case 1: url = KX_STR("/nonexistent/lifesim-fuzz"); break;
    case 2:
      url = in.Flag() ? nullptr : static_cast<Object*>(NewPixmap(1, 1, PIXFMT_RGBA32, 4));
      break;
    default:
      stream = New<TFuzzStream>();
      stream->bytes = bytes;
      url = stream;
      break;
  }
  const char* raised = RaisedText([&] {
    TPixmap* p = LoadPixmapFile(url);
    if (p) FUZZ_CHECK(p->width >= 0 && p->height >= 0 && p->capacity >= 0);
  });
  // Stream errors are refusals; only the raising decoder's own error comes out.
  FUZZ_CHECK(*raised == 0 || std::strcmp(raised, "decoder failure") == 0);
  if (stream) FUZZ_CHECK(stream->closed);
}

void CheckBlobs(FuzzInput& in) {
  static std::map<std::string, std::pair<const void*, Int>> model;
  static uint8_t store[256];
  for (int step = 0; step < 8 && !in.Empty(); ++step) {
    const std::string name = "blob" + std::to_string(in.Range(0, 31));
    String* key = kxStringDecodeCText(name.c_str());
    if (in.Flag()) {
      const Int offset = in.Range(0, 255),
                length = in.Flag() ? in.Position() : in.Range(0, 256 - offset);
      const void* data = in.Byte() % 16 ? store + offset : nullptr;
      Int added = -1;
      const char* raised = RaisedText([&] { added = kxAddEmbeddedBlob(key, data, length); });
      const bool refused = length < 0 || (!data && length > 0);
      FUZZ_CHECK((*raised != 0) == refused);
      if (refused) continue;
      FUZZ_CHECK(added == (model.count(name) ? 0 : 1));
      if (added) model[name] = {data, length};
    }
    const auto found = model.find(name);
    FUZZ_CHECK(kxEmbeddedBlobData(key) == (found == model.end() ? nullptr : found->second.first));
    FUZZ_CHECK(kxEmbeddedBlobSize(key) == (found == model.end() ? 0 : found->second.second));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0), &SetUp);
  FuzzInput in(data, size);
  current = &in;
  // The first part of the input is the file; the rest steers.
  const size_t fileSize = std::min<size_t>(in.Range(0, 8192), size / 2);
  std::vector<uint8_t> bytes(data, data + fileSize);
  FILE* f = std::fopen(filePath.c_str(), "wb");
  FUZZ_CHECK(f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  std::fclose(f);
  for (size_t i = 0; i < fileSize; ++i) in.Byte();
  CheckFileStream(in, bytes);
  CheckDecoders(in, bytes);
  CheckBlobs(in);
  current = nullptr;
  kxCollectGarbage();
  kxCollectGarbage();
  return 0;
}
