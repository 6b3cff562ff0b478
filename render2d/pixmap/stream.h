// Byte streams, as far as the image-file decoders need them: a stream that
// can tell and change its position, read bytes and be closed, one kind of
// stream over a file opened for reading, and the stream-error family that
// decoders raise when the data runs out or the file cannot be read.
#pragma once

#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"

// Raised by stream operations that cannot complete. LoadPixmapFile treats
// every member of this family as "this decoder does not understand the
// file", so decoders can read without checking each byte count.
class TStreamError : public TRuntimeErrorBase {
  KX_CLASS(TStreamError, TRuntimeErrorBase)
};

class TStreamReadError : public TStreamError {
  KX_CLASS(TStreamReadError, TStreamError)
 public:
  String* AsText() override;  // "Error reading from stream"
};

class TStreamWriteError : public TStreamError {
  KX_CLASS(TStreamWriteError, TStreamError)
 public:
  String* AsText() override;  // "Error writing to stream"
};

[[noreturn]] void kxRaiseStreamReadError();
[[noreturn]] void kxRaiseStreamWriteError();

class TStream : public Object {
  KX_CLASS(TStream, Object)
 public:
  // Byte offset from the start, or -1 when the stream cannot tell.
  virtual Long Position();
  // Moves to an absolute offset; the new position, or -1 when it cannot.
  virtual Long Seek(Long position);
  // Up to count bytes; the number read, 0 at the end. Raises
  // TStreamReadError when the underlying source fails.
  virtual Int Read(void* buffer, Int count);
  // Releases what the stream holds. Closing twice does nothing more.
  virtual void Close();

  // Exactly count bytes, or TStreamReadError.
  void ReadBytes(void* buffer, Int count);
  // One byte 0..255, or TStreamReadError at the end.
  Int ReadByte();
};

// A file opened read-only, with a small read-ahead buffer so that decoders
// may read a byte at a time.
class TFileStream : public TStream {
  KX_CLASS(TFileStream, TStream)
 public:
  static constexpr Int kBufferSize = 4096;

  explicit TFileStream(int fd);
  ~TFileStream() override;

  Long Position() override;
  Long Seek(Long position) override;
  Int Read(void* buffer, Int count) override;
  void Close() override;

  // Null when the path does not open.
  static TFileStream* OpenRead(String* path);

  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_;
  Long bufferStart_ = 0;  // file offset of buffer_[0]
  Int bufferLength_ = 0;  // valid bytes in buffer_
  Int bufferPos_ = 0;     // next byte to hand out
  uint8_t buffer_[kBufferSize];
};

// A stream for reading url: url itself when it is a stream, a file stream
// when it is a path String, Null when nothing opens.
TStream* OpenReadStream(Object* url);
