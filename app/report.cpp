// tessary - the report's lines: the title of each HDU, one line per valued
// keyword in its type's notation, the data and heap sizes, and the line
// that reports a failure.
#include "report.h"

#include "escaping.h"
#include "number_text.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace tessary {

using namespace velmora;

namespace {

// Writes a number at `o` in the report's notation and returns the end:
// integers in decimal, doubles in general notation with 15 significant
// digits (as printf's %.15g).
template <typename Integer>
char* put_number(char* o, Integer value) {
    return std::to_chars(o, o + 24, value).ptr;
}
char* put_number(char* o, double value) { return write_double(o, value); }

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
void put(report_text& out, const char* text) { out.append(text, std::strlen(text)); }
template <typename Number>
void append(report_text& out, Number value) {
    out.keep(put_number(out.room(64), value));
}

// Ends the line with its newline and keeps it for the report.
void write_line(report_text& out) {
    out.append("\n", 1);
    out.end_line();
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
void write_keyword_line(report_text& out, const hdu_entry& entry, hdu_entry::position pos) {
    const keyword_record& kr = *pos;
    const std::int32_t dt = kr.get_dt();
    const std::string& name = kr.get_name();
    const bool valued = dt != DT_UNKNOWN && !kr.is_null();
    const std::string* text = valued && dt == DT_STRING ? &shown_string(entry, pos) : nullptr;
    // Room for the name and string escaped, the brackets and any other value.
    char* o = out.room(4 * (name.size() + (text ? text->size() : 0)) + 96);
    o = write_printable(o, name);
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
            case DT_STRING: o = write_printable(o, *text); break;
            case DT_COMPLEX_INT: o = put_pair(o, kr.get_complex_int()); break;
            case DT_COMPLEX_DOUBLE: o = put_pair(o, kr.get_complex_double()); break;
            default: VELMORA_ASSERT(0);
        }
    }
    *o++ = '\n';
    out.keep(o);
    out.end_line();
}

// Writes a line holding `prefix`, `size` and "B".
void write_size_line(report_text& out, const char* prefix, std::uint64_t size) {
    put(out, prefix);
    append(out, size);
    put(out, "B");
    write_line(out);
}

}  // namespace

void list_keywords(report_text& out, const hdu_entry& entry) {
    for (auto pos = entry.krs_.begin(); pos != entry.krs_.end(); ++pos) {
        const keyword_record& kr = *pos;
        switch (kr.get_type()) {
            case KWRT_VALUE:
                write_keyword_line(out, entry, pos);
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

void report_hdu(report_text& out, const hdu_entry& entry) {
    const hdu_kind& kind = hdu_kinds[entry.get_hdu_type()];
    const std::shared_ptr<hdu_data> hdu = entry.get_hdu();
    put(out, kind.title);
    write_line(out);
    list_keywords(out, entry);
    write_size_line(out, "Data: ", kind.data_size(*hdu));
    if (kind.code == HT_BINTABLE) {
        const std::int32_t pcount = static_cast<const hdu_bintable&>(*hdu).pcount_;
        if (pcount != 0) {
            hdu_entry::position theap = entry.find_record("THEAP");
            std::int32_t offset = theap == entry.krs_.end() ? 0 : theap->get_int();
            put(out, "Heap: ");
            append(out, pcount);
            put(out, "B with offs=");
            append(out, offset);
            write_line(out);
        }
    }
    write_line(out);
}

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

}  // namespace tessary
