// How the lines of a Windows profile (INI) file read, for the tool's settings
// file and the library's port map alike. Everything works on the file's
// bytes, whatever their encoding: section and key names compare without
// regard to ASCII case, values are handed on as they stand in the file.
//
// - Lines end with "\n" or "\r\n"; a UTF-8 byte order mark before the first
//   line is skipped.
// - A line whose first non-blank character is '[' and which holds a ']' is a
//   section header; the name lies between '[' and the last ']'.
// - A line starting with ';' or '#' is a comment. Any other line with a '='
//   is a key: the name before the first '=', the value after it.
// - Names and values lose their surrounding blanks; a value then loses one
//   pair of enclosing quotes ("..." or '...'). Nothing else is special: a ';'
//   after a value is part of the value.
// - A key counts only in the first section of its name, and there only its
//   first line.
// - A number is decimal with an optional sign ("9600", "+2", "-1"), or
//   hexadecimal after "0x"/"0X" ("0x2580", up to 32 bits, so 0xFFFFFFFF is
//   -1). Anything else ("$2580", "-0x2580", "0x", "fast", an empty value) is
//   no number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace comm::ini {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

inline bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// One line of a file: its text [begin, textEnd) and its line break
// [textEnd, end), empty on a last line without one.
struct LineSpan {
    size_t begin = 0;
    size_t textEnd = 0;
    size_t end = 0;
};

inline std::vector<LineSpan> splitLines(std::string_view data) {
    std::vector<LineSpan> lines;
    size_t at = 0;
    while (at < data.size()) {
        const size_t nl = data.find('\n', at);
        LineSpan line;
        line.begin = at;
        if (nl == std::string_view::npos) {
            line.textEnd = line.end = data.size();
        } else {
            line.end = nl + 1;
            line.textEnd = nl > at && data[nl - 1] == '\r' ? nl - 1 : nl;
        }
        lines.push_back(line);
        at = line.end;
    }
    return lines;
}

// The text of a line, without the byte order mark on the first.
inline std::string_view lineText(std::string_view data, const LineSpan& line) {
    std::string_view text = data.substr(line.begin, line.textEnd - line.begin);
    if (line.begin == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return text;
}

enum class LineKind { Other, Section, Key };

struct Line {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value; // keys only
};

inline Line parseLine(std::string_view text) {
    Line line;
    text = trim(text);
    if (text.empty() || text.front() == ';' || text.front() == '#') {
        return line;
    }
    if (text.front() == '[') {
        const size_t close = text.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = trim(text.substr(1, close - 1));
        }
        return line;
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        return line;
    }
    line.kind = LineKind::Key;
    line.name = trim(text.substr(0, eq));
    std::string_view value = trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    line.value = value;
    return line;
}

// Where a section lies: its header line and the first line after it (the
// next header or the end), as indices into the lines; nothing when missing.
struct SectionSpan {
    size_t header = 0;
    size_t end = 0;
};

inline std::optional<SectionSpan>
findSection(std::string_view data, const std::vector<LineSpan>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line line = parseLine(lineText(data, lines[i]));
        if (line.kind != LineKind::Section || !sameName(line.name, section)) {
            continue;
        }
        size_t end = i + 1;
        while (end < lines.size() &&
               parseLine(lineText(data, lines[end])).kind != LineKind::Section) {
            ++end;
        }
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

// The index of the line of `key` within the section; nothing when missing.
inline std::optional<size_t> findKey(std::string_view data, const std::vector<LineSpan>& lines,
                                     const SectionSpan& section, std::string_view key) {
    for (size_t i = section.header + 1; i < section.end; ++i) {
        const Line line = parseLine(lineText(data, lines[i]));
        if (line.kind == LineKind::Key && sameName(line.name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

// The value of `key` in `section`, or nothing when either is missing.
inline std::optional<std::string_view> findValue(std::string_view data, std::string_view section,
                                                 std::string_view key) {
    const auto lines = splitLines(data);
    const auto found = findSection(data, lines, section);
    if (!found) {
        return std::nullopt;
    }
    const auto at = findKey(data, lines, *found, key);
    if (!at) {
        return std::nullopt;
    }
    return parseLine(lineText(data, lines[*at])).value;
}

// A value as a number by the rule above; nothing when it is none.
inline std::optional<int32_t> integer(std::string_view text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    bool negative = false;
    if (hex) {
        text.remove_prefix(2);
    } else if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    if (hex) {
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) {
        return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(value)
                                         : static_cast<int64_t>(value));
}

} // namespace comm::ini
