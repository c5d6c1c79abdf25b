// Timing of the toolkit: building, laying out and painting each window of
// the skin, relaying out and repainting an existing window, and one
// progress-bar step with its repaint. Run with --benchmark_repetitions for
// medians; every benchmark here reports the median of 5 repetitions.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "platform/message_queue.h"
#include "platform/window.h"
#include "toolkit/layout_builder.h"
#include "toolkit/paint_manager.h"
#include "toolkit/progress.h"
#include "toolkit/skin_resources.h"

namespace {

// The skin folder of the source tree, found from this file's place.
std::wstring skin_folder() {
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "skin").wstring() + L"/";
}

// An off-screen window whose messages go to its paint manager.
class bench_window : public platform::message_handler {
public:
    bench_window(const wchar_t* layout, int width, int height) {
        platform::window_params params;
        params.class_name = L"BenchWnd";
        params.bounds = {0, 0, width, height};
        handle_ = platform::create_window(params, this);
        manager_.init(handle_);
        skinui::layout_builder builder;
        built_ = manager_.attach_dialog(builder.create(layout, manager_));
        platform::show_window(handle_, platform::SW_SHOWNORMAL);
    }
    ~bench_window() override {
        platform::destroy_window(handle_);
        drain();
    }

    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        platform::lresult result = 0;
        manager_.handle_window_message(id, w, l, result);
        return result;
    }

    bool built() const { return built_; }
    skinui::paint_manager& manager() { return manager_; }
    // Paints what is invalid, as the posted WM_PAINT would, and drops the
    // posted message itself so that the queue does not grow.
    void paint() {
        platform::send_message(handle_, platform::WM_PAINT, 0, 0);
        drain();
    }
    void invalidate_all() { platform::invalidate_rect(handle_, nullptr); }

private:
    static void drain() {
        platform::message msg;
        while (platform::peek_message(msg)) {
        }
    }

    skinui::paint_manager manager_;
    platform::window_handle handle_ = 0;
    bool built_ = false;
};

void use_source_skin() {
    skinui::clear_resource_zip();
    skinui::set_resource_path(skin_folder());
}

// Everything a window's first appearance costs: fonts, layout, images, paint.
void build_layout_and_paint(benchmark::State& state, const wchar_t* layout, int width, int height) {
    use_source_skin();
    for (auto _ : state) {
        bench_window window(layout, width, height);
        if (!window.built()) {
            state.SkipWithError("the layout could not be built");
            return;
        }
        window.paint();
        benchmark::DoNotOptimize(window.manager().back_buffer().pixels.data());
    }
}

// A whole new layout and full repaint of a window that already exists.
void relayout_and_paint(benchmark::State& state, const wchar_t* layout, int width, int height) {
    use_source_skin();
    bench_window window(layout, width, height);
    if (!window.built()) {
        state.SkipWithError("the layout could not be built");
        return;
    }
    window.paint();
    for (auto _ : state) {
        window.manager().need_update();
        window.invalidate_all();
        window.paint();
        benchmark::DoNotOptimize(window.manager().back_buffer().pixels.data());
    }
}

// One download progress step: a new value and the repaint it asks for.
void progress_step(benchmark::State& state) {
    use_source_skin();
    bench_window window(L"UpdateWnd.xml", 586, 280);
    auto* bar = window.built() ? dynamic_cast<skinui::progress*>(window.manager().find_control(L"progress")) : nullptr;
    if (bar == nullptr) {
        state.SkipWithError("no progress bar in the layout");
        return;
    }
    window.paint();
    int value = 1;
    for (auto _ : state) {
        value = value % 100 + 1;
        bar->set_value(value);
        window.paint();
        benchmark::DoNotOptimize(window.manager().back_buffer().pixels.data());
    }
}

BENCHMARK_CAPTURE(build_layout_and_paint, hint_window, L"HintUpdateWnd.xml", 412, 200)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(build_layout_and_paint, progress_window, L"UpdateWnd.xml", 586, 280)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(relayout_and_paint, hint_window, L"HintUpdateWnd.xml", 412, 200)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(relayout_and_paint, progress_window, L"UpdateWnd.xml", 586, 280)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(progress_step)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
