// The package job in a program folder that other accounts can write: links
// and foreign files planted under every name the download uses, part files
// changed between attempts, too little free space, and where the package may
// and may not land.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "download/package_download.h"
#include "download/segment_plan.h"
#include "download_test_support.h"
#include "platform/files.h"

namespace {

using namespace download_test;
namespace fs = std::filesystem;

constexpr uid_t NOBODY = 65534;
constexpr std::size_t PACKAGE_SIZE = 300000;

// Every name the job uses beside the program for a package name.
std::vector<std::string> names_used_for(const std::string& name) {
    const std::string download = module_dir() + "TamsaUpdate.download_" + name;
    std::vector<std::string> names{download};
    for (int i = 0; i < 4; ++i) names.push_back(download + "-" + std::to_string(i));
    names.push_back(module_dir() + "TamsaUpdate.packages");
    return names;
}

struct stat_result {
    bool exists = false;
    struct stat info {};
};

stat_result lstat_of(const std::string& path) {
    stat_result result;
    result.exists = ::lstat(path.c_str(), &result.info) == 0;
    return result;
}

// Removes what a case left at a name: the package and whatever was planted.
struct names_guard {
    std::vector<std::string> paths;
    ~names_guard() {
        for (const std::string& path : paths) {
            std::error_code error;
            if (fs::is_symlink(fs::symlink_status(path, error)) || fs::is_regular_file(fs::symlink_status(path, error)))
                fs::remove(path, error);
        }
    }
};

std::string run_job(update_task& task, bool& ok) {
    testing::internal::CaptureStderr();
    ok = task.download_package();
    return testing::internal::GetCapturedStderr();
}

// What a hostile account leaves under one of the names before the job runs.
struct planted_case {
    const char* what;
    bool needs_root;
    std::function<void(const std::string& path, const std::string& victim)> plant;
};

const planted_case PLANTED[] = {
    {"a link to a file only the system may write", false,
     [](const std::string& path, const std::string& victim) { fs::create_symlink(victim, path); }},
    {"a file of another account that anybody may write", true,
     [](const std::string& path, const std::string&) {
         test_support::write_file(path, "theirs");
         ASSERT_EQ(::chown(path.c_str(), NOBODY, NOBODY), 0);
         ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
     }},
};

// Under each name in turn: the job still delivers the verified package, as a
// file of our own that nobody else may write; nothing a link names changes;
// and nothing planted is used.
TEST(hostile_folder, planted_names_are_never_followed_nor_reused) {
    const std::string body = package_bytes(PACKAGE_SIZE);
    package_host host(body);
    temp_dir outside;
    const std::string victim = outside.file("system_file");
    for (const planted_case& c : PLANTED) {
        if (c.needs_root && ::geteuid() != 0) {
            std::printf("skipped \"%s\": needs root to make a file of another account\n", c.what);
            continue;
        }
        const std::string probe_name = unique_package_name("planted");
        const std::size_t count = names_used_for(probe_name).size();
        for (std::size_t which = 0; which < count; ++which) {
            const std::string name = unique_package_name("planted");
            const std::string planted_at = names_used_for(name)[which];
            SCOPED_TRACE(std::string(c.what) + " at " + planted_at);
            test_support::write_file(victim, "root only");
            names_guard guard{names_used_for(name)};
            guard.paths.push_back(module_dir() + name);
            c.plant(planted_at, victim);

            task_fixture fixture;
            fixture.task.package_url = host.url(name);
            fixture.task.package_md5 = md5_of(body);
            bool ok = false;
            const std::string log = run_job(fixture.task, ok);
            EXPECT_TRUE(ok) << log;
            EXPECT_EQ(test_support::read_file(victim), "root only") << log;
            EXPECT_TRUE(test_support::read_file(module_dir() + name) == body);
            const stat_result package = lstat_of(module_dir() + name);
            ASSERT_TRUE(package.exists);
            EXPECT_TRUE(S_ISREG(package.info.st_mode));
            EXPECT_EQ(package.info.st_uid, ::geteuid());
            EXPECT_EQ(package.info.st_nlink, 1u);
            EXPECT_EQ(package.info.st_mode & 022, 0u) << "nobody else may write the package";
            // The list is ours again, whatever was planted at its name.
            const stat_result list = lstat_of(module_dir() + "TamsaUpdate.packages");
            ASSERT_TRUE(list.exists);
            EXPECT_TRUE(S_ISREG(list.info.st_mode));
            EXPECT_EQ(list.info.st_uid, ::geteuid());
            EXPECT_TRUE(leftover_parts(name).empty());
            fixture.task.package_file.release();
        }
    }
}

// A part file kept for the next attempt that is no longer a plain file of
// our own by then is never trusted: it goes, and its segment comes again
// from its first byte.
TEST(hostile_folder, a_kept_part_that_is_not_ours_is_fetched_anew) {
    struct kept_case {
        const char* what;
        bool needs_root;
        std::function<void(const std::string& part, const std::string& victim)> change;
    };
    const kept_case cases[] = {
        {"given to another account", true,
         [](const std::string& part, const std::string&) { ASSERT_EQ(::chown(part.c_str(), NOBODY, NOBODY), 0); }},
        {"a second link to it", false,
         [](const std::string& part, const std::string& victim) {
             fs::remove(victim);
             fs::create_hard_link(part, victim);
         }},
        {"swapped for a link", false,
         [](const std::string& part, const std::string& victim) {
             fs::remove(part);
             fs::create_symlink(victim, part);
         }},
    };
    constexpr int BROKEN = 1;
    const auto plan = plan_segments(PACKAGE_SIZE, 4);
    temp_dir outside;
    const std::string victim = outside.file("system_file");
    for (const kept_case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needs_root && ::geteuid() != 0) continue;
        const std::string body = package_bytes(PACKAGE_SIZE, 3);
        package_host host(body, host_fault::drop_connection, plan[BROKEN].first);
        host.set_validators({"\"kept\"", ""});
        const std::string name = unique_package_name("kept");
        names_guard guard{names_used_for(name)};
        guard.paths.push_back(module_dir() + name);
        task_fixture fixture;
        fixture.task.package_url = host.url(name);
        fixture.task.package_md5 = md5_of(body);
        bool ok = true;
        std::string log = run_job(fixture.task, ok);
        ASSERT_FALSE(ok) << log;
        const std::string part = names_used_for(name)[1 + 2];  // a segment the first attempt completed
        ASSERT_TRUE(fs::exists(part)) << log;
        test_support::write_file(victim, "root only");
        c.change(part, victim);
        const std::string victim_before = test_support::read_file(victim);
        host.set_fault(host_fault::none);
        (void)host.take_requests();

        log = run_job(fixture.task, ok);
        EXPECT_TRUE(ok) << log;
        EXPECT_NE(log.find("is not kept"), std::string::npos) << log;
        EXPECT_EQ(test_support::read_file(victim), victim_before);
        EXPECT_TRUE(test_support::read_file(module_dir() + name) == body);
        // Segment 2 asked for from its first byte, without a validator.
        bool whole_segment = false;
        for (const host_request& request : host.take_requests()) {
            if (request.range == "bytes=" + std::to_string(plan[2].first) + "-" + std::to_string(plan[2].last)) {
                whole_segment = request.if_range.empty();
            }
        }
        EXPECT_TRUE(whole_segment) << log;
        fixture.task.package_file.release();
    }
}

// The part files and the joined copy each take the package's size: with less
// free space than that the attempt fails before the first byte of the package.
TEST(hostile_folder, too_little_free_space_fails_before_the_first_byte) {
    const std::string body = package_bytes(PACKAGE_SIZE);
    package_host host(body);
    struct space_case {
        const char* what;
        std::uint64_t free;
        bool ready;
    };
    const space_case cases[] = {
        {"one byte short", 2 * PACKAGE_SIZE - 1, false},
        {"nothing free", 0, false},
        {"just enough", 2 * PACKAGE_SIZE, true},
    };
    for (const space_case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = unique_package_name("space");
        names_guard guard{{module_dir() + name}};
        task_fixture fixture;
        fixture.task.package_url = host.url(name);
        fixture.task.package_md5 = md5_of(body);
        platform::override_free_space(c.free);
        bool ok = false;
        const std::string log = run_job(fixture.task, ok);
        platform::override_free_space(std::nullopt);
        EXPECT_EQ(ok, c.ready) << log;
        const std::vector<host_request> requests = host.take_requests();
        if (c.ready) {
            EXPECT_EQ(requests.size(), 5u);
        } else {
            EXPECT_NE(log.find("not enough free space for the package: " + std::to_string(2 * PACKAGE_SIZE) +
                               " bytes needed"),
                      std::string::npos)
                << log;
            EXPECT_EQ(requests.size(), 1u) << "only the size probe";
            EXPECT_FALSE(fs::exists(module_dir() + name));
        }
        EXPECT_TRUE(leftover_parts(name).empty());
        fixture.task.package_file.release();
    }
}

// Where the package may land: over a regular file of its name, never over the
// updater's own files, the product's program, a link or a folder; a name of
// the updater's own is refused before anything is fetched.
TEST(hostile_folder, the_package_lands_only_where_it_may) {
    const std::string body = package_bytes(PACKAGE_SIZE);
    package_host host(body);
    temp_dir outside;
    const std::string victim = outside.file("system_file");
    const std::string program = file_name_of(platform::executable_path());
    enum class before { nothing, regular, foreign, empty, listed, link, folder };
    struct place_case {
        const char* what;
        std::string name;  // empty: a fresh name
        before existing;
        bool ready;
        bool fetched;
    };
    const place_case cases[] = {
        {"update.ini", "UPDATE.ini", before::nothing, false, false},
        {"the updater itself", program, before::nothing, false, false},
        {"the product's program", "product.bin", before::nothing, false, false},
        {"a TamsaUpdate name", "TamsaUpdate.packages", before::nothing, false, false},
        {"a TamsaUpdate name in other case", "tamsaupdate.LOG", before::nothing, false, false},
        {"a link", "", before::link, false, true},
        {"a folder", "", before::folder, false, true},
        {"a regular file of ours not on the list", "", before::regular, true, true},
        {"a file of another account", "", before::foreign, true, true},
        {"an empty file", "", before::empty, true, true},
        {"a listed package", "", before::listed, true, true},
    };
    for (const place_case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.existing == before::foreign && ::geteuid() != 0) continue;
        const std::string name = c.name.empty() ? unique_package_name("place") : c.name;
        const std::string path = module_dir() + name;
        const bool own_name = !c.name.empty();
        names_guard guard;
        if (!own_name) guard.paths.push_back(path);
        test_support::write_file(victim, "root only");
        const std::string list_before = test_support::read_file(module_dir() + "TamsaUpdate.packages");
        const bool existed_before = fs::exists(fs::symlink_status(path));
        switch (c.existing) {
            case before::nothing:
                break;
            case before::regular:
                test_support::write_file(path, "older package");
                break;
            case before::foreign:
                test_support::write_file(path, "older package");
                ASSERT_EQ(::chown(path.c_str(), NOBODY, NOBODY), 0);
                break;
            case before::empty:
                test_support::write_file(path, "");
                break;
            case before::listed: {
                task_fixture earlier;
                earlier.task.package_url = host.url(name);
                bool placed = false;
                (void)run_job(earlier.task, placed);
                ASSERT_TRUE(placed);
                earlier.task.package_file.release();
                test_support::write_file(path, "older package");
                break;
            }
            case before::link:
                fs::create_symlink(victim, path);
                break;
            case before::folder:
                fs::create_directory(path);
                break;
        }
        (void)host.take_requests();
        task_fixture fixture;
        fixture.task.package_url = host.url(name);
        fixture.task.package_md5 = md5_of(body);
        fixture.task.exe_name = "product.bin";
        bool ok = false;
        const std::string log = run_job(fixture.task, ok);
        EXPECT_EQ(ok, c.ready) << log;
        EXPECT_EQ(fixture.task.package_file.valid(), c.ready);
        EXPECT_EQ(host.take_requests().empty(), !c.fetched) << log;
        EXPECT_EQ(test_support::read_file(victim), "root only");
        if (c.ready) {
            EXPECT_TRUE(test_support::read_file(path) == body);
            EXPECT_EQ(lstat_of(path).info.st_uid, ::geteuid());
        } else if (c.existing == before::link) {
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path)));
        } else if (c.existing == before::folder) {
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(path)));
            fs::remove(path);
        } else {
            EXPECT_EQ(fs::exists(fs::symlink_status(path)), existed_before) << "nothing is put at " << path;
            EXPECT_EQ(test_support::read_file(module_dir() + "TamsaUpdate.packages"), list_before);
        }
        if (!c.ready) {
            const bool told = log.find("the package is not put there") != std::string::npos ||
                              log.find("package file name refused") != std::string::npos;
            EXPECT_TRUE(told) << log;
        }
        EXPECT_TRUE(leftover_parts(name).empty()) << log;
        fixture.task.package_file.release();
    }
}

}  // namespace
