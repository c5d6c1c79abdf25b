// Executable names compared ignoring case on Linux, for every letter as
// lstrcmpiW does: the "C" locale folds ASCII only, so a UTF-8 locale is used
// when the system has one.
#include <locale>
#include <stdexcept>

#include "platform/process.h"

namespace platform {
namespace {

const std::ctype<wchar_t>& case_folding() {
    static const std::locale folding_locale = [] {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    return std::use_facet<std::ctype<wchar_t>>(folding_locale);
}

}  // namespace

bool same_process_name(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    const std::ctype<wchar_t>& folding = case_folding();
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folding.tolower(a[i]) != folding.tolower(b[i])) return false;
    }
    return true;
}

}  // namespace platform
