// The pixel buffer that the X11 display owns for one window: the toolkit's
// image is copied into it rectangle by rectangle and put on the window,
// through MIT-SHM where the server shares memory with us, else XPutImage.
#pragma once

#include <X11/Xlib.h>
// clang-format off
#include <X11/extensions/XShm.h>
// clang-format on

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace platform::x11 {

class surface {
public:
    surface(Display* display, Visual* visual, int depth, bool allow_shm);
    ~surface();
    surface(const surface&) = delete;
    surface& operator=(const surface&) = delete;

    // Copies area of a premultiplied BGRA image (top-down rows of stride
    // bytes) into the buffer and puts that rectangle on the window.
    bool put(Window window, GC gc, const std::uint32_t* pixels, int width, int height, int stride, const rect& area);
    bool uses_shm() const { return shm_image_ != nullptr; }

private:
    bool fit(int width, int height);
    bool make_shm(int width, int height);
    void make_plain(int width, int height);
    void release();
    // Waits until the server has read the shared buffer of the last put.
    void wait_for_server();

    Display* display_;
    Visual* visual_;
    int depth_;
    bool allow_shm_;
    int width_ = 0;
    int height_ = 0;
    XImage* shm_image_ = nullptr;
    XShmSegmentInfo shm_info_{};
    unsigned long last_put_request_ = 0;
    XImage* plain_image_ = nullptr;
    std::vector<std::uint32_t> plain_pixels_;
};

}  // namespace platform::x11
