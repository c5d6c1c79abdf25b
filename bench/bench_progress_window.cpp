// Timing of the progress window's handling of WM_DOWNLOAD_PROGRESS on the
// off-screen display: the message alone (value, fore image string and the
// bar's invalidation), and the message followed by the repaint it asks for
// (only the bar's rectangle). Reports the median of 5 repetitions.
#include <benchmark/benchmark.h>

#include "core/update_task.h"
#include "platform/message_queue.h"
#include "platform/offscreen/offscreen_display.h"
#include "platform/window.h"
#include "skin/resource_table.h"
#include "toolkit/paint_manager.h"
#include "toolkit/progress.h"
#include "windows/dlg_update.h"

namespace {

// Takes every queued message; dispatches the paints when asked to.
int pump(bool paint) {
    int paints = 0;
    platform::message msg;
    while (platform::peek_message(msg)) {
        if (msg.id != platform::WM_PAINT) continue;
        ++paints;
        if (paint) platform::dispatch_message(msg);
    }
    return paints;
}

// A shown and painted progress window without a task (nothing downloads).
class painted_window {
public:
    painted_window() {
        skinui::paint_manager::set_resource_module(&find_resource);
        window_.create(0, L"progress", 0x10CF0000, 0);
        platform::show_window(window_.handle(), platform::SW_SHOWNORMAL);
        platform::message msg;
        while (platform::peek_message(msg)) platform::dispatch_message(msg);
    }
    ~painted_window() {
        platform::destroy_window(window_.handle());
        pump(false);
    }
    dlg_update& window() { return window_; }

private:
    dlg_update window_;
};

constexpr platform::wparam TOTAL = 256u * 1024 * 1024;

void progress_message(benchmark::State& state) {
    painted_window painted;
    platform::lparam written = 0;
    for (auto _ : state) {
        written = (written + 65536) % static_cast<platform::lparam>(TOTAL);
        painted.window().send_message(WM_DOWNLOAD_PROGRESS, TOTAL, written);
        state.PauseTiming();
        pump(false);
        state.ResumeTiming();
    }
}

void progress_message_and_repaint(benchmark::State& state) {
    painted_window painted;
    platform::lparam written = 0;
    int paints = 0;
    for (auto _ : state) {
        written = (written + 1342177) % static_cast<platform::lparam>(TOTAL);  // about 0.5 % a step
        painted.window().send_message(WM_DOWNLOAD_PROGRESS, TOTAL, written);
        paints += pump(true);
    }
    state.counters["paints_per_message"] = benchmark::Counter(paints, benchmark::Counter::kAvgIterations);
}

BENCHMARK(progress_message)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(progress_message_and_repaint)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
