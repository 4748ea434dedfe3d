// CPU cost of the pacing wait: the time the process spends on the processor while it waits for
// the wall clock's next second, and how late it wakes after the tick.
//
//     build/bench/pacing_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

#include "config/wall_clock.h"
#include "driver/pacing.h"

namespace {

void BM_PacingWait(benchmark::State& state) {
    double late_ms = 0;
    for (auto _ : state) {
        const std::time_t second_start = tarnel::wall_clock_second();
        tarnel::wait_for_next_second(second_start);
        const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
        late_ms += static_cast<double>(
                       std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count() %
                       1000000) /
                   1000.0;
    }
    state.counters["late_ms"] = benchmark::Counter(late_ms, benchmark::Counter::kAvgIterations);
}
// Each iteration waits up to a second; the process CPU time per iteration is the cost of one wait.
BENCHMARK(BM_PacingWait)
    ->Iterations(5)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
