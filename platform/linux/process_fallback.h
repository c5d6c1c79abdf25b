// Waiting for a process without pidfd_open (kernels before 5.3): a
// descriptor of its /proc directory, checked every 10 ms.
#pragma once

#include "platform/process.h"

namespace platform::linux_backend {

// A descriptor of /proc/<pid>; it keeps naming that process even when the id
// is reused later. -1 when the process does not exist.
int open_proc_directory(process_id pid);
bool is_proc_directory(int fd);
// True once the process has been reaped or is a zombie.
bool proc_process_ended(int dir_fd);
process_handle::wait_result wait_proc_directory(int dir_fd, unsigned timeout_ms);

}  // namespace platform::linux_backend
