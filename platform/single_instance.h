// The machine-wide single-instance marker (a named event on Windows). The
// kernel releases it when the holding process ends, however it ends.
#pragma once

#include <memory>
#include <string>

namespace platform {

class single_instance {
public:
    enum class result { created, already_exists, access_denied, failed };

    // Tries to take the marker called name (for example
    // "Global\\TAMSA_UPDATER_2018"). The outcome is in create_result().
    explicit single_instance(const std::wstring& name);
    ~single_instance();  // releases the marker if held
    single_instance(const single_instance&) = delete;
    single_instance& operator=(const single_instance&) = delete;

    result create_result() const { return result_; }
    int last_error() const { return error_; }  // errno of a failure
    bool held() const { return state_ != nullptr; }

private:
    // The backend's hold on the marker; null when it is not held.
    struct state;
    std::unique_ptr<state> state_;
    result result_ = result::failed;
    int error_ = 0;
};

}  // namespace platform
