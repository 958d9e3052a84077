// A small builder of FITS test files: cards, headers padded to blocks, data
// and padding. Shared by every test suite.
//
//   std::string file = fitsb::primary(16, {100, 200}).end().data(40000).bytes()
//                    + fitsb::bintable(24, 100, 0, {"3D"}).end().data(2400).bytes();
//   fitsb::temp_file f(file);   // written to disk, removed at scope exit
#ifndef TESSARY_TESTS_FITS_BUILDER_H
#define TESSARY_TESTS_FITS_BUILDER_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Platform section: temporary files and child processes are made through
// the system's own calls (see temp_file and run below).
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fitsb {

constexpr std::size_t block = 2880;
constexpr std::size_t card_len = 80;

// Pads `text` with `fill` to a whole number of blocks (nothing added to an empty text).
inline std::string pad_to_block(std::string text, char fill) {
    std::size_t rest = text.size() % block;
    if (rest != 0) text.append(block - rest, fill);
    return text;
}

// A card of exactly 80 characters: `text` cut or blank-filled.
inline std::string raw(const std::string& text) {
    std::string card = text.substr(0, card_len);
    card.resize(card_len, ' ');
    return card;
}

// A card from its parts: name in columns 1-8, the indicator in 9-10, the value
// text from column 11 as given, then " / comment" when a comment is given.
inline std::string card(const std::string& name, const std::string& value,
                        const std::string& comment = "", const std::string& indicator = "= ") {
    std::string text = name;
    text.resize(8, ' ');
    text += indicator;
    text += value;
    if (!comment.empty()) text += " / " + comment;
    return raw(text);
}

// Value texts in the fixed format: numbers and logicals right-justified to
// column 30, strings quoted (quotes doubled) and blank-filled to 8 characters.
inline std::string fixed(const std::string& value) {
    return value.size() >= 20 ? value : std::string(20 - value.size(), ' ') + value;
}
inline std::string quoted(const std::string& value) {
    std::string body;
    for (char c : value) body += c == '\'' ? std::string("''") : std::string(1, c);
    if (body.size() < 8) body.resize(8, ' ');
    return "'" + body + "'";
}

// One HDU under construction: its header cards, then its data.
class hdu {
public:
    // Any card, given whole (cut or blank-filled to 80 characters).
    hdu& add(const std::string& card_text) { cards_.push_back(raw(card_text)); return *this; }
    // name = value, the value text written as given from column 11.
    hdu& value(const std::string& name, const std::string& text, const std::string& comment = "") {
        return add(card(name, text, comment));
    }
    hdu& integer(const std::string& name, long long v, const std::string& comment = "") {
        return value(name, fixed(std::to_string(v)), comment);
    }
    hdu& logical(const std::string& name, bool v) { return value(name, fixed(v ? "T" : "F")); }
    hdu& real(const std::string& name, const std::string& text) { return value(name, fixed(text)); }
    hdu& string(const std::string& name, const std::string& v) { return value(name, quoted(v)); }
    hdu& comment(const std::string& text) { return add("COMMENT " + text); }
    hdu& history(const std::string& text) { return add("HISTORY " + text); }
    hdu& end() { return add("END"); }

    // Data bytes after the header; padded with zeros to a whole block.
    hdu& data(const std::string& bytes) { data_ += bytes; return *this; }
    // `n` data bytes of `fill`.
    hdu& data(std::size_t n, char fill = '\x01') { data_.append(n, fill); return *this; }
    // Leaves the data's last block unpadded (a file cut inside its padding).
    hdu& unpadded() { pad_data_ = false; return *this; }

    // The header cards in order.
    const std::vector<std::string>& cards() const { return cards_; }
    // Header blocks (blank-filled) followed by data blocks (zero-filled).
    std::string bytes() const {
        std::string header;
        for (const std::string& c : cards_) header += c;
        std::string out = pad_to_block(header, ' ');
        out += pad_data_ ? pad_to_block(data_, '\0') : data_;
        return out;
    }

private:
    std::vector<std::string> cards_;
    std::string data_;
    bool pad_data_ = true;
};

// Mandatory cards of a primary HDU: SIMPLE, BITPIX, NAXIS, NAXISn.
inline hdu primary(int bitpix, std::initializer_list<long long> dims) {
    hdu h;
    h.logical("SIMPLE", true).integer("BITPIX", bitpix).integer("NAXIS", static_cast<long long>(dims.size()));
    int n = 1;
    for (long long d : dims) h.integer("NAXIS" + std::to_string(n++), d);
    return h;
}

// Mandatory cards of an IMAGE extension: XTENSION ... NAXISn, PCOUNT, GCOUNT.
inline hdu image(int bitpix, std::initializer_list<long long> dims) {
    hdu h;
    h.string("XTENSION", "IMAGE").integer("BITPIX", bitpix).integer("NAXIS", static_cast<long long>(dims.size()));
    int n = 1;
    for (long long d : dims) h.integer("NAXIS" + std::to_string(n++), d);
    h.integer("PCOUNT", 0).integer("GCOUNT", 1);
    return h;
}

// Mandatory cards of a BINTABLE extension with any TFIELDS, no TFORMn.
inline hdu bintable_header(long long naxis1, long long naxis2, long long pcount, long long tfields) {
    hdu h;
    h.string("XTENSION", "BINTABLE").integer("BITPIX", 8).integer("NAXIS", 2);
    h.integer("NAXIS1", naxis1).integer("NAXIS2", naxis2).integer("PCOUNT", pcount);
    h.integer("GCOUNT", 1).integer("TFIELDS", tfields);
    return h;
}

// Mandatory cards of a BINTABLE extension and one TFORMn per given form.
inline hdu bintable(long long naxis1, long long naxis2, long long pcount,
                    std::initializer_list<std::string> tforms) {
    hdu h = bintable_header(naxis1, naxis2, pcount, static_cast<long long>(tforms.size()));
    int n = 1;
    for (const std::string& f : tforms) h.string("TFORM" + std::to_string(n++), f);
    return h;
}

// Mandatory cards of an ASCII TABLE extension, then TBCOLn and TFORMn of
// each given column (its first byte in the row, its format).
inline hdu ascii_table(long long naxis1, long long naxis2,
                       std::initializer_list<std::pair<long long, std::string>> columns) {
    hdu h;
    h.string("XTENSION", "TABLE").integer("BITPIX", 8).integer("NAXIS", 2);
    h.integer("NAXIS1", naxis1).integer("NAXIS2", naxis2).integer("PCOUNT", 0).integer("GCOUNT", 1);
    h.integer("TFIELDS", static_cast<long long>(columns.size()));
    int n = 1;
    for (const auto& [tbcol, tform] : columns) {
        h.integer("TBCOL" + std::to_string(n), tbcol).string("TFORM" + std::to_string(n), tform);
        ++n;
    }
    return h;
}

// Mandatory cards of a conforming extension of type `type`: XTENSION ...
// NAXISn, PCOUNT, GCOUNT.
inline hdu extension(const std::string& type, int bitpix, std::initializer_list<long long> dims,
                     long long pcount = 0, long long gcount = 1) {
    hdu h;
    h.string("XTENSION", type).integer("BITPIX", bitpix).integer("NAXIS", static_cast<long long>(dims.size()));
    int n = 1;
    for (long long d : dims) h.integer("NAXIS" + std::to_string(n++), d);
    h.integer("PCOUNT", pcount).integer("GCOUNT", gcount);
    return h;
}

// `n` data bytes that differ from block to block and within a block.
inline std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / block) % 251);
    return s;
}

// A path as the library takes it (UTF-8 on Windows, bytes elsewhere), as
// the standard library's file calls take it.
inline std::filesystem::path native(const std::string& path) { return std::filesystem::u8path(path); }

// The size of the regular file at `path`; nothing for anything else (a
// device, a pipe, a directory, no file at all).
inline bool regular_size(const std::string& path, std::uintmax_t& size) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native(path), ec)) return false;
    size = std::filesystem::file_size(native(path), ec);
    return !ec;
}

// A file on disk holding `contents`, removed when the object goes.
class temp_file {
public:
    explicit temp_file(const std::string& contents) {
#if defined(_WIN32)
        wchar_t name[MAX_PATH + 1];
        const std::wstring dir = std::filesystem::temp_directory_path().wstring();
        if (::GetTempFileNameW(dir.c_str(), L"tes", 0, name) == 0)
            throw std::runtime_error("cannot create a temporary file");
        path_ = std::filesystem::path(name).u8string();
#else
        char name[] = "/tmp/tessary-test-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) throw std::runtime_error("cannot create a temporary file");
        ::close(fd);
        path_ = name;
#endif
        std::ofstream out(native(path_), std::ios::binary);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    }
    ~temp_file() {
        std::error_code ec;
        std::filesystem::remove(native(path_), ec);
    }
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Reads a whole file.
inline std::string slurp(const std::string& path) {
    std::ifstream in(native(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// What a run of a program left behind.
struct run_result {
    std::string out;  // standard output
    std::string err;  // standard error
    int status = -1;  // exit status, or 128 + signal number
    long peak_kib = -1;  // peak resident memory of the program; -1: not measured (Windows)
};

#if defined(_WIN32)
// One argument of a Windows command line, quoted as the C runtime's parser
// reads it back: backslashes are literal except before a quote.
inline std::wstring quoted_argument(const std::string& arg) {
    const std::wstring wide = native(arg).wstring();
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : wide) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, L'\\');
    return q + L"\"";
}

// Runs `program` with `args`, its standard output and error written to the
// files `out` and `err`; its standard input is the null device.
inline run_result run_redirected(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& out, const std::string& err) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto open = [&](const std::string& path, DWORD access, DWORD creation) {
        return ::CreateFileW(native(path).wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE in_h = open("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out_h = open(out, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err_h = open(err, GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring line = quoted_argument(program);
    for (const std::string& a : args) line += L" " + quoted_argument(a);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = in_h;
    start.hStdOutput = out_h;
    start.hStdError = err_h;
    PROCESS_INFORMATION child{};
    run_result r;
    if (::CreateProcessW(native(program).wstring().c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         nullptr, &start, &child)) {
        ::WaitForSingleObject(child.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(child.hProcess, &code);
        r.status = static_cast<int>(code);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    } else {
        r.err = "cannot start " + program + ": system error " + std::to_string(::GetLastError());
    }
    for (HANDLE h : {in_h, out_h, err_h}) ::CloseHandle(h);
    return r;
}
#endif

// Runs `program` with `args` (no shell), capturing both output streams.
// With `piped` given, standard input is a pipe fed with that file by cat
// (not on Windows, where the tool reads no standard input).
inline run_result run(const std::string& program, const std::vector<std::string>& args,
                      const std::string* piped = nullptr) {
    temp_file out(""), err("");
#if defined(_WIN32)
    if (piped) throw std::logic_error("no piped input on Windows");
    run_result r = run_redirected(program, args, out.path(), err.path());
#else
    pid_t pid = ::fork();
    if (pid == 0) {
        int fds[2];
        if (piped && (::pipe(fds) != 0 || ::fork() == 0)) {
            if (::dup2(fds[1], 1) < 0) ::_exit(127);
            ::close(fds[0]);
            ::execlp("cat", "cat", piped->c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (piped && (::dup2(fds[0], 0) < 0 || ::close(fds[0]) != 0 || ::close(fds[1]) != 0)) ::_exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::freopen(out.path().c_str(), "w", stdout) || !std::freopen(err.path().c_str(), "w", stderr))
            ::_exit(127);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int wstatus = 0;
    struct rusage usage {};
    ::wait4(pid, &wstatus, 0, &usage);
    run_result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.peak_kib = usage.ru_maxrss;
#endif
    r.out = slurp(out.path());
    r.err += slurp(err.path());
    return r;
}


#if defined(TESSARY_DATA_DIR) && defined(TESSARY_BINARY)
// The test suites' own helpers: shipped samples and the built tool.
}  // namespace fitsb
#include <gtest/gtest.h>
namespace fitsb {

// Path of a shipped sample file.
inline std::string sample(const std::string& name) { return std::string(TESSARY_DATA_DIR) + "/" + name; }

// The report of `path` composed with every HDU kept, read in this process
// (the tool releases each HDU once its lines are composed): output, error
// line and status as the tool would give them. A regular file of up to 64
// MiB is also read from memory and from an istream, which must agree.
run_result kept_report(const std::string& path);

// A double as the report writes it.
std::string formatted(double value);

// Bytes of a name or string as the report shows them.
std::string shown(const std::string& text);

// Runs the built tessary on one path; the report of the kept HDUs must be the
// same. Except on Windows, a regular file of up to 3 GiB is also
// read through a pipe (as /dev/stdin), which must give the same output,
// message and status; the peak memory is the larger of the two runs. (Larger
// sparse files would pour many seconds of zeros through the pipe.)
inline run_result tessary(const std::string& path) {
    run_result file = run(TESSARY_BINARY, {path});
    run_result kept = kept_report(path);
    EXPECT_EQ(kept.out, file.out) << "HDUs kept: " << path;
    EXPECT_EQ(kept.err, file.err) << "HDUs kept: " << path;
    EXPECT_EQ(kept.status, file.status) << "HDUs kept: " << path;
#if !defined(_WIN32)
    std::uintmax_t size = 0;
    if (!regular_size(path, size) || size > (std::uintmax_t{3} << 30)) return file;
    run_result piped = run(TESSARY_BINARY, {"/dev/stdin"}, &path);
    std::string err = piped.err;
    if (err.compare(0, 20, "tessary: /dev/stdin:") == 0) err = "tessary: " + path + ":" + err.substr(20);
    EXPECT_EQ(piped.out, file.out) << "through a pipe: " << path;
    EXPECT_EQ(err, file.err) << "through a pipe: " << path;
    EXPECT_EQ(piped.status, file.status) << "through a pipe: " << path;
    file.peak_kib = std::max(file.peak_kib, piped.peak_kib);
#endif
    return file;
}
#endif

}  // namespace fitsb

#endif  // TESSARY_TESTS_FITS_BUILDER_H
