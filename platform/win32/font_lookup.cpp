// Font files on Windows: the system's font folder and the installed-font list
// of the registry, with the Chinese faces that stand in when the named one is
// missing, and after them any other font file of the folder. Answers for the
// system's folder are kept for the process.
#include "platform/font_lookup.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/text.h"
#include "platform/win32/font_folder.h"

namespace platform {
namespace {

inline constexpr wchar_t FONTS_KEY[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// Faces known by their usual file names, for systems whose registry does not
// list them (a bare Wine prefix) and for their Chinese names, which the
// registry never uses.
struct known_family {
    std::initializer_list<const wchar_t*> names;
    std::initializer_list<const wchar_t*> regular_files;
    std::initializer_list<const wchar_t*> bold_files;
};

const known_family KNOWN_FAMILIES[] = {
    {{L"微软雅黑", L"Microsoft YaHei", L"Microsoft YaHei UI"},
     {L"msyh.ttc", L"msyh.ttf"},
     {L"msyhbd.ttc", L"msyhbd.ttf"}},
    {{L"黑体", L"SimHei"}, {L"simhei.ttf"}, {}},
    {{L"宋体", L"SimSun", L"新宋体", L"NSimSun"}, {L"simsun.ttc"}, {}},
    {{L"文泉驿微米黑", L"WenQuanYi Micro Hei"}, {L"wqy-microhei.ttc"}, {}},
    {{L"文泉驿正黑", L"WenQuanYi Zen Hei"}, {L"wqy-zenhei.ttc"}, {}},
    {{L"Segoe UI"}, {L"segoeui.ttf"}, {L"segoeuib.ttf"}},
    {{L"Tahoma"}, {L"tahoma.ttf"}, {L"tahomabd.ttf"}},
    {{L"Arial"}, {L"arial.ttf"}, {L"arialbd.ttf"}},
};

// The product's texts are Chinese, so the stand-ins begin with the Chinese
// faces, in the order of KNOWN_FAMILIES.
// A prefix or a trimmed system may have none of them: then every other font
// file of the folder stands in, and the toolkit takes the first that has the
// character.
inline constexpr std::size_t MAX_FALLBACK_FILES = 64;

bool same_name(const std::wstring& a, const wchar_t* b) {
    return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b, -1) == CSTR_EQUAL;
}

std::wstring fonts_folder() {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_FONTS, nullptr, SHGFP_TYPE_CURRENT, path))) return path;
    const UINT length = ::GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"C:\\Windows\\Fonts";
    return std::wstring(path) + L"\\Fonts";
}

// A file name of the registry or the table as a full path; a name that is
// already a full path stays as it is.
std::wstring full_path(const std::wstring& folder, const std::wstring& file) {
    if (file.size() > 2 && (file[1] == L':' || (file[0] == L'\\' && file[1] == L'\\'))) return file;
    return folder + L"\\" + file;
}

bool file_exists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// FreeType opens files by their narrow name.
bool usable_file(const std::wstring& path, int index, font_file& out) {
    if (!file_exists(path)) return false;
    const std::string narrow = wide_to_narrow(path);
    if (narrow.empty() || narrow_to_wide(narrow) != path) return false;
    out.path = narrow;
    out.index = index;
    return true;
}

// "Microsoft YaHei & Microsoft YaHei UI (TrueType)": the names before the
// kind in parentheses, split at " & ". A name's position is its face's index
// inside a collection file.
std::vector<std::wstring> registry_names(std::wstring value_name) {
    const std::size_t kind = value_name.rfind(L" (");
    if (kind != std::wstring::npos && value_name.back() == L')') value_name.resize(kind);
    std::vector<std::wstring> names;
    std::size_t start = 0;
    while (true) {
        const std::size_t split = value_name.find(L" & ", start);
        names.push_back(value_name.substr(start, split - start));
        if (split == std::wstring::npos) break;
        start = split + 3;
    }
    return names;
}

// The registry's file for the face (its bold face when asked); false when
// the key cannot be read or no entry names it.
bool registry_file(const std::wstring& folder, const std::wstring& face, bool bold, font_file& out) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, FONTS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const std::wstring wanted = bold ? face + L" Bold" : face;
    bool found = false;
    for (DWORD i = 0; !found; ++i) {
        wchar_t name[512];
        wchar_t data[MAX_PATH];
        DWORD name_length = 512;
        DWORD data_size = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result =
            ::RegEnumValueW(key, i, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;  // too long or not a file name
        data[data_size / sizeof(wchar_t)] = L'\0';
        const std::vector<std::wstring> names = registry_names(std::wstring(name, name_length));
        for (std::size_t n = 0; n < names.size() && !found; ++n) {
            if (same_name(names[n], wanted.c_str())) {
                found = usable_file(full_path(folder, data), static_cast<int>(n), out);
            }
        }
    }
    ::RegCloseKey(key);  // result ignored: the key was only read
    return found;
}

bool family_file(const std::wstring& folder, const known_family& family, bool bold, font_file& out) {
    if (bold) {
        for (const wchar_t* file : family.bold_files) {
            if (usable_file(full_path(folder, file), 0, out)) return true;
        }
    }
    for (const wchar_t* file : family.regular_files) {
        if (usable_file(full_path(folder, file), 0, out)) return true;
    }
    return false;
}

const known_family* known_family_of(const std::wstring& face) {
    for (const known_family& family : KNOWN_FAMILIES) {
        for (const wchar_t* name : family.names) {
            if (same_name(face, name)) return &family;
        }
    }
    return nullptr;
}

struct resolution {
    bool found = false;
    font_file main;
    bool fallbacks_listed = false;
    std::vector<font_file> fallbacks;
};

using resolution_key = std::tuple<std::wstring, bool, bool>;

std::mutex& lookup_lock() {
    static std::mutex lock;
    return lock;
}

std::map<resolution_key, resolution>& resolutions() {
    static std::map<resolution_key, resolution> cache;
    return cache;
}

const std::wstring& cached_fonts_folder() {
    static const std::wstring folder = fonts_folder();
    return folder;
}

bool has_font_extension(const std::wstring& name) {
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return false;
    const std::wstring extension = name.substr(dot);
    for (const wchar_t* known : {L".ttf", L".ttc", L".otf", L".otc"}) {
        if (same_name(extension, known)) return true;
    }
    return false;
}

void list_fallbacks(const std::wstring& folder, bool bold, resolution& entry) {
    entry.fallbacks_listed = true;
    for (const known_family& family : KNOWN_FAMILIES) {
        if (entry.fallbacks.size() >= MAX_FALLBACK_FILES) break;
        font_file file;
        if (family_file(folder, family, bold, file)) entry.fallbacks.push_back(file);
    }
    for (const font_file& file : font_files_in_folder(folder)) {
        if (entry.fallbacks.size() >= MAX_FALLBACK_FILES) break;
        const bool listed = std::any_of(entry.fallbacks.begin(), entry.fallbacks.end(), [&](const font_file& f) {
            return same_name(narrow_to_wide(f.path), narrow_to_wide(file.path).c_str());
        });
        if (!listed) entry.fallbacks.push_back(file);
    }
}

// The named face from the registry or the table; else the first stand-in,
// as a font matcher offers a substitute for a face that is not installed.
void resolve_in(const std::wstring& folder, const std::wstring& face, bool bold, resolution& entry) {
    if (entry.found) return;
    if (!face.empty()) {
        entry.found =
            registry_file(folder, face, bold, entry.main) || (bold && registry_file(folder, face, false, entry.main));
        const known_family* family = known_family_of(face);
        if (!entry.found && family != nullptr) entry.found = family_file(folder, *family, bold, entry.main);
    }
    if (!entry.found) {
        if (!entry.fallbacks_listed) list_fallbacks(folder, bold, entry);
        if (!entry.fallbacks.empty()) {
            entry.main = entry.fallbacks.front();
            entry.found = true;
        }
    }
}

}  // namespace

std::vector<font_file> font_files_in_folder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && has_font_extension(found.cFileName)) {
            names.emplace_back(found.cFileName);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);  // result ignored: the listing is complete
    // A stable order, whatever order the file system lists them in.
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
    });
    std::vector<font_file> files;
    for (const std::wstring& name : names) {
        font_file file;
        if (usable_file(full_path(folder, name), 0, file)) files.push_back(file);
    }
    return files;
}

bool find_font_file_in(const std::wstring& folder, const std::wstring& face, bool bold, font_file& out) {
    resolution entry;
    resolve_in(folder, face, bold, entry);
    if (!entry.found) return false;
    out = entry.main;
    return true;
}

std::vector<font_file> fallback_font_files_in(const std::wstring& folder, bool bold) {
    resolution entry;
    list_fallbacks(folder, bold, entry);
    return entry.fallbacks;
}

bool find_font_file(const std::wstring& face, bool bold, bool italic, font_file& out) {
    std::lock_guard lock(lookup_lock());
    resolution& entry = resolutions()[{face, bold, italic}];
    resolve_in(cached_fonts_folder(), face, bold, entry);
    if (!entry.found) return false;
    out = entry.main;
    return true;
}

// Every stand-in that is installed; which of them holds the character is for
// the caller to see in the font itself.
std::vector<font_file> fallback_font_files(const std::wstring& face, bool bold, bool italic, char32_t ch) {
    (void)ch;
    std::lock_guard lock(lookup_lock());
    resolution& entry = resolutions()[{face, bold, italic}];
    if (!entry.fallbacks_listed) list_fallbacks(cached_fonts_folder(), bold, entry);
    return entry.fallbacks;
}

}  // namespace platform
