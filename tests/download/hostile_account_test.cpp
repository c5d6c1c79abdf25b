// The attack as another account: the updater runs as root in a program
// folder that anybody may write (mode 0777, no sticky bit), while a process
// of the account "nobody" plants links under every name it uses, puts files
// of its own there, and renames away and replaces whatever the updater makes,
// in a tight loop. The package job and the start of the held package run
// twenty times against a package host on 127.0.0.1: the attacker's script
// never starts and nothing outside the folder changes; with nobody
// interfering, the publisher's installer runs.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "download/package_download.h"
#include "download_test_support.h"
#include "platform/files.h"

namespace {

using namespace download_test;
namespace fs = std::filesystem;

constexpr uid_t NOBODY = 65534;
constexpr int ROUNDS = 20;

// The attacker: as nobody, until killed or its time is up.
[[noreturn]] void attack(const std::vector<std::string>& names, const std::string& evil_script,
                         const std::string& victim, std::chrono::seconds bound) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0 || ::getuid() != NOBODY) {
        ::_exit(3);
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::string script;
    {
        const std::string text = test_support::read_file(evil_script);
        script = text;
    }
    unsigned turn = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        // Passes now back to back, now a few milliseconds apart: some
        // attempts get through to the check, the move and the start, with
        // the attacker still at work.
        if (turn % 5 != 0) ::usleep(static_cast<useconds_t>((turn * 7919u) % 4000u));
        for (const std::string& name : names) {
            ++turn;
            struct stat info {};
            if (::lstat(name.c_str(), &info) != 0) {
                // Absent: a link to the attacker's script or to a file of the
                // system, or a file of the attacker's own that anybody may write.
                // A link at the package's own name only makes every attempt
                // fail (the package never replaces a link; see the placement
                // tests): there the attacker puts its own files instead.
                switch (name == names[1] ? 2 : turn % 3) {
                    case 0:
                        (void)::symlink(evil_script.c_str(), name.c_str());
                        break;
                    case 1:
                        (void)::symlink(victim.c_str(), name.c_str());
                        break;
                    default: {
                        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0777);
                        if (fd >= 0) {
                            (void)::fchmod(fd, 0777);
                            (void)!::write(fd, script.data(), script.size());
                            ::close(fd);
                        }
                    }
                }
                continue;
            }
            if (S_ISREG(info.st_mode) && info.st_uid != NOBODY) {
                // The updater's file: write into it if it lets us, then move
                // it away and put ours under its name.
                const int fd = ::open(name.c_str(), O_WRONLY | O_NOFOLLOW);
                if (fd >= 0) {
                    (void)!::write(fd, script.data(), script.size());
                    ::close(fd);
                }
                const std::string away = name + ".moved" + std::to_string(turn % 7);
                if (::rename(name.c_str(), away.c_str()) == 0) {
                    const int own = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0777);
                    if (own >= 0) {
                        (void)::fchmod(own, 0777);
                        (void)!::write(own, script.data(), script.size());
                        ::close(own);
                    }
                }
            }
        }
    }
    ::_exit(0);
}

bool wait_for(const std::string& path, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!test_support::read_file(path).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Everything beside the program but the program itself.
void clear_folder() {
    const std::string program = file_name_of(platform::executable_path());
    for (const auto& entry : fs::directory_iterator(module_dir())) {
        if (entry.path().filename() == program) continue;
        std::error_code error;
        fs::remove_all(entry.path(), error);
    }
}

TEST(hostile_account, the_attackers_bytes_never_start_and_the_publishers_do) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "runs as root only: it needs a second account (nobody) and the rights to give up to it";
    }
    // Markers and the system's file live where nobody cannot write.
    test_support::temp_dir safe;
    ASSERT_EQ(::chmod(safe.path().c_str(), 0755), 0);
    const std::string publisher_marker = safe.file("publisher_ran");
    const std::string attacker_marker = safe.file("attacker_ran");
    const std::string victim = safe.file("system_file");
    test_support::write_file(victim, "root only");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    // The attacker's script sits in a folder of its own that it may read.
    test_support::temp_dir attacker_home;
    ASSERT_EQ(::chmod(attacker_home.path().c_str(), 0755), 0);
    const std::string evil_script = attacker_home.file("evil.sh");
    test_support::write_file(evil_script, "#!/bin/sh\necho attacker > " + attacker_marker + "\n");
    ASSERT_EQ(::chmod(evil_script.c_str(), 0755), 0);

    std::string installer = "#!/bin/sh\necho publisher > " + publisher_marker + "\nexit 0\n";
    installer += "# " + std::string(200000, 'x') + "\n";  // large enough for four ranges
    package_host host(installer);

    clear_folder();
    struct stat before {};
    ASSERT_EQ(::stat(module_dir().c_str(), &before), 0);
    ASSERT_EQ(::chmod(module_dir().c_str(), 0777), 0);

    const std::string name = "setup_" + random_token() + ".sh";
    const std::string download = module_dir() + "TamsaUpdate.download_" + name;
    std::vector<std::string> names{download, module_dir() + name, module_dir() + "TamsaUpdate.packages",
                                   module_dir() + "TamsaUpdate.packages.new"};
    for (int i = 0; i < 4; ++i) names.push_back(download + "-" + std::to_string(i));

    // One package job, the publisher's marker cleared first; its log in log.
    const auto run_job = [&](task_fixture& fixture, std::string& log) {
        std::error_code error;
        fs::remove(publisher_marker, error);
        fixture.task.package_url = host.url(name);
        fixture.task.package_md5 = md5_of(installer);
        testing::internal::CaptureStderr();
        const bool ok = fixture.task.download_package();
        log = testing::internal::GetCapturedStderr();
        return ok;
    };

    const pid_t attacker = ::fork();
    ASSERT_GE(attacker, 0);
    if (attacker == 0) attack(names, evil_script, victim, std::chrono::seconds(90));

    int placed = 0;
    int started = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        task_fixture fixture;
        std::string log;
        const bool ok = run_job(fixture, log);
        if (std::getenv("TAMSA_SHOW_ROUNDS") != nullptr) std::printf("%s\n", log.c_str());
        if (!ok) continue;  // the attacker may keep the job from finishing, never make it start theirs
        ++placed;
        const std::intptr_t result = fixture.task.package_file.start("", safe.dir());
        fixture.task.package_file.release();
        if (result <= 32) continue;
        ++started;
        EXPECT_TRUE(wait_for(publisher_marker, std::chrono::seconds(10)));
        EXPECT_EQ(test_support::read_file(publisher_marker), "publisher\n");
    }
    ::kill(attacker, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(attacker, &status, 0), attacker);
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "the attacker could not become nobody";
    // A script started as root by mistake may take a moment to write.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(attacker_marker)) << "the attacker's script ran as root";
    EXPECT_EQ(test_support::read_file(victim), "root only");
    std::printf("with the attacker: %d of %d rounds placed the package, %d started it\n", placed, ROUNDS, started);

    // Nobody interferes: the publisher's installer runs.
    clear_folder();
    task_fixture fixture;
    std::string log;
    ASSERT_TRUE(run_job(fixture, log)) << log;
    EXPECT_GT(fixture.task.package_file.start("", safe.dir()), 32);
    fixture.task.package_file.release();
    EXPECT_TRUE(wait_for(publisher_marker, std::chrono::seconds(10)));
    EXPECT_EQ(test_support::read_file(publisher_marker), "publisher\n");
    EXPECT_FALSE(fs::exists(attacker_marker));

    clear_folder();
    ASSERT_EQ(::chmod(module_dir().c_str(), before.st_mode & 07777), 0);
}

}  // namespace
