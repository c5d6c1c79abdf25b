// Symbolic links for tests of code that must never follow one. On Windows
// these are the system's links. Wine makes none (its CreateSymbolicLinkW
// reports success and does nothing) but shows a link of the host as a
// reparse point, as Windows shows its own; there the host's ln makes it.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#endif

namespace test_links {

// False under Wine (8.0), which follows a link in every way of deleting it,
// DeleteFile and FILE_FLAG_OPEN_REPARSE_POINT alike: there a test can hold
// only that what a link names survives, and must not offer it a file link.
inline bool links_deleted_as_links() {
#ifdef _WIN32
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
#else
    return true;
#endif
}

// Makes link a symbolic link to target (a folder when directory); false when
// this system cannot.
inline bool make_symlink(const std::string& target, const std::string& link, bool directory) {
#ifndef _WIN32
    std::error_code error;
    if (directory) {
        std::filesystem::create_directory_symlink(target, link, error);
    } else {
        std::filesystem::create_symlink(target, link, error);
    }
    return !error;
#else
    const std::wstring wide_target = std::filesystem::path(target).wstring();
    const std::wstring wide_link = std::filesystem::path(link).wstring();
    const DWORD flags = (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2 /* allow unprivileged create */;
    const auto exists = [&] { return ::GetFileAttributesW(wide_link.c_str()) != INVALID_FILE_ATTRIBUTES; };
    if (::CreateSymbolicLinkW(wide_link.c_str(), wide_target.c_str(), flags) != 0 && exists()) {
        return true;
    }
    // Wine's own export, absent on Windows: the host's name of a path.
    using unix_name_fn = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<unix_name_fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) {
        return false;
    }
    const auto host_path = [&](const std::wstring& path) {
        char* name = unix_name(path.c_str());
        std::string text = name != nullptr ? name : "";
        if (name != nullptr) ::HeapFree(::GetProcessHeap(), 0, name);
        return text;
    };
    const std::string host_target = host_path(wide_target);
    const std::string host_link = host_path(wide_link);
    if (host_target.empty() || host_link.empty()) {
        return false;
    }
    std::wstring command = L"Z:\\bin\\ln -s \"" + std::filesystem::path(host_target).wstring() + L"\" \"" +
                           std::filesystem::path(host_link).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) ==
        0) {
        return false;
    }
    // Wine's handle of a host program can be signalled before it has run,
    // so the link itself is waited for.
    (void)::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int i = 0; i < 200 && !exists(); ++i) {
        ::Sleep(25);
    }
    return exists();
#endif
}

}  // namespace test_links
