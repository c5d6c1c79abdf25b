// The download's files beside the program, which may be a folder other
// accounts can write: made exclusively and never through a link, and a kept
// file trusted again only while it is still a plain file of our own.
#pragma once

#include <cstdio>
#include <string>

// A new, empty file at path for reading and writing. Whatever is in the way
// (a file of anyone, a link) is removed first, never followed, with a line
// that names what (a "part file", "the package"); null with a line when it
// cannot be made.
std::FILE* create_download_file(const std::string& path, const char* what);
// The kept file at path when it is still a plain, single-link file of our
// own account; otherwise it is removed (never followed), a line says why,
// and null is returned.
std::FILE* reopen_download_file(const std::string& path, const char* what);
