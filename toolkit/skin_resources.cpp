// The process-wide source of skin files: the in-memory archive or the
// resource path, with the size limits and error texts of the layout reader.
#include "toolkit/skin_resources.h"

#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "toolkit/zip_archive.h"

namespace skinui {

namespace {

const std::size_t MAX_SKIN_FILE = 0x400000;  // 4 MiB

struct resource_state {
    std::wstring path;
    std::span<const std::uint8_t> zip_bytes;
    zip_archive zip;
    bool zip_set = false;
    bool zip_tried = false;  // the directory is read on first use only
    std::wstring zip_file;   // a zip file under the path, when that is the archive
    bool zip_file_cached = false;
    std::vector<std::uint8_t> zip_file_bytes;
};

resource_state& state() {
    static resource_state s;
    return s;
}

bool fail(std::string& error, const char* text) {
    error = text;
    return false;
}

bool load_from_disk(const std::wstring& name, std::vector<std::uint8_t>& bytes, std::string& error);

// Reads the zip file into memory unless its cached bytes are still there.
void refresh_zip_file(resource_state& s) {
    if (s.zip_file.empty() || (s.zip_file_cached && s.zip_tried)) return;
    std::string ignored;
    std::vector<std::uint8_t> bytes;
    // An unreadable file leaves no archive: every lookup then fails as
    // "Error opening zip file".
    if (!load_from_disk(s.zip_file, bytes, ignored)) bytes.clear();
    s.zip = zip_archive{};
    s.zip_file_bytes = std::move(bytes);
    s.zip_bytes = s.zip_file_bytes;
    s.zip_tried = false;
}

bool load_from_zip(const std::wstring& name, std::vector<std::uint8_t>& bytes, std::string& error) {
    resource_state& s = state();
    refresh_zip_file(s);
    if (!s.zip_tried) {
        s.zip_tried = true;
        s.zip.open(s.zip_bytes);
    }
    if (!s.zip.is_open()) return fail(error, "Error opening zip file");
    std::string stored = zip_lookup_name(name);
    int index = stored.empty() ? -1 : s.zip.find(stored);
    if (index < 0) return fail(error, "Could not find ziped file");
    if (s.zip.members()[static_cast<std::size_t>(index)].size == 0) return fail(error, "File is empty");
    switch (s.zip.extract(index, bytes, MAX_SKIN_FILE)) {
        case zip_extract_result::ok:
            return true;
        case zip_extract_result::too_large:
            return fail(error, "File too large");
        case zip_extract_result::failed:
            break;
    }
    return fail(error, "Could not unzip file");
}

bool load_from_disk(const std::wstring& name, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::string path = platform::wide_to_narrow(state().path + name);
    // A directory opens on some systems but is no file to read.
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) return fail(error, "Error opening file");
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open()) return fail(error, "Error opening file");
    std::streamoff length = file.tellg();
    if (length < 0) return fail(error, "Could not read file");
    if (static_cast<std::uint64_t>(length) > MAX_SKIN_FILE) return fail(error, "File too large");
    if (length == 0) return fail(error, "File is empty");
    bytes.resize(static_cast<std::size_t>(length));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), length)) {
        bytes.clear();
        return fail(error, "Could not read file");
    }
    return true;
}

}  // namespace

void set_resource_zip(const std::uint8_t* data, std::size_t size) {
    resource_state& s = state();
    if (s.zip_set || data == nullptr) return;  // the first archive stays in use
    s.zip_bytes = {data, size};
    s.zip_set = true;
    s.zip_tried = false;
}

void set_resource_zip_file(const std::wstring& name, bool cached) {
    resource_state& s = state();
    if (s.zip_set || name.empty()) return;
    s.zip_file = name;
    s.zip_file_cached = cached;
    s.zip_set = true;
    s.zip_tried = false;
}

void clear_resource_zip() {
    resource_state& s = state();
    s.zip_file.clear();
    s.zip_file_bytes.clear();
    s.zip_bytes = {};
    s.zip = zip_archive{};
    s.zip_set = false;
    s.zip_tried = false;
}

void set_resource_path(const std::wstring& path) {
    std::wstring& p = state().path;
    p = path;
    if (!p.empty() && p.back() != L'/' && p.back() != L'\\') p += L'/';
}

std::wstring resource_path() {
    return state().path;
}

bool has_resource_zip() {
    return state().zip_set;
}

bool load_skin_file(const std::wstring& name, std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    error.clear();
    if (has_resource_zip()) return load_from_zip(name, bytes, error);
    return load_from_disk(name, bytes, error);
}

}  // namespace skinui
