// The median time of a piece of work, in microseconds: what the benchmarks print.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

template <class F>
double median_microseconds(int repeats, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  std::nth_element(times.begin(), times.begin() + repeats / 2, times.end());
  return times[repeats / 2];
}
