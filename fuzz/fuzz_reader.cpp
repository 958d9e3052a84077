// Fuzz target: arbitrary bytes as a FITS file, read whole.
//
// Each input becomes the contents of one in-memory file (a memfd, opened by
// its /proc/self/fd path like any regular file) and is read twice:
//   1. by velmora::fits_file in RM_LOAD_DATA mode, every data array and heap
//      loaded, followed by the tool's report of the loaded HDUs;
//   2. by the tool itself (its main, renamed), which reads headers only.
// Both must agree: the same report on success, and on failure the tool's one
// line "tessary: <path>: <message>" with the message the loading reader threw,
// status 1 and nothing on standard output. The loaded data may never exceed
// the input's size. A std::logic_error (std::out_of_range included) or a
// std::ios_base::failure from the reader is an expected outcome, except a
// std::length_error or an out-of-range error other than that of a column
// format cut short; anything else that leaves the reader is a finding.
#include "fits.h"

#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#define main tessary_main
#include "../app/tessary.cpp"
#undef main

namespace {

// The in-memory file every input is written to.
int memfd = -1;
std::string memfd_path;

// Standard output and error of the tool while it runs.
std::stringbuf captured_out;
std::stringbuf captured_err;

[[noreturn]] void finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "\n*** %s\n%s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

void write_input(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(memfd, 0) != 0) finding("cannot truncate the memfd", "");
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(memfd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) finding("cannot write the memfd", "");
        done += static_cast<std::size_t>(n);
    }
}

// Runs `body` with std::cout and std::cerr captured.
template <typename F>
auto captured(F body) {
    captured_out.str(std::string());
    captured_err.str(std::string());
    std::streambuf* out = std::cout.rdbuf(&captured_out);
    std::streambuf* err = std::cerr.rdbuf(&captured_err);
    struct restore {
        std::streambuf* out;
        std::streambuf* err;
        ~restore() {
            std::cout.rdbuf(out);
            std::cerr.rdbuf(err);
        }
    } r{out, err};
    return body();
}

// Loaded data of every HDU: each array exactly as large as its header says,
// and all of them together no larger than the file.
void check_loaded(const fits_file& file, std::size_t file_size) {
    std::uint64_t total = 0;
    for (const hdu_entry& entry : file.hdus_) {
        const hdu_data* hdu = entry.get_hdu().get();
        if (entry.get_hdu_type() == HT_BINTABLE) {
            const hdu_bintable& table = static_cast<const hdu_bintable&>(*hdu);
            if (table.data_.size() != table.table_size())
                finding("main table size differs from NAXIS1 x NAXIS2", std::to_string(table.data_.size()));
            total += table.data_.size() + table.heap_.size();
        } else {
            const hdu_simple_parent& simple = static_cast<const hdu_simple_parent&>(*hdu);
            if (simple.data_.size() != simple.data_size())
                finding("data array size differs from the header", std::to_string(simple.data_.size()));
            total += simple.data_.size();
        }
    }
    if (total > file_size) finding("more data loaded than the file holds", std::to_string(total));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    memfd = ::memfd_create("tessary-fuzz", 0);
    if (memfd < 0) finding("memfd_create failed", "");
    memfd_path = "/proc/self/fd/" + std::to_string(memfd);
    // The tool turns off the synchronisation with C stdio on its first run,
    // which would replace the capturing stream buffers; do it once up front.
    std::ios::sync_with_stdio(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    write_input(data, size);

    // 1. The library, loading every data array, then the report of what it read.
    bool loaded = false;
    std::string load_message;
    std::string load_report;
    try {
        auto file = std::make_unique<fits_file>(memfd_path, RM_LOAD_DATA);
        loaded = true;
        check_loaded(*file, size);
        captured([&] { report_file(*file); });
        load_report = captured_out.str();
        if (!captured_err.str().empty()) finding("report wrote to standard error", captured_err.str());
    } catch (const std::length_error& e) {
        // A size the standard library refuses: a buffer sized from the header
        // before the file was checked to hold it.
        finding("length error", e.what());
    } catch (const std::out_of_range& e) {
        // Only a column format cut short may end out of range; anything else
        // is an access the reader did not mean to make.
        if (loaded || std::string(e.what()) != "invalid string position") finding("out of range", e.what());
        load_message = e.what();
    } catch (const std::logic_error& e) {
        if (loaded) throw;
        load_message = e.what();
    } catch (const std::ios_base::failure& e) {
        if (loaded) throw;
        load_message = e.what();
    }

    // 2. The tool, reading headers only.
    std::string arg0 = "tessary";
    std::string arg1 = memfd_path;
    char* argv[] = {&arg0[0], &arg1[0], nullptr};
    int status = captured([&] { return tessary_main(2, argv); });
    const std::string out = captured_out.str();
    const std::string err = captured_err.str();

    if (status == 0) {
        if (!loaded) finding("tool succeeded where the loading reader failed", load_message);
        if (!err.empty()) finding("standard error written on success", err);
        if (out != load_report) finding("headers-only report differs from the loaded one", out + "\n---\n" + load_report);
    } else if (status == 1) {
        if (loaded) finding("tool failed where the loading reader succeeded", err);
        if (!out.empty()) finding("standard output written on failure", out);
        const std::string expected = "tessary: " + memfd_path + ": " + load_message + "\n";
        if (err != expected) finding("error line differs from the loading reader's failure", err + "---\n" + expected);
    } else {
        finding("exit status neither 0 nor 1", std::to_string(status));
    }
    return 0;
}
