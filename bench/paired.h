// Timing two versions of the same drawing against each other: the 2D API
// and the same OpenGL calls issued directly. Pairs alternate which side runs
// first, and each side is timed on a CPU clock alone, so that load drifting
// on the machine stays out of the ratio; medians over the pairs keep one
// pause of the host's, charged to whichever side was running, out of it too.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <vector>

inline double CpuMicros(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

inline double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(double(v.size()) * q))];
}

struct PairedTimes {
  std::vector<double> api, direct, ratio;  // µs, µs, api / direct per pair

  // One pair. `untimed` runs after the direct side, off the clock (the 2D
  // driver's caches reset, say).
  template <class Api, class Direct, class Untimed>
  void Pair(clockid_t clock, Api runApi, Direct runDirect, Untimed untimed) {
    double side[2] = {0, 0};  // API, direct
    for (int k = 0; k < 2; ++k) {
      const bool useApi = (k == 0) == (api.size() % 2 == 0);
      const double t0 = CpuMicros(clock);
      if (useApi) {
        runApi();
      } else {
        runDirect();
      }
      side[useApi ? 0 : 1] = CpuMicros(clock) - t0;
      if (!useApi) untimed();
    }
    api.push_back(side[0]);
    direct.push_back(side[1]);
    ratio.push_back(side[0] / side[1]);
  }

  // api_us, direct_us and ratio: the medians.
  void Report(benchmark::State& state) const {
    state.counters["api_us"] = Percentile(api, 0.5);
    state.counters["direct_us"] = Percentile(direct, 0.5);
    state.counters["ratio"] = Percentile(ratio, 0.5);
  }
};
