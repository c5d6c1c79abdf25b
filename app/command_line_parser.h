// The switch tokenizer of the launch command line (-key=value, /key:value).
#pragma once

#include <map>
#include <string>

class command_line_parser {
public:
    // Clears the values and scans text; the result is always false.
    bool parse(const std::wstring& text);
    // The value of key (folded like the stored keys), empty when absent.
    std::wstring get(const std::wstring& key) const;

    std::wstring text;
    std::map<std::wstring, std::wstring> values;

private:
    void store(const std::wstring& key, const std::wstring& value);
};
