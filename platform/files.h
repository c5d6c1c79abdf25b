// Files and directories.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct directory_entry {
    std::string name;
    bool is_directory = false;
};

// The entries of one directory in the file system's order, without "." and
// "..". An empty list when the directory cannot be read.
std::vector<directory_entry> list_directory(const std::string& directory);
// Deletes one file (not a directory); true on success.
bool delete_file(const std::string& path);
// Moves source over target in one step (target replaced when it exists;
// a link at target is replaced itself, never what it names); true on success.
bool replace_file(const std::string& source, const std::string& target);
// What a path names, without following a link at its end.
enum class path_kind { none, file, directory, other };
path_kind kind_of_path(const std::string& path);
// Deletes a file or a whole directory tree for good; true on success.
bool delete_tree(const std::string& path);
// Full path of the running executable; empty when it cannot be read.
std::string executable_path();
void sleep_ms(unsigned milliseconds);
// Appends the whole content of source (from its first byte) to the end of
// target, both open stdio streams, copying inside the kernel where it can;
// memory use does not grow with the size. The bytes appended, -1 on error.
std::int64_t append_file(std::FILE* target, std::FILE* source);

// ---- files the updater creates beside itself ----
//
// The program may run with administrator rights in a folder that other
// accounts can write. Its own files there are created exclusively, never
// through a link, readable and writable by this account only, and trusted
// again later only when they are still plain files of this account.

// Creates path as a new, empty file open for reading and writing. Fails when
// anything (a file of anyone, a link, a folder) has that name; error tells
// why in a few words.
std::FILE* create_new_file(const std::string& path, std::string* error = nullptr);
// create_new_file after removing what is in the way: a name taken by a file
// or a link is removed itself (never what a link names) and the file made
// anew, a few times at most. A folder in the way is never removed.
std::FILE* create_fresh_file(const std::string& path, std::string* error = nullptr);
// Opens an existing file for reading and writing only when it is a plain,
// single-link regular file owned by this account, reached without following
// a link; null otherwise, with error telling why.
std::FILE* open_own_file(const std::string& path, std::string* error = nullptr);
// Cuts an open stream's file to zero bytes and puts its position at the start.
bool truncate_file(std::FILE* file);
// A second stream that reads the same file as an open stream from its own
// position, without going through the file's name; null when it cannot.
std::FILE* reopen_for_reading(std::FILE* file);
// The bytes this account may still write in the file system of directory;
// nothing when it cannot be told.
std::optional<std::uint64_t> free_space(const std::string& directory);
// A fixed figure instead of the file system's for free_space (tests of a
// full disk); nothing restores the real one.
void override_free_space(std::optional<std::uint64_t> bytes);

// A finished file that the program holds from its check until it has been
// started: nobody else can write, replace or rename it meanwhile (Windows:
// a handle without write or delete sharing; Linux: the file is this
// account's alone and is started through the held descriptor, whatever its
// name comes to name). Closes itself.
class held_file {
public:
    held_file();
    ~held_file();
    held_file(held_file&& other) noexcept;
    held_file& operator=(held_file&& other) noexcept;
    held_file(const held_file&) = delete;
    held_file& operator=(const held_file&) = delete;

    // Takes over file, a stream of a file this program created at path and
    // wrote (made by create_new_file); the stream is closed either way.
    // False (and nothing held) when the file is no longer a plain,
    // single-link file of this account at that path.
    bool hold(std::FILE* file, const std::string& path);
    bool valid() const;
    // Where the held file is now.
    const std::string& path() const { return path_; }
    // A path that reads exactly the held file, whatever its name names.
    std::string read_path() const;
    // Moves the held file to target in one step; a file at target is
    // replaced (a link there is replaced itself). The hold stays. False when
    // the move fails or what lands at target is not the held file.
    bool place_at(const std::string& target);
    // Starts the held file as shell_open does, while it is still held. A
    // file that is no longer a plain, single-link file of this account is
    // not started.
    std::intptr_t start(const std::string& parameters, const std::string& working_dir);
    // Lets go of the file.
    void release();

private:
    struct state;
    std::unique_ptr<state> state_;
    std::string path_;
};

}  // namespace platform
