// tessary - lists every header of a FITS file with typed values, the size of
// each HDU's data and the heap of each binary table.
#include "fits.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace velmora;

namespace {

// The report composed so far: its lines in order, each with its newline,
// held in chunks so that growing it never copies what it already holds.
class composed_report {
public:
    // Keeps one whole line.
    void keep(const std::string& text) {
        if (chunks_.empty() || chunks_.back().text.capacity() - chunks_.back().text.size() < text.size()) {
            // Each chunk twice the one before, up to a MiB: a short report stays small.
            std::size_t size = chunks_.empty() ? first_chunk : std::min(2 * chunks_.back().text.capacity(), last_chunk);
            chunks_.emplace_back();
            chunks_.back().text.reserve(std::max(size, text.size()));
        }
        chunk& last = chunks_.back();
        last.text += text;
        last.ends.push_back(last.text.size());
    }

    // Writes every line to `out`, each with one write and a flush; false,
    // with errno telling why, as soon as the output fails.
    bool write(std::FILE* out) const {
        for (const chunk& c : chunks_) {
            std::size_t begin = 0;
            for (std::size_t end : c.ends) {
                std::size_t n = end - begin;
                if (std::fwrite(c.text.data() + begin, 1, n, out) != n || std::fflush(out) != 0) return false;
                begin = end;
            }
        }
        return true;
    }

    // The whole text, and a fresh start.
    std::string text() const {
        std::string all;
        for (const chunk& c : chunks_) all += c.text;
        return all;
    }
    void clear() { chunks_.clear(); }

private:
    static constexpr std::size_t first_chunk = std::size_t{1} << 12;
    static constexpr std::size_t last_chunk = std::size_t{1} << 20;
    struct chunk {
        std::string text;
        std::vector<std::size_t> ends;  // where each line ends in text
    };
    std::vector<chunk> chunks_;
};

// The report line being composed, and the lines composed before it.
std::string line;
composed_report report;

// Appends a number in the report's notation: integers in decimal, doubles in
// general notation with 15 significant digits (as printf's %.15g).
template <typename Integer>
void append(Integer value) {
    char text[24];
    line.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}
void append(double value) {
    char text[64];
    line.append(text, std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15).ptr);
}

// Ends the line with its newline and keeps it for the report.
void write_line() {
    line += '\n';
    report.keep(line);
    line.clear();
}

// Appends the value of a valued keyword in the report's notation.
void append_value(const keyword_record& kr, std::int32_t dt) {
    switch (dt) {
        case DT_BOOL:
            line += kr.get_bool() ? "TRUE" : "FALSE";
            break;
        case DT_INT:
            append(kr.get_int());
            break;
        case DT_DOUBLE:
            append(kr.get_double());
            break;
        case DT_STRING:
            line += kr.get_string();
            break;
        case DT_COMPLEX_INT: {
            const std::pair<std::int32_t, std::int32_t>& z = kr.get_complex_int();
            line += '(';
            append(z.first);
            line += ',';
            append(z.second);
            line += ')';
            break;
        }
        case DT_COMPLEX_DOUBLE: {
            const std::pair<double, double>& z = kr.get_complex_double();
            line += '(';
            append(z.first);
            line += ',';
            append(z.second);
            line += ')';
            break;
        }
        default:
            VELMORA_ASSERT(0);
    }
}

// Writes a line holding `prefix`, `size` and "B".
void write_size_line(const char* prefix, std::uint64_t size) {
    line += prefix;
    append(size);
    line += 'B';
    write_line();
}

}  // namespace

// One line per valued keyword: NAME[type]=value, in card order.
void list_keywords(const hdu_entry& entry) {
    for (const keyword_record& kr : entry.krs_) {
        switch (kr.get_type()) {
            case KWRT_VALUE: {
                std::int32_t dt = kr.get_dt();
                line += kr.get_name();
                line += '[';
                line += data_type_name[dt];
                line += "]=";
                if (dt != DT_UNKNOWN && !kr.is_null()) append_value(kr, dt);
                write_line();
                break;
            }
            case KWRT_END:
            case KWRT_COMMENT:
            case KWRT_HISTORY:
            case KWRT_BLANK:
            case KWRT_CONTINUE:
                break;
            default:
                VELMORA_ASSERT(0);
        }
    }
}

// The report of a primary or IMAGE HDU under `title`.
void report_simple_hdu(const hdu_entry& entry, const std::string& title) {
    std::shared_ptr<hdu_data> hdu = entry.get_hdu();
    const hdu_simple_parent& simple = static_cast<const hdu_simple_parent&>(*hdu);
    line += title;
    write_line();
    list_keywords(entry);
    switch (simple.get_data_type()) {
        case DT_BYTE: case DT_INT16: case DT_INT: case DT_INT64: case DT_FLOAT: case DT_DOUBLE:
            break;
        default:
            VELMORA_ASSERT(0);
    }
    write_size_line("Data: ", simple.data_size());
}

// The report of a BINTABLE HDU: keywords, table size and heap.
void report_bintable_hdu(const hdu_entry& entry) {
    std::shared_ptr<hdu_data> hdu = entry.get_hdu();
    const hdu_bintable& table = static_cast<const hdu_bintable&>(*hdu);
    line += "BinTable";
    write_line();
    list_keywords(entry);

    std::uint64_t naxis1 = static_cast<std::uint64_t>(entry.find_record("NAXIS1")->get_int());
    write_size_line("Data: ", naxis1 * table.rows_.size());

    std::int32_t pcount = entry.find_record("PCOUNT")->get_int();
    if (pcount == 0) return;
    hdu_entry::position theap = entry.find_record("THEAP");
    std::int32_t offset = theap == entry.krs_.end() ? 0 : theap->get_int();
    line += "Heap: ";
    append(pcount);
    line += "B with offs=";
    append(offset);
    write_line();
}

// The report of one HDU, followed by an empty line.
void report_hdu(const hdu_entry& entry) {
    switch (entry.get_hdu_type()) {
        case HT_PRIMARY:
            report_simple_hdu(entry, "Primary");
            break;
        case HT_IMAGE:
            report_simple_hdu(entry, "Image");
            break;
        case HT_BINTABLE:
            report_bintable_hdu(entry);
            break;
        default:
            std::cerr << "Unknown FITS extension" << std::endl;
    }
    write_line();
}

// The report of every HDU a file kept, in file order.
void report_file(const fits_file& file) {
    for (const hdu_entry& entry : file.hdus_) report_hdu(entry);
}

int main(int argc, char* argv[]) {
    // Standard output is fully buffered and flushed after every line, so
    // each line goes out in one write, to a terminal as well.
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    if (argc < 2) {
        std::cout << "Usage: tessary <FITS-file>" << std::endl;
        return 4;
    }
    const std::string path = argv[1];

    // Every header is read before the first line is printed, so a bad file
    // leaves standard output empty. Each HDU's lines are composed as soon as
    // it has been read and checked, and its records are then released: what
    // is kept until the end is what will be printed. The report needs only
    // the data's sizes: the data is passed over (the file must still hold
    // it), never loaded.
    try {
        fits_file file(path, RM_HEADERS_ONLY, report_hdu, KM_RELEASE_HDUS);
    } catch (const std::exception& e) {
        std::cerr << "tessary: " << path << ": " << e.what() << std::endl;
        return 1;
    }

    // A report that could not be written (a full disk, a closed output) is a
    // failure, not a listing.
    if (!report.write(stdout)) {
        std::cerr << "tessary: " << path << ": cannot write the report: " << std::strerror(errno) << std::endl;
        return 1;
    }
    return 0;
}
