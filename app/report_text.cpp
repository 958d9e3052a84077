// tessary - the report's text: chunks that grow without copying, and the
// writes that send them out.
#include "report_text.h"

#include <algorithm>
#include <iostream>
#include <string>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace tessary {

bool report_text::write(std::FILE* out, bool by_line) const {
    for (const chunk& c : chunks_) {
        std::size_t begin = 0;
        for (std::size_t end : c.ends) {
            if (by_line || end == c.ends.back()) {
                if (std::fwrite(c.bytes.get() + begin, 1, end - begin, out) != end - begin) return false;
                begin = end;
            }
        }
    }
    return true;
}

std::string report_text::text() const {
    std::string all;
    for (const chunk& c : chunks_) all.append(c.bytes.get(), c.ends.empty() ? 0 : c.ends.back());
    return all;
}

void report_text::clear() {
    chunks_.clear();
    used_ = capacity_ = line_start_ = 0;
}

void report_text::make_room(std::size_t n) {
    const std::size_t partial = used_ - line_start_;
    std::size_t size = chunks_.empty() ? first_chunk : std::min(2 * capacity_, last_chunk);
    size = std::max(size, partial + n);
    chunk next{std::unique_ptr<char[]>(new char[size]), {}};
    if (partial != 0) std::memcpy(next.bytes.get(), chunks_.back().bytes.get() + line_start_, partial);
    chunks_.push_back(std::move(next));
    used_ = partial;
    capacity_ = size;
    line_start_ = 0;
}

// Platform section: a POSIX terminal, a Windows console (a file, a pipe or
// NUL is none).
bool output_is_terminal() {
#if defined(_WIN32)
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#elif defined(__unix__) || defined(__APPLE__)
    return ::isatty(STDOUT_FILENO) != 0;
#else
    return true;
#endif
}

// Platform section: a Windows console shows text it is given as UTF-16, and
// bytes in its own code page, in which a UTF-8 path would not read as typed.
void write_message(const std::string& line) {
#if defined(_WIN32)
    DWORD mode = 0;
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(err, &mode) != 0) {
        const std::string text = line + "\n";
        const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
        DWORD written = 0;
        if (n > 0 && WriteConsoleW(err, wide.data(), static_cast<DWORD>(n), &written, nullptr) != 0) return;
    }
#endif
    std::cerr << line << std::endl;
}

}  // namespace tessary
