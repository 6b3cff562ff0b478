// The C library heap of a process that draws lifesim's pictures straight
// through Xlib, GLX and OpenGL, without the runtime or the 2D layer: a
// 640x480 window, and per frame one of
//
//   binds  the mode-2 table: 57 x 24 one-digit texts, each drawn twice (a
//          black shadow, then white) from its own 8 x 16 texture, so the
//          bound texture changes between neighbouring digits;
//   atlas  the same table drawn from one texture holding both digits, so
//          nothing but the colour changes between quads;
//   lines  the mode-1 picture: grid lines and 57 x 24 filled squares.
//
//   glheap PATTERN [SECONDS] [TRIM]
//
// PATTERN is phases "kind:seconds" separated by commas, repeated until
// SECONDS (default 60) are over, e.g. binds:10,lines:10. With TRIM=1 the
// heap is trimmed (malloc_trim) after every frame. Once a second it
// prints: seconds, resident KB, main-heap size KB, KB in use, KB free
// inside the heap, KB in mmap blocks (mallinfo2).
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kColumns = 57, kRows = 24;

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

long ResidentKb() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// An 8 x 16 white-on-transparent texture; `pattern` picks the pixels.
GLuint MakeTexture(int width, int height, int seed) {
  std::vector<unsigned> pixels(size_t(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = ((i * 7 + seed) % 3) ? 0xFFFFFFFFu : 0;
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               pixels.data());
  return name;
}

void Quad(float u0, float u1, float x, float y) {
  glBegin(GL_QUADS);
  glTexCoord2f(u0, 0);
  glVertex2f(x, y);
  glTexCoord2f(u1, 0);
  glVertex2f(x + 8, y);
  glTexCoord2f(u1, 1);
  glVertex2f(x + 8, y + 16);
  glTexCoord2f(u0, 1);
  glVertex2f(x, y + 16);
  glEnd();
}

// One digit per cell, as lifesim's mode-2 table: shadow, then the digit.
void DrawTable(const GLuint digits[2], GLuint atlas, int frame) {
  glEnable(GL_TEXTURE_2D);
  for (int x = 0; x < kColumns; ++x) {
    for (int y = 0; y < kRows; ++y) {
      const int d = (x * 31 + y * 17 + frame) % 2;
      const float u0 = atlas ? 0.5f * d : 0, u1 = atlas ? u0 + 0.5f : 1;
      glBindTexture(GL_TEXTURE_2D, atlas ? atlas : digits[d]);
      glColor4ub(0, 0, 0, 255);
      Quad(u0, u1, float(11 + 10 * x), float(21 + 10 * y));
      glColor4ub(255, 255, 255, 255);
      Quad(u0, u1, float(10 + 10 * x), float(20 + 10 * y));
    }
  }
  glDisable(GL_TEXTURE_2D);
}

void DrawGrid(int frame) {
  glColor4ub(20, 112, 10, 255);
  for (int y = 20; y <= 260; y += 10) {
    glBegin(GL_LINES);
    glVertex2f(10.5f, y + 0.5f);
    glVertex2f(580.5f, y + 0.5f);
    glEnd();
  }
  for (int x = 0; x < kColumns; ++x) {
    for (int y = 0; y < kRows; ++y) {
      if ((x * 31 + y * 17 + frame) % 2)
        glColor4ub(9, 62, 253, 255);
      else
        glColor4ub(0, 0, 0, 255);
      const float px = float(11 + 10 * x), py = float(21 + 10 * y);
      glBegin(GL_QUADS);
      glVertex2f(px, py);
      glVertex2f(px + 9, py);
      glVertex2f(px + 9, py + 9);
      glVertex2f(px, py + 9);
      glEnd();
    }
  }
}

struct Phase {
  std::string kind;
  double seconds;
};

std::vector<Phase> ParsePattern(const char* text) {
  std::vector<Phase> phases;
  std::string s = text;
  size_t at = 0;
  while (at < s.size()) {
    size_t comma = s.find(',', at);
    if (comma == std::string::npos) comma = s.size();
    std::string part = s.substr(at, comma - at);
    size_t colon = part.find(':');
    phases.push_back({part.substr(0, colon),
                      colon == std::string::npos ? 1e9 : std::atof(part.c_str() + colon + 1)});
    at = comma + 1;
  }
  return phases;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: glheap PATTERN [SECONDS] [TRIM]\n");
    return 2;
  }
  const std::vector<Phase> phases = ParsePattern(argv[1]);
  const double length = argc > 2 ? std::atof(argv[2]) : 60;
  const bool trim = argc > 3 && std::atoi(argv[3]) == 1;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "glheap: no X display\n");
    return 1;
  }
  int attributes[] = {
      GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
  XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
  if (!visual) {
    std::fprintf(stderr, "glheap: no double-buffered RGB visual\n");
    return 1;
  }
  XSetWindowAttributes wa = {};
  wa.colormap = XCreateColormap(display, RootWindow(display, visual->screen), visual->visual,
                                AllocNone);
  Window window = XCreateWindow(display, RootWindow(display, visual->screen), 0, 0, 640, 480, 0,
                                visual->depth, InputOutput, visual->visual, CWColormap, &wa);
  XMapWindow(display, window);
  GLXContext context = glXCreateContext(display, visual, nullptr, True);
  glXMakeCurrent(display, window, context);
  glMatrixMode(GL_PROJECTION);
  glOrtho(0, 640, 480, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const GLuint digits[2] = {MakeTexture(8, 16, 0), MakeTexture(8, 16, 1)};
  const GLuint atlas = MakeTexture(16, 16, 2);

  std::printf("seconds,rss_kb,heap_kb,in_use_kb,free_kb,mmap_kb\n");
  const double start = Now();
  double nextReport = 0, phaseEnd = 0;
  size_t phase = phases.size() - 1;
  for (int frame = 0;; ++frame) {
    const double t = Now() - start;
    if (t >= length) break;
    if (t >= phaseEnd) {
      phase = (phase + 1) % phases.size();
      phaseEnd = t + phases[phase].seconds;
    }
    glClear(GL_COLOR_BUFFER_BIT);
    const std::string& kind = phases[phase].kind;
    if (kind == "lines")
      DrawGrid(frame);
    else
      DrawTable(digits, kind == "atlas" ? atlas : 0, frame);
    glXSwapBuffers(display, window);
    while (XPending(display)) {
      XEvent e;
      XNextEvent(display, &e);
    }
    if (trim) malloc_trim(0);
    if (t >= nextReport) {
      struct mallinfo2 m = mallinfo2();
      std::printf("%.0f,%ld,%zu,%zu,%zu,%zu\n", t, ResidentKb(), m.arena / 1024, m.uordblks / 1024,
                  m.fordblks / 1024, m.hblkhd / 1024);
      std::fflush(stdout);
      nextReport += 1;
    }
  }
  glXMakeCurrent(display, None, nullptr);
  glXDestroyContext(display, context);
  XCloseDisplay(display);
  return 0;
}
