// tessary - lists every header of a FITS file with typed values, the size of
// each HDU's data and the heap of each binary table.
#include "fits.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

using namespace velmora;

namespace {

// The report composed so far: its lines in order, each with its newline, in
// chunks, so that growing it never copies what it already holds. Each line
// is composed in place at the end of the last chunk.
class composed_report {
public:
    // Appends `n` bytes to the line being composed.
    void append(const char* text, std::size_t n) {
        if (capacity_ - used_ < n) make_room(n);
        std::memcpy(chunks_.back().bytes.get() + used_, text, n);
        used_ += n;
    }
    // Room for `n` more bytes of the line being composed, written from the
    // pointer returned; keep() then takes them up to `end`.
    char* room(std::size_t n) {
        if (capacity_ - used_ < n) make_room(n);
        return chunks_.back().bytes.get() + used_;
    }
    void keep(const char* end) { used_ = static_cast<std::size_t>(end - chunks_.back().bytes.get()); }
    // Ends the line being composed, its newline included.
    void end_line() {
        chunks_.back().ends.push_back(used_);
        line_start_ = used_;
    }

    // Writes the report to `out`, an unbuffered stream that passes each
    // write on whole: line by line when `by_line` (a person watching a
    // terminal sees each line as it comes), else chunk by chunk, each of 64
    // KiB or more but the last. False, with errno telling why, as soon as
    // the output fails.
    bool write(std::FILE* out, bool by_line) const {
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

    // The whole text, and a fresh start.
    std::string text() const {
        std::string all;
        for (const chunk& c : chunks_) all.append(c.bytes.get(), c.ends.empty() ? 0 : c.ends.back());
        return all;
    }
    void clear() {
        chunks_.clear();
        used_ = capacity_ = line_start_ = 0;
    }

private:
    static constexpr std::size_t first_chunk = std::size_t{1} << 16;
    static constexpr std::size_t last_chunk = std::size_t{1} << 20;
    struct chunk {
        std::unique_ptr<char[]> bytes;
        std::vector<std::size_t> ends;  // where each line ends in bytes
    };

    // A new chunk, each twice the one before up to a MiB, taking the line
    // composed so far along. A chunk holds 64 KiB or more of the report
    // unless it is the last.
    void make_room(std::size_t n) {
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

    std::vector<chunk> chunks_;
    std::size_t used_ = 0;        // bytes of the last chunk in use
    std::size_t capacity_ = 0;    // bytes of the last chunk
    std::size_t line_start_ = 0;  // where the line being composed starts in it
};

composed_report report;

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The 15 significant digits that %.15g rounds a positive normal `value` to,
// as an integer of 15 digits and the decimal exponent of its first; false
// when they cannot be told with certainty here. One scaling by an exact
// power of ten, rounded once, lands within 1/16 of value x 10^k (below 2^50
// a double's step is at most 1/8), so unless the scaled value lies within
// 1/16 of halfway between two integers, the nearer integer is the one the
// exact value rounds to. Values read from cards of at most 15 digits lie
// within 1/16 of an integer and always pass; the rest fall back.
bool fifteen_digits(double value, std::uint64_t& digits, int& exponent) {
    constexpr std::uint64_t lowest = 100000000000000u, limit = 1000000000000000u;
    // floor(log10(value)), or one less, from the binary exponent: 78913 /
    // 2^18 is log10(2) a little low.
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int binary = static_cast<int>(bits >> 52 & 0x7ff) - 1023;
    int e = binary >= 0 ? (binary * 78913) >> 18 : -((-binary * 78913 + (1 << 18) - 1) >> 18);
    for (int tries = 0; tries < 2; ++tries, ++e) {
        const int k = 14 - e;
        if (k > 22 || k < -22) return false;
        const double scaled = k >= 0 ? value * exact_powers_of_ten[k] : value / exact_powers_of_ten[-k];
        if (scaled >= static_cast<double>(limit)) continue;
        const double whole = std::floor(scaled);
        const double fraction = scaled - whole;  // exact
        if (fraction >= 0.4375 && fraction <= 0.5625) return false;  // too near halfway to tell
        const std::uint64_t m = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
        if (m >= limit) continue;
        if (m < lowest) return false;
        digits = m;
        exponent = e;
        return true;
    }
    return false;
}

// "00" to "99": decimal digits are written two at a time.
const std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Powers of ten as integers, for splitting digits.
constexpr std::uint64_t integer_powers_of_ten[] = {1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u,
                                                   100000000u, 1000000000u, 10000000000u, 100000000000u,
                                                   1000000000000u, 10000000000000u, 100000000000000u,
                                                   1000000000000000u};

// Writes the `width` decimal digits of `v` (below 10^width, leading zeros
// included) at `o`.
void write_digits(char* o, std::uint64_t v, std::size_t width) {
    char* p = o + width;
    while (p - o >= 2) {
        p -= 2;
        std::memcpy(p, &digit_pairs[static_cast<std::size_t>(v % 100) * 2], 2);
        v /= 100;
    }
    if (p > o) *--p = static_cast<char>('0' + v);
}

// Lays out the `count` significant digits of `m` (at most 15, the last not
// 0 unless m is), the first with the decimal exponent `exponent`, as %.15g
// does: fixed notation for exponents from -4 to 14, else d.ddde+XX with at
// least two exponent digits.
char* lay_out(char* o, bool negative, std::uint64_t m, std::size_t count, int exponent) {
    if (negative) *o++ = '-';
    if (exponent < -4 || exponent >= 15) {
        // The digits one place on, the first then moved before the point.
        write_digits(o + 1, m, count);
        o[0] = o[1];
        if (count > 1) {
            o[1] = '.';
            o += count + 1;
        } else {
            o += 1;
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
        if (magnitude >= 100) *o++ = static_cast<char>('0' + magnitude / 100);
        std::memcpy(o, &digit_pairs[(magnitude % 100) * 2], 2);
        return o + 2;
    }
    if (exponent < 0) {
        const std::size_t zeros = static_cast<std::size_t>(-exponent - 1);
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', zeros);
        write_digits(o + zeros, m, count);
        return o + zeros + count;
    }
    const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    if (count <= whole) {
        write_digits(o, m, count);
        std::memset(o + count, '0', whole - count);
        return o + whole;
    }
    const std::uint64_t split = integer_powers_of_ten[count - whole];
    write_digits(o, m / split, whole);
    o[whole] = '.';
    write_digits(o + whole + 1, m % split, count - whole);
    return o + count + 1;
}

// Drops the trailing zeros of the 15 digits of `m`; returns how many are left.
std::size_t strip_zeros(std::uint64_t& m) {
    std::size_t count = 15;
    for (std::size_t zeros : {8, 4, 2, 1}) {
        if (m % integer_powers_of_ten[zeros] == 0) {
            m /= integer_powers_of_ten[zeros];
            count -= zeros;
        }
    }
    return count;
}

// Writes `value` at `out` as printf's %.15g does and returns the end. The
// digits come from fifteen_digits when it is sure of them; else, when the
// shortest text that reads back as a normal double has at most 15
// significant digits, those are the digits %.15g prints (the double lies far
// closer to them than half a step of 15 digits). Both are laid out as %.15g
// lays them out. Any other double goes through the 15-digit conversion.
char* format_double(char* out, double value) {
    const bool negative = std::signbit(value);
    if (value == 0) {
        if (negative) *out++ = '-';
        *out = '0';
        return out + 1;
    }
    std::uint64_t m = 0;
    int exponent = 0;
    if (std::isnormal(value) && fifteen_digits(negative ? -value : value, m, exponent)) {
        const std::size_t count = strip_zeros(m);
        return lay_out(out, negative, m, count, exponent);
    }
    char shortest[32];
    const char* end = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific).ptr;
    const char* p = shortest + (negative ? 1 : 0);
    if (!std::isnormal(value) || *p < '0' || *p > '9')
        return std::to_chars(out, out + 64, value, std::chars_format::general, 15).ptr;
    std::size_t count = 1;
    m = static_cast<std::uint64_t>(*p++ - '0');
    if (*p == '.')
        for (++p; p < end && *p != 'e' && count <= 15; ++p, ++count) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    if (count > 15 || p >= end || *p != 'e') return std::to_chars(out, out + 64, value, std::chars_format::general, 15).ptr;
    std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
    return lay_out(out, negative, m, count, exponent);
}

// True when `n` bytes at `p` hold a byte outside printable ASCII (below
// 0x20, DEL, or 0x80 and above); eight bytes at a time: such a byte leaves
// a high bit in one of the words below (a byte of 0x80 or more in the word
// itself; one below 0x20 or equal to 0x7f, among bytes below 0x80, in the
// words derived from it).
bool has_unprintable_byte(const char* p, std::size_t n) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    std::size_t i = 0;
    for (std::uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, p + i, 8);
        const std::uint64_t del = w ^ (ones * 0x7f);
        if ((w | ((w - ones * 0x20) & ~w) | ((del - ones) & ~del)) & highs) return true;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) < 0x20 || static_cast<unsigned char>(p[i]) > 0x7e) return true;
    return false;
}

// Writes `text` at `o` with its unprintable bytes as \xNN; returns the end.
// Only hostile files come here, so it stays out of the common path.
[[gnu::cold, gnu::noinline]] char* put_escaped(char* o, const std::string& text) {
    const std::string shown = printable(text);
    std::memcpy(o, shown.data(), shown.size());
    return o + shown.size();
}

// Writes bytes taken from the file at `o` as a line can show them (every
// byte outside printable ASCII as \xNN); returns the end. FITS headers hold
// only printable ASCII, so a conforming file prints unchanged, while a
// hostile one can neither split a line nor send the terminal a control
// sequence, 7-bit or 8-bit (0x9b). Needs room for four times the text.
char* put_file_text(char* o, const std::string& text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    if (!has_unprintable_byte(p, n)) {
        std::memcpy(o, p, n);
        return o + n;
    }
    return put_escaped(o, text);
}

// Writes a number at `o` in the report's notation and returns the end:
// integers in decimal, doubles in general notation with 15 significant
// digits (as printf's %.15g).
template <typename Integer>
char* put_number(char* o, Integer value) {
    return std::to_chars(o, o + 24, value).ptr;
}
char* put_number(char* o, double value) { return format_double(o, value); }

// Writes "(re,im)" at `o`.
template <typename Part>
char* put_pair(char* o, const std::pair<Part, Part>& z) {
    *o++ = '(';
    o = put_number(o, z.first);
    *o++ = ',';
    o = put_number(o, z.second);
    *o++ = ')';
    return o;
}

// Appends text to the line being composed.
void put(const char* text, std::size_t n) { report.append(text, n); }
void put(const char* text) { put(text, std::strlen(text)); }
void put(char c) { put(&c, 1); }
template <typename Number>
void append(Number value) {
    report.keep(put_number(report.room(64), value));
}

// Ends the line with its newline and keeps it for the report.
void write_line() {
    put('\n');
    report.end_line();
}

// The string the line of the valued keyword at `pos` shows: its value,
// continued over the CONTINUE cards that follow when it ends in '&'.
const std::string& shown_string(const hdu_entry& entry, hdu_entry::position pos) {
    const std::string& value = pos->get_string();
    if (value.empty() || value.back() != '&') return value;
    static std::string joined;  // its storage serves every long string
    entry.long_string(pos, joined);
    return joined;
}

// "[type]=" for each DT_* code, the printed name between the brackets,
// padded so that each is copied whole.
struct type_bracket {
    char text[24];
    std::size_t size;
};
const std::array<type_bracket, data_type_count> type_brackets = [] {
    std::array<type_bracket, data_type_count> brackets{};
    for (std::int32_t dt = 0; dt < data_type_count; ++dt) {
        const std::string text = std::string("[") + data_type_name[dt] + "]=";
        std::memcpy(brackets[dt].text, text.data(), text.size());
        brackets[dt].size = text.size();
    }
    return brackets;
}();

// The line of the valued keyword at `pos`: NAME[type]=value, composed in
// place in the report.
void write_keyword_line(const hdu_entry& entry, hdu_entry::position pos) {
    const keyword_record& kr = *pos;
    const std::int32_t dt = kr.get_dt();
    const std::string& name = kr.get_name();
    const bool valued = dt != DT_UNKNOWN && !kr.is_null();
    const std::string* text = valued && dt == DT_STRING ? &shown_string(entry, pos) : nullptr;
    // Room for the name and string escaped, the brackets and any other value.
    char* o = report.room(4 * (name.size() + (text ? text->size() : 0)) + 96);
    o = put_file_text(o, name);
    std::memcpy(o, type_brackets[dt].text, sizeof type_brackets[dt].text);
    o += type_brackets[dt].size;
    if (valued) {
        switch (dt) {
            case DT_BOOL:
                if (kr.get_bool()) {
                    std::memcpy(o, "TRUE", 4);
                    o += 4;
                } else {
                    std::memcpy(o, "FALSE", 5);
                    o += 5;
                }
                break;
            case DT_INT: o = put_number(o, kr.get_int()); break;
            case DT_INT64: o = put_number(o, kr.get_int64()); break;
            case DT_DOUBLE: o = put_number(o, kr.get_double()); break;
            case DT_STRING: o = put_file_text(o, *text); break;
            case DT_COMPLEX_INT: o = put_pair(o, kr.get_complex_int()); break;
            case DT_COMPLEX_DOUBLE: o = put_pair(o, kr.get_complex_double()); break;
            default: VELMORA_ASSERT(0);
        }
    }
    *o++ = '\n';
    report.keep(o);
    report.end_line();
}

// Writes a line holding `prefix`, `size` and "B".
void write_size_line(const char* prefix, std::uint64_t size) {
    put(prefix);
    append(size);
    put('B');
    write_line();
}

}  // namespace

// One line per valued keyword: NAME[type]=value, in card order.
void list_keywords(const hdu_entry& entry) {
    for (auto pos = entry.krs_.begin(); pos != entry.krs_.end(); ++pos) {
        const keyword_record& kr = *pos;
        switch (kr.get_type()) {
            case KWRT_VALUE:
                write_keyword_line(entry, pos);
                break;
            case KWRT_END:
            case KWRT_COMMENT:
            case KWRT_HISTORY:
            case KWRT_BLANK:
            case KWRT_CONTINUE:
            case KWRT_COMMENTARY:
                break;
            default:
                VELMORA_ASSERT(0);
        }
    }
}

// The report of one HDU: its kind's title, its keywords, the size of its
// data, a binary table's heap, and an empty line.
void report_hdu(const hdu_entry& entry) {
    const hdu_kind& kind = hdu_kinds[entry.get_hdu_type()];
    const std::shared_ptr<hdu_data> hdu = entry.get_hdu();
    put(kind.title);
    write_line();
    list_keywords(entry);
    write_size_line("Data: ", kind.data_size(*hdu));
    if (kind.code == HT_BINTABLE) {
        const std::int32_t pcount = static_cast<const hdu_bintable&>(*hdu).pcount_;
        if (pcount != 0) {
            hdu_entry::position theap = entry.find_record("THEAP");
            std::int32_t offset = theap == entry.krs_.end() ? 0 : theap->get_int();
            put("Heap: ");
            append(pcount);
            put("B with offs=");
            append(offset);
            write_line();
        }
    }
    write_line();
}

// The report of every HDU a file kept, in file order.
void report_file(const fits_file& file) {
    for (const hdu_entry& entry : file.hdus_) report_hdu(entry);
}

// The one line that reports a failure: the path, the HDU and card at fault
// when there are any, the error's text and what it says of the fault.
std::string error_line(const std::string& path, const std::exception& e) {
    std::string line = "tessary: " + path + ": ";
    const error_location* at = location_of(e);
    if (at && at->hdu != 0) {
        line += "HDU " + std::to_string(at->hdu);
        if (at->card != 0) line += ", card " + std::to_string(at->card);
        line += ": ";
    }
    line += e.what();
    if (at && !at->detail.empty()) line += ": " + at->detail;
    return line;
}

// The file read, left to the end of the process: the storage it keeps for
// reuse (a long header's records and index) goes with the process at once
// rather than record by record.
fits_file* read_file = nullptr;

// True when standard output is a terminal, where a person watches the
// lines come; elsewhere the report goes out in large blocks.
bool output_is_terminal() {
#if defined(__unix__) || defined(__APPLE__)
    return ::isatty(STDOUT_FILENO) != 0;
#else
    return true;
#endif
}

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::cout << "Usage: tessary <FITS-file>" << std::endl;
        return 4;
    }
    const std::string path = argv[1];
    // The report's standard output is unbuffered: each write below goes out
    // whole, as though flushed after it.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // Every header is read before the first line is printed, so a bad file
    // leaves standard output empty. Each HDU's lines are composed as soon as
    // it has been read and checked, and its records are then released: what
    // is kept until the end is what will be printed. The report needs only
    // the data's sizes: the data is passed over (the file must still hold
    // it), never loaded.
    delete read_file;  // one an earlier call left, where main is called again in one process (the fuzzer)
    read_file = nullptr;
    try {
        read_file = new fits_file(path, RM_HEADERS_ONLY, report_hdu, KM_RELEASE_HDUS);
    } catch (const std::exception& e) {
        std::cerr << error_line(path, e) << std::endl;
        return 1;
    }

    // A report that could not be written (a full disk, a closed output) is a
    // failure, not a listing.
    if (!report.write(stdout, output_is_terminal())) {
        std::cerr << "tessary: " << path << ": cannot write the report: " << std::strerror(errno) << std::endl;
        return 1;
    }
    return 0;
}
