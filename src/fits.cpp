// velmora::fits - implementation. Sections follow the public header.
#include "fits.h"

#include "byte_source.h"
#include "reuse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace velmora {

// ---------------------------------------------------------------------------
// Preconditions
// ---------------------------------------------------------------------------

void assertion_failed(const char* expr, const char* file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------------------
// Constants and enumerations
// ---------------------------------------------------------------------------

const char* const data_type_name[data_type_count] = {
    "unknown", "logical", "byte",   "int16",       "int32",         "int64",
    "float",   "double",  "string", "complex int", "complex double"};

const std::uint32_t data_type_size[data_type_count] = {0, 1, 1, 2, 4, 8, 4, 8, 1, 8, 16};

const std::int32_t column_type_width[column_type_count] = {0, 1, 0, 1, 2, 4, 8, 1, 4, 8, 8, 16, 0, 0};

namespace {

// Multiplies two sizes, sticking at the largest value instead of wrapping.
std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

// Adds two sizes, sticking at the largest value instead of wrapping.
std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    if (b > std::numeric_limits<std::uint64_t>::max() - a)
        return std::numeric_limits<std::uint64_t>::max();
    return a + b;
}

// Rounds a byte count up to whole blocks (saturating).
std::uint64_t round_up_to_block(std::uint64_t n) {
    std::uint64_t blocks = n / block_size + (n % block_size != 0 ? 1 : 0);
    return saturating_mul(blocks, block_size);
}

// Reading failures, in the words the tool prints.
const char* const ends_in_header = "file ends inside a header";
const char* const ends_in_data = "file ends inside the data";

}  // namespace

// ---------------------------------------------------------------------------
// Errors
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

std::string printable(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(bytes.size());
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            const char escaped[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
            shown.append(escaped, 4);
        } else {
            shown += c;
        }
    }
    return shown;
}

// ---------------------------------------------------------------------------
// Card parser
// ---------------------------------------------------------------------------

namespace {

constexpr std::size_t name_field = 8;     // columns 1-8
constexpr std::size_t value_column = 10;  // column 11, 0-based

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The character at `pos`, or NUL past the end of the card.
char at(const std::string& card, std::size_t pos) { return pos < card.size() ? card[pos] : '\0'; }

// Eight blanks, as one word.
constexpr std::uint64_t blank_word = 0x2020202020202020u;

// First position at or after `pos` that holds no blank, or npos.
std::size_t skip_blanks(const std::string& card, std::size_t pos) {
    const std::size_t n = card.size();
    // Blank runs (a value right-justified to column 30) are passed eight at
    // a time, and on a little-endian machine the first other byte of a word
    // is found at once.
    for (std::uint64_t word; pos + 8 <= n; pos += 8) {
        std::memcpy(&word, card.data() + pos, 8);
        if (word != blank_word) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return pos + static_cast<std::size_t>(__builtin_ctzll(word ^ blank_word)) / 8;
#else
            break;
#endif
        }
    }
    for (; pos < n; ++pos)
        if (card[pos] != ' ') return pos;
    return std::string::npos;
}

// True when `name` is exactly the literal `word`.
template <std::size_t N>
bool is_word(const std::string& name, const char (&word)[N]) {
    return name.size() == N - 1 && std::memcmp(name.data(), word, N - 1) == 0;
}

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of the eight decimal digits at `p`: on a little-endian machine
// in three multiplications, the digits taken as one word.
std::uint64_t eight_digits(const char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t w = 0;
    std::memcpy(&w, p, sizeof w);
    w -= 0x3030303030303030u;
    w = w * 10 + (w >> 8);  // pairs of digits
    return (((w & 0x000000ff000000ffu) * (100 + (std::uint64_t{1000000} << 32))) +
            (((w >> 16) & 0x000000ff000000ffu) * (1 + (std::uint64_t{10000} << 32)))) >> 32;
#else
    std::uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value = value * 10 + static_cast<std::uint64_t>(p[k] - '0');
    return value;
#endif
}

// The nearest double of a number's text (`length` bytes at `text`: sign,
// digits, point, exponent), the exponent letter at `letter` (npos: none)
// read as E, through the C library. A number on a card is copied to the
// stack for it.
double text_to_double(const char* text, std::size_t length, std::size_t letter) {
    char copy[card_size + 1];
    std::string long_copy;
    char* number = copy;
    if (length > card_size) {
        long_copy.assign(text, length);
        number = &long_copy[0];
    } else {
        std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    if (letter < length) number[letter] = 'e';
    return std::strtod(number, nullptr);
}

// Converts a number to the nearest double, given its text (as for
// text_to_double), the value of its first significant digits (at most 19),
// their count and the decimal exponent of the last of them. With at most 15
// digits and a small exponent both factors are exact doubles and one
// multiplication or division rounds correctly; anything else goes through
// the C library.
double decimal_to_double(const char* text, std::size_t length, std::size_t letter, bool negative,
                         std::uint64_t mantissa, std::size_t digits, int exponent) {
    if (digits <= 15 && exponent >= -22 && exponent <= 22) {
        double value = static_cast<double>(mantissa);
        value = exponent < 0 ? value / exact_powers_of_ten[-exponent] : value * exact_powers_of_ten[exponent];
        return negative ? -value : value;
    }
    return text_to_double(text, length, letter);
}

// Sets a record's string to `n` bytes of a card: in the storage it has when
// that is large enough (a record used again), else at its exact size.
void assign_exact(std::string& text, const char* bytes, std::size_t n) {
    if (text.capacity() >= n) {
        text.clear();
        text.append(bytes, n);  // the card never overlaps the record's strings
    } else {
        text = std::string(bytes, n);
    }
}

// Removes trailing blanks in place.
void trim_right(std::string& text) {
    std::size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
}

// Reads an optionally signed decimal integer, saturated to 32 bits. Returns
// false, leaving `pos`, when no digit follows the white space and sign.
bool read_decimal(const std::string& text, std::size_t& pos, std::int32_t& value) {
    std::size_t i = pos;
    while (is_space(at(text, i))) ++i;
    bool negative = false;
    if (at(text, i) == '+' || at(text, i) == '-') negative = text[i++] == '-';
    if (!is_digit(at(text, i))) return false;
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    std::int64_t magnitude = 0;
    for (const std::size_t n = text.size(); i < n && is_digit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    pos = i;
    return true;
}

[[noreturn]] void fail(const char* message) { throw format_error(message); }

// A fault of the keyword `keyword`, with what the user is told about it.
[[noreturn]] void fail_about(const std::string& keyword, const std::string& detail, const char* message) {
    format_error e(message);
    e.about(keyword, printable(detail));
    throw e;
}

// The character at `pos` of a column keyword value; a value that ends first
// is the standard out-of-range error.
char char_at(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) throw format_range_error("invalid string position");
    return text[pos];
}

// A double as the user wrote it, near enough: 15 significant digits, and a
// decimal point where they would show none (10.0, not 10).
std::string double_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    std::string shown = text;
    if (shown.find_first_of(".eni") == std::string::npos) shown += ".0";
    return shown;
}

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
    switch (kr.dt_) {
        case DT_BOOL: return text + (kr.bool_value_ ? "T" : "F");
        case DT_INT: return text + std::to_string(kr.int_value_);
        case DT_INT64: return text + std::to_string(kr.int64_value_);
        case DT_DOUBLE: return text + double_text(kr.double_value_);
        case DT_COMPLEX_INT:
            return text + "(" + std::to_string(kr.complex_int_value_.first) + ", " +
                   std::to_string(kr.complex_int_value_.second) + ")";
        default:
            return text + "(" + double_text(kr.complex_double_value_.first) + ", " +
                   double_text(kr.complex_double_value_.second) + ")";
    }
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
    switch (dt) {
        case DT_BOOL: return "a logical value is required";
        case DT_INT:
            return kr.dt_ == DT_INT64 || integer_beyond_64_bits(kr) ? "a 32-bit integer is required"
                                                                     : "an integer is required";
        case DT_DOUBLE: return "a floating value is required";
        default: return "a string is required";
    }
}

// The value of the mandatory keyword just read is refused.
[[noreturn]] void refuse(const keyword_record& kr, const char* message) {
    fail_about(kr.name_, record_text(kr), message);
}

// The type and value of an integer of at most 19 significant digits, given
// its sign and magnitude: DT_INT or DT_INT64 for the narrowest that holds it
// exactly, else DT_DOUBLE, the nearest double.
std::int32_t integer_type(bool negative, std::uint64_t magnitude, std::int64_t& int_value, double& double_value) {
    constexpr std::uint64_t int32_limit = std::uint64_t{1} << 31, int64_limit = std::uint64_t{1} << 63;
    if (magnitude > (negative ? int64_limit : int64_limit - 1)) {
        double_value = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
        return DT_DOUBLE;
    }
    // -2^63 has no positive counterpart: negated one below it.
    int_value = negative ? -static_cast<std::int64_t>(magnitude - 1) - 1 : static_cast<std::int64_t>(magnitude);
    return magnitude <= (negative ? int32_limit : int32_limit - 1) ? DT_INT : DT_INT64;
}

// The nearest double of an integer of 20 significant digits or more (beyond
// 64 bits), `length` bytes of sign and digits at `text`.
double wide_integer_to_double(const char* text, std::size_t length, bool negative) {
#ifdef __SIZEOF_INT128__
    // Up to 38 digits the integer is held exactly, and converted once.
    __extension__ typedef unsigned __int128 uint128;
    std::size_t k = text[0] == '+' || text[0] == '-' ? 1 : 0;
    while (k < length && text[k] == '0') ++k;
    if (length - k <= 38) {
        uint128 magnitude = 0;
        for (; k < length; ++k) magnitude = magnitude * 10 + static_cast<unsigned>(text[k] - '0');
        const double value = static_cast<double>(magnitude);
        return negative ? -value : value;
    }
#else
    (void)negative;
#endif
    return text_to_double(text, length, std::string::npos);
}

}  // namespace

// One pass over the number: an optionally signed integer, at its exact
// value; when a '.', E or D follows its digits (or stands at `pos`), a
// floating number instead: sign, mantissa with at least one digit and an
// exponent introduced by E, e, D or d. A floating number without a mantissa
// digit is 0.0 and leaves `pos`, as does an integer without digits (DT_INT 0).
std::int32_t parse_number(const std::string& card, std::size_t& pos, std::int64_t& int_value,
                          double& double_value) {
    const char* text = card.data();
    const std::size_t n = card.size();
    std::size_t i = pos;
    while (i < n && is_space(text[i])) ++i;
    const std::size_t start = i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    // The digits as they come (a string's text ends in a NUL, which is no
    // digit): the first 19 significant ones as a number, their count, and
    // the decimal exponent of the last one kept.
    std::uint64_t mantissa = 0;
    std::size_t digits = 0;
    int exponent = 0;
    auto keep = [&](const char* run, std::size_t count) {
        const std::size_t room = digits < 19 ? 19 - digits : 0;
        const std::size_t kept = count < room ? count : room;
        const char* d = run;
        for (; d + 8 <= run + kept; d += 8) mantissa = mantissa * 100000000 + eight_digits(d);
        for (; d < run + kept; ++d) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*d - '0');
        digits += count;
        return kept;
    };
    const char* p = text + i;
    const char* const integer_start = p;
    while (*p == '0') ++p;  // leading zeros
    const char* run = p;
    while (is_digit(*p)) ++p;
    exponent += static_cast<int>(static_cast<std::size_t>(p - run) - keep(run, static_cast<std::size_t>(p - run)));
    i = static_cast<std::size_t>(p - text);
    const bool integer = p > integer_start;
    const std::size_t after = integer ? i : pos;
    const char next = after < n ? text[after] : '\0';
    if (next != '.' && next != 'E' && next != 'D') {
        pos = after;
        if (!integer) {
            int_value = 0;
            return DT_INT;
        }
        if (digits <= 19) return integer_type(negative, mantissa, int_value, double_value);
        double_value = wide_integer_to_double(text + start, i - start, negative);
        return DT_DOUBLE;
    }

    bool has_mantissa = integer;
    if (text[i] == '.') {
        p = text + i + 1;
        const char* const fraction = p;
        if (digits == 0) {
            while (*p == '0') ++p;  // zeros before the first significant digit
            exponent -= static_cast<int>(p - fraction);
        }
        run = p;
        while (is_digit(*p)) ++p;
        exponent -= static_cast<int>(keep(run, static_cast<std::size_t>(p - run)));
        has_mantissa = has_mantissa || p > fraction;
        i = static_cast<std::size_t>(p - text);
    }
    if (!has_mantissa) {
        double_value = 0.0;
        return DT_DOUBLE;
    }
    std::size_t letter = std::string::npos;
    const char e = i < n ? text[i] : '\0';
    if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        std::size_t sign = at(card, i + 1) == '+' || at(card, i + 1) == '-' ? 1 : 0;
        if (is_digit(at(card, i + 1 + sign))) {
            std::int32_t power = 0;
            std::size_t end = i + 1;
            read_decimal(card, end, power);
            letter = i - start;
            // An exponent beyond the 32-bit range saturates; it is far
            // outside the double range either way, so the C library decides.
            exponent = power > 1000 || power < -1000 || exponent + power > 1000 || exponent + power < -1000
                           ? 10000
                           : exponent + power;
            i = end;
        }
    }
    double_value = digits == 0 ? (negative ? -0.0 : 0.0)
                               : decimal_to_double(text + start, i - start, letter, negative, mantissa, digits, exponent);
    pos = i;
    return DT_DOUBLE;
}

keyword_record::keyword_record(const hdu_entry& entry, const std::string& card) { parse(entry, card); }

void keyword_record::parse(const hdu_entry& entry, const std::string& card80) {
    owner_ = &entry;
    index_ = static_cast<std::int32_t>(entry.krs_.size());

    // Columns past 80 are never looked at; a short card reads as blank-filled.
    std::string padded;
    const std::string* cardp = &card80;
    if (card80.size() != card_size) {
        padded = card80.substr(0, card_size);
        padded.resize(card_size, ' ');
        cardp = &padded;
    }
    const std::string& card = *cardp;

    std::size_t name_length = 0;
    while (name_length < name_field && card[name_length] != ' ') ++name_length;
    if (name_.empty())
        name_.append(card.data(), name_length);  // a fresh record
    else
        name_.assign(card.data(), name_length);

    type_ = KWRT_NONE;
    is_null_ = true;
    if (is_word(name_, "END"))
        type_ = KWRT_END;
    else if (is_word(name_, "COMMENT"))
        type_ = KWRT_COMMENT;
    else if (is_word(name_, "HISTORY"))
        type_ = KWRT_HISTORY;
    else if (is_word(name_, "CONTINUE"))
        type_ = KWRT_CONTINUE;
    else if (name_.empty())
        type_ = KWRT_BLANK;

    if (type_ != KWRT_NONE && type_ != KWRT_CONTINUE) {
        parse_comment(card, name_field);
        return;
    }

    bool indicator = card[8] == '=' && card[9] == ' ';
    bool continue_blank = type_ == KWRT_CONTINUE && card[8] == ' ' && card[9] == ' ';
    if (!indicator && !continue_blank) fail("Bad keyword format");
    dt_ = DT_UNKNOWN;
    if (type_ != KWRT_CONTINUE) type_ = KWRT_VALUE;
    parse_value(card);
}

// Reads the value from column 11 on, then what follows it.
void keyword_record::parse_value(const std::string& card) {
    std::size_t start = skip_blanks(card, value_column);
    if (start == std::string::npos) return;

    std::size_t end;
    char first = card[start];
    if (first == '\'') {
        end = parse_string(card, start);
    } else if (first == 'T' || first == 'F') {
        bool_value_ = first == 'T';
        dt_ = DT_BOOL;
        is_null_ = false;
        end = start + 1;
    } else if (first == '+' || first == '-' || is_digit(first)) {
        end = start;
        std::int64_t integer = 0;
        dt_ = parse_number(card, end, integer, double_value_);
        if (dt_ == DT_INT) int_value_ = static_cast<std::int32_t>(integer);
        if (dt_ == DT_INT64) int64_value_ = integer;
        is_null_ = false;
    } else if (first == '(') {
        end = parse_complex(card, start);
    } else if (first == '/') {
        parse_comment(card, start + 1);
        return;
    } else {
        return;  // not a value this parser takes up: a keyword without value
    }

    std::size_t next = skip_blanks(card, end);
    if (next == std::string::npos) return;
    if (card[next] != '/') fail("Garbage chars after value");
    parse_comment(card, next + 1);
}

// Reads a quoted string whose opening quote is at `quote`; returns the
// position after the closing quote.
std::size_t keyword_record::parse_string(const std::string& card, std::size_t quote) {
    // The value without its quotes, doubled quotes undone: at most a card.
    char value[card_size];
    std::size_t n = 0;
    std::size_t content = quote + 1;
    for (;;) {
        std::size_t close = card.find('\'', content);
        if (close == std::string::npos) fail("EOL in string");
        std::memcpy(value + n, card.data() + content, close - content);
        n += close - content;
        if (close + 1 < card_size && card[close + 1] == '\'') {
            value[n++] = '\'';
            content = close + 2;
            continue;
        }
        dt_ = DT_STRING;
        if (string_value_.empty()) {
            // Stored without trailing blanks; two quotes with nothing
            // between leave the value null.
            std::size_t end = n;
            while (end > 0 && value[end - 1] == ' ') --end;
            if (n > 0) {
                is_null_ = false;
                assign_exact(string_value_, value, end);
            }
        } else {
            // A record parsed before adds to what it holds, as it always has.
            string_value_.append(value, n);
            is_null_ = false;
            trim_right(string_value_);
        }
        return close + 1;
    }
}

// Reads "(real, imaginary)" whose parenthesis is at `paren`; returns the
// position after the closing parenthesis.
std::size_t keyword_record::parse_complex(const std::string& card, std::size_t paren) {
    std::size_t pos = paren + 1;
    std::int64_t re_int = 0, im_int = 0;
    double re_double = 0.0, im_double = 0.0;
    std::int32_t re_dt = parse_number(card, pos, re_int, re_double);
    pos = skip_blanks(card, pos);
    if (pos == std::string::npos || card[pos] != ',') fail("Bad complex number format");
    ++pos;
    std::int32_t im_dt = parse_number(card, pos, im_int, im_double);
    pos = skip_blanks(card, pos);
    if (pos == std::string::npos || card[pos] != ')') fail("Bad complex number format");

    // Parts within 32 bits make an integer pair; a floating part, or one
    // beyond 32 bits, a pair of nearest doubles.
    if (re_dt == DT_INT && im_dt == DT_INT) {
        dt_ = DT_COMPLEX_INT;
        complex_int_value_ = {static_cast<std::int32_t>(re_int), static_cast<std::int32_t>(im_int)};
    } else {
        dt_ = DT_COMPLEX_DOUBLE;
        complex_double_value_ = {re_dt == DT_DOUBLE ? re_double : static_cast<double>(re_int),
                                 im_dt == DT_DOUBLE ? im_double : static_cast<double>(im_int)};
    }
    is_null_ = false;
    return pos + 1;
}

// Takes the comment from `start` to column 80, without trailing blanks,
// stored at that size.
void keyword_record::parse_comment(const std::string& card, std::size_t start) {
    if (start >= card_size) return;
    std::size_t end = card_size;
    // Blank columns at the end are passed over eight at a time.
    for (std::uint64_t word; end >= start + 8; end -= 8) {
        std::memcpy(&word, card.data() + end - 8, 8);
        if (word != blank_word) break;
    }
    while (end > start && card[end - 1] == ' ') --end;
    assign_exact(comment_, card.data() + start, end - start);
}

// ---------------------------------------------------------------------------
// HDU entries and header checks
// ---------------------------------------------------------------------------

hdu_data::~hdu_data() = default;

hdu_entry::hdu_entry(std::int32_t hdu_type) : hdu_type_(hdu_type) {
    if (hdu_type == HT_PRIMARY)
        hdu_ = std::make_shared<hdu_primary>();
    else if (hdu_type == HT_IMAGE)
        hdu_ = std::make_shared<hdu_image>();
    else if (hdu_type == HT_BINTABLE)
        hdu_ = std::make_shared<hdu_bintable>();
    else
        VELMORA_ASSERT(0);
}

// A valued record enters the name index; an earlier record of the same name keeps its place.
void hdu_entry::index_record(const keyword_record& kr) {
    if (kr.type_ == KWRT_VALUE) krs_map_.try_emplace(kr.name_, static_cast<std::int32_t>(krs_.size()));
}

void hdu_entry::add_record(const keyword_record& kr) {
    index_record(kr);
    krs_.push_back(kr);
}

void hdu_entry::add_record(keyword_record&& kr) {
    index_record(kr);
    krs_.push_back(std::move(kr));
}

hdu_entry::position hdu_entry::find_record(const std::string& name) const {
    auto it = krs_map_.find(name);
    return it == krs_map_.end() ? krs_.end() : krs_.begin() + it->second;
}

void hdu_entry::long_string(position pos, std::string& value) const {
    VELMORA_ASSERT(pos->type_==KWRT_VALUE && !pos->is_null_ && pos->dt_==DT_STRING);
    value = pos->string_value_;
    for (++pos; !value.empty() && value.back() == '&' && pos != krs_.end() && pos->type_ == KWRT_CONTINUE &&
                pos->dt_ == DT_STRING;
         ++pos) {
        value.pop_back();
        if (!pos->is_null_) value += pos->string_value_;
    }
}

void expect_keyword(const hdu_entry& entry, const std::string& card, const std::string& name,
                    std::int32_t dt, keyword_record& kr) {
    kr.parse(entry, card);
    if (kr.type_ != KWRT_VALUE) {
        const std::string found = kr.name_.empty() ? std::string("a blank keyword") : kr.name_;
        fail_about(kr.name_, found + " where " + name + " is required", "Unexpected comment");
    }
    if (kr.name_ != name) fail_about(kr.name_, kr.name_ + " where " + name + " is required", "Unexpected keyword");
    if (kr.dt_ != dt) fail_about(kr.name_, record_text(kr) + ": " + type_wanted(dt, kr), "Unexpected keyword value type");
}

namespace {

// An error about the record at `pos`, found after END: its card is named.
void name_record(located_error& e, const hdu_entry& entry, hdu_entry::position pos, const std::string& detail) {
    e.about(pos->name_, printable(detail));
    e.at_card(static_cast<std::int32_t>(pos - entry.krs_.begin()) + 1);
}

// The value of the keyword at `pos`, found after END, is refused.
[[noreturn]] void refuse_at(const hdu_entry& entry, hdu_entry::position pos, const char* message) {
    format_error e(message);
    name_record(e, entry, pos, record_text(*pos));
    throw e;
}

// Runs `parse` on the value of the keyword at `pos`; an error it raises
// names that keyword's card.
template <typename Parse>
void parse_value_of(const hdu_entry& entry, hdu_entry::position pos, Parse parse) {
    try {
        parse();
    } catch (located_error& e) {
        name_record(e, entry, pos, record_text(*pos));
        throw;
    }
}

}  // namespace

hdu_entry::position find_keyword(const hdu_entry& entry, const std::string& name, std::int32_t dt,
                                 bool required) {
    hdu_entry::position pos = entry.find_record(name);
    if (pos == entry.krs_.end()) {
        if (!required) return pos;
        format_error e("Not conforming to the standard");
        e.about(name, printable(name) + " is missing");
        e.at_card(0);
        throw e;
    }
    if (pos->get_dt() != dt) {
        format_error e("Unexpected keyword value type");
        name_record(e, entry, pos, record_text(*pos) + ": " + type_wanted(dt, *pos));
        throw e;
    }
    return pos;
}

namespace {

// The integer value of an optional keyword, `absent` when missing; a value
// of another type is "Unexpected keyword value type", and a negative one
// is refused with `negative`.
std::int32_t optional_count(const hdu_entry& entry, const std::string& name, std::int32_t absent,
                            const char* negative) {
    hdu_entry::position pos = find_keyword(entry, name, DT_INT, false);
    if (pos == entry.krs_.end()) return absent;
    if (pos->get_int() < 0) refuse_at(entry, pos, negative);
    return pos->get_int();
}

}  // namespace

// ---------------------------------------------------------------------------
// Primary and IMAGE HDUs
// ---------------------------------------------------------------------------

std::int32_t bitpix_to_dt(std::int32_t bitpix) {
    switch (bitpix) {
        case 8: return DT_BYTE;
        case 16: return DT_INT16;
        case 32: return DT_INT;
        case 64: return DT_INT64;
        case -32: return DT_FLOAT;
        case -64: return DT_DOUBLE;
        default: fail("Primary HDU: bad BITPIX");
    }
}

hdu_simple_parent::~hdu_simple_parent() = default;

void hdu_simple_parent::read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) {
    file.begin_records(entry);
    check_first_card(entry, first_card);

    const keyword_record& bitpix = file.read_mandatory(entry, "BITPIX");
    try {
        data_type_ = bitpix_to_dt(bitpix.get_int());
    } catch (located_error& e) {
        e.about(bitpix.name_, record_text(bitpix));
        throw;
    }

    const keyword_record& naxis = file.read_mandatory(entry, "NAXIS");
    if (naxis.get_int() < 0) refuse(naxis, "Primary HDU: bad NAXIS");
    const std::int32_t axes = naxis.get_int();

    for (std::int32_t n = 1; n <= axes; ++n) {
        const keyword_record& axis = file.read_mandatory(entry, "NAXIS" + std::to_string(n));
        if (axis.get_int() < 0) refuse(axis, "Primary HDU: bad dimension");
        dims_.push_back(axis.get_int());
    }

    read_extra_keywords(file, entry);
    file.read_free_cards(entry);
    file.end_block();
    if (entry.get_hdu_type() == HT_PRIMARY) read_groups_keywords(entry);

    std::uint64_t size = data_size();
    if (size == 0) return;
    file.load_data(data_, size);
    file.end_block();
}

// A primary HDU with GROUPS = T and NAXIS1 = 0 holds random groups: GCOUNT
// groups, each of PCOUNT parameters followed by an array of NAXIS2 x ... x
// NAXISn elements.
void hdu_simple_parent::read_groups_keywords(const hdu_entry& entry) {
    hdu_entry::position groups = entry.find_record("GROUPS");
    bool flagged = groups != entry.krs_.end() && groups->dt_ == DT_BOOL && !groups->is_null_ &&
                   groups->bool_value_;
    if (!flagged || dims_.empty() || dims_[0] != 0) return;

    std::int32_t pcount = optional_count(entry, "PCOUNT", 0, "Not conforming to the standard");
    std::int32_t gcount = optional_count(entry, "GCOUNT", 1, "Not conforming to the standard");
    groups_ = true;
    group_pcount_ = pcount;
    group_gcount_ = gcount;
}

std::uint64_t hdu_simple_parent::data_size() const {
    if (dims_.empty()) return 0;
    // Elements of the array (of each group's array for random groups, whose
    // NAXIS1 of 0 stands for "no image axis").
    auto first = dims_.begin() + (groups_ ? 1 : 0);
    std::uint64_t elements = 1;
    if (std::find(first, dims_.end(), 0) != dims_.end()) elements = 0;
    for (auto axis = first; axis != dims_.end(); ++axis)
        elements = saturating_mul(elements, static_cast<std::uint64_t>(*axis));
    if (groups_) {
        elements = saturating_add(elements, static_cast<std::uint64_t>(group_pcount_));
        elements = saturating_mul(elements, static_cast<std::uint64_t>(group_gcount_));
    }
    return saturating_mul(elements, data_type_size[data_type_]);
}

// The first card's record is parsed in place, as the header's first.
void hdu_primary::check_first_card(hdu_entry& entry, const std::string& first_card) {
    keyword_record& kr = record_at(entry, 0);
    expect_keyword(entry, first_card, "SIMPLE", DT_BOOL, kr);
    kr.index_ = 0;
    if (!kr.get_bool()) refuse(kr, "Not conforming to the standard");
}

void hdu_primary::read_extra_keywords(fits_file&, hdu_entry&) {}

void hdu_image::check_first_card(hdu_entry& entry, const std::string& first_card) {
    keyword_record& kr = record_at(entry, 0);
    expect_keyword(entry, first_card, "XTENSION", DT_STRING, kr);
    kr.index_ = 0;
    if (kr.is_null() || kr.get_string() != "IMAGE") refuse(kr, "Not conforming to the standard");
}

void hdu_image::read_extra_keywords(fits_file& file, hdu_entry& entry) {
    const keyword_record& pcount = file.read_mandatory(entry, "PCOUNT");
    if (pcount.get_int() != 0) refuse(pcount, "Not conforming to the standard");

    const keyword_record& gcount = file.read_mandatory(entry, "GCOUNT");
    if (gcount.get_int() != 1) refuse(gcount, "Not conforming to the standard");
}

// ---------------------------------------------------------------------------
// Column formats
// ---------------------------------------------------------------------------

std::int32_t column_type_from_letter(char letter) {
    switch (letter) {
        case 'L': return CT_LOGICAL;
        case 'X': return CT_BIT;
        case 'B': return CT_BYTE;
        case 'I': return CT_INT16;
        case 'J': return CT_INT32;
        case 'K': return CT_INT64;
        case 'A': return CT_CHAR;
        case 'E': return CT_FLOAT;
        case 'D': return CT_DOUBLE;
        case 'C': return CT_COMPLEX_FLOAT;
        case 'M': return CT_COMPLEX_DOUBLE;
        case 'P': return CT_DESC32;
        case 'Q': return CT_DESC64;
        default: fail("Unknown form type in BINTABLE");
    }
}

namespace {

// A 32-bit product that wraps like the unsigned arithmetic of the format's
// row widths, computed without signed overflow.
std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

void parse_tform(const std::string& tform, bintable_column& column) {
    std::size_t pos = 0;
    std::int32_t repeat = 0;
    if (read_decimal(tform, pos, repeat)) {
        if (repeat < 0) fail("Negative form repetition in BINTABLE");
        column.repeat_ = repeat;
    } else {
        column.repeat_ = 1;
    }
    column.ct_ = column_type_from_letter(char_at(tform, pos));

    if (column.ct_ == CT_BIT) {
        column.width_ = static_cast<std::int32_t>((static_cast<std::uint32_t>(column.repeat_) + 7) / 8);
    } else if (column.ct_ == CT_DESC32 || column.ct_ == CT_DESC64) {
        column.pq_ = column.ct_ == CT_DESC32 ? 1 : 2;
        if (column.repeat_ > 1) fail("Repetition count >1 for P/Q form in BINTABLE");
        column.ct_ = column_type_from_letter(char_at(tform, pos + 1));
        if (column.ct_ == CT_DESC32 || column.ct_ == CT_DESC64)
            fail("Bad column type for P/Q form in BINTABLE");
        if (char_at(tform, pos + 2) != '(') fail("Bad P/Q form in BINTABLE");
        std::size_t emax_pos = pos + 3;
        std::int32_t emax = 0;
        read_decimal(tform, emax_pos, emax);
        column.max_count_ = emax;
        if (char_at(tform, emax_pos) != ')') fail("Bad P/Q form in BINTABLE");
        // A descriptor takes two 32-bit (P) or two 64-bit (Q) fields in the row.
        column.width_ = column.repeat_ * (column.pq_ == 1 ? 8 : 16);
    } else {
        column.width_ = wrapping_mul(column_type_width[column.ct_], column.repeat_);
    }
    if (column.max_count_ == 0) column.max_count_ = column.repeat_;
}

void parse_tdim(const std::string& tdim, bintable_column& column) {
    if (tdim.empty() || tdim[0] != '(') fail("Bad DIM in BINTABLE");
    std::size_t pos = 1;
    while (pos < tdim.size()) {
        std::int32_t dim = 0;
        read_decimal(tdim, pos, dim);
        if (dim < 0) fail("Bad DIM in BINTABLE");
        column.tdim_.push_back(dim);
        char stop = at(tdim, pos);
        if (stop == ')') return;
        if (stop != ',') fail("Bad DIM in BINTABLE");
        ++pos;
    }
}

// ---------------------------------------------------------------------------
// BINTABLE HDU
// ---------------------------------------------------------------------------

bintable_row bintable_row_list::operator[](std::size_t i) const {
    return bintable_row{static_cast<std::int32_t>(i), table_};
}

hdu_bintable::~hdu_bintable() = default;

std::uint64_t hdu_bintable::table_size() const {
    return static_cast<std::uint64_t>(naxis1_) * static_cast<std::uint64_t>(naxis2_);
}

void hdu_bintable::read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) {
    file.begin_records(entry);
    keyword_record& xtension = record_at(entry, 0);
    expect_keyword(entry, first_card, "XTENSION", DT_STRING, xtension);
    xtension.index_ = 0;
    if (xtension.is_null() || xtension.get_string() != "BINTABLE") refuse(xtension, "Not conforming to the standard");

    struct mandatory {
        const char* name;
        bool (*valid)(std::int32_t);
        const char* message;
        std::int32_t* kept;
    };
    std::int32_t tfields = 0;
    const mandatory cards[] = {
        {"BITPIX", [](std::int32_t v) { return v == 8; }, "Not conforming to the standard", nullptr},
        {"NAXIS", [](std::int32_t v) { return v == 2; }, "Bintable HDU: bad NAXIS", nullptr},
        {"NAXIS1", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &naxis1_},
        {"NAXIS2", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &naxis2_},
        {"PCOUNT", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &pcount_},
        {"GCOUNT", [](std::int32_t v) { return v == 1; }, "Not conforming to the standard", nullptr},
        {"TFIELDS", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &tfields},
    };
    for (const mandatory& m : cards) {
        const keyword_record& kr = file.read_mandatory(entry, m.name);
        if (!m.valid(kr.get_int())) refuse(kr, m.message);
        if (m.kept) *m.kept = kr.get_int();
    }

    file.read_free_cards(entry);
    read_columns(entry, tfields);

    file.end_block();
    file.load_data(data_, table_size());
    if (pcount_ != 0) read_heap(file, entry);
    file.end_block();
    rows_ = bintable_row_list(naxis2_, this);
}

namespace {

// The string value of an optional column keyword, and its position (the
// end when absent); an empty string ('') counts as the empty string.
hdu_entry::position column_string(const hdu_entry& entry, const std::string& name, bool required,
                                  std::string& value) {
    hdu_entry::position pos = find_keyword(entry, name, DT_STRING, required);
    if (pos != entry.krs_.end()) value = pos->is_null() ? std::string() : pos->get_string();
    return pos;
}

// The value of an optional column scale or zero (TSCALn, TZEROn), kept in
// `value` when present: a floating value, or an integer of any size as the
// nearest double (TZEROn = 32768 is how unsigned 16-bit columns are
// written). Any other type is refused as a floating keyword's would be.
void column_real(const hdu_entry& entry, const std::string& name, double& value) {
    hdu_entry::position pos = entry.find_record(name);
    if (pos != entry.krs_.end() && pos->dt_ == DT_INT)
        value = pos->int_value_;
    else if (pos != entry.krs_.end() && pos->dt_ == DT_INT64)
        value = static_cast<double>(pos->int64_value_);
    else if ((pos = find_keyword(entry, name, DT_DOUBLE, false)) != entry.krs_.end())
        value = pos->get_double();
}

}  // namespace

void hdu_bintable::read_columns(const hdu_entry& entry, std::int32_t tfields) {
    std::int32_t offset = 0;
    for (std::int32_t n = 1; n <= tfields; ++n) {
        bintable_column column;
        column.col_index_ = n - 1;
        const std::string number = std::to_string(n);

        // Every keyword is looked up (and type-checked) before the formats
        // are parsed; absent ones leave the column's defaults.
        std::string tform, tdim;
        auto tform_at = column_string(entry, "TFORM" + number, true, tform);
        column_string(entry, "TTYPE" + number, false, column.ttype_);
        column_string(entry, "TUNIT" + number, false, column.tunit_);
        double tscal = column.tscal_, tzero = column.tzero_;
        column_real(entry, "TSCAL" + number, tscal);
        column_real(entry, "TZERO" + number, tzero);
        auto tnull = find_keyword(entry, "TNULL" + number, DT_INT, false);
        column_string(entry, "TDISP" + number, false, column.tdisp_);
        auto tdim_at = column_string(entry, "TDIM" + number, false, tdim);

        parse_value_of(entry, tform_at, [&] { parse_tform(tform, column); });
        column.tscal_ = tscal;
        column.tzero_ = tzero;
        if (tnull != entry.krs_.end()) column.tnull_ = tnull->get_int();
        if (tdim_at != entry.krs_.end()) parse_value_of(entry, tdim_at, [&] { parse_tdim(tdim, column); });

        column.offset_ = offset;
        offset = wrapping_add(offset, column.width_);
        columns_.push_back(std::move(column));
    }
}

// Reads the heap that follows the main table. This reader has always taken
// THEAP as the gap between the end of the table and the heap, followed by
// PCOUNT heap bytes. The FITS standard counts THEAP from the start of the
// table, with PCOUNT covering gap and heap; files written that way are
// recognised when THEAP lies within the table and heap, the two readings end
// the HDU in different blocks, and only the standard reading fits the file
// or lands the next HDU on an XTENSION card.
void hdu_bintable::read_heap(fits_file& file, const hdu_entry& entry) {
    std::int32_t theap = optional_count(entry, "THEAP", 0, "Bad THEAP value in BINTABLE");

    const std::uint64_t table = table_size();
    const std::uint64_t gap = static_cast<std::uint64_t>(theap);
    const std::uint64_t pcount = static_cast<std::uint64_t>(pcount_);

    // Where each placement ends the HDU, counted from the start of the table.
    bool standard = false;
    if (table <= gap && gap <= table + pcount &&
        round_up_to_block(table + gap + pcount) != round_up_to_block(table + pcount)) {
        standard = file.data_ends_nearer(pcount, gap + pcount);
    }

    if (standard) {
        file.pass_bytes(gap - table);
        file.load_data(heap_, table + pcount - gap);
    } else {
        file.skip_bytes(gap);
        file.load_data(heap_, pcount);
    }
}

// ---------------------------------------------------------------------------
// File reader
// ---------------------------------------------------------------------------

namespace {

// What a stream's data buffers grow by at least.
constexpr std::size_t stream_step = std::size_t{1} << 16;
// How far ahead cards_to_end looks for an END card (364 blocks).
constexpr std::size_t end_look_ahead = std::size_t{1} << 20;
// How far a sized input is counted on for END, and in what chunks.
constexpr std::size_t end_count_ahead = std::size_t{1} << 26;
constexpr std::size_t count_chunk = 64 * block_size;

// True when the card at `card` is an END card: the name END, then a blank.
bool is_end_card(const char* card) { return card[0] == 'E' && card[1] == 'N' && card[2] == 'D' && card[3] == ' '; }

}  // namespace

fits_file::fits_file(const std::string& path, read_mode mode) : fits_file(path, mode, hdu_callback()) {}

fits_file::fits_file(const std::string& path, read_mode mode, const hdu_callback& on_hdu, keep_mode keep)
    : block_pos_(block_size), mode_(mode) {
    open(path);
    read_hdus(on_hdu, keep);
}

fits_file::fits_file(memory_input bytes, read_mode mode) : fits_file(bytes, mode, hdu_callback()) {}

fits_file::fits_file(memory_input bytes, read_mode mode, const hdu_callback& on_hdu, keep_mode keep)
    : block_pos_(block_size), mode_(mode) {
    open(bytes);
    read_hdus(on_hdu, keep);
}

fits_file::fits_file(std::istream& in, read_mode mode) : fits_file(in, mode, hdu_callback()) {}

fits_file::fits_file(std::istream& in, read_mode mode, const hdu_callback& on_hdu, keep_mode keep)
    : block_pos_(block_size), mode_(mode) {
    open(in);
    read_hdus(on_hdu, keep);
}

fits_file::~fits_file() = default;

void fits_file::open(const std::string& path) { attach(byte_source::open(path)); }
void fits_file::open(memory_input bytes) { attach(byte_source::in_memory(bytes)); }
void fits_file::open(std::istream& in) { attach(byte_source::from_stream(in)); }

void fits_file::attach(std::unique_ptr<byte_source> source) {
    source_ = std::move(source);
    block_pos_ = block_size;
    if (!spare_) spare_ = std::make_unique<spare_storage>();
}

void fits_file::read_hdus(const hdu_callback& on_hdu, keep_mode keep) {
    for (;;) {
        std::string card;
        try {
            if (!next_hdu_block()) break;
            read_card(card);
            std::int32_t kind = hdu_kind(card);
            hdus_.emplace_back(kind);
            hdu_entry& entry = hdus_.back();
            entry.get_hdu()->read_header(*this, entry, card);
        } catch (located_error& e) {
            if (!e.placed()) place_error(e);
            throw;
        }
        hdu_entry& entry = hdus_.back();
        ++hdus_read_;
        if (on_hdu) on_hdu(entry);
        if (keep == KM_RELEASE_HDUS) {
            release(entry);
            hdus_.pop_back();
        }
    }
    source_.reset();
}

// An error of the HDU being read: its number, and where no card is named
// yet, the card just read, with that card's text when nothing better was
// said. A card is found from the start of its HDU.
void fits_file::place_error(located_error& e) const {
    const std::int32_t card = e.card_known() ? e.where().card : cards_read_;
    const std::uint64_t offset = hdu_start_ + card_size * static_cast<std::uint64_t>(card > 0 ? card - 1 : 0);
    if (!e.card_known() && card > 0 && e.where().detail.empty() && block_pos_ >= card_size) {
        // The card's text, without the blanks and zero bytes that end it.
        const char* text = block_ + block_pos_ - card_size;
        std::size_t length = card_size;
        while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0')) --length;
        std::size_t name = 0;
        while (name < 8 && text[name] != ' ') ++name;
        const bool zeros = std::memchr(text + length, '\0', card_size - length) != nullptr;
        e.about(std::string(text, name), length != 0 ? printable(std::string(text, length))
                                         : zeros    ? "a card of blanks and zero bytes"
                                                    : "a blank card");
    }
    e.place(hdus_read_ + 1, card, offset);
}

// Loads the block where the next HDU's first card is due; false when fewer
// than a block's bytes are left after an HDU, which ends the file (they are
// ignored). A sized input is taken at its measured length.
bool fits_file::next_hdu_block() {
    hdu_start_ = source_->position();
    cards_read_ = 0;
    if (source_->sized() && source_->left() < block_size) {
        if (hdus_read_ == 0) first_block_not_held();
        return false;
    }
    if (!load_block()) {
        if (hdus_read_ == 0) first_block_not_held();
        if (source_->sized()) header_not_held();
        return false;
    }
    return true;
}

// The input ends before the first HDU's first block is whole: it holds no
// HDU, so it is no FITS file (an empty file, a short text).
void fits_file::first_block_not_held() const {
    read_error e(ends_in_header);
    e.at_card(1);
    e.about("", "the input ends at byte " + std::to_string(source_->end_offset()) + ", inside the first block");
    throw e;
}

std::int32_t fits_file::hdu_kind(const std::string& first_card) const {
    if (first_card.compare(0, 7, "SIMPLE ") == 0) {
        if (hdus_read_ != 0) fail("Primary HDU not first");
        return HT_PRIMARY;
    }
    if (first_card.compare(0, 10, "XTENSION= ") == 0) {
        if (hdus_read_ == 0) fail("Extension without primary HDU");
        if (first_card.compare(10, 10, "'BINTABLE'") == 0) return HT_BINTABLE;
        if (first_card.compare(10, 10, "'IMAGE   '") == 0) return HT_IMAGE;
        fail("Unknown extension");
    }
    fail("Unexpected keyword or bad format");
}

bool fits_file::load_block() {
    if (source_->take(block_, block_size) < block_size) return false;
    block_pos_ = 0;
    return true;
}

std::uint64_t fits_file::reading_position() const { return source_->position() - (block_size - block_pos_); }

// The input ends before the next card of the header.
void fits_file::header_not_held() const {
    read_error e(ends_in_header);
    e.at_card(cards_read_ + 1);
    e.about("", "no END card before the input ends at byte " + std::to_string(source_->end_offset()));
    throw e;
}

// The input does not hold the `n` data bytes from byte `from`, with the
// rest of the block they end in up to byte `to`.
void fits_file::data_not_held(std::uint64_t from, std::uint64_t n, std::uint64_t to) const {
    read_error e(ends_in_data);
    e.at_card(0);
    e.at_offset(source_->end_offset());
    // A size of 2^64 bytes or more is held saturated, and said so.
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    std::string need = n == most ? "2^64 or more bytes" : std::to_string(n) + " bytes";
    need += " from byte " + std::to_string(from);
    if (to != most) need += " (to byte " + std::to_string(to) + " with padding)";
    e.about("", need + "; the input ends at byte " + std::to_string(source_->end_offset()));
    throw e;
}

void fits_file::read_card(std::string& card) {
    if (block_pos_ >= block_size && !load_block()) header_not_held();
    if (card.size() == card_size)
        std::memcpy(&card[0], block_ + block_pos_, card_size);  // the caller's card, reused
    else
        card.assign(block_ + block_pos_, card_size);
    block_pos_ += card_size;
    ++cards_read_;
}

// ---------------------------------------------------------------------------
// What the HDU readers take from the reader: records
// ---------------------------------------------------------------------------

// Every card read becomes the header's record at the next position: card
// k (from 1) of a header is its record k - 1.

void fits_file::begin_records(hdu_entry& entry) {
    header_cards_ = cards_to_end();
    spare_->lend(entry, 1 + header_cards_);
}

const keyword_record& fits_file::read_mandatory(hdu_entry& entry, const std::string& name) {
    read_card(card_);
    const std::size_t at = static_cast<std::size_t>(cards_read_ - 1);
    keyword_record& kr = record_at(entry, at);
    expect_keyword(entry, card_, name, DT_INT, kr);
    kr.index_ = static_cast<std::int32_t>(at);
    return kr;
}

void fits_file::read_free_cards(hdu_entry& entry) {
    for (bool end = false; !end;) {
        read_card(card_);
        const std::size_t at = static_cast<std::size_t>(cards_read_ - 1);
        keyword_record& kr = record_at(entry, at);
        kr.parse(entry, card_);
        kr.index_ = static_cast<std::int32_t>(at);
        end = kr.type_ == KWRT_END;
    }
    spare_->end_header(entry, static_cast<std::size_t>(cards_read_));
    spare_->index(entry);
}

void fits_file::release(hdu_entry& entry) { spare_->release(entry); }

std::size_t fits_file::cards_to_end() {
    std::size_t cards = 0;
    for (std::uint32_t pos = block_pos_; pos + card_size <= block_size; pos += card_size) {
        ++cards;
        if (is_end_card(block_ + pos)) return cards;
    }
    // The blocks after the current one, looked at ahead (past END too: the
    // reads that follow take them).
    std::size_t offset = 0;
    for (; offset < end_look_ahead; offset += block_size) {
        const char* block = source_->look_ahead(offset, block_size);
        if (!block) return cards;
        for (std::size_t pos = 0; pos < block_size; pos += card_size) {
            ++cards;
            if (is_end_card(block + pos)) return cards;
        }
    }
    // A longer header of a sized input is counted on, peeked at in chunks
    // that are not kept, so that its records are made room for at once
    // rather than moved as they grow; only as far as a bounded span, and
    // only when END is found there.
    if (!source_->sized()) return cards;
    std::unique_ptr<char[]> chunk(new char[count_chunk]);
    std::size_t counted = cards;
    for (; offset < end_count_ahead; offset += count_chunk) {
        const std::size_t got = source_->peek(offset, chunk.get(), count_chunk, true) / card_size * card_size;
        for (std::size_t pos = 0; pos < got; pos += card_size) {
            ++counted;
            if (is_end_card(chunk.get() + pos)) return counted;
        }
        if (got < count_chunk) break;
    }
    return cards;
}

// Bytes past the end of the current block that the next `n` data bytes
// reach into, block-rounded.
std::uint64_t fits_file::beyond_block(std::uint64_t n) const {
    std::uint64_t left = block_size - block_pos_;
    return n <= left ? 0 : round_up_to_block(n - left);
}

// Where the next `n` data bytes end, with the rest of their last block.
std::uint64_t fits_file::data_end(std::uint64_t n) const {
    return saturating_add(source_->position(), beyond_block(n));
}

// A sized input must hold the data before anything is read or allocated;
// a stream proves it by delivering the bytes.
void fits_file::require_data(std::uint64_t n) const {
    if (source_->sized() && beyond_block(n) > source_->left()) data_not_held(reading_position(), n, data_end(n));
}

void fits_file::read_bytes(char* dest, std::uint64_t n) {
    // Nothing to copy; `dest` may be the null start of an empty buffer.
    if (n == 0) return;
    require_data(n);
    const std::uint64_t from = reading_position(), to = data_end(n), count = n;
    if (block_pos_ < block_size) {
        std::uint64_t left = block_size - block_pos_;
        if (n <= left) {
            std::memcpy(dest, block_ + block_pos_, n);
            block_pos_ += static_cast<std::uint32_t>(n);
            return;
        }
        std::memcpy(dest, block_ + block_pos_, left);
        dest += left;
        n -= left;
        block_pos_ = block_size;
    }
    std::uint64_t whole = n / block_size * block_size;
    if (whole != 0 && source_->take(dest, static_cast<std::size_t>(whole)) < whole) data_not_held(from, count, to);
    std::uint64_t rest = n % block_size;
    if (rest == 0) return;
    if (!load_block()) data_not_held(from, count, to);
    std::memcpy(dest + whole, block_, rest);
    block_pos_ = static_cast<std::uint32_t>(rest);
}

void fits_file::skip_bytes(std::uint64_t n) {
    std::uint64_t left = block_size - block_pos_;
    if (n <= left) {
        block_pos_ += static_cast<std::uint32_t>(n);
        return;
    }
    std::uint64_t beyond = n - left;
    std::uint64_t whole = beyond / block_size * block_size;
    // The skip ends inside the block after the whole ones, which must be there.
    const std::uint64_t from = reading_position(), to = saturating_add(source_->position(), whole + block_size);
    if (source_->sized() && whole + block_size > source_->left()) data_not_held(from, n, to);
    block_pos_ = block_size;
    if (whole != 0 && source_->pass(whole) < whole) data_not_held(from, n, to);
    if (!load_block()) data_not_held(from, n, to);
    block_pos_ = static_cast<std::uint32_t>(beyond % block_size);
}

void fits_file::end_block() { block_pos_ = block_size; }

void fits_file::load_data(std::vector<char>& buffer, std::uint64_t n) {
    require_data(n);
    if (mode_ == RM_HEADERS_ONLY) {
        pass_bytes(n);
        return;
    }
    // A sized input's buffer is allocated whole: the input holds the bytes.
    // A stream's grows with what has arrived, so that a size the header only
    // claims is never allocated; where it ends, the whole is named.
    const std::uint64_t from = reading_position(), to = data_end(n);
    buffer.clear();
    while (buffer.size() < n) {
        std::uint64_t have = buffer.size();
        std::uint64_t step = source_->sized() ? n : std::max<std::uint64_t>(have, stream_step);
        step = std::min(step, n - have);
        buffer.resize(static_cast<std::size_t>(have + step));
        try {
            read_bytes(buffer.data() + have, step);
        } catch (const read_error& e) {
            if (std::strcmp(e.what(), ends_in_data) == 0) data_not_held(from, n, to);
            throw;
        }
    }
}

void fits_file::pass_bytes(std::uint64_t n) {
    require_data(n);
    std::uint64_t left = block_size - block_pos_;
    if (n <= left) {
        block_pos_ += static_cast<std::uint32_t>(n);
        return;
    }
    const std::uint64_t from = reading_position(), to = data_end(n), count = n;
    n -= left;
    block_pos_ = block_size;
    std::uint64_t whole = n / block_size * block_size;
    if (whole != 0 && source_->pass(whole) < whole) data_not_held(from, count, to);
    std::uint64_t rest = n % block_size;
    if (rest == 0) return;
    if (!load_block()) data_not_held(from, count, to);
    block_pos_ = static_cast<std::uint32_t>(rest);
}

// The block after the nearer end is looked at whole, since it may start the
// next HDU; in the headers-only mode the data before it is only passed over.
// Where the input ends before the farther end, a stream keeps that block and
// no more: the reading resumes there, and as the block does not start an
// extension, its first card ends the reading whatever follows.
bool fits_file::data_ends_nearer(std::uint64_t nearer, std::uint64_t farther) {
    const bool keep = mode_ == RM_LOAD_DATA;
    char next[block_size];
    if (source_->peek(beyond_block(nearer), next, block_size, keep) == block_size &&
        std::memcmp(next, "XTENSION= ", 10) == 0)
        return true;
    return !source_->holds(beyond_block(farther), keep);
}

}  // namespace velmora
