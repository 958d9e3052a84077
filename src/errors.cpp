// velmora::fits - errors: the failed precondition, located errors, the rule
// by which an error is placed in the input, a record as a detail shows it,
// and every helper that raises an error.
#include "internal.h"
#include "number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace velmora {

void assertion_failed(const char* expr, const char* file, int line) {
    const std::string report =
        std::string("Assertion failed: ") + expr + ", file " + file + ", line " + std::to_string(line) + "\n";
    std::fputs(report.c_str(), stderr);
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------------------
// Located errors
// ---------------------------------------------------------------------------

located_error::~located_error() = default;

void located_error::at_card(std::int32_t card) {
    where_.card = card;
    card_known_ = true;
}

void located_error::at_offset(std::uint64_t offset) {
    where_.offset = offset;
    offset_known_ = true;
}

void located_error::about(const std::string& keyword, const std::string& detail) {
    where_.keyword = keyword;
    where_.detail = detail;
}

void located_error::place(std::int32_t hdu, std::int32_t card, std::uint64_t offset) {
    where_.hdu = hdu;
    if (!card_known_) at_card(card);
    if (!offset_known_) at_offset(offset);
    placed_ = true;
}

read_error::read_error(const std::string& text) : std::ios_base::failure(text), text_(text) {}

const char* read_error::what() const noexcept { return text_.c_str(); }

const error_location* location_of(const std::exception& e) noexcept {
    const located_error* located = dynamic_cast<const located_error*>(&e);
    return located ? &located->where() : nullptr;
}

// ---------------------------------------------------------------------------
// Where an error arose
// ---------------------------------------------------------------------------
//
// An error says which HDU, which card of its header and which input offset
// it is about, and which keyword, with a detail for the user. They are
// written in two steps, and the first writer of each wins:
//
// 1. The helper below that raises the error writes what only it knows: a
//    keyword looked up after END names its own card (name_record); data the
//    input does not hold names no card and the offset where the input ended
//    or the data starts; a missing keyword names no card; a card's value
//    refused names its keyword and the record as text. A card parser error
//    writes nothing: the card is the one just read.
// 2. The reader catches every error of the HDU it is reading, once, and
//    places it (place_in_hdu): it writes the HDU's number, and the card just
//    read with its offset where step 1 named no card (a card named in step
//    1 gets its offset from it). Where no detail was written, the text of
//    the card just read becomes the detail.
//
// An error of no HDU (the input cannot be opened or read) is complete when
// raised (cannot_read) and never placed. So a helper that knows better than
// the reader says so first, and the reader never overwrites it.

void place_in_hdu(located_error& e, std::int32_t hdu, std::int32_t cards_read, std::uint64_t hdu_start,
                  const char* last_card) {
    const bool card_known = error_access::card_known(e);
    const std::int32_t card = card_known ? e.where().card : cards_read;
    const std::uint64_t offset = hdu_start + card_size * static_cast<std::uint64_t>(card > 0 ? card - 1 : 0);
    if (!card_known && card > 0 && e.where().detail.empty() && last_card) {
        // The card's text, without the blanks and zero bytes that end it.
        std::size_t length = card_size;
        while (length > 0 && (last_card[length - 1] == ' ' || last_card[length - 1] == '\0')) --length;
        std::size_t name = 0;
        while (name < 8 && last_card[name] != ' ') ++name;
        const bool zeros = std::memchr(last_card + length, '\0', card_size - length) != nullptr;
        error_access::about(e, std::string(last_card, name), length != 0 ? printable(std::string(last_card, length))
                                                             : zeros     ? "a card of blanks and zero bytes"
                                                                         : "a blank card");
    }
    error_access::place(e, hdu, card, offset);
}

// ---------------------------------------------------------------------------
// What a detail shows (its bytes escaped by printable(), src/escaping.cpp)
// ---------------------------------------------------------------------------

namespace {

// A double as the user wrote it, near enough: in the report's notation (15
// significant digits), and a decimal point where it shows none (10.0, not
// 10).
std::string double_text(double value) {
    char text[32];
    std::string shown(text, write_double(text, value));
    if (shown.find_first_of(".eni") == std::string::npos) shown += ".0";
    return shown;
}

// True when `kr` holds an integer written beyond 64 bits (read as the
// nearest double).
bool integer_beyond_64_bits(const keyword_record& kr) {
    return kr.dt_ == DT_DOUBLE && std::floor(kr.double_value_) == kr.double_value_ &&
           std::fabs(kr.double_value_) >= 9223372036854775808.0;
}

// What a keyword of type `dt` must hold, in the user's words, when `kr` holds
// something else.
const char* type_wanted(std::int32_t dt, const keyword_record& kr) {
    // The types a keyword is required to have; any other is a fault of the caller.
    switch (dt) {
        case DT_BOOL: return "a logical value is required";
        case DT_INT:
            return kr.dt_ == DT_INT64 || integer_beyond_64_bits(kr) ? "a 32-bit integer is required"
                                                                     : "an integer is required";
        case DT_DOUBLE: return "a floating value is required";
        case DT_STRING: return "a string is required";
    }
    VELMORA_ASSERT(!"a type a keyword is required to have");
    return "";
}

}  // namespace

// "NAME = value" of a valued record, the value as a card would hold it.
std::string record_text(const keyword_record& kr) {
    std::string text = kr.name_;
    if (kr.type_ != KWRT_VALUE && kr.type_ != KWRT_CONTINUE) return text;
    if (kr.dt_ == DT_UNKNOWN) return text + " without a value";
    text += " = ";
    if (kr.dt_ == DT_STRING) {
        text += '\'';
        for (char c : kr.string_value_) text += c == '\'' ? "''" : std::string(1, c);
        return text + '\'';
    }
    // Every value type a card can hold has its case; an element type, or a
    // type added without one here, is a fault of the library.
    switch (kr.dt_) {
        case DT_BOOL: return text + (kr.bool_value_ ? "T" : "F");
        case DT_INT: return text + std::to_string(kr.int_value_);
        case DT_INT64: return text + std::to_string(kr.int64_value_);
        case DT_DOUBLE: return text + double_text(kr.double_value_);
        case DT_COMPLEX_INT:
            return text + "(" + std::to_string(kr.complex_int_value_.first) + ", " +
                   std::to_string(kr.complex_int_value_.second) + ")";
        case DT_COMPLEX_DOUBLE:
            return text + "(" + double_text(kr.complex_double_value_.first) + ", " +
                   double_text(kr.complex_double_value_.second) + ")";
        case DT_UNKNOWN: case DT_STRING:  // told above
        case DT_BYTE: case DT_INT16: case DT_FLOAT:  // element types only
            break;
    }
    VELMORA_ASSERT(!"a value type a card holds");
    return text;
}

// ---------------------------------------------------------------------------
// Raising errors
// ---------------------------------------------------------------------------

[[noreturn]] void fail(const char* message) { throw format_error(message); }

[[noreturn]] void fail_about(const std::string& keyword, const std::string& detail, const char* message) {
    format_error e(message);
    error_access::about(e, keyword, printable(detail));
    throw e;
}

[[noreturn]] void fail_position() { throw format_range_error("invalid string position"); }

[[noreturn]] void cannot_read(const std::string& text) {
    read_error e(text);
    error_access::at_no_hdu(e);
    throw e;
}

[[noreturn]] void refuse(const keyword_record& kr, const char* message) {
    fail_about(kr.name_, record_text(kr), message);
}

// A commentary card where a valued keyword must stand, another keyword, or
// the keyword with a value of another type.
[[noreturn]] void refuse_mandatory(const keyword_record& kr, const std::string& name, std::int32_t dt) {
    if (kr.type_ != KWRT_VALUE) {
        const std::string found = kr.name_.empty() ? std::string("a blank keyword") : kr.name_;
        fail_about(kr.name_, found + " where " + name + " is required", "Unexpected comment");
    }
    if (kr.name_ != name) fail_about(kr.name_, kr.name_ + " where " + name + " is required", "Unexpected keyword");
    fail_about(kr.name_, record_text(kr) + ": " + type_wanted(dt, kr), "Unexpected keyword value type");
}

void about_record(located_error& e, const keyword_record& kr) {
    error_access::about(e, kr.name_, printable(record_text(kr)));
}

void name_record(located_error& e, const hdu_entry& entry, hdu_entry::position pos, const std::string& detail) {
    error_access::about(e, pos->name_, printable(detail));
    error_access::at_card(e, static_cast<std::int32_t>(pos - entry.krs_.begin()) + 1);
}

[[noreturn]] void refuse_at(const hdu_entry& entry, hdu_entry::position pos, const char* message) {
    format_error e(message);
    name_record(e, entry, pos, record_text(*pos));
    throw e;
}

[[noreturn]] void refuse_type_at(const hdu_entry& entry, hdu_entry::position pos, std::int32_t dt) {
    format_error e("Unexpected keyword value type");
    name_record(e, entry, pos, record_text(*pos) + ": " + type_wanted(dt, *pos));
    throw e;
}

[[noreturn]] void keyword_missing(const std::string& name) {
    format_error e("Not conforming to the standard");
    error_access::about(e, name, printable(name) + " is missing");
    error_access::at_card(e, 0);
    throw e;
}

namespace {

// Reading failures, in the words the tool prints.
const char* const ends_in_header = "file ends inside a header";
const char* const ends_in_data = "file ends inside the data";

}  // namespace

[[noreturn]] void input_ends_before_first_block(std::uint64_t end) {
    read_error e(ends_in_header);
    error_access::at_card(e, 1);
    error_access::about(e, "", "the input ends at byte " + std::to_string(end) + ", inside the first block");
    throw e;
}

[[noreturn]] void input_ends_in_header(std::int32_t next_card, std::uint64_t end) {
    read_error e(ends_in_header);
    error_access::at_card(e, next_card);
    error_access::about(e, "", "no END card before the input ends at byte " + std::to_string(end));
    throw e;
}

[[noreturn]] void input_ends_in_data(std::uint64_t from, std::uint64_t n, std::uint64_t to, std::uint64_t end) {
    read_error e(ends_in_data);
    error_access::at_card(e, 0);
    error_access::at_offset(e, end);
    // A size of 2^64 bytes or more is held saturated, and said so.
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    std::string need = n == most ? "2^64 or more bytes" : std::to_string(n) + " bytes";
    need += " from byte " + std::to_string(from);
    if (to != most) need += " (to byte " + std::to_string(to) + " with padding)";
    error_access::about(e, "", need + "; the input ends at byte " + std::to_string(end));
    throw e;
}

// Refused before anything is allocated for it: half the address space of a
// 32-bit build is the most one buffer there holds.
[[noreturn]] void data_too_large(std::uint64_t from, std::uint64_t n, std::uint64_t most) {
    read_error e("data too large to hold in memory");
    error_access::at_card(e, 0);
    error_access::at_offset(e, from);
    error_access::about(e, "", std::to_string(n) + " bytes from byte " + std::to_string(from) + "; this build holds at most " +
                                   std::to_string(most) + " bytes in one buffer");
    throw e;
}

}  // namespace velmora
