// Reading built files with the library, for the suites that look inside.
#ifndef TESSARY_TESTS_READING_H
#define TESSARY_TESTS_READING_H

#include "fits.h"
#include "fits_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

namespace fitsb {

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

// The error text of reading `bytes`, "" when they are read; the reader must
// say the same whether it loads the data or passes over it, and whether the
// bytes come from a file or a stream.
inline std::string error_of(const std::string& bytes) {
    temp_file f(bytes);
    std::string errors[4];
    const velmora::read_mode modes[2] = {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY};
    for (int i = 0; i < 4; ++i) {
        std::unique_ptr<piped_input> pipe = i < 2 ? nullptr : std::make_unique<piped_input>(bytes);
        try {
            velmora::fits_file file(pipe ? pipe->path() : f.path(), modes[i % 2]);
        } catch (const std::exception& e) {
            errors[i] = e.what();
        }
    }
    for (int i = 1; i < 4; ++i) EXPECT_EQ(errors[i], errors[0]) << (i % 2 ? "headers only" : "loading") << (i < 2 ? "" : ", stream");
    return errors[0];
}

}  // namespace fitsb

#endif
