// Preloaded into lifesim by the audio test where no OSS emulation library
// of lifesim's own word size can be installed (the Debian package is not
// multi-arch, so a 32-bit lifesim on a 64-bit system has none). It stands in
// for the sound device and nothing else: opening "/dev/dsp" opens the file
// named by LIFESIM_DSP_CAPTURE instead, so the test sees every byte the
// output thread writes. The device's ioctls then reach a regular file and
// fail, which the output thread tolerates for files and pipes anyway.
// Both the plain and the large-file names are caught here: the large-file
// build flags of a 32-bit build must not rename one into the other.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

// One body under both names: the large-file call serves either, as it
// only lifts the limit a plain one has on file sizes in a 32-bit build.
extern "C" int open(const char* path, int flags, ...) {
  static const auto real = reinterpret_cast<int (*)(const char*, int, ...)>(
      dlsym(RTLD_NEXT, "open64"));
  const char* capture = std::getenv("LIFESIM_DSP_CAPTURE");
  if (capture && std::strcmp(path, "/dev/dsp") == 0)
    return real(capture, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
  va_end(args);
  return real(path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));
