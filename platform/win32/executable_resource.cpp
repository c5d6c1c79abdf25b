// Executable resources on Windows: FindResourceW, LoadResource, LockResource.
#include "platform/executable_resource.h"

#include <windows.h>

#include <string>

#include "platform/text.h"

namespace platform {

// A loaded resource stays mapped with the module, so the span stays valid.
std::span<const std::uint8_t> executable_resource(std::string_view type, int id) {
    if (type.empty() || id <= 0 || id > 0xFFFF) return {};
    HMODULE module = ::GetModuleHandleW(nullptr);
    const std::wstring type_name = utf8_to_wide(type);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type_name.c_str());
    if (found == nullptr) return {};
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) return {};
    return {static_cast<const std::uint8_t*>(bytes), size};
}

}  // namespace platform
