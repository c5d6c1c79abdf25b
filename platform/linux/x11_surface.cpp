// A window's presenting buffer: a shared-memory XImage when the server
// attaches the segment, else a plain XImage over memory of our own.
#include "platform/linux/x11_surface.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/linux/x11_support.h"
#include "platform/window_backend.h"

namespace platform::x11 {

surface::surface(Display* display, Visual* visual, int depth, bool allow_shm)
    : display_(display), visual_(visual), depth_(depth), allow_shm_(allow_shm) {}

surface::~surface() {
    release();
}

void surface::release() {
    if (shm_image_ != nullptr) {
        wait_for_server();
        XShmDetach(display_, &shm_info_);
        XSync(display_, False);  // the server lets go of the segment before we do
        XDestroyImage(shm_image_);
        if (shmdt(shm_info_.shmaddr) != 0) debug_output("[TamsaUpdate]: shmdt failed");
        shm_image_ = nullptr;
    }
    if (plain_image_ != nullptr) {
        plain_image_->data = nullptr;  // the pixels are ours, not Xlib's to free
        XDestroyImage(plain_image_);
        plain_image_ = nullptr;
    }
    plain_pixels_.clear();
    width_ = 0;
    height_ = 0;
}

bool surface::make_shm(int width, int height) {
    if (!allow_shm_ || XShmQueryExtension(display_) == False) return false;
    XImage* image = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &shm_info_,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) return false;
    if (image->bits_per_pixel != 32) {
        XDestroyImage(image);
        return false;
    }
    const std::size_t bytes = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(height);
    shm_info_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shm_info_.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    void* address = shmat(shm_info_.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        static_cast<void>(shmctl(shm_info_.shmid, IPC_RMID, nullptr));  // nothing more to do on failure
        XDestroyImage(image);
        return false;
    }
    shm_info_.shmaddr = image->data = static_cast<char*>(address);
    shm_info_.readOnly = False;
    // A server on another machine or in another sandbox cannot attach.
    const std::uint64_t mark = error_mark(display_);
    const bool attached = XShmAttach(display_, &shm_info_) != 0 && !failed_since(display_, mark);
    // Marked for removal at once: it goes away when both sides detach,
    // however the process ends.
    static_cast<void>(shmctl(shm_info_.shmid, IPC_RMID, nullptr));
    if (!attached) {
        image->data = nullptr;
        XDestroyImage(image);
        if (shmdt(address) != 0) debug_output("[TamsaUpdate]: shmdt failed");
        return false;
    }
    shm_image_ = image;
    return true;
}

void surface::make_plain(int width, int height) {
    plain_pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    plain_image_ = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0,
                                reinterpret_cast<char*>(plain_pixels_.data()), static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 32, width * 4);
    // Our pixels are in the host's order; Xlib converts for the server.
    if (plain_image_ != nullptr) plain_image_->byte_order = LSBFirst;
}

bool surface::fit(int width, int height) {
    if (width == width_ && height == height_ && (shm_image_ != nullptr || plain_image_ != nullptr)) return true;
    release();
    if (!make_shm(width, height)) make_plain(width, height);
    if (shm_image_ == nullptr && plain_image_ == nullptr) return false;
    width_ = width;
    height_ = height;
    return true;
}

void surface::wait_for_server() {
    if (last_put_request_ != 0 && LastKnownRequestProcessed(display_) < last_put_request_) XSync(display_, False);
    last_put_request_ = 0;
}

bool surface::put(Window window, GC gc, const std::uint32_t* pixels, int width, int height, int stride,
                  const rect& area) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width * 4) return false;
    const rect part = intersect_rect(area, {0, 0, width, height});
    if (part.empty() || !fit(width, height)) return false;
    XImage* image = shm_image_ != nullptr ? shm_image_ : plain_image_;
    if (shm_image_ != nullptr) wait_for_server();
    const auto* source = reinterpret_cast<const std::uint8_t*>(pixels);
    auto* target = reinterpret_cast<std::uint8_t*>(image->data);
    const std::size_t row_bytes = static_cast<std::size_t>(part.width()) * 4;
    for (int y = part.top; y < part.bottom; ++y) {
        std::memcpy(target + static_cast<std::size_t>(y) * image->bytes_per_line + part.left * 4,
                    source + static_cast<std::size_t>(y) * stride + part.left * 4, row_bytes);
    }
    if (shm_image_ != nullptr) {
        last_put_request_ = NextRequest(display_);
        return XShmPutImage(display_, window, gc, image, part.left, part.top, part.left, part.top,
                            static_cast<unsigned>(part.width()), static_cast<unsigned>(part.height()), False) != 0;
    }
    // XPutImage reports nothing useful; errors arrive on the connection.
    XPutImage(display_, window, gc, image, part.left, part.top, part.left, part.top,
              static_cast<unsigned>(part.width()), static_cast<unsigned>(part.height()));
    return true;
}

}  // namespace platform::x11
