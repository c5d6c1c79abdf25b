// Where layout files and images come from: the in-memory skin archive when
// one is set, else files under the resource path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skinui {

// Makes a zip archive held in memory (for example the executable's
// resource) the source of every skin file. The bytes must outlive its use.
void set_resource_zip(const std::uint8_t* data, std::size_t size);
// Makes a zip file under the resource path the source of every skin file
// (ignored while an archive is set, as above). With cached its bytes are
// read once and kept; otherwise the file is read again for every lookup.
void set_resource_zip_file(const std::wstring& name, bool cached);
// Forgets the in-memory archive (set_resource_zip ignores a second archive
// while one is set); for tests and tools that switch archives.
void clear_resource_zip();
void set_resource_path(const std::wstring& path);  // ends with a separator
std::wstring resource_path();
bool has_resource_zip();

// Reads a skin file: from the archive when one is set, else from the
// resource path plus name. On failure returns false and sets error to one of
// "File too large", "File is empty", "Error opening file", "Could not read
// file", "Error opening zip file", "Could not find ziped file", "Could not
// unzip file".
bool load_skin_file(const std::wstring& name, std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace skinui
