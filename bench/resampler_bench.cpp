// The recorder's resampler on 48 kHz capture in 10 ms cycles, as the audio
// thread runs it. "realtime_factor" is input samples handled per second of
// CPU divided by 48 000: how many times faster than the audio arrives.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "mic-recorder/resampler.h"

namespace {

void BM_Resample48k(benchmark::State& state) {
  const std::size_t cycle = static_cast<std::size_t>(state.range(0));
  std::vector<float> input(cycle);
  for (std::size_t k = 0; k < cycle; ++k) input[k] = float(0.8 * std::sin(double(k) * 0.0572));
  ostrel::mic::Resampler resampler;
  resampler.prepare(48000.0, 8192);
  std::size_t produced = 0;
  for (auto _ : state) {
    const auto out = resampler.push(input);
    produced += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  benchmark::DoNotOptimize(produced);
  const double samples = double(state.iterations()) * double(cycle);
  state.counters["samples_per_second"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
  state.counters["realtime_factor"] = benchmark::Counter(samples / 48000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Resample48k)->Arg(480)->Arg(512)->Arg(4096);

}  // namespace
