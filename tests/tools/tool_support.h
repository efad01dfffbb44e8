// What the test tools share: owned handles, whole-file reads and writes,
// WTF-8 conversions and the way a tool reports that it could not do its job.
//
// The tools run under Wine for the host's end-to-end tests. They talk to the
// host through files, never through their own console, because Wine passes a
// Windows exit status to the host only in its low 8 bits.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace tools {

// Exit status of a tool that could not do its job (not the status of a
// program it ran).
inline constexpr int tool_failure = 99;

[[noreturn]] inline void fail_tool(const char* tool, const char* what,
                                   DWORD error = GetLastError()) {
    std::fprintf(stderr, "%s: %s (Windows error %lu)\n", tool, what,
                 static_cast<unsigned long>(error));
    std::fflush(stderr);
    std::exit(tool_failure);
}

// A kernel handle, closed once. Null and INVALID_HANDLE_VALUE both mean none.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE value) : value_(value) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, nullptr));
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return value_; }
    HANDLE* put() {
        reset();
        return &value_;
    }
    explicit operator bool() const { return value_ != nullptr && value_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE value = nullptr) {
        const HANDLE old = std::exchange(value_, value);
        if (old != nullptr && old != INVALID_HANDLE_VALUE) CloseHandle(old);
    }

private:
    HANDLE value_ = nullptr;
};

inline bool read_whole_file(const std::wstring& path, std::string& bytes) {
    const Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    bytes.clear();
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) return true;
        bytes.append(buffer, read);
    }
}

inline bool write_whole_file(const std::wstring& path, std::string_view bytes) {
    const Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

// WTF-8 to UTF-16: like UTF-8, but an encoded surrogate code point becomes
// that lone code unit, so files can carry any command line.
inline bool widen_wtf8(std::string_view bytes, std::wstring& text) {
    text.clear();
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int extra = lead < 0x80          ? 0
                          : (lead >> 5) == 0x06 ? 1
                          : (lead >> 4) == 0x0E ? 2
                          : (lead >> 3) == 0x1E ? 3
                                                : -1;
        if (extra < 0 || bytes.size() - i <= static_cast<std::size_t>(extra)) return false;
        unsigned long point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        i += 1 + extra;
        if (point >= 0x10000) {
            point -= 0x10000;
            text.push_back(static_cast<wchar_t>(0xD800 + (point >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + (point & 0x3FF)));
        } else {
            text.push_back(static_cast<wchar_t>(point));
        }
    }
    return true;
}

// UTF-16 to WTF-8: pairs become one code point, a lone surrogate its own.
inline std::string narrow_wtf8(std::wstring_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long point = static_cast<unsigned short>(text[i]);
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size()) {
            const unsigned long low = static_cast<unsigned short>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (point < 0x80) {
            bytes.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (point >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (point >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (point >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return bytes;
}

}  // namespace tools
