// Font files through fontconfig: the match for a face name, and the files
// that can stand in for characters it lacks. Answers are kept for the process.
#include "platform/font_lookup.h"

#include <fontconfig/fontconfig.h>

#include <map>
#include <mutex>
#include <tuple>

#include "platform/text.h"

namespace platform {
namespace {

// The product's texts are Chinese: faces that cover zh-cn win among the
// stand-ins fontconfig offers for a face name that is not installed.
inline constexpr char PREFERRED_LANGUAGE[] = "zh-cn";
inline constexpr std::size_t MAX_FALLBACK_FILES = 32;

struct listed_file {
    font_file file;
    const FcCharSet* charset = nullptr;  // owned by the resolution cache
};

struct resolution {
    bool found = false;
    font_file main;
    bool fallbacks_listed = false;
    std::vector<listed_file> fallbacks;  // in fontconfig's order of preference
};

using resolution_key = std::tuple<std::wstring, bool, bool>;

// fontconfig is called under one lock.
std::mutex& fontconfig_lock() {
    static std::mutex lock;
    return lock;
}

std::map<resolution_key, resolution>& resolutions() {
    static std::map<resolution_key, resolution> cache;
    return cache;
}

FcPattern* make_pattern(const std::wstring& face, bool bold, bool italic) {
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return nullptr;
    std::string family = face.empty() ? std::string("sans-serif") : wide_to_utf8(face);
    // Failures of the adds leave a looser pattern, which still matches.
    (void)FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    (void)FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    (void)FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    (void)FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(PREFERRED_LANGUAGE));
    (void)FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (!FcConfigSubstitute(nullptr, pattern, FcMatchPattern)) {
        FcPatternDestroy(pattern);
        return nullptr;
    }
    FcDefaultSubstitute(pattern);
    return pattern;
}

bool file_of(FcPattern* match, font_file& out, const FcCharSet** charset_out) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) != FcResultMatch || path == nullptr) return false;
    out.path = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &out.index) != FcResultMatch) out.index = 0;
    FcCharSet* charset = nullptr;
    if (charset_out != nullptr && FcPatternGetCharSet(match, FC_CHARSET, 0, &charset) == FcResultMatch &&
        charset != nullptr) {
        *charset_out = FcCharSetCopy(charset);
    }
    return true;
}

bool fontconfig_ready() {
    static const bool ready = FcInit() == FcTrue;
    return ready;
}

resolution& resolve_locked(const std::wstring& face, bool bold, bool italic) {
    resolution& entry = resolutions()[{face, bold, italic}];
    if (entry.found || !fontconfig_ready()) return entry;
    FcPattern* pattern = make_pattern(face, bold, italic);
    if (pattern == nullptr) return entry;
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        entry.found = file_of(match, entry.main, nullptr);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return entry;
}

void list_fallbacks_locked(const std::wstring& face, bool bold, bool italic, resolution& entry) {
    entry.fallbacks_listed = true;
    if (!fontconfig_ready()) return;
    FcPattern* pattern = make_pattern(face, bold, italic);
    if (pattern == nullptr) return;
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
    FcPatternDestroy(pattern);
    if (set == nullptr) return;
    for (int i = 0; i < set->nfont && entry.fallbacks.size() < MAX_FALLBACK_FILES; ++i) {
        listed_file listed;
        if (file_of(set->fonts[i], listed.file, &listed.charset)) entry.fallbacks.push_back(std::move(listed));
    }
    FcFontSetDestroy(set);
}

}  // namespace

bool find_font_file(const std::wstring& face, bool bold, bool italic, font_file& out) {
    std::lock_guard lock(fontconfig_lock());
    const resolution& entry = resolve_locked(face, bold, italic);
    if (!entry.found) return false;
    out = entry.main;
    return true;
}

std::vector<font_file> fallback_font_files(const std::wstring& face, bool bold, bool italic, char32_t ch) {
    std::lock_guard lock(fontconfig_lock());
    resolution& entry = resolutions()[{face, bold, italic}];
    if (!entry.fallbacks_listed) list_fallbacks_locked(face, bold, italic, entry);
    std::vector<font_file> files;
    for (const listed_file& listed : entry.fallbacks) {
        if (listed.charset != nullptr && FcCharSetHasChar(listed.charset, ch)) files.push_back(listed.file);
    }
    return files;
}

}  // namespace platform

// fontconfig loses a few bytes while it parses its configuration files
// (inside FcInit, unreachable from any handle we hold). Leak checking in
// sanitizer builds is told so here, where fontconfig is brought in; other
// builds never call this hook.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
