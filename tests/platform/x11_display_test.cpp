// The X11 display of our windows on a private Xvfb desktop with openbox:
// what the window manager and other clients see of a window, and the
// messages that real input (xdotool) turns into.
#include "platform/window.h"

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
// clang-format on

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foreign_window.h"
#include "platform/message_queue.h"
#include "private_desktop.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace platform;

// One desktop per test process; every test of the process uses it.
test_support::private_desktop* g_desktop = nullptr;

class desktop_environment : public ::testing::Environment {
public:
    void SetUp() override {
        desktop_ = std::make_unique<test_support::private_desktop>();
        ASSERT_TRUE(desktop_->start()) << "Xvfb and openbox did not start";
        g_desktop = desktop_.get();
    }
    void TearDown() override {
        g_desktop = nullptr;
        desktop_.reset();
    }

private:
    std::unique_ptr<test_support::private_desktop> desktop_;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new desktop_environment);

// A window handler that records what it is sent and answers the questions
// the display asks: the caption band for WM_NCHITTEST, WM_GETMINMAXINFO,
// WM_SYSCOMMAND maximise/restore, and WM_PAINT from an image of its own.
class recording_handler : public message_handler {
public:
    struct entry {
        std::uint32_t id;
        wparam w;
        lparam l;
    };

    lresult handle_message(window_handle window, std::uint32_t id, wparam w, lparam l) override {
        {
            std::lock_guard lock(mutex_);
            log_.push_back({id, w, l});
        }
        switch (id) {
            case WM_NCHITTEST: {
                const point screen = point_from_lparam(l);
                const rect bounds = window_rect(window);
                return screen.y - bounds.top < caption_height ? HTCAPTION : HTCLIENT;
            }
            case WM_GETMINMAXINFO:
                if (answer_minmax) *reinterpret_cast<minmax_info*>(l) = *answer_minmax;
                return 0;
            case WM_SYSCOMMAND:
                if (w == SC_MAXIMIZE) show_window(window, SW_MAXIMIZE);
                if (w == SC_RESTORE) show_window(window, SW_RESTORE);
                return 0;
            case WM_PAINT: {
                ++paints;
                if (!take_on_paint) return 0;
                const rect area = take_update_rect(window);
                if (!image.empty()) present(window, image.data(), image_width, image_height, image_width * 4, area);
                return 0;
            }
            default:
                return 0;
        }
    }

    std::vector<entry> log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        log_.clear();
    }
    bool received(std::uint32_t id, std::optional<wparam> w = std::nullopt) {
        for (const entry& e : log()) {
            if (e.id == id && (!w || e.w == *w)) return true;
        }
        return false;
    }
    std::vector<entry> of(std::initializer_list<std::uint32_t> ids) {
        std::vector<entry> picked;
        for (const entry& e : log()) {
            for (std::uint32_t id : ids) {
                if (e.id == id) picked.push_back(e);
            }
        }
        return picked;
    }

    int caption_height = 30;
    std::optional<minmax_info> answer_minmax;
    std::vector<std::uint32_t> image;
    int image_width = 0;
    int image_height = 0;
    std::atomic<int> paints{0};
    bool take_on_paint = true;

private:
    std::mutex mutex_;
    std::vector<entry> log_;
};

// Dispatches this thread's messages until the condition holds (10 s at most).
bool pump_until(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        message msg;
        if (wait_message(msg, 20) && msg.id != WM_QUIT) dispatch_message(msg);
    }
    return true;
}

// Dispatches for a while, for things that must not happen.
void pump_for(std::chrono::milliseconds time) {
    pump_until([] { return false; }, time);
}

int ignore_error(Display*, XErrorEvent*) {
    return 0;
}

class x11_display : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(g_desktop, nullptr);
        ASSERT_TRUE(select_display(display_kind::x11));
        XInitThreads();
        // The probe's reads of windows that are not viewable yet fail;
        // the tests wait and ask again instead of ending.
        XSetErrorHandler(ignore_error);
        probe_ = XOpenDisplay(nullptr);
        ASSERT_NE(probe_, nullptr);
    }
    void TearDown() override {
        for (window_handle w : windows_) destroy_window(w);
        pump_for(std::chrono::milliseconds(50));
        if (probe_ != nullptr) XCloseDisplay(probe_);
    }

    // A shown window of ours, viewable and focused by openbox.
    window_handle show_new_window(recording_handler& handler, rect bounds, window_handle owner = 0,
                                  std::uint32_t class_style = 0, bool activate = true) {
        window_params params;
        params.class_name = L"TestWnd";
        params.title = L"test window";
        params.bounds = bounds;
        params.owner = owner;
        params.class_style = class_style;
        const window_handle window = create_window(params, &handler);
        if (window == 0) return 0;
        windows_.push_back(window);
        show_window(window, activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE);
        const bool viewable = pump_until([&] {
            XWindowAttributes attributes{};
            return XGetWindowAttributes(probe_, window, &attributes) != 0 && attributes.map_state == IsViewable;
        });
        if (!viewable) return 0;
        // openbox activates new windows; one that has just started may not yet.
        if (activate && !pump_until([&] { return get_focus() == window; }, std::chrono::milliseconds(500))) {
            set_focus(window);
        }
        return !activate || pump_until([&] { return get_focus() == window; }) ? window : 0;
    }

    Atom atom(const char* name) { return XInternAtom(probe_, name, False); }

    // Handlers live until TearDown has destroyed the windows bound to them.
    recording_handler& make_handler() { return *handlers_.emplace_back(std::make_unique<recording_handler>()); }

    // A property of 32-bit items as the server holds it.
    std::vector<long> property(Window window, const char* name, Atom type) {
        Atom actual = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (XGetWindowProperty(probe_, window, atom(name), 0, 64, False, type, &actual, &format, &count, &after,
                               &data) == Success &&
            data != nullptr && format == 32) {
            values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
        }
        if (data != nullptr) XFree(data);
        return values;
    }

    bool has_state(Window window, const char* state) {
        for (long a : property(window, "_NET_WM_STATE", XA_ATOM)) {
            if (static_cast<Atom>(a) == atom(state)) return true;
        }
        return false;
    }

    // Runs xdotool while this thread keeps dispatching, as a program's UI
    // thread would while a person clicks and types.
    bool xdotool(const std::vector<std::string>& args) {
        test_support::child_process tool;
        if (!tool.start_program("/usr/bin/xdotool", args)) return false;
        if (!pump_until([&] { return tool.ended(); })) return false;
        return tool.exited() && tool.exit_code() == 0;
    }

    Display* probe_ = nullptr;
    std::vector<std::unique_ptr<recording_handler>> handlers_;
    std::vector<window_handle> windows_;
};

std::string id_text(window_handle window) {
    return std::to_string(window);
}

// --- choosing the display ---

TEST(x11_display_choice, fails_without_a_display_and_succeeds_with_one) {
    struct case_t {
        const char* display;  // null: unset
        int exit_code;
    };
    const std::string ours = g_desktop ? g_desktop->display() : "";
    const case_t cases[] = {{nullptr, 1}, {":9999", 1}, {ours.c_str(), 0}};
    for (const case_t& c : cases) {
        const std::string saved = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        if (c.display) {
            ::setenv("DISPLAY", c.display, 1);
        } else {
            ::unsetenv("DISPLAY");
        }
        test_support::child_process probe;
        const bool ended = probe.start_program(X11_SELECT_PROBE, {}) && probe.wait_for_exit(10000);
        ::setenv("DISPLAY", saved.c_str(), 1);
        EXPECT_TRUE(ended && probe.exited() && probe.exit_code() == c.exit_code)
            << "DISPLAY=" << (c.display ? c.display : "(unset)") << " exit " << probe.exit_code() << " signal "
            << probe.killed_by_signal();
    }
}

// An error that reaches the program while it reads events (the focus given
// to a window that a window manager has just unmapped, say) is the
// connection's to note, never a reason to end the process.
TEST(x11_errors, an_error_read_with_the_events_is_noted_and_the_program_lives_on) {
    test_support::child_process probe;
    ASSERT_TRUE(probe.start({X11_ERROR_PROBE}));
    const std::string line = probe.read_line(10000);
    ASSERT_TRUE(probe.wait_for_exit(10000));
    EXPECT_EQ(line, "survived seen");
    EXPECT_TRUE(probe.exited() && probe.exit_code() == 0)
        << "exit " << probe.exit_code() << " signal " << probe.killed_by_signal();
}

// --- what others see of a window ---

TEST_F(x11_display, window_is_undecorated_owned_titled_and_marked_modal) {
    // The owner is another client's window, as the product's is.
    const Window owner = XCreateSimpleWindow(probe_, DefaultRootWindow(probe_), 10, 10, 200, 150, 0, 0, 0);
    XMapWindow(probe_, owner);
    XSync(probe_, False);
    recording_handler& handler = make_handler();
    window_params params;
    params.class_name = L"CHintUpdateWnd";
    params.title = L"提示";
    params.bounds = {100, 80, 400, 280};
    params.owner = owner;
    const window_handle window = create_window(params, &handler);
    ASSERT_NE(window, 0u);
    windows_.push_back(window);
    EXPECT_TRUE(handler.received(WM_NCCREATE));
    EXPECT_TRUE(handler.received(WM_CREATE));
    set_window_modal(window, true);
    show_window(window, SW_SHOWNORMAL);
    ASSERT_TRUE(pump_until([&] { return has_state(window, "_NET_WM_STATE_MODAL"); }));

    const std::vector<long> motif = property(window, "_MOTIF_WM_HINTS", atom("_MOTIF_WM_HINTS"));
    ASSERT_GE(motif.size(), 3u);
    EXPECT_EQ(motif[0] & 2, 2) << "decorations flag";
    EXPECT_EQ(motif[2], 0) << "no decorations";
    Window transient_for = 0;
    ASSERT_NE(XGetTransientForHint(probe_, window, &transient_for), 0);
    EXPECT_EQ(transient_for, owner);
    EXPECT_EQ(property(window, "_NET_WM_WINDOW_TYPE", XA_ATOM),
              std::vector<long>{static_cast<long>(atom("_NET_WM_WINDOW_TYPE_DIALOG"))});
    // openbox draws no frame around it.
    ASSERT_TRUE(pump_until([&] { return property(window, "_NET_FRAME_EXTENTS", XA_CARDINAL).size() == 4; }));
    EXPECT_EQ(property(window, "_NET_FRAME_EXTENTS", XA_CARDINAL), (std::vector<long>{0, 0, 0, 0}));
    EXPECT_EQ(window_rect(window), (rect{100, 80, 400, 280})) << "the window manager kept our place";

    // The title, as xprop reads it, before and after set_window_text.
    const auto title_of = [&] {
        return g_desktop->output({"xprop", "-id", id_text(window), "_NET_WM_NAME", "WM_NAME"});
    };
    EXPECT_NE(title_of().find("_NET_WM_NAME(UTF8_STRING) = \"提示\""), std::string::npos) << title_of();
    set_window_text(window, L"TamsaUpdate 更新");
    EXPECT_EQ(window_text(window), L"TamsaUpdate 更新");
    const std::string text = title_of();
    EXPECT_NE(text.find("_NET_WM_NAME(UTF8_STRING) = \"TamsaUpdate 更新\""), std::string::npos) << text;
    EXPECT_NE(text.find("WM_NAME"), std::string::npos) << text;
    XDestroyWindow(probe_, owner);
    XSync(probe_, False);
}

// --- keys ---

TEST_F(x11_display, keys_arrive_with_their_virtual_key_codes) {
    struct case_t {
        const char* keys;  // xdotool's name
        std::uint32_t vk;
        wparam ch;  // WM_CHAR, 0 for none
        bool shift;
    };
    const case_t cases[] = {
        {"Return", VK_RETURN, 0, false}, {"Escape", VK_ESCAPE, 0, false}, {"space", VK_SPACE, ' ', false},
        {"Tab", VK_TAB, 0, false},       {"shift+Tab", VK_TAB, 0, true},  {"Left", VK_LEFT, 0, false},
        {"Up", VK_UP, 0, false},         {"Right", VK_RIGHT, 0, false},   {"Down", VK_DOWN, 0, false},
        {"F4", VK_F4, 0, false},         {"a", 'A', 'a', false},          {"shift+a", 'A', 'A', true},
        {"7", '7', '7', false},
    };
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 200, 420, 340});
    ASSERT_NE(window, 0u);
    for (const case_t& c : cases) {
        handler.clear();
        ASSERT_TRUE(xdotool({"key", "--clearmodifiers", c.keys})) << c.keys;
        ASSERT_TRUE(pump_until([&] {
            return handler.received(WM_KEYUP, c.vk) && (!c.shift || handler.received(WM_KEYUP, VK_SHIFT));
        })) << c.keys;
        // Presses in order, then the releases (xdotool lets Shift go first).
        std::vector<std::pair<std::uint32_t, wparam>> got;
        for (const auto& e : handler.of({WM_KEYDOWN, WM_CHAR})) got.emplace_back(e.id, e.w);
        for (const auto& e : handler.of({WM_KEYUP})) got.emplace_back(e.id, e.w);
        std::vector<std::pair<std::uint32_t, wparam>> want;
        if (c.shift) want.emplace_back(WM_KEYDOWN, VK_SHIFT);
        want.emplace_back(WM_KEYDOWN, c.vk);
        if (c.ch != 0) want.emplace_back(WM_CHAR, c.ch);
        if (c.shift) want.emplace_back(WM_KEYUP, VK_SHIFT);
        want.emplace_back(WM_KEYUP, c.vk);
        if (c.shift && got.size() == want.size() && got[got.size() - 1].second == VK_SHIFT) {
            std::swap(got[got.size() - 1], got[got.size() - 2]);
        }
        EXPECT_EQ(got, want) << c.keys;
    }
}

TEST_F(x11_display, alt_f4_and_the_window_managers_close_are_the_close_command) {
    struct case_t {
        const char* name;
        std::function<bool(window_handle)> close;
        bool keys_seen = false;  // the window itself got Alt+F4 as WM_SYSKEYDOWN
    };
    const case_t cases[] = {
        // openbox turns Alt+F4 into WM_DELETE_WINDOW.
        {"alt+F4",
         [&](window_handle) {
             return xdotool({"key", "alt+F4"});
         }},
        // Alt+F4 reaching the window itself (no window manager binding):
        // the display makes it the close command.
        {"alt+F4 to the window",
         [&](window_handle window) {
             return xdotool({"key", "--window", id_text(window), "alt+F4"});
         }},
        // What any window manager's close button sends.
        {"WM_DELETE_WINDOW",
         [&](window_handle window) {
             XEvent event{};
             event.xclient.type = ClientMessage;
             event.xclient.window = window;
             event.xclient.message_type = atom("WM_PROTOCOLS");
             event.xclient.format = 32;
             event.xclient.data.l[0] = static_cast<long>(atom("WM_DELETE_WINDOW"));
             event.xclient.data.l[1] = CurrentTime;
             const bool sent = XSendEvent(probe_, window, False, NoEventMask, &event) != 0;
             XSync(probe_, False);
             return sent;
         }},
    };
    for (const case_t& c : cases) {
        recording_handler& handler = make_handler();
        const window_handle window = show_new_window(handler, {200, 200, 420, 340});
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(c.close(window)) << c.name;
        ASSERT_TRUE(pump_until([&] { return handler.received(WM_SYSCOMMAND, SC_CLOSE); })) << c.name;
        EXPECT_EQ(handler.received(WM_SYSKEYDOWN, VK_F4), c.keys_seen) << c.name;
        EXPECT_EQ(handler.of({WM_SYSCOMMAND}).size(), 1u) << c.name << ": one close command";
        EXPECT_TRUE(is_window(window)) << "the close command alone destroys nothing";
        destroy_window(window);
        windows_.clear();
    }
}

// --- the mouse ---

TEST_F(x11_display, presses_ask_for_the_hit_test_then_arrive_in_client_coordinates) {
    struct case_t {
        std::uint32_t class_style;
        std::vector<std::uint32_t> presses;  // the button-down messages of a double-click
    };
    const case_t cases[] = {{CS_DBLCLKS, {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}}, {0, {WM_LBUTTONDOWN, WM_LBUTTONDOWN}}};
    for (const case_t& c : cases) {
        recording_handler& handler = make_handler();
        const window_handle window = show_new_window(handler, {300, 250, 500, 400}, 0, c.class_style);
        ASSERT_NE(window, 0u);
        handler.clear();
        ASSERT_TRUE(xdotool({"mousemove", "340", "310", "click", "--repeat", "2", "--delay", "80", "1"}));
        ASSERT_TRUE(pump_until([&] { return handler.of({WM_LBUTTONUP}).size() == 2; }));
        const auto hits = handler.of({WM_NCHITTEST});
        ASSERT_FALSE(hits.empty());
        EXPECT_EQ(point_from_lparam(hits.front().l), (point{340, 310})) << "screen coordinates";
        std::vector<std::uint32_t> presses;
        for (const auto& e : handler.of({WM_LBUTTONDOWN, WM_LBUTTONDBLCLK})) {
            presses.push_back(e.id);
            EXPECT_EQ(point_from_lparam(e.l), (point{40, 60})) << "client coordinates";
        }
        EXPECT_EQ(presses, c.presses) << "class style " << c.class_style;
        // Leaving the window is heard.
        ASSERT_TRUE(xdotool({"mousemove", "10", "10"}));
        EXPECT_TRUE(pump_until([&] { return handler.received(WM_MOUSELEAVE); }));
        destroy_window(window);
        windows_.clear();
    }
}

TEST_F(x11_display, a_caption_drag_moves_the_window_under_openbox) {
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 150, 500, 350});
    ASSERT_NE(window, 0u);
    handler.clear();
    ASSERT_TRUE(xdotool({"mousemove", "260",       "160",   "mousedown", "1",         "sleep", "0.2",     "mousemove",
                         "280",       "180",       "sleep", "0.1",       "mousemove", "310",   "210",     "sleep",
                         "0.1",       "mousemove", "320",   "230",       "sleep",     "0.2",   "mouseup", "1"}));
    ASSERT_TRUE(pump_until([&] {
        return window_rect(window) == rect{260, 220, 560, 420};
    })) << window_rect(window).left
        << "," << window_rect(window).top << " " << window_rect(window).width() << "x" << window_rect(window).height();
    EXPECT_TRUE(handler.received(WM_MOVE));
    EXPECT_FALSE(handler.received(WM_LBUTTONDOWN)) << "a caption press is no client press";
}

// A caption press is the window manager's move only once the pointer has
// travelled past the drag threshold with the button held: a shorter travel
// leaves the window where it was, a longer one carries it by the whole way.
TEST_F(x11_display, a_caption_press_moves_the_window_only_past_the_drag_threshold) {
    struct travel_case {
        const char* name;
        int dx;
        int dy;
        bool moves;
    };
    const travel_case cases[] = {
        {"no travel", 0, 0, false}, {"a pixel's tremble", 1, -1, false}, {"just short of the threshold", 3, 3, false},
        {"across", 40, 0, true},    {"down and left", -30, 25, true},
    };
    for (const travel_case& c : cases) {
        SCOPED_TRACE(c.name);
        recording_handler& handler = make_handler();
        const rect start{200, 150, 500, 350};
        const window_handle window = show_new_window(handler, start);
        ASSERT_NE(window, 0u);
        const int x = 260;
        const int y = 160;
        // Half the travel first: a window manager that already moves the
        // window follows every step.
        ASSERT_TRUE(
            xdotool({"mousemove", std::to_string(x), std::to_string(y), "mousedown", "1", "sleep", "0.2", "mousemove",
                     std::to_string(x + c.dx / 2), std::to_string(y + c.dy / 2), "sleep", "0.2", "mousemove",
                     std::to_string(x + c.dx), std::to_string(y + c.dy), "sleep", "0.3", "mouseup", "1"}));
        const rect expected =
            c.moves ? rect{start.left + c.dx, start.top + c.dy, start.right + c.dx, start.bottom + c.dy} : start;
        if (c.moves) {
            EXPECT_TRUE(pump_until([&] { return window_rect(window) == expected; }));
        } else {
            pump_for(std::chrono::milliseconds(300));
        }
        const rect now = window_rect(window);
        EXPECT_EQ(now, expected) << now.left << "," << now.top << " " << now.width() << "x" << now.height();
        EXPECT_FALSE(handler.received(WM_LBUTTONDOWN)) << "a caption press is no client press";
        EXPECT_FALSE(handler.received(WM_LBUTTONUP)) << "a caption release is no client release";
        destroy_window(window);
        windows_.pop_back();
        pump_for(std::chrono::milliseconds(100));
    }
}

// Double-clicks in quick succession, as a person tries them: every pair
// maximises or restores; none is lost to a move begun by its first press.
TEST_F(x11_display, caption_double_clicks_in_a_row_each_maximise_or_restore) {
    recording_handler& handler = make_handler();
    const rect normal{200, 150, 500, 350};
    const window_handle window = show_new_window(handler, normal, 0, CS_DBLCLKS);
    ASSERT_NE(window, 0u);
    const rect work = work_area_near(window);
    ASSERT_FALSE(work.empty());
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const bool maximise = round % 2 == 0;
        const rect place = maximise ? normal : work;
        const std::string x = std::to_string(place.left + 60);
        const std::string y = std::to_string(place.top + 10);
        ASSERT_TRUE(xdotool({"mousemove", x, y, "click", "--repeat", "2", "--delay", "60", "1"}));
        ASSERT_TRUE(pump_until([&] {
            return is_maximized(window) == maximise && window_rect(window) == (maximise ? work : normal);
        })) << is_maximized(window)
            << " " << window_rect(window).left << "," << window_rect(window).top << " " << window_rect(window).width()
            << "x" << window_rect(window).height();
        pump_for(std::chrono::milliseconds(600));  // a new pair, not a third click
    }
}

TEST_F(x11_display, a_caption_double_click_maximises_with_the_minmax_answer_and_restores) {
    recording_handler& handler = make_handler();
    const rect normal{200, 150, 500, 350};
    const window_handle window = show_new_window(handler, normal, 0, CS_DBLCLKS);
    ASSERT_NE(window, 0u);
    const rect work = work_area_near(window);
    ASSERT_FALSE(work.empty());
    handler.clear();
    ASSERT_TRUE(xdotool({"mousemove", "260", "160", "click", "--repeat", "2", "--delay", "80", "1"}));
    ASSERT_TRUE(pump_until([&] { return is_maximized(window) && window_rect(window) == work; }))
        << window_rect(window).width() << "x" << window_rect(window).height();
    EXPECT_TRUE(handler.received(WM_SYSCOMMAND, SC_MAXIMIZE));
    EXPECT_TRUE(handler.received(WM_GETMINMAXINFO));
    EXPECT_TRUE(handler.received(WM_SIZE, SIZE_MAXIMIZED));
    EXPECT_TRUE(pump_until([&] {
        return has_state(window, "_NET_WM_STATE_MAXIMIZED_VERT") && has_state(window, "_NET_WM_STATE_MAXIMIZED_HORZ");
    }));
    pump_for(std::chrono::milliseconds(600));  // a new pair of clicks, not a third one
    ASSERT_TRUE(xdotool({"mousemove", "260", "10", "click", "--repeat", "2", "--delay", "80", "1"}));
    ASSERT_TRUE(pump_until([&] { return !is_maximized(window) && window_rect(window) == normal; }))
        << handler.received(WM_SYSCOMMAND, SC_RESTORE) << is_maximized(window) << " " << window_rect(window).left << ","
        << window_rect(window).top << " " << window_rect(window).width() << "x" << window_rect(window).height();
    EXPECT_TRUE(handler.received(WM_SYSCOMMAND, SC_RESTORE));
}

TEST_F(x11_display, maximising_takes_the_placement_the_handler_answers) {
    recording_handler& handler = make_handler();
    // A handler that wants less than the work area: the size limit holds
    // under the window manager too.
    minmax_info info;
    info.max_position = {0, 0};
    info.max_size = {640, 480};
    info.min_track_size = {100, 80};
    info.max_track_size = {640, 480};
    handler.answer_minmax = info;
    const window_handle window = show_new_window(handler, {200, 150, 500, 350});
    ASSERT_NE(window, 0u);
    show_window(window, SW_MAXIMIZE);
    ASSERT_TRUE(pump_until([&] { return window_rect(window).width() == 640 && window_rect(window).height() == 480; }))
        << window_rect(window).width() << "x" << window_rect(window).height();
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_NE(XGetWMNormalHints(probe_, window, &hints, &supplied), 0);
    EXPECT_TRUE(hints.flags & PMaxSize);
    EXPECT_EQ(hints.max_width, 640);
    EXPECT_EQ(hints.max_height, 480);
    EXPECT_EQ(hints.min_width, 100);
    EXPECT_EQ(hints.min_height, 80);
}

TEST_F(x11_display, minimising_iconifies_and_restoring_brings_it_back) {
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 150, 500, 350});
    ASSERT_NE(window, 0u);
    const auto wm_state = [&] {
        const std::vector<long> state = property(window, "WM_STATE", atom("WM_STATE"));
        return state.empty() ? -1L : state[0];
    };
    minimize_window(window);
    ASSERT_TRUE(pump_until([&] { return wm_state() == IconicState; }));
    EXPECT_TRUE(is_minimized(window));
    EXPECT_TRUE(is_window_visible(window)) << "a minimised window is still shown";
    EXPECT_TRUE(pump_until([&] { return handler.received(WM_SIZE, SIZE_MINIMIZED); }));
    show_window(window, SW_RESTORE);
    ASSERT_TRUE(pump_until([&] { return wm_state() == NormalState && !is_minimized(window); }));
}

// --- enabling, focus ---

TEST_F(x11_display, a_disabled_window_hears_no_input) {
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 150, 500, 350});
    ASSERT_NE(window, 0u);
    enable_window(window, false);
    EXPECT_FALSE(is_window_enabled(window));
    EXPECT_TRUE(handler.received(WM_ENABLE, 0));
    handler.clear();
    ASSERT_TRUE(xdotool({"mousemove", "300", "250", "click", "1", "key", "Return"}));
    pump_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(handler.of({WM_NCHITTEST, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_KEYDOWN, WM_KEYUP}).empty());
    enable_window(window, true);
    EXPECT_TRUE(handler.received(WM_ENABLE, 1));
    ASSERT_TRUE(xdotool({"click", "1"}));
    EXPECT_TRUE(pump_until([&] { return handler.received(WM_LBUTTONUP); }));
}

TEST_F(x11_display, focus_moves_between_windows_with_setfocus_and_killfocus) {
    recording_handler& first = make_handler();
    recording_handler& second = make_handler();
    const window_handle a = show_new_window(first, {100, 100, 300, 250});
    ASSERT_NE(a, 0u);
    EXPECT_TRUE(first.received(WM_SETFOCUS));
    const window_handle b = show_new_window(second, {500, 100, 700, 250});
    ASSERT_NE(b, 0u);
    EXPECT_TRUE(first.received(WM_KILLFOCUS));
    first.clear();
    // Clicking the first window (openbox focuses on click) brings the focus back.
    ASSERT_TRUE(xdotool({"mousemove", "200", "200", "click", "1"}));
    ASSERT_TRUE(pump_until([&] { return get_focus() == a; }));
    EXPECT_TRUE(first.received(WM_SETFOCUS));
    EXPECT_TRUE(second.received(WM_KILLFOCUS));
}

// --- painting ---

TEST_F(x11_display, an_expose_gives_one_paint_until_the_update_area_is_taken) {
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 150, 400, 300});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(pump_until([&] { return handler.paints.load() > 0; }));
    pump_for(std::chrono::milliseconds(200));
    // The handler now leaves the update area where it is.
    handler.take_on_paint = false;
    handler.paints = 0;
    // Two exposures from another client and one invalidation of ours: one
    // WM_PAINT for all, with the union of the areas.
    XClearArea(probe_, window, 10, 10, 20, 20, True);
    XSync(probe_, False);
    ASSERT_TRUE(pump_until([&] { return handler.paints.load() > 0; }));
    XClearArea(probe_, window, 50, 40, 10, 10, True);
    XSync(probe_, False);
    const rect extra{100, 100, 120, 110};
    invalidate_rect(window, &extra);
    pump_for(std::chrono::milliseconds(300));
    EXPECT_EQ(handler.paints.load(), 1);
    EXPECT_EQ(take_update_rect(window), (rect{10, 10, 120, 110}));
    // Once taken, the next exposure paints again.
    XClearArea(probe_, window, 5, 5, 5, 5, True);
    XSync(probe_, False);
    EXPECT_TRUE(pump_until([&] { return handler.paints.load() == 2; }));
}

TEST_F(x11_display, present_puts_only_the_damaged_rectangle_on_the_window) {
    struct case_t {
        const char* shm;  // TAMSA_X11_SHM for the window's buffer
    };
    for (const case_t c : {case_t{"1"}, case_t{"0"}}) {
        ::setenv("TAMSA_X11_SHM", c.shm, 1);
        recording_handler& handler = make_handler();
        constexpr int width = 160;
        constexpr int height = 100;
        handler.image.assign(width * height, 0xFFFF0000);  // red
        handler.image_width = width;
        handler.image_height = height;
        const window_handle window = show_new_window(handler, {300, 200, 300 + width, 200 + height});
        ASSERT_NE(window, 0u);
        const auto pixel_at = [&](int x, int y) {
            XImage* image = XGetImage(probe_, window, x, y, 1, 1, AllPlanes, ZPixmap);
            if (image == nullptr) return 0ul;
            const unsigned long value = XGetPixel(image, 0, 0) & 0xFFFFFF;
            XDestroyImage(image);
            return value;
        };
        ASSERT_TRUE(pump_until([&] { return pixel_at(5, 5) == 0xFF0000 && pixel_at(150, 90) == 0xFF0000; }))
            << "shm " << c.shm;
        // The whole image turns blue, but only one rectangle is presented.
        std::vector<std::uint32_t> blue(width * height, 0xFF0000FF);
        const rect damaged{20, 30, 80, 70};
        present(window, blue.data(), width, height, width * 4, damaged);
        struct probe_t {
            int x, y;
            unsigned long colour;
        };
        const probe_t probes[] = {{20, 30, 0x0000FF}, {79, 69, 0x0000FF}, {50, 50, 0x0000FF}, {19, 30, 0xFF0000},
                                  {80, 50, 0xFF0000}, {50, 29, 0xFF0000}, {50, 70, 0xFF0000}, {150, 90, 0xFF0000}};
        ASSERT_TRUE(pump_until([&] { return pixel_at(50, 50) == 0x0000FF; })) << "shm " << c.shm;
        for (const probe_t& p : probes) {
            EXPECT_EQ(pixel_at(p.x, p.y), p.colour) << "shm " << c.shm << " at " << p.x << "," << p.y;
        }
        destroy_window(window);
        windows_.clear();
    }
    ::unsetenv("TAMSA_X11_SHM");
}

TEST_F(x11_display, round_corners_clip_the_window_shape) {
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 150, 400, 300});
    ASSERT_NE(window, 0u);
    set_window_round_corners(window, {20, 20});
    XSync(probe_, False);
    int count = 0;
    int ordering = 0;
    // The shape's first row starts inside the corner; its middle rows are full width.
    const auto shape_rows = [&] {
        XRectangle* rects = XShapeGetRectangles(probe_, window, ShapeBounding, &count, &ordering);
        std::vector<XRectangle> rows(rects, rects + count);
        if (rects) XFree(rects);
        return rows;
    };
    ASSERT_TRUE(pump_until([&] { return shape_rows().size() > 1; }));
    const std::vector<XRectangle> rows = shape_rows();
    EXPECT_GT(rows.front().x, 0);
    bool full_row = false;
    for (const XRectangle& r : rows)
        full_row = full_row || (r.y <= 75 && r.y + r.height > 75 && r.x == 0 && r.width == 200);
    EXPECT_TRUE(full_row);
    set_window_round_corners(window, {0, 0});
    ASSERT_TRUE(pump_until([&] { return shape_rows().size() == 1; }));
}

// --- the product's window as owner ---

// Starts the sample product and reads the window id it prints first; 0 when
// it did not start or printed something else.
window_handle start_product(test_support::child_process& product, const std::vector<std::string>& args) {
    if (!product.start_program(SAMPLE_PRODUCT, args)) return 0;
    const std::string first = product.read_line(10000);
    return first.rfind("window ", 0) == 0 ? std::stoul(first.substr(7)) : 0;
}

// The product's record shows it was disabled, then enabled again.
void expect_disabled_then_enabled(const std::string& record) {
    ASSERT_TRUE(test_support::eventually([&] {
        return test_support::read_file(record).find("message _TAMSA_WINDOW_MESSAGE 10 1 0") != std::string::npos;
    })) << test_support::read_file(record);
    const std::string text = test_support::read_file(record);
    EXPECT_LT(text.find("message _TAMSA_WINDOW_MESSAGE 10 0 0"), text.find("message _TAMSA_WINDOW_MESSAGE 10 1 0"))
        << text;
}

TEST_F(x11_display, the_products_window_hears_enable_window_as_its_client_message) {
    test_support::temp_dir dir;
    const std::string record = dir.file("record.txt");
    test_support::child_process product;
    ASSERT_TRUE(product.start_program(SAMPLE_PRODUCT, {"--no-updater", "--record=" + record}));
    const std::string first = product.read_line(10000);
    ASSERT_EQ(first.rfind("window ", 0), 0u) << first;
    const window_handle owner = std::stoul(first.substr(7));
    ASSERT_TRUE(is_window(owner));
    ASSERT_TRUE(pump_until([&] { return !window_rect(owner).empty(); }));
    EXPECT_FALSE(is_minimized(owner));

    enable_window(owner, false);
    EXPECT_FALSE(is_window_enabled(owner));
    enable_window(owner, true);
    EXPECT_TRUE(is_window_enabled(owner));
    ASSERT_NO_FATAL_FAILURE(expect_disabled_then_enabled(record));

    // Its geometry and state serve centring: openbox's frame counts.
    const rect outer = window_rect(owner);
    EXPECT_GE(outer.width(), 480);
    EXPECT_GE(outer.height(), 240);
    XIconifyWindow(probe_, owner, DefaultScreen(probe_));
    XSync(probe_, False);
    EXPECT_TRUE(pump_until([&] { return is_minimized(owner); }));
}

// The product's window is enabled again however we end: an exit that skips
// the modal loop (a skin that cannot be built), or a connection the X server
// closed under us (xkill), where Xlib would end the process at once.
TEST_F(x11_display, the_product_is_enabled_again_on_every_way_the_process_ends) {
    struct case_t {
        const char* mode;
        bool kill_client;
    };
    for (const case_t c : {case_t{"exit", false}, case_t{"lost", true}}) {
        SCOPED_TRACE(c.mode);
        test_support::temp_dir dir;
        const std::string record = dir.file("record.txt");
        test_support::child_process product;
        const window_handle owner = start_product(product, {"--no-updater", "--record=" + record});
        ASSERT_NE(owner, 0u);

        test_support::child_process probe;
        ASSERT_TRUE(probe.start({X11_EXIT_PROBE, c.mode, std::to_string(owner)}));
        const std::string ready = probe.read_line(10000);
        ASSERT_EQ(ready.rfind("ready ", 0), 0u) << ready;
        if (c.kill_client) {
            XKillClient(probe_, std::stoul(ready.substr(6)));
            XSync(probe_, False);
        }
        ASSERT_TRUE(probe.wait_for_exit(10000));
        EXPECT_TRUE(probe.exited() && probe.exit_code() == 1)
            << "exit " << probe.exit_code() << " signal " << probe.killed_by_signal();
        ASSERT_NO_FATAL_FAILURE(expect_disabled_then_enabled(record));
    }
}

// --- the sample product itself ---

TEST_F(x11_display, the_sample_product_starts_the_updater_with_its_window_and_names) {
    test_support::temp_dir dir;
    const std::string updater = dir.file("updater.sh");
    test_support::write_file(updater, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n");
    ASSERT_EQ(::chmod(updater.c_str(), 0755), 0);
    test_support::child_process product;
    const window_handle window =
        start_product(product, {"--updater=" + updater, "--version=2.5", "--prod=Tool", "--channel=beta",
                                "--url=http://127.0.0.1/page", "--quit-id=777", "--updater-args=-extra=1 -more=2",
                                "--record=" + dir.file("record.txt")});
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(test_support::eventually([&] {
        return test_support::read_file(dir.file("record.txt")).find("updater exited 0") != std::string::npos;
    })) << test_support::read_file(dir.file("record.txt"));
    const std::string want = "-hwnd=" + id_text(window) +
                             "\n-quitmsgid=777\n-prod=Tool\n-channel=beta\n-ver=2.5\n-url=http://127.0.0.1/page\n"
                             "-exename=sample_product\n-extra=1\n-more=2\n";
    EXPECT_EQ(test_support::read_file(dir.file("args.txt")), want);
}

TEST_F(x11_display, the_sample_product_honours_its_quit_message_unless_told_to_ignore_it) {
    struct case_t {
        bool ignore;
    };
    for (const case_t c : {case_t{false}, case_t{true}}) {
        test_support::temp_dir dir;
        std::vector<std::string> args{"--no-updater", "--quit-id=4321", "--record=" + dir.file("record.txt")};
        if (c.ignore) args.push_back("--ignore-quit");
        test_support::child_process product;
        const window_handle window = start_product(product, args);
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(post_foreign_message(window, 1234, 0, 0)) << "another message is only recorded";
        ASSERT_TRUE(post_foreign_message(window, 4321, 0, 0));
        const bool ended = test_support::eventually([&] { return product.ended(); }, std::chrono::seconds(3));
        EXPECT_EQ(ended, !c.ignore) << "ignore " << c.ignore;
        const std::string record = test_support::read_file(dir.file("record.txt"));
        EXPECT_NE(record.find("message _TAMSA_WINDOW_MESSAGE 1234 0 0\nmessage _TAMSA_WINDOW_MESSAGE 4321 0 0\n"),
                  std::string::npos)
            << record;
        EXPECT_NE(record.find(c.ignore ? "quit ignored" : "quit\n"), std::string::npos) << record;
        if (ended) {
            EXPECT_TRUE(product.exited() && product.exit_code() == 0)
                << "exit " << product.exit_code() << " signal " << product.killed_by_signal();
        }
    }
}

TEST_F(x11_display, the_sample_product_greys_and_ignores_input_while_disabled) {
    test_support::temp_dir dir;
    test_support::child_process product;
    const window_handle window = start_product(product, {"--no-updater", "--record=" + dir.file("record.txt")});
    ASSERT_NE(window, 0u);
    const auto pixel = [&] {
        XImage* image = XGetImage(probe_, window, 470, 230, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) return 0ul;
        const unsigned long value = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return value;
    };
    const auto click = [&] {
        const rect r = window_rect(window);
        return xdotool({"mousemove", std::to_string(r.right - 30), std::to_string(r.bottom - 30), "click", "1"});
    };
    ASSERT_TRUE(test_support::eventually([&] { return pixel() == 0xFFFFFF; }));
    enable_window(window, false);
    ASSERT_TRUE(test_support::eventually([&] { return pixel() == 0xA0A0A0; })) << std::hex << pixel();
    ASSERT_TRUE(click());
    ASSERT_TRUE(test_support::eventually(
        [&] { return test_support::read_file(dir.file("record.txt")).find("input ignored") != std::string::npos; }));
    enable_window(window, true);
    ASSERT_TRUE(test_support::eventually([&] { return pixel() == 0xFFFFFF; }));
    ASSERT_TRUE(click());
    EXPECT_TRUE(test_support::eventually(
        [&] { return test_support::read_file(dir.file("record.txt")).find("input accepted") != std::string::npos; }));
}

// --- threads ---

// A worker posts while the UI thread waits on the X connection and the
// queue together; every message arrives once and in order.
TEST_F(x11_display, posts_from_a_worker_reach_the_ui_thread_waiting_on_x) {
    recording_handler& handler = make_handler();
    const window_handle window = show_new_window(handler, {200, 150, 400, 300});
    ASSERT_NE(window, 0u);
    constexpr int COUNT = 2000;
    std::thread worker([window] {
        for (int i = 0; i < COUNT; ++i) {
            EXPECT_TRUE(post_message(window, WM_USER + 7, static_cast<wparam>(i), 0));
            if (i % 100 == 0) invalidate_rect(window, nullptr);
            if (i % 250 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    // X traffic at the same time: exposures from another client.
    for (int i = 0; i < 20; ++i) XClearArea(probe_, window, i, i, 5, 5, True);
    XFlush(probe_);
    const bool all = pump_until([&] { return handler.of({WM_USER + 7}).size() == COUNT; });
    worker.join();
    ASSERT_TRUE(all);
    const auto posted = handler.of({WM_USER + 7});
    for (int i = 0; i < COUNT; ++i) ASSERT_EQ(posted[i].w, static_cast<wparam>(i));
}

}  // namespace
