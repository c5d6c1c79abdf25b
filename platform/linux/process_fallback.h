// Waiting for a process without pidfd_open (kernels before 5.3): a
// descriptor of its /proc directory, checked every 10 ms; and the start of a
// file held open by its descriptor.
#pragma once

#include <string>

#include "platform/process.h"

namespace platform::linux_backend {

// A descriptor of /proc/<pid>; it keeps naming that process even when the id
// is reused later. -1 when the process does not exist.
int open_proc_directory(process_id pid);
bool is_proc_directory(int fd);
// True once the process has been reaped or is a zombie.
bool proc_process_ended(int dir_fd);
process_handle::wait_result wait_proc_directory(int dir_fd, unsigned timeout_ms);

// shell_open for a file held open as fd (read-only) and known as path: an
// executable is started through the descriptor itself, never by its name;
// anything else goes to xdg-open by path, and only while path still names fd.
std::intptr_t start_held(int fd, const std::string& path, const std::string& parameters,
                         const std::string& working_dir);

}  // namespace platform::linux_backend
