// The decoder chain, LoadPixmapFile and the file stream beneath it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "render2d/pixmap/pixmap.h"
#include "render2d/pixmap/stream.h"
#include "runtime/error.h"
#include "tests/support/test_util.h"

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

std::string TempFile(const std::string& bytes) {
  char path[] = "/tmp/pixmap_load_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  close(fd);
  return path;
}

// Accepts files that start with its letter (the next byte is the grey
// value), or misbehaves: '*' reads past the end, '!' raises another error.
class LetterDecoder : public TPixmapDecoder {
  KX_CLASS(LetterDecoder, TPixmapDecoder)
 public:
  explicit LetterDecoder(char l) : letter(l) {}
  char letter;
  Int calls = 0;
  Long seenAt = -1;
  TPixmap* DecodePixmap(TStream* s) override {
    ++calls;
    seenAt = s->Position();
    if (letter == '!') kxRaiseError(KX_STR("Attempt to decode a broken picture"));
    while (letter == '*') s->ReadByte();
    if (s->ReadByte() != letter) return nullptr;
    TPixmap* p = NewPixmap(1, 1, PIXFMT_GREY8, 4);
    p->pixels[0] = static_cast<uint8_t>(s->ReadByte());
    return p;
  }
};
KX_CLASS_RECORD(LetterDecoder)

class BlindStream : public TStream {  // cannot tell its position
  KX_CLASS(BlindStream, TStream)
 public:
  bool closed = false;
  Long Position() override { return -1; }
  Long Seek(Long) override { return -1; }
  Int Read(void*, Int) override { return 0; }
  void Close() override { closed = true; }
};
KX_CLASS_RECORD(BlindStream)

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitPixmapModule();
    saved_ = PixmapDecoderChain;
    PixmapDecoderChain = nullptr;
    fds_ = OpenDescriptors();
  }
  void TearDown() override {
    PixmapDecoderChain = saved_;
    EXPECT_EQ(OpenDescriptors(), fds_) << "a stream was left open";
    for (auto& f : files_) unlink(f.c_str());
  }
  String* File(const std::string& bytes) {
    files_.push_back(TempFile(bytes));
    return Str(files_.back());
  }
  Ref<TPixmapDecoder> saved_;
  int fds_ = 0;
  std::vector<std::string> files_;
};

TEST_F(LoadTest, NewestDecoderIsAskedFirstFromTheStart) {
  LetterDecoder* a = New<LetterDecoder>('A');
  LetterDecoder* b = New<LetterDecoder>('B');
  ASSERT_EQ(PixmapDecoderChain.get(), b);
  ASSERT_EQ(b->nextDecoder.get(), a);
  TPixmap* p = LoadPixmapFile(File("B7"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pixels[0], '7');
  EXPECT_EQ(a->calls, 0);
  p = LoadPixmapFile(File("A5"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pixels[0], '5');
  EXPECT_EQ(a->seenAt, 0);  // put back after b read a byte
  // An open stream is read from where it stands, and closed.
  TFileStream* s = TFileStream::OpenRead(File("xyA9"));
  s->Seek(2);
  p = LoadPixmapFile(s);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pixels[0], '9');
  EXPECT_EQ(a->seenAt, 2);
  EXPECT_FALSE(s->IsOpen());
}

// Nothing to decode, and stream errors, give null; other errors reach the caller.
TEST_F(LoadTest, RefusalsAndStreamErrorsGiveNullOtherErrorsRaise) {
  EXPECT_EQ(LoadPixmapFile(File("A1")), nullptr);  // empty chain
  LetterDecoder* a = New<LetterDecoder>('A');
  EXPECT_EQ(LoadPixmapFile(File("Z1")), nullptr);
  EXPECT_EQ(LoadPixmapFile(Str("/nonexistent/picture.png")), nullptr);
  EXPECT_EQ(LoadPixmapFile(NewPixmap(1, 1, PIXFMT_GREY8, 4)), nullptr);
  EXPECT_EQ(LoadPixmapFile(nullptr), nullptr);
  BlindStream* blind = New<BlindStream>();
  EXPECT_EQ(LoadPixmapFile(blind), nullptr);
  EXPECT_TRUE(blind->closed);

  LetterDecoder* reader = New<LetterDecoder>('*');
  Int calls = a->calls;
  TPixmap* p = LoadPixmapFile(File("A3"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pixels[0], '3');
  EXPECT_EQ(LoadPixmapFile(File("A")), nullptr);  // a's second byte is missing
  // A directory opens but cannot be read.
  char dir[] = "/tmp/pixmap_dir_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  EXPECT_EQ(LoadPixmapFile(Str(dir)), nullptr);
  EXPECT_EQ(a->calls - calls, 3);
  rmdir(dir);

  New<LetterDecoder>('!');
  calls = a->calls;
  EXPECT_EQ(Raised([&] { LoadPixmapFile(File("A1")); }), "Attempt to decode a broken picture");
  EXPECT_EQ(a->calls, calls);
  EXPECT_EQ(reader->calls, 3);
}

TEST_F(LoadTest, FileStreamReadsSeeksAndReportsErrors) {
  std::string bytes(10000, 0);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 256);
  TFileStream* s = TFileStream::OpenRead(File(bytes));
  std::string got(4099, 0);
  s->ReadBytes(got.data(), 4095);
  s->ReadBytes(got.data() + 4095, 4);  // across the read-ahead boundary
  EXPECT_EQ(got, bytes.substr(0, 4099));
  EXPECT_EQ(s->Position(), 4099);
  for (Long at : {9998, 1, 4096}) {
    EXPECT_EQ(s->Seek(at), at);
    EXPECT_EQ(s->ReadByte(), uint8_t(bytes[at]));
  }
  s->Seek(9999);
  EXPECT_EQ(s->Read(got.data(), 10), 1);
  EXPECT_EQ(Raised([&] { s->ReadByte(); }), "Error reading from stream");
  EXPECT_EQ(ToStd(kxErrorText(New<TStreamWriteError>())), "Error writing to stream");
  s->Close();
  EXPECT_EQ(s->Position(), -1);
}

}  // namespace
