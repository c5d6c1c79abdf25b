// Conversions between wide text, UTF-8 and GBK (code page 936) on Linux.
#include "platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

bool is_scalar_value(char32_t c) {
    return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF);
}

void append_utf8(std::string& out, char32_t c) {
    if (!is_scalar_value(c)) c = REPLACEMENT;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::wstring_view up_to_zero(std::wstring_view text) {
    return text.substr(0, text.find(L'\0'));
}
std::string_view up_to_zero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The length of the sequence a lead byte starts and the range its second byte
// must fall in (the narrower ranges exclude overlong forms, surrogates and
// values above U+10FFFF). Length 0 marks a byte that can't start a sequence.
struct lead_info {
    int length;
    unsigned char second_low;
    unsigned char second_high;
};

lead_info classify_lead(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Decodes one character at pos and advances pos. An ill-formed sequence
// yields one U+FFFD for its longest valid prefix (at least one byte).
char32_t decode_one(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) return lead;
    const lead_info info = classify_lead(lead);
    if (info.length == 0) return REPLACEMENT;
    char32_t value = lead & (0xFF >> (info.length + 1));
    for (int i = 1; i < info.length; ++i) {
        if (pos >= text.size()) return REPLACEMENT;
        const auto b = static_cast<unsigned char>(text[pos]);
        const unsigned char low = i == 1 ? info.second_low : 0x80;
        const unsigned char high = i == 1 ? info.second_high : 0xBF;
        if (b < low || b > high) return REPLACEMENT;
        value = (value << 6) | (b & 0x3F);
        ++pos;
    }
    return value;
}

// One iconv conversion descriptor per thread and direction, opened on first
// use; iconv descriptors must not be shared between threads.
class iconv_holder {
public:
    iconv_holder(const char* to, const char* to_fallback, const char* from, const char* from_fallback) {
        cd_ = iconv_open(to, from);
        if (cd_ == invalid()) cd_ = iconv_open(to_fallback, from_fallback);
    }
    ~iconv_holder() {
        if (cd_ != invalid()) iconv_close(cd_);  // result ignored: nothing to do on failure
    }
    iconv_holder(const iconv_holder&) = delete;
    iconv_holder& operator=(const iconv_holder&) = delete;

    iconv_t get() const { return cd_; }
    bool ok() const { return cd_ != invalid(); }
    void reset() const {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state; cannot fail here
    }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
    iconv_t cd_;
};

const iconv_holder& to_gbk() {
    thread_local const iconv_holder holder("CP936", "GBK", "WCHAR_T", "WCHAR_T");
    return holder;
}

const iconv_holder& from_gbk() {
    thread_local const iconv_holder holder("WCHAR_T", "WCHAR_T", "CP936", "GBK");
    return holder;
}

// Runs iconv over the whole input. A character that can't be converted is
// skipped (skip_units input units) and `substitute` is written in its place.
// False on any other failure.
bool run_iconv(const iconv_holder& cd, const char* in, std::size_t in_size, std::size_t skip_units,
               std::string_view substitute, std::string& out) {
    cd.reset();
    char* src = const_cast<char*>(in);
    std::size_t src_left = in_size;
    char buffer[1024];
    while (src_left > 0) {
        char* dst = buffer;
        std::size_t dst_left = sizeof buffer;
        const std::size_t rc = iconv(cd.get(), &src, &src_left, &dst, &dst_left);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (errno != EILSEQ && errno != EINVAL) return false;
        // EILSEQ: an unconvertible or invalid unit; EINVAL: an incomplete
        // sequence at the end of the input.
        out.append(substitute);
        const std::size_t skip = std::min(skip_units, src_left);
        src += skip;
        src_left -= skip;
    }
    return true;
}

}  // namespace

std::string wide_to_utf8(std::wstring_view text) {
    text = up_to_zero(text);
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (wchar_t c : text) append_utf8(out, static_cast<char32_t>(c));
    return out;
}

std::wstring utf8_to_wide(std::string_view text) {
    text = up_to_zero(text);
    std::wstring out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto b = static_cast<unsigned char>(text[pos]);
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++pos;
        } else {
            out.push_back(static_cast<wchar_t>(decode_one(text, pos)));
        }
    }
    return out;
}

std::string wide_to_narrow(std::wstring_view text) {
    return wide_to_utf8(text);
}
std::wstring narrow_to_wide(std::string_view text) {
    return utf8_to_wide(text);
}

std::string wide_to_gbk(std::wstring_view text) {
    text = up_to_zero(text);
    std::string out;
    if (text.empty()) return out;
    // Characters outside the plane-and-surrogate-free range can't reach iconv
    // as valid input; they become '?' like any other unmappable character.
    std::wstring clean(text);
    for (wchar_t& c : clean) {
        if (!is_scalar_value(static_cast<char32_t>(c))) c = L'?';
    }
    const iconv_holder& cd = to_gbk();
    if (!cd.ok()) return {};
    if (!run_iconv(cd, reinterpret_cast<const char*>(clean.data()), clean.size() * sizeof(wchar_t), sizeof(wchar_t),
                   "?", out)) {
        return {};
    }
    return out;
}

std::wstring gbk_to_wide(std::string_view text) {
    text = up_to_zero(text);
    if (text.empty()) return {};
    const iconv_holder& cd = from_gbk();
    if (!cd.ok()) return {};
    const wchar_t replacement = static_cast<wchar_t>(REPLACEMENT);
    std::string bytes;
    if (!run_iconv(cd, text.data(), text.size(), 1,
                   std::string_view(reinterpret_cast<const char*>(&replacement), sizeof replacement), bytes)) {
        return {};
    }
    std::wstring out(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(wchar_t));
    return out;
}

}  // namespace platform
