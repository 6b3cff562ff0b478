// Streams: the abstract stream, the read-only file stream and the stream
// errors. The file stream keeps one buffer of read-ahead; its logical
// position is bufferStart_ + bufferPos_, and the kernel's file offset is
// always bufferStart_ + bufferLength_.
#include "render2d/pixmap/stream.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

KX_CLASS_RECORD(TStreamError)
KX_CLASS_RECORD(TStreamReadError)
KX_CLASS_RECORD(TStreamWriteError)
KX_CLASS_RECORD(TStream, &TStream::Position, &TStream::Seek, &TStream::Read, &TStream::Close)
KX_CLASS_RECORD(TFileStream, &TFileStream::Position, &TFileStream::Seek, &TFileStream::Read,
                &TFileStream::Close)

String* TStreamReadError::AsText() { return KX_STR("Error reading from stream"); }
String* TStreamWriteError::AsText() { return KX_STR("Error writing to stream"); }

void kxRaiseStreamReadError() { kxThrow(New<TStreamReadError>()); }
void kxRaiseStreamWriteError() { kxThrow(New<TStreamWriteError>()); }

// --- TStream ---------------------------------------------------------------

Long TStream::Position() { kxRaiseAbstractCall(); }
Long TStream::Seek(Long) { kxRaiseAbstractCall(); }
Int TStream::Read(void*, Int) { kxRaiseAbstractCall(); }
void TStream::Close() { kxRaiseAbstractCall(); }

void TStream::ReadBytes(void* buffer, Int count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    Int n = Read(out, count);
    if (n <= 0) kxRaiseStreamReadError();
    out += n;
    count -= n;
  }
}

Int TStream::ReadByte() {
  uint8_t b;
  ReadBytes(&b, 1);
  return b;
}

// --- TFileStream -----------------------------------------------------------

TFileStream::TFileStream(int fd) : fd_(fd) {}

// A stream dropped without Close must not keep its descriptor until exit.
TFileStream::~TFileStream() { Close(); }

TFileStream* TFileStream::OpenRead(String* path) {
  if (!path) return nullptr;
  char* text = kxStringEncodeCText(path);
  int fd;
  do {
    fd = open(text, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  kxStringFreeCText(text);
  if (fd < 0) return nullptr;
  return New<TFileStream>(fd);
}

Long TFileStream::Position() {
  if (fd_ < 0) return -1;
  return bufferStart_ + bufferPos_;
}

Long TFileStream::Seek(Long position) {
  if (fd_ < 0 || position < 0) return -1;
  if (position >= bufferStart_ && position <= bufferStart_ + bufferLength_) {
    bufferPos_ = static_cast<Int>(position - bufferStart_);
    return position;
  }
  off_t at = lseek(fd_, static_cast<off_t>(position), SEEK_SET);
  if (at < 0) return -1;
  bufferStart_ = at;
  bufferLength_ = 0;
  bufferPos_ = 0;
  return at;
}

Int TFileStream::Read(void* buffer, Int count) {
  if (fd_ < 0) kxRaiseStreamReadError();
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  Int done = 0;
  while (done < count) {
    Int ready = bufferLength_ - bufferPos_;
    if (ready > 0) {
      Int n = ready < count - done ? ready : count - done;
      std::memcpy(out + done, buffer_ + bufferPos_, static_cast<size_t>(n));
      bufferPos_ += n;
      done += n;
      continue;
    }
    bufferStart_ += bufferLength_;
    bufferLength_ = 0;
    bufferPos_ = 0;
    ssize_t got;
    do {
      got = read(fd_, buffer_, kBufferSize);
    } while (got < 0 && errno == EINTR);
    if (got < 0) kxRaiseStreamReadError();
    if (got == 0) break;
    bufferLength_ = static_cast<Int>(got);
  }
  return done;
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  close(fd_);  // the descriptor is released even when close reports EINTR
  fd_ = -1;
  bufferStart_ = bufferLength_ = bufferPos_ = 0;
}

// --- opening -----------------------------------------------------------------

TStream* OpenReadStream(Object* url) {
  if (!url) return nullptr;
  if (TStream* s = Cast<TStream>(url)) return s;
  if (String* path = Cast<String>(url)) return TFileStream::OpenRead(path);
  return nullptr;
}
