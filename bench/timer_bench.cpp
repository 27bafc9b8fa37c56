// How late the real timer service fires: a 20 ms periodic timer (the mixer's
// period) runs for 5 seconds; the counters give the mean and worst lateness
// of its callbacks behind their absolute deadlines, in microseconds.

#include "platform/RealTimerService.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void BM_RealTimerLateness(benchmark::State& state) {
    const uint64_t periodMicros = static_cast<uint64_t>(state.range(0)) * 1000;
    const auto runFor = std::chrono::seconds(state.range(1));
    for (auto _ : state) {
        tonvero::RealTimerService service;
        std::atomic<uint64_t> calls{0};
        const tonvero::TimerId id = service.setPeriodic(periodMicros, [&] { calls.fetch_add(1); });
        std::this_thread::sleep_for(runFor);
        const tonvero::TimerLateness late = service.lateness(id);
        service.kill(id);
        state.counters["events"] = static_cast<double>(late.events);
        state.counters["mean_late_us"] = late.meanMicros;
        state.counters["worst_late_us"] = static_cast<double>(late.worstMicros);
        state.counters["skipped"] = static_cast<double>(late.skipped);
    }
}

BENCHMARK(BM_RealTimerLateness)
    ->Args({20, 5})
    ->ArgNames({"period_ms", "seconds"})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
