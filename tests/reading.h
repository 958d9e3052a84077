// Reading built files with the library, for the suites that look inside.
#ifndef TESSARY_TESTS_READING_H
#define TESSARY_TESTS_READING_H

#include "fits.h"
#include "fits_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace fitsb {

// The inputs a fits_file reads the same bytes from. On Windows no pipe has a
// path the library opens, so the pipe is left out there.
enum class source { file, pipe, memory, stream };
#if defined(_WIN32)
constexpr source every_source[] = {source::file, source::memory, source::stream};
#else
constexpr source every_source[] = {source::file, source::pipe, source::memory, source::stream};

// `bytes` offered as a stream: the read end of a pipe fed by cat, named by
// its /proc/self/fd path. Read once.
class piped_input {
public:
    explicit piped_input(const std::string& bytes)
        : file_(bytes), pipe_(::popen(("cat " + file_.path()).c_str(), "r")) {
        if (!pipe_) throw std::runtime_error("cannot start cat");
    }
    ~piped_input() { ::pclose(pipe_); }
    piped_input(const piped_input&) = delete;
    piped_input& operator=(const piped_input&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(::fileno(pipe_)); }

private:
    temp_file file_;
    std::FILE* pipe_;
};
#endif

inline const char* source_name(source s) {
    return s == source::file ? "file" : s == source::pipe ? "pipe" : s == source::memory ? "memory" : "istream";
}

// `bytes` read from a regular file, a pipe, memory or an std::istringstream,
// each HDU handed to `on_hdu` when given, and kept or released.
inline std::unique_ptr<velmora::fits_file> read_from(source s, const std::string& bytes, velmora::read_mode mode,
                                                     const velmora::fits_file::hdu_callback& on_hdu = {},
                                                     velmora::keep_mode keep = velmora::KM_KEEP_HDUS) {
    switch (s) {
        case source::file: {
            temp_file f(bytes);
            return std::make_unique<velmora::fits_file>(f.path(), mode, on_hdu, keep);
        }
        case source::pipe: {
#if defined(_WIN32)
            throw std::logic_error("no pipe source on Windows");
#else
            piped_input pipe(bytes);
            return std::make_unique<velmora::fits_file>(pipe.path(), mode, on_hdu, keep);
#endif
        }
        case source::memory:
            return std::make_unique<velmora::fits_file>(velmora::memory_input{bytes.data(), bytes.size()}, mode,
                                                        on_hdu, keep);
        case source::stream:
            break;
    }
    std::istringstream in(bytes);
    return std::make_unique<velmora::fits_file>(in, mode, on_hdu, keep);
}

// What `f` raises: the text of a logic error, "out of range: " and the text
// of an out-of-range error, any other error marked as such; or "no error".
template <typename F>
std::string message_of(F f) {
    try {
        f();
    } catch (const std::out_of_range& e) {
        return std::string("out of range: ") + e.what();
    } catch (const std::logic_error& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("not a logic error: ") + e.what();
    }
    return "no error";
}

// An error's text after the HDU and card it names: "HDU 2, card 9: text",
// "HDU 2: text" when no card is at fault, the text alone when no HDU is.
inline std::string located_text(const std::exception& e) {
    const velmora::error_location* at = velmora::location_of(e);
    if (!at || at->hdu == 0) return e.what();
    return "HDU " + std::to_string(at->hdu) + (at->card ? ", card " + std::to_string(at->card) : "") + ": " + e.what();
}

// The input offset an error of reading `bytes` (from memory) names; -1 when
// they are read.
inline std::uint64_t error_offset(const std::string& bytes) {
    try {
        velmora::fits_file file(velmora::memory_input{bytes.data(), bytes.size()});
    } catch (const std::exception& e) {
        if (const velmora::error_location* at = velmora::location_of(e)) return at->offset;
    }
    return static_cast<std::uint64_t>(-1);
}

// The located error text of reading `bytes`, "" when they are read; the
// reader must say the same, and place it alike to the byte, whether it loads
// the data or passes over it, and whatever input the bytes come from.
inline std::string error_of(const std::string& bytes) {
    std::string first, first_whole;
    bool seen = false;
    for (source s : every_source) {
        for (velmora::read_mode mode : {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY}) {
            std::string error, whole;
            try {
                read_from(s, bytes, mode);
            } catch (const std::exception& e) {
                error = located_text(e);
                if (const velmora::error_location* at = velmora::location_of(e))
                    whole = std::to_string(at->offset) + " " + at->keyword + ": " + at->detail;
            }
            if (!seen) first = error, first_whole = whole;
            seen = true;
            const char* how = mode == velmora::RM_LOAD_DATA ? ", loading" : ", headers only";
            EXPECT_EQ(error, first) << source_name(s) << how;
            EXPECT_EQ(whole, first_whole) << source_name(s) << how;
        }
    }
    return first;
}

}  // namespace fitsb

#endif
