// Fuzz target: arbitrary bytes as a FITS file, read whole.
//
// Each input is read from every kind of input the library takes, in both
// read modes, and the readings must agree:
//   1. from memory, every data array loaded and every HDU kept, followed by
//      the tool's report of the kept HDUs: the reference;
//   2. from memory, headers only, each HDU reported and released;
//   3. from an istream, loading and released, then headers only and kept;
//   4. by the tool itself (its main, renamed) from an in-memory regular file
//      (a memfd, opened by its /proc/self/fd path): headers only, each HDU's
//      lines composed as soon as it is read and the HDU released;
//   5. one input in 64: from the regular file, loading; from a pipe (read
//      front to back), loading and released; and by the tool from a pipe.
// All must agree: the same report on success, and on failure the same
// error placed alike to the byte (the tool's one line "tessary: <path>:
// HDU <n>, card <k>: <message>: <detail>", status 1 and nothing on standard
// output). The error lies in the HDU being read, its card within that HDU's
// blocks and the input, and its line holds only printable ASCII. The report holds no other byte but
// the line feeds, and exactly the lines its HDUs call for. The loaded data may
// never exceed the input's size. A std::logic_error (std::out_of_range
// included) or a std::ios_base::failure from the reader is an expected
// outcome, except a std::length_error or an out-of-range error other than
// that of a column format cut short; anything else that leaves the reader
// is a finding.
#include "fits.h"

#include "finding.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "report.h"

namespace {

using namespace velmora;
using tessary::error_line;

// The in-memory file every input is written to, and the one that takes the
// tool's standard output.
int memfd = -1;
std::string memfd_path;
int outfd = -1;

// Standard error of the tool while it runs.
std::stringbuf captured_err;

void write_all(int fd, const std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) return;  // the reader stopped early
        done += static_cast<std::size_t>(n);
    }
}

void write_input(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(memfd, 0) != 0 || ::lseek(memfd, 0, SEEK_SET) != 0) finding("cannot reset the memfd", "");
    write_all(memfd, data, size);
}

// The input as a stream: a pipe holding it whole when it fits, else fed by
// a thread; closed and joined when the reading is done.
class piped_input {
public:
    piped_input(const std::uint8_t* data, std::size_t size) {
        int fds[2];
        if (::pipe(fds) != 0) finding("pipe failed", "");
        read_fd_ = fds[0];
        path_ = "/proc/self/fd/" + std::to_string(read_fd_);
        int capacity = ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        if (capacity >= 0 && static_cast<std::size_t>(capacity) >= size) {
            write_all(fds[1], data, size);
            ::close(fds[1]);
        } else {
            writer_ = std::thread([=] {
                write_all(fds[1], data, size);
                ::close(fds[1]);
            });
        }
    }
    ~piped_input() {
        ::close(read_fd_);
        if (writer_.joinable()) writer_.join();
    }
    const std::string& path() const { return path_; }

private:
    int read_fd_ = -1;
    std::string path_;
    std::thread writer_;
};

// Runs the tool on `path` with standard output and error captured.
int run_tool(const std::string& path, std::string& out, std::string& err) {
    captured_err.str(std::string());
    std::streambuf* saved_err = std::cerr.rdbuf(&captured_err);
    if (::ftruncate(outfd, 0) != 0 || ::lseek(outfd, 0, SEEK_SET) != 0) finding("cannot reset the output", "");
    std::fflush(stdout);
    int saved_out = ::dup(1);
    ::dup2(outfd, 1);
    std::string arg0 = "tessary";
    std::string arg1 = path;
    char* argv[] = {&arg0[0], &arg1[0], nullptr};
    int status = tessary::run(2, argv);
    std::fflush(stdout);
    ::dup2(saved_out, 1);
    ::close(saved_out);
    std::cerr.rdbuf(saved_err);
    err = captured_err.str();
    struct stat st {};
    ::fstat(outfd, &st);
    out.assign(static_cast<std::size_t>(st.st_size), '\0');
    if (st.st_size > 0 && ::pread(outfd, &out[0], out.size(), 0) != st.st_size) finding("cannot read the output", "");
    return status;
}

// The loaded data of one HDU is exactly as large as its header says; adds
// it to `total`, and the report lines the HDU calls for to `lines`: its
// title, one per valued keyword, the Data line, a Heap line for a table with
// a heap, and the empty line.
void check_loaded(const hdu_entry& entry, read_mode mode, std::uint64_t& total, std::uint64_t& lines) {
    lines += 3;
    for (const keyword_record& kr : entry.krs_) lines += kr.get_type() == KWRT_VALUE ? 1 : 0;
    if (entry.get_hdu_type() == HT_BINTABLE && entry.find_record("PCOUNT")->get_int() != 0) ++lines;
    if (mode == RM_HEADERS_ONLY) return;
    const hdu_data* hdu = entry.get_hdu().get();
    const std::uint64_t size = hdu_kinds[entry.get_hdu_type()].data_size(*hdu);
    std::uint64_t loaded = 0;
    switch (entry.get_hdu_type()) {
        case HT_PRIMARY:
        case HT_IMAGE:
            loaded = static_cast<const hdu_simple_parent&>(*hdu).data_.size();
            break;
        case HT_TABLE:
            loaded = static_cast<const hdu_table&>(*hdu).data_.size();
            break;
        case HT_BINTABLE:
            loaded = static_cast<const hdu_bintable&>(*hdu).data_.size();
            total += static_cast<const hdu_bintable&>(*hdu).heap_.size();
            break;
        case HT_EXTENSION:
            loaded = static_cast<const hdu_extension&>(*hdu).data_.size();
            break;
        default:
            finding("HDU of no kind", std::to_string(entry.get_hdu_type()));
    }
    if (loaded != size) finding("data size differs from the header", std::to_string(loaded));
    total += loaded;
}

// Whatever the file holds, the report holds only printable ASCII and the line
// feeds that end its lines, and exactly the lines its HDUs call for.
void check_report_bytes(const std::string& text, std::uint64_t lines) {
    std::uint64_t ends = 0;
    for (char c : text) {
        if (c == '\n')
            ++ends;
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            finding("byte outside printable ASCII in the report", text);
    }
    if (ends != lines) finding("report line count differs from the HDUs'", std::to_string(ends) + " != " + std::to_string(lines));
}

// What one reading by the library gave.
struct verdict {
    bool read = false;        // the whole input was read
    std::string message;      // else the tool's error line for the path "PATH", and where it is placed
    std::string report;       // the report of what was read
};

// An error of reading `size` bytes after `hdus` HDUs were read: placed
// where it can be (in the HDU being read, on a card of its header, which
// starts at a block after the HDUs before it, within the input) and told
// in one line of printable ASCII. Returns that line for the path "PATH"
// and the location's offset and keyword, for comparing readings.
std::string placed(const std::exception& e, std::size_t size, std::int32_t hdus) {
    const error_location* at = location_of(e);
    if (!at) finding("error without a location", e.what());
    const std::string line = error_line("PATH", e);
    for (char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) finding("byte outside printable ASCII in the error line", line);
    if (at->hdu != hdus + 1) finding("error placed in another HDU than the one read", line);
    if (at->offset > size) finding("error placed beyond the input", line + " at " + std::to_string(at->offset));
    if (at->card > 0) {
        const std::uint64_t hdu_start = at->offset - card_size * static_cast<std::uint64_t>(at->card - 1);
        if (at->offset < card_size * static_cast<std::uint64_t>(at->card - 1) || hdu_start % block_size != 0 ||
            hdu_start < block_size * static_cast<std::uint64_t>(hdus))
            finding("card placed off its HDU's blocks", line + " at " + std::to_string(at->offset));
    }
    return line + "\n" + std::to_string(at->offset) + "\n" + at->keyword;
}

// Reads the input that `make(mode, on_hdu, keep)` constructs a fits_file
// from: all HDUs kept and reported afterwards, or each reported and released
// by the callback. With every data array loaded, it checks their sizes.
template <typename Make>
verdict read_input(Make make, std::size_t size, read_mode mode, keep_mode keep) {
    verdict v;
    std::uint64_t total = 0, lines = 0;
    std::int32_t hdus = 0;
    tessary::report_text report;
    try {
        auto on_hdu = [&](const hdu_entry& entry) {
            ++hdus;
            if (keep == KM_RELEASE_HDUS) {
                check_loaded(entry, mode, total, lines);
                tessary::report_hdu(report, entry);
            }
        };
        std::unique_ptr<fits_file> file = make(mode, on_hdu, keep);
        v.read = true;
        for (const hdu_entry& entry : file->hdus_) check_loaded(entry, mode, total, lines);
        captured_err.str(std::string());
        std::streambuf* saved_err = std::cerr.rdbuf(&captured_err);
        for (const hdu_entry& entry : file->hdus_) tessary::report_hdu(report, entry);
        std::cerr.rdbuf(saved_err);
        if (!captured_err.str().empty()) finding("report wrote to standard error", captured_err.str());
        v.report = report.text();
        check_report_bytes(v.report, lines);
    } catch (const std::length_error& e) {
        // A size the standard library refuses: a buffer sized from the header
        // before the file was checked to hold it.
        finding("length error", e.what());
    } catch (const std::out_of_range& e) {
        // Only a column format cut short may end out of range; anything else
        // is an access the reader did not mean to make.
        if (v.read || std::string(e.what()) != "invalid string position") finding("out of range", e.what());
        v.message = placed(e, size, hdus);
    } catch (const std::logic_error& e) {
        if (v.read) throw;
        v.message = placed(e, size, hdus);
    } catch (const std::ios_base::failure& e) {
        if (v.read) throw;
        v.message = placed(e, size, hdus);
    }
    if (total > size) finding("more data loaded than the input holds", std::to_string(total));
    return v;
}

// The inputs, as constructors of a fits_file.
auto from_path(const std::string& path) {
    return [&path](read_mode mode, const fits_file::hdu_callback& on_hdu, keep_mode keep) {
        return std::make_unique<fits_file>(path, mode, on_hdu, keep);
    };
}
auto from_memory(const std::uint8_t* data, std::size_t size) {
    return [=](read_mode mode, const fits_file::hdu_callback& on_hdu, keep_mode keep) {
        return std::make_unique<fits_file>(memory_input{data, size}, mode, on_hdu, keep);
    };
}
auto from_istream(const std::uint8_t* data, std::size_t size) {
    return [=](read_mode mode, const fits_file::hdu_callback& on_hdu, keep_mode keep) {
        std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
        return std::make_unique<fits_file>(in, mode, on_hdu, keep);
    };
}

// A second reading must agree with the first.
void check_same(const verdict& v, const verdict& reference, const char* what) {
    if (v.read != reference.read || v.message != reference.message || v.report != reference.report)
        finding((std::string(what) + " differs from memory, loaded and kept").c_str(),
                v.message + "|" + reference.message + "\n" + v.report + "\n---\n" + reference.report);
}

// The tool's run on `path` must match the loading reader's verdict.
void check_tool(const std::string& path, const verdict& expected, const char* source) {
    std::string out, err;
    int status = run_tool(path, out, err);
    const std::string where = std::string(" (") + source + ")";
    if (status == 0) {
        if (!expected.read) finding(("tool succeeded where the loading reader failed" + where).c_str(), expected.message);
        if (!err.empty()) finding(("standard error written on success" + where).c_str(), err);
        if (out != expected.report)
            finding(("released report differs from the kept one" + where).c_str(), out + "\n---\n" + expected.report);
    } else if (status == 1) {
        if (expected.read) finding(("tool failed where the loading reader succeeded" + where).c_str(), err);
        if (!out.empty()) finding(("standard output written on failure" + where).c_str(), out);
        std::string line = expected.message.substr(0, expected.message.find('\n'));
        line = "tessary: " + path + line.substr(13) + "\n";
        if (err != line) finding(("error line differs from the loading reader's failure" + where).c_str(), err + "---\n" + line);
    } else {
        finding(("exit status neither 0 nor 1" + where).c_str(), std::to_string(status));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    memfd = ::memfd_create("tessary-fuzz", 0);
    outfd = ::memfd_create("tessary-fuzz-out", 0);
    if (memfd < 0 || outfd < 0) finding("memfd_create failed", "");
    memfd_path = "/proc/self/fd/" + std::to_string(memfd);
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early ends a pipe's writer
    return 0;
}

// Inputs read through a pipe as well: one in this many, since a pipe costs
// system calls and, for a large input, a thread.
constexpr unsigned pipe_sampling = 64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static unsigned inputs = 0;
    const bool piped = inputs++ % pipe_sampling == 0;

    // 1. Memory, every data array loaded, HDUs kept, then their report: the
    //    reference every other reading must match.
    const verdict kept = read_input(from_memory(data, size), size, RM_LOAD_DATA, KM_KEEP_HDUS);
    // 2. Memory, headers only, each HDU reported and released.
    check_same(read_input(from_memory(data, size), size, RM_HEADERS_ONLY, KM_RELEASE_HDUS), kept,
               "memory, headers only, released");
    // 3. An istream, by turns loading with each HDU reported and released,
    //    and headers only with HDUs kept.
    if (inputs % 2)
        check_same(read_input(from_istream(data, size), size, RM_LOAD_DATA, KM_RELEASE_HDUS), kept,
                   "istream, loaded, released");
    else
        check_same(read_input(from_istream(data, size), size, RM_HEADERS_ONLY, KM_KEEP_HDUS), kept,
                   "istream, headers only, kept");
    // 4. The tool on a regular file: headers only, HDUs released.
    write_input(data, size);
    check_tool(memfd_path, kept, "file");
    if (!piped) return 0;
    // 5. Sampled: the library on the file, loading; a pipe, loading, HDUs
    //    released; the tool on a pipe.
    check_same(read_input(from_path(memfd_path), size, RM_LOAD_DATA, KM_KEEP_HDUS), kept, "file, loaded, kept");
    {
        piped_input pipe(data, size);
        check_same(read_input(from_path(pipe.path()), size, RM_LOAD_DATA, KM_RELEASE_HDUS), kept,
                   "pipe, loaded, released");
    }
    {
        piped_input pipe(data, size);
        check_tool(pipe.path(), kept, "pipe");
    }
    return 0;
}
