// Runs beside a whole-program benchmark and records when the machine did not
// run it: it sleeps 1 ms at a time and, whenever a wake comes more than
// the threshold late, keeps the gap. A host that stops the virtual CPUs
// shows as such a gap here and as a long frame interval in lifesim at the
// same moment. On SIGTERM or SIGINT it writes one line per gap,
// "start end" in seconds of CLOCK_MONOTONIC (the clock of the swap times),
// to the file named by its first argument.
//
//   stallwatch OUT [THRESHOLD_MS]   (default 10 ms)
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

volatile sig_atomic_t stop = 0;

void Stop(int) { stop = 1; }

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: stallwatch OUT [THRESHOLD_MS]\n");
    return 2;
  }
  const double threshold = (argc > 2 ? std::atof(argv[2]) : 10.0) / 1000;
  struct sigaction action = {};
  action.sa_handler = Stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::vector<double> gaps;
  gaps.reserve(1 << 16);
  const timespec tick = {0, 1000000};
  double last = Now();
  while (!stop) {
    nanosleep(&tick, nullptr);
    const double now = Now();
    if (now - last > 0.001 + threshold) {
      gaps.push_back(last);
      gaps.push_back(now);
    }
    last = now;
  }
  FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  for (size_t i = 0; i + 1 < gaps.size(); i += 2)
    std::fprintf(out, "%.6f %.6f\n", gaps[i], gaps[i + 1]);
  return std::fclose(out) == 0 ? 0 : 1;
}
