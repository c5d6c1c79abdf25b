// The common base of the updater's windows: a captionless skinned window
// built from a layout of the skin, dragged by its caption band, ending the
// message loops on the system close command.
#include "windows/dlg_base.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "core/text_utils.h"
#include "platform/window.h"
#include "toolkit/control.h"
#include "toolkit/layout_builder.h"
#include "toolkit/message_box.h"
#include "toolkit/skin_resources.h"

std::uint8_t* g_skin_zip_buffer = nullptr;

namespace {

// The frame bits taken away (WS_CAPTION = WS_BORDER | WS_DLGFRAME) and the
// clipping bits added; 0x80 is kept as the window has always had it.
constexpr std::uint32_t CAPTION_CLEAR_MASK = 0xFF3FFFFF;
constexpr std::uint32_t SKINNED_STYLE_BITS = 0x06000080;
constexpr char SKIN_RESOURCE_TYPE_NAME[] = "ZIPRES";
constexpr char XML_RESOURCE_TYPE_NAME[] = "xml";

// The decimal value of a text (a layout resource's id given as skin_file).
int decimal_value(const std::wstring& text) {
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9' || value > 100000000) break;
        value = value * 10 + (c - L'0');
    }
    return value;
}

bool caption_band_passes_clicks(std::wstring_view class_name) {
    return class_name == L"Button" || class_name == L"Option" || class_name == L"Text";
}

}  // namespace

dlg_base::~dlg_base() {
    paint_manager.remove_notifier(this);
}

void dlg_base::on_final_message(platform::window_handle) {}

void dlg_base::notify(skinui::notify_event&) {}

platform::lresult dlg_base::handle_message(std::uint32_t id, platform::wparam w, platform::lparam l) {
    using namespace platform;
    lresult result = 0;
    switch (id) {
        case WM_CREATE:
            return on_create();
        case WM_CLOSE:
            on_close_request();
            return 0;
        case WM_DESTROY:
            break;
        case WM_SIZE:
            on_size();
            break;
        case WM_GETMINMAXINFO:
            on_get_min_max_info(l);
            break;
        case WM_NCCALCSIZE:
        case WM_NCPAINT:
            return 0;  // the whole window is client area
        case WM_NCHITTEST:
            return on_nc_hit_test(l);
        case WM_NCACTIVATE:
            if (!is_minimized(window_)) return w == 0 ? 1 : 0;
            break;
        case WM_SYSCOMMAND:
            return on_sys_command(w, l);
        default:
            break;
    }
    if (paint_manager.handle_window_message(id, w, l, result)) return result;
    return native_window::handle_message(id, w, l);
}

// Strips the caption, opens the skin and builds the layout. A layout that
// cannot be built ends the process with the error box and exit code 1.
platform::lresult dlg_base::on_create() {
    const std::uint32_t style = (platform::window_style(window_) & CAPTION_CLEAR_MASK) | SKINNED_STYLE_BITS;
    platform::set_window_style(window_, style);
    const platform::rect client = platform::client_rect(window_);
    platform::move_window(window_, client.left, client.top, client.width(), client.height());

    paint_manager.init(window_);
    std::wstring path = skinui::paint_manager::resource_path();
    if (path.empty()) path = skinui::paint_manager::instance_path() + skin_folder();
    skinui::paint_manager::set_resource_path(path);

    const skin_source source = skin_source_type();
    if (source == skin_source::zip_file) skinui::paint_manager::set_resource_zip(zip_file_name(), true);
    if (source == skin_source::zip_resource && !open_skin_resource()) return 0;

    skinui::layout_builder builder;
    std::unique_ptr<skinui::control> root =
        source == skin_source::xml_resource
            ? builder.create(decimal_value(skin_file()), XML_RESOURCE_TYPE_NAME, paint_manager)
            : builder.create(skin_file(), paint_manager);
    if (!root) {
        skinui::message_box(0, L"加载资源文件失败", L"SkinUI", platform::MB_ICONERROR);
        std::exit(1);
    }
    paint_manager.attach_dialog(std::move(root));
    paint_manager.add_notifier(this);
    init_window();
    return 0;
}

// Hands the skin archive resource to the toolkit through a heap copy that
// lives as long as the process. The toolkit keeps reading the first archive
// it was given, so a copy is made only while it holds none.
bool dlg_base::open_skin_resource() {
    const string_or_id id = resource_id();
    const skinui::paint_manager::resource_lookup module = skinui::paint_manager::resource_module();
    const std::span<const std::uint8_t> bytes =
        (module != nullptr && id.is_id) ? module(SKIN_RESOURCE_TYPE_NAME, id.id) : std::span<const std::uint8_t>{};
    if (bytes.empty()) {
        debug_log("[TamsaUpdate]: skin resource ZIPRES %d not found \n", id.is_id ? id.id : -1);
        return false;
    }
    if (skinui::has_resource_zip()) return true;
    delete[] g_skin_zip_buffer;  // no archive is set, so nothing reads the old copy
    g_skin_zip_buffer = new std::uint8_t[bytes.size()];
    std::memcpy(g_skin_zip_buffer, bytes.data(), bytes.size());
    skinui::paint_manager::set_resource_zip(g_skin_zip_buffer, bytes.size());
    return true;
}

// The caption band drags the window, except over buttons, options and text
// links, which stay clickable there.
platform::lresult dlg_base::on_nc_hit_test(platform::lparam l) {
    const platform::point screen = platform::point_from_lparam(l);
    const platform::rect window = platform::window_rect(window_);
    const platform::point pt{screen.x - window.left, screen.y - window.top};
    const platform::rect client = platform::client_rect(window_);
    const platform::rect caption = paint_manager.caption_rect();
    const bool in_band = pt.x >= client.left + caption.left && pt.x < client.right - caption.right &&
                         pt.y >= caption.top && pt.y < caption.bottom;
    if (in_band) {
        skinui::control* under = paint_manager.find_control(pt);
        if (under != nullptr && !caption_band_passes_clicks(under->class_name())) return platform::HTCAPTION;
    }
    return platform::HTCLIENT;
}

void dlg_base::on_size() {
    const platform::size corner = paint_manager.round_corner();
    if (platform::is_minimized(window_) || (corner.cx == 0 && corner.cy == 0)) return;
    platform::set_window_round_corners(window_, corner);
}

// A maximised window fills the work area of its monitor. Its size is the
// work area's width and height: taking the right and bottom edges instead
// would push the window past the screen by the height of a panel at the
// top (or the width of one at the left).
void dlg_base::on_get_min_max_info(platform::lparam l) {
    auto* info = reinterpret_cast<platform::minmax_info*>(l);
    if (info == nullptr) return;
    const platform::rect monitor = platform::monitor_rect_near(window_);
    platform::rect work = platform::work_area_near(window_);
    work = {work.left - monitor.left, work.top - monitor.top, work.right - monitor.left, work.bottom - monitor.top};
    info->max_position = {work.left, work.top};
    info->max_size = {work.width(), work.height()};
}

void dlg_base::on_close_request() {
    platform::post_quit_message(0);
}

platform::lresult dlg_base::on_sys_command(platform::wparam w, platform::lparam l) {
    if (w == platform::SC_CLOSE) {
        // Ends the thread's message loops; the window is not closed.
        platform::post_quit_message(0);
        return 0;
    }
    const bool was_maximized = platform::is_maximized(window_);
    const platform::lresult result = native_window::handle_message(platform::WM_SYSCOMMAND, w, l);
    const bool maximized = platform::is_maximized(window_);
    if (was_maximized != maximized) {
        skinui::control* max_button = paint_manager.find_control(L"maxbtn");
        skinui::control* restore_button = paint_manager.find_control(L"restorebtn");
        if (max_button != nullptr) max_button->set_visible(!maximized);
        if (restore_button != nullptr) restore_button->set_visible(maximized);
    }
    return result;
}
