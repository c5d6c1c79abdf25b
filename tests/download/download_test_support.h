// Shared pieces of the download tests: package bytes,
// a package host on 127.0.0.1 with injectable faults, and a window that
// records the messages it is posted.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/text_utils.h"
#include "core/update_task.h"
#include "download/md5.h"
#include "platform/message_queue.h"
#include "tests/support/temp_dir.h"

namespace download_test {

using test_support::file_exists;
using test_support::random_token;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

// The lower-case hex MD5 of bytes, as the update list names a package.
inline std::string md5_of(const std::string& bytes) {
    md5 context;
    context.update(bytes.data(), bytes.size());
    return context.hex_digest();
}

inline std::string package_bytes(std::size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// A file name no other test (or parallel test process) uses; the part files
// beside the test program are named after it.
inline std::string unique_package_name(const std::string& stem) {
    return "dltest_" + stem + "_" + random_token() + ".pkg";
}

// The part files of a package name that are still beside the program.
// Both the engine's parts of that target and the package job's, which
// downloads under a name of its own; the job's unfinished package too.
inline std::vector<std::string> leftover_parts(const std::string& package_name) {
    std::vector<std::string> left;
    const std::string job_download = module_dir() + "TamsaUpdate.download_" + package_name;
    if (file_exists(job_download)) left.push_back(job_download);
    for (int i = 0; i < 4; ++i) {
        for (const std::string& stem : {module_dir() + package_name, job_download}) {
            const std::string path = stem + "-" + std::to_string(i);
            if (file_exists(path)) left.push_back(path);
        }
    }
    return left;
}

// What the package host does wrong.
enum class host_fault {
    none,
    ignore_ranges,         // answers every request with 200 and the whole file
    not_found,             // 404 for the segment that starts at fault_offset
    drop_connection,       // closes the connection halfway through that segment
    stall,                 // stops sending halfway through that segment until released
    slow_body,             // sends every body in small, delayed pieces
    no_length,             // the whole-file answer comes chunked, without a length
    wrong_range,           // answers that segment with another range than asked
    cancel_then_stall,     // sets the stop flag halfway through that segment, then stalls
    drop_first_halfway,    // closes the connection halfway through every range's first request
    refuse_if_range,       // answers every request that carries If-Range with 200 and the whole file
    whole_length_differs,  // a whole transfer after the probe is fault_offset bytes shorter (negative: longer)
    close_delimited_cut,   // the whole file comes without a length, the connection closed halfway
};

// How the host proves which file it serves.
struct host_validators {
    std::string etag;           // sent as ETag when not empty
    std::string last_modified;  // sent as Last-Modified when not empty
};

// One request for the package as the host saw it.
struct host_request {
    std::string range;     // "" without a Range header
    std::string if_range;  // "" without an If-Range header
    friend bool operator==(const host_request&, const host_request&) = default;
};

// A package host on 127.0.0.1 serving one package at /files/<any name> (and
// /moved/<name>, which redirects there), with one injectable fault.
class package_host {
public:
    explicit package_host(std::string body, host_fault fault = host_fault::none, std::int64_t fault_offset = 0)
        : body_(std::move(body)), fault_(fault), fault_offset_(fault_offset) {
        server_.Get(R"(/files/(.*))", [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); });
        server_.Get(R"(/moved/(.*))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect("/files/" + req.matches[1].str());
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() only ends a server that is already running, so wait for it (bounded).
        for (int i = 0; i < 500 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ~package_host() {
        release();
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    package_host(const package_host&) = delete;
    package_host& operator=(const package_host&) = delete;

    // Serves another file from now on, with other validators.
    void replace_file(std::string body, host_validators validators) {
        std::lock_guard<std::mutex> guard(lock_);
        body_ = std::move(body);
        validators_ = std::move(validators);
    }
    void set_validators(host_validators validators) {
        std::lock_guard<std::mutex> guard(lock_);
        validators_ = std::move(validators);
    }
    // Every request for the package since the last call, and forgets them.
    std::vector<host_request> take_requests() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<host_request> taken = std::move(requests_);
        requests_.clear();
        return taken;
    }
    // Body bytes the host has sent so far in answers to range requests
    // (the size probe's answer may carry a body that the client never reads).
    std::uint64_t range_bytes_sent() const { return range_sent_.load(); }

    std::string url(const std::string& name, const std::string& folder = "files") const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + folder + "/" + name;
    }
    void set_fault(host_fault fault, std::int64_t offset = 0) {
        std::lock_guard<std::mutex> guard(lock_);
        fault_ = fault;
        fault_offset_ = offset;
    }
    // Blocks until a body stalls (bounded); true when one did.
    bool wait_until_stalled() {
        std::unique_lock<std::mutex> guard(lock_);
        return wake_.wait_for(guard, std::chrono::seconds(20), [this] { return stalled_; });
    }
    // True when a stalled body was never released by the client side ending it.
    bool stall_timed_out() const { return stall_timed_out_.load(); }
    // Lets a stalled body go on.
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        wake_.notify_all();
    }
    // The Range header of every request for the package, "" for none.
    std::vector<std::string> ranges_asked() const {
        std::lock_guard<std::mutex> guard(lock_);
        return ranges_;
    }
    // Bytes the host sent before it set the stop flag.
    std::uint64_t bytes_before_cancel() const { return sent_before_cancel_.load(); }

private:
    struct range_request {
        bool present = false;
        std::int64_t first = 0;
        std::int64_t last = 0;
    };

    static range_request parse_range(const std::string& header) {
        range_request range;
        if (header.rfind("bytes=", 0) != 0) return range;
        const std::size_t dash = header.find('-', 6);
        if (dash == std::string::npos) return range;
        try {
            range.first = std::stoll(header.substr(6, dash - 6));
            range.last = std::stoll(header.substr(dash + 1));
            range.present = true;
        } catch (const std::exception&) {
            range.present = false;
        }
        return range;
    }

    void serve(const httplib::Request& req, httplib::Response& res) {
        const std::string header = req.get_header_value("Range");
        const std::string if_range = req.get_header_value("If-Range");
        host_fault fault_now;
        std::int64_t fault_offset;
        host_validators validators;
        std::shared_ptr<const std::string> body;
        bool first_request_of_range = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            ranges_.push_back(header);
            requests_.push_back({header, if_range});
            fault_now = fault_;
            fault_offset = fault_offset_;
            validators = validators_;
            body = std::make_shared<const std::string>(body_);
            first_request_of_range = ranges_seen_.insert(header).second;
        }
        if (!validators.etag.empty()) res.set_header("ETag", validators.etag);
        if (!validators.last_modified.empty()) res.set_header("Last-Modified", validators.last_modified);
        // If-Range: the range only while the validator still matches, else the whole file.
        const bool if_range_holds = if_range.empty() || (!validators.etag.empty() && if_range == validators.etag) ||
                                    (validators.etag.empty() && if_range == validators.last_modified);
        if (fault_now == host_fault::drop_first_halfway && !first_request_of_range) fault_now = host_fault::none;
        if (fault_now == host_fault::drop_first_halfway && !header.empty()) {
            fault_now = host_fault::drop_connection;
            fault_offset = parse_range(header).first;
        }
        if (fault_now == host_fault::refuse_if_range && !if_range.empty()) fault_now = host_fault::ignore_ranges;
        // The host answers ranges itself, faults included, so the library must not cut the body again.
        const_cast<httplib::Request&>(req).ranges.clear();
        const range_request range = parse_range(header);
        const auto size = static_cast<std::int64_t>(body->size());
        // The two whole-file faults ignore ranges too, so that a whole transfer follows the probe.
        const bool whole_fault =
            fault_now == host_fault::whole_length_differs || fault_now == host_fault::close_delimited_cut;
        if (!range.present || fault_now == host_fault::ignore_ranges || !if_range_holds || whole_fault) {
            res.status = 200;
            // The probe (the first request without a range) always gets the true length.
            const bool probe = !range.present && first_request_of_range;
            if (fault_now == host_fault::whole_length_differs && !range.present && !probe) {
                const auto delta = static_cast<std::size_t>(std::abs(fault_offset));
                auto changed = std::make_shared<const std::string>(
                    fault_offset > 0 ? body->substr(0, body->size() - std::min(delta, body->size()))
                                     : *body + std::string(delta, 'x'));
                provide(res, changed, 0, static_cast<std::int64_t>(changed->size()), host_fault::none, false);
                return;
            }
            if (fault_now == host_fault::close_delimited_cut && !probe) {
                res.set_content_provider("application/octet-stream",
                                         [this, body](std::size_t offset, httplib::DataSink& sink) {
                                             const std::size_t half = body->size() / 2;
                                             if (offset >= half) return false;  // hang up halfway
                                             if (!sink.write(body->data() + offset, half - offset)) return false;
                                             sent_ += half - offset;
                                             return true;
                                         });
                return;
            }
            if (fault_now == host_fault::no_length) {
                res.set_chunked_content_provider("application/octet-stream",
                                                 [body](std::size_t offset, httplib::DataSink& sink) {
                                                     if (offset < body->size()) {
                                                         sink.write(body->data() + offset, body->size() - offset);
                                                     }
                                                     sink.done();
                                                     return true;
                                                 });
                return;
            }
            provide(res, body, 0, size, fault_now, false);
            return;
        }
        if (range.first < 0 || range.last < range.first || range.last >= size) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        const bool faulty = range.first == fault_offset;
        if (faulty && fault_now == host_fault::not_found) {
            res.status = 404;
            res.set_content("<html>no such package</html>", "text/html");
            return;
        }
        std::int64_t first = range.first;
        std::int64_t last = range.last;
        if (faulty && fault_now == host_fault::wrong_range) {
            first = 0;
            last = range.last - range.first;
        }
        res.status = 206;
        res.set_header("Content-Range",
                       "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
        provide(res, body, first, last - first + 1, fault_now, faulty, &range_sent_);
    }

    // Sends body bytes [first, first + length) in pieces, with the fault where it applies.
    void provide(httplib::Response& res, std::shared_ptr<const std::string> body, std::int64_t first,
                 std::int64_t length, host_fault fault, bool faulty, std::atomic<std::uint64_t>* counter = nullptr) {
        if (length == 0) {
            res.set_content("", "application/octet-stream");  // with Content-Length: 0
            return;
        }
        res.set_content_provider(
            static_cast<std::size_t>(length), "application/octet-stream",
            [this, body, first, length, fault, faulty, counter, stalled_once = false](std::size_t offset, std::size_t,
                                                                                      httplib::DataSink& sink) mutable {
                const std::size_t piece = fault == host_fault::slow_body ? 1024 : 64 * 1024;
                const std::size_t half = static_cast<std::size_t>(length) / 2;
                std::size_t end = std::min(offset + piece, static_cast<std::size_t>(length));
                if (faulty && offset < half) end = std::min(end, half);
                if (faulty && offset >= half && offset > 0 && !stalled_once) {
                    if (fault == host_fault::drop_connection) return false;
                    if (fault == host_fault::cancel_then_stall) {
                        sent_before_cancel_ = offered_.load();
                        g_update_cancelled = true;
                    }
                    if (fault == host_fault::stall || fault == host_fault::cancel_then_stall) {
                        stalled_once = true;
                        std::unique_lock<std::mutex> guard(lock_);
                        stalled_ = true;
                        wake_.notify_all();
                        if (!wake_.wait_for(guard, std::chrono::seconds(30), [this] { return released_; })) {
                            stall_timed_out_ = true;
                            return false;
                        }
                        // Released: the rest follows (the client may have hung up meanwhile).
                    }
                }
                if (fault == host_fault::slow_body) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                offered_ += end - offset;
                if (!sink.write(body->data() + first + offset, end - offset)) return false;
                sent_ += end - offset;
                if (counter != nullptr) *counter += end - offset;
                return true;
            });
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::string body_;
    host_fault fault_;
    std::int64_t fault_offset_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool released_ = false;
    bool stalled_ = false;
    std::atomic<bool> stall_timed_out_{false};
    std::vector<std::string> ranges_;
    std::vector<host_request> requests_;
    std::set<std::string> ranges_seen_;
    host_validators validators_;
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> range_sent_{0};
    // Counted before each write, so that it bounds what a client can have
    // received at any moment (sent_ is counted after).
    std::atomic<std::uint64_t> offered_{0};
    std::atomic<std::uint64_t> sent_before_cancel_{0};
};

// A window of the test thread that keeps every message posted to it.
class message_recorder : public platform::message_handler {
public:
    message_recorder() : window_(platform::register_window(this)) {}
    ~message_recorder() override { platform::unregister_window(window_); }
    message_recorder(const message_recorder&) = delete;
    message_recorder& operator=(const message_recorder&) = delete;

    platform::lresult handle_message(platform::window_handle, std::uint32_t id, platform::wparam w,
                                     platform::lparam l) override {
        messages.push_back({window_, id, w, l});
        return 0;
    }
    platform::window_handle window() const { return window_; }

    // Dispatches what is queued now.
    void drain() {
        platform::message msg;
        while (platform::peek_message(msg)) platform::dispatch_message(msg);
    }
    // Dispatches until a message with the id arrives or the time is up.
    bool wait_for(std::uint32_t id, int timeout_ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (count(id) > 0) return true;
            platform::message msg;
            if (platform::wait_message(msg, 100)) platform::dispatch_message(msg);
        }
        return count(id) > 0;
    }
    std::size_t count(std::uint32_t id) const {
        std::size_t n = 0;
        for (const auto& msg : messages) n += msg.id == id ? 1 : 0;
        return n;
    }
    std::vector<platform::message> of(std::uint32_t id) const {
        std::vector<platform::message> found;
        for (const auto& msg : messages)
            if (msg.id == id) found.push_back(msg);
        return found;
    }

    std::vector<platform::message> messages;

private:
    platform::window_handle window_;
};

// An update task as the program builds it, before any download.
struct task_fixture {
    update_task task;
};

// Clears the process-wide stop flag when a test ends, whatever it did.
struct cancel_flag_reset {
    ~cancel_flag_reset() { g_update_cancelled = false; }
};

}  // namespace download_test
