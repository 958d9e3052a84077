// Reading built files with the library, for the suites that look inside.
#ifndef TESSARY_TESTS_READING_H
#define TESSARY_TESTS_READING_H

#include "fits.h"
#include "fits_builder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <unistd.h>

namespace fitsb {

// `bytes` offered as a stream: the read end of a pipe, named by its
// /proc/self/fd path and fed by a thread until the reader is done. Read once.
class piped_input {
public:
    explicit piped_input(const std::string& bytes) {
        std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early ends the writer
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("cannot create a pipe");
        read_fd_ = fds[0];
        path_ = "/proc/self/fd/" + std::to_string(read_fd_);
        writer_ = std::thread([bytes, fd = fds[1]] {
            for (std::size_t done = 0; done < bytes.size();) {
                ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(fd);
        });
    }
    ~piped_input() {
        ::close(read_fd_);
        writer_.join();
    }
    piped_input(const piped_input&) = delete;
    piped_input& operator=(const piped_input&) = delete;
    const std::string& path() const { return path_; }

private:
    int read_fd_ = -1;
    std::string path_;
    std::thread writer_;
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
