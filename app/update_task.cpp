// The record of one update run: construction from the launch parameters.
#include "app/update_task.h"

#include "app/text_utils.h"
#include "app/updater_app.h"
#include "download/leftover_cleanup.h"

std::atomic<bool> g_update_cancelled{false};

update_task::update_task(const updater_app& app)
    : exe_name(wide_to_ansi(app.exe_name)),
      channel(wide_to_ansi(app.channel)),
      page_url(wide_to_ansi(app.page_url)),
      product(wide_to_ansi(app.product)),
      version(wide_to_ansi(app.version)),
      quit_message_id(app.quit_message_id),
      product_window(app.product_window) {
    // Every run starts from a directory without leftovers of earlier runs.
    clear_files();
}

// The worker is joined by updater_app::shutdown before the task goes away.
update_task::~update_task() = default;
