// The one resume point of this process. At most one package is downloaded per
// run, so one point is enough; the part files of a point nobody takes are
// deleted when the process ends, so nothing is resumed across runs.
#include "download/resume_store.h"

#include <mutex>

#include "platform/files.h"

namespace {

void delete_parts(const resume_point& point) {
    for (const std::string& name : point.part_names) {
        (void)platform::delete_file(name);  // a part never created simply fails here
    }
}

class resume_store {
public:
    ~resume_store() {
        if (point_) delete_parts(*point_);
    }

    void keep(resume_point point) {
        std::lock_guard<std::mutex> guard(lock_);
        if (point_ && point_->target_path != point.target_path) delete_parts(*point_);
        point_ = std::move(point);
    }

    std::optional<resume_point> take(const std::string& url, const std::string& target_path) {
        std::lock_guard<std::mutex> guard(lock_);
        std::optional<resume_point> point = std::move(point_);
        point_.reset();
        if (point && (point->url != url || point->target_path != target_path)) {
            delete_parts(*point);
            point.reset();
        }
        return point;
    }

    std::uint64_t resumed() {
        std::lock_guard<std::mutex> guard(lock_);
        return resumed_;
    }

    void count(std::uint64_t bytes) {
        std::lock_guard<std::mutex> guard(lock_);
        resumed_ += bytes;
    }

private:
    std::mutex lock_;
    std::optional<resume_point> point_;
    std::uint64_t resumed_ = 0;
};

resume_store& store() {
    static resume_store the_store;
    return the_store;
}

}  // namespace

void drop_resume_point(const resume_point& point) {
    delete_parts(point);
}

void keep_resume_point(resume_point point) {
    store().keep(std::move(point));
}

std::optional<resume_point> take_resume_point(const std::string& url, const std::string& target_path) {
    return store().take(url, target_path);
}

std::uint64_t resumed_bytes_total() {
    return store().resumed();
}

void count_resumed_bytes(std::uint64_t bytes) {
    store().count(bytes);
}
