// velmora::fits - errors: the failed precondition, located errors and
// their texts, the helpers that raise them, and a record as a detail shows it.
#include "internal.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace velmora {

void assertion_failed(const char* expr, const char* file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}

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

std::string printable(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(bytes.size());
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7e) {
            const char escaped[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
            shown.append(escaped, 4);
        } else {
            shown += c;
        }
    }
    return shown;
}

[[noreturn]] void fail(const char* message) { throw format_error(message); }

// A fault of the keyword `keyword`, with what the user is told about it.
[[noreturn]] void fail_about(const std::string& keyword, const std::string& detail, const char* message) {
    format_error e(message);
    error_access::about(e, keyword, printable(detail));
    throw e;
}

namespace {

// A double as the user wrote it, near enough: 15 significant digits, and a
// decimal point where they would show none (10.0, not 10). std::to_chars
// writes them as printf's %.15g does in the "C" locale, whatever locale the
// program has set.
std::string double_text(double value) {
    char text[32];
    std::string shown(text, std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15).ptr);
    if (shown.find_first_of(".eni") == std::string::npos) shown += ".0";
    return shown;
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

}  // namespace velmora
