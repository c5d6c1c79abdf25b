// The record of one update run: construction from the launch parameters.
#include "core/update_task.h"

#include "core/text_utils.h"

std::atomic<bool> g_update_cancelled{false};

update_task::update_task(const launch_parameters& app)
    : exe_name(wide_to_ansi(app.exe_name)),
      channel(wide_to_ansi(app.channel)),
      page_url(wide_to_ansi(app.page_url)),
      product(wide_to_ansi(app.product)),
      version(wide_to_ansi(app.version)),
      quit_message_id(app.quit_message_id),
      product_window(app.product_window) {}

std::string update_task::query_product() const {
    return url_encode(ansi_to_utf8(product));
}

update_task::~update_task() {
    // shutdown joins the worker before it frees the task; any other owner
    // (an early return, a test) must not end the process over a live thread.
    if (worker_thread.joinable()) {
        worker_thread.join();
    }
}
