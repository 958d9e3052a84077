// Fuzz target: one header card.
//
// The input, cut or blank-filled to exactly 80 bytes, is parsed by
// keyword_record::parse; every accessor that the record's type and data type
// allow is then read, the record goes through the name index of an entry, and
// the tool lists it as it would list any keyword. The whole input, unpadded,
// is also read by parse_number from its first position. A std::logic_error
// from the parser is an expected outcome; anything else is a finding.
#include "fits.h"

#include "finding.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
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

#include "report.h"

namespace {

using namespace velmora;

// The integer whose sign and digits start at `text`, as the listing must
// show it: no '+', no leading zeros, no "-0".
std::string own_digits(const char* text) {
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    while (*text == '0' && text[1] >= '0' && text[1] <= '9') ++text;
    std::string digits;
    while (*text >= '0' && *text <= '9') digits += *text++;
    return (negative && digits != "0" ? "-" : "") + digits;
}

// The number of the card from `pos` (after any blanks) as the C library
// reads it in the "C" locale, which the fuzzer never leaves: strtod, D and
// d being E; an integer within 64 bits (a complex part) by strtoll, then
// converted, so that -0 is 0. The card parsed, so the number is followed by
// a blank, '/', ',', ')' or the card's end, where strtod stops too.
double c_library_number(const std::string& card, std::size_t pos) {
    std::string text = card.substr(pos);
    for (char& c : text)
        if (c == 'D' || c == 'd') c = 'e';
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (std::string(text.c_str(), static_cast<const char*>(end)).find_first_of(".eE") != std::string::npos) return value;
    errno = 0;
    const long long integer = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 ? static_cast<double>(integer) : value;
}

// Reads the value through the accessor of its data type.
void read_value(const keyword_record& kr) {
    switch (kr.get_dt()) {
        case DT_BOOL: (void)kr.get_bool(); break;
        case DT_INT: (void)kr.get_int(); break;
        case DT_INT64:
            if (kr.get_int64() >= INT32_MIN && kr.get_int64() <= INT32_MAX) finding("int64 value within 32 bits");
            break;
        case DT_DOUBLE: (void)kr.get_double(); break;
        case DT_STRING:
            // A value of blanks only is the empty string, not a null value.
            if (!kr.get_string().empty() && kr.get_string().back() == ' ')
                finding("string value with a trailing blank");
            break;
        case DT_COMPLEX_INT: (void)kr.get_complex_int(); break;
        case DT_COMPLEX_DOUBLE: (void)kr.get_complex_double(); break;
        default: finding("non-null value of a data type a card cannot have");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // parse_number never throws, never moves past the text, and gives the
    // value the C library reads from the same characters (D and d being E).
    {
        std::size_t pos = 0;
        std::int64_t int_value = 0;
        double double_value = 0.0;
        std::int32_t dt = parse_number(input, pos, int_value, double_value);
        if ((dt != DT_INT && dt != DT_INT64 && dt != DT_DOUBLE) || pos > input.size())
            finding("parse_number out of bounds");
        if (dt != DT_DOUBLE && (dt == DT_INT) != (int_value >= INT32_MIN && int_value <= INT32_MAX))
            finding("integer of the wrong width");
        std::string number = input.substr(0, pos);
        if (number.find('\0') == std::string::npos) {
            if (dt == DT_DOUBLE) {
                for (char& c : number)
                    if (c == 'D' || c == 'd') c = 'e';
                double expected = std::strtod(number.c_str(), nullptr);
                if (std::memcmp(&expected, &double_value, sizeof expected) != 0) finding("floating value misread");
            } else if (pos != 0) {
                errno = 0;
                long long expected = std::strtoll(number.c_str(), nullptr, 10);
                if (errno != 0 || expected != int_value) finding("integer value misread");
            }
        }
    }

    std::string card = input.substr(0, card_size);
    card.resize(card_size, ' ');

    hdu_entry entry(HT_PRIMARY);
    keyword_record kr;
    try {
        kr.parse(entry, card);
    } catch (const std::logic_error&) {
        return 0;
    }

    const bool hierarch = kr.name_.compare(0, 9, "HIERARCH ") == 0 && kr.type_ == KWRT_VALUE;
    if (!hierarch && (kr.name_.size() > 8 || kr.name_.find(' ') != std::string::npos)) finding("name beyond columns 1-8");
    if (hierarch && (kr.name_.size() < 10 || kr.name_[9] == ' ' || kr.name_.back() == ' ' ||
                     kr.name_.find('=') != std::string::npos || card.find(kr.name_.substr(9), 9) == std::string::npos))
        finding("HIERARCH keyword other than the card's text before its '='");
    // Where the value is read from: column 11, or after a HIERARCH card's '='.
    const std::size_t value_from = hierarch ? card.find('=', 9) + 1 : 10;
    if (kr.comment_.size() > card_size - 8) finding("comment longer than the card");
    switch (kr.get_type()) {
        case KWRT_VALUE:
            (void)kr.get_name();
            if (!kr.is_null()) read_value(kr);
            else if (kr.get_dt() != DT_UNKNOWN && kr.get_dt() != DT_STRING) finding("null value of a typed keyword");
            break;
        case KWRT_CONTINUE:
            if (kr.dt_ == DT_STRING && !kr.is_null_) (void)kr.get_string();
            break;
        case KWRT_END:
        case KWRT_COMMENT:
        case KWRT_HISTORY:
        case KWRT_BLANK:
        case KWRT_COMMENTARY:
            if (kr.dt_ != DT_UNKNOWN || !kr.is_null_) finding("commentary card with a value");
            break;
        default:
            finding("card left unclassified");
    }

    // The record in an entry, and the tool's line for it.
    entry.add_record(kr);
    hdu_entry::position found = entry.find_record(kr.name_);
    if (kr.type_ == KWRT_VALUE && found == entry.krs_.end()) finding("valued keyword missing from the name index");
    if (kr.type_ != KWRT_VALUE && found != entry.krs_.end()) finding("commentary card in the name index");

    tessary::report_text report;
    tessary::list_keywords(report, entry);
    const std::string text = report.text();
    if (kr.type_ == KWRT_VALUE ? text.empty() || text.back() != '\n' : !text.empty())
        finding("listing line missing or unexpected");
    // A double is the value the C library ("C" locale) reads from the card's
    // own text, and is listed as printf's %.15g writes it.
    if (kr.type_ == KWRT_VALUE && !kr.is_null_ && (kr.dt_ == DT_DOUBLE || kr.dt_ == DT_COMPLEX_DOUBLE)) {
        const std::size_t start = card.find_first_not_of(' ', value_from);
        double value = 0.0, second = 0.0;
        if (kr.dt_ == DT_DOUBLE) {
            value = c_library_number(card, start);
        } else {
            const std::size_t comma = card.find(',', start);
            value = c_library_number(card, start + 1);
            second = c_library_number(card, comma + 1);
        }
        const double held = kr.dt_ == DT_DOUBLE ? kr.double_value_ : kr.complex_double_value_.first;
        if (std::memcmp(&held, &value, sizeof value) != 0 ||
            (kr.dt_ == DT_COMPLEX_DOUBLE && std::memcmp(&kr.complex_double_value_.second, &second, sizeof second) != 0))
            finding("floating value other than the card's text");
        char expected[160];
        if (kr.dt_ == DT_DOUBLE)
            std::snprintf(expected, sizeof expected, "%.15g\n", value);
        else
            std::snprintf(expected, sizeof expected, "(%.15g,%.15g)\n", value, second);
        if (text.substr(text.rfind("]=") + 2) != expected) finding("double listed other than printf writes it");
    }
    // An integer is listed as the card's own digits, whatever its size.
    if (kr.type_ == KWRT_VALUE && (kr.dt_ == DT_INT || kr.dt_ == DT_INT64)) {
        const std::string listed = text.substr(text.rfind("]=") + 2);
        const std::size_t start = card.find_first_not_of(' ', value_from);
        if (listed != own_digits(card.c_str() + start) + "\n") finding("integer listed other than the card's digits");
    }
    return 0;
}
