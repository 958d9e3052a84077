// velmora::fits - the card parser: one 80-character card into a keyword
// record (commentary and HIERARCH cards included), and numbers read exactly
// in every locale and on every target.
#include "internal.h"
#include "number_text.h"

#include <cfloat>
#include <charconv>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

namespace velmora {

namespace {

constexpr std::size_t name_field = 8;     // columns 1-8
constexpr std::size_t value_column = 10;  // column 11, 0-based

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

// The value of the four decimal digits at `p`, likewise.
std::uint64_t four_digits(const char* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint32_t w = 0;
    std::memcpy(&w, p, sizeof w);
    w -= 0x30303030u;
    w = w * 10 + (w >> 8);  // pairs of digits in the first and third byte
    return (w & 0xffu) * 100 + (w >> 16 & 0xffu);
#else
    std::uint64_t value = 0;
    for (int k = 0; k < 4; ++k) value = value * 10 + static_cast<std::uint64_t>(p[k] - '0');
    return value;
#endif
}

// Where doubles are computed in the x87's 64-bit registers (i386 builds,
// FLT_EVAL_METHOD 2), a product of two exact doubles is rounded to 64 bits
// and then again to 53 when stored, and that second rounding can land one
// unit off (1929.49980932295 read as ...9501). Within its scope this sets
// the x87 to round every result to 53 bits at once, as SSE arithmetic does:
// a product of two doubles then rounds once, to the nearest double, and a
// conversion that relies on that (std::from_chars takes such a shortcut for
// short numbers) is exact there too. Elsewhere it does nothing.
class double_rounding_once {
public:
#if defined(__i386__) && defined(__GNUC__) && defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 2
    double_rounding_once() {
        __asm__ volatile("fnstcw %0" : "=m"(saved_) : : "memory");
        const unsigned short doubles = static_cast<unsigned short>((saved_ & ~0x300u) | 0x200u);  // precision 53 bits
        __asm__ volatile("fldcw %0" : : "m"(doubles) : "memory");
    }
    ~double_rounding_once() { __asm__ volatile("fldcw %0" : : "m"(saved_) : "memory"); }

private:
    unsigned short saved_ = 0;
#endif
};

// The nearest double of a number's text (`length` bytes at `text`: sign,
// digits, point, exponent), the exponent letter at `letter` (npos: none)
// read as E. std::from_chars rounds correctly (on x87 under
// double_rounding_once) and reads the same in every locale, where strtod
// stops at the '.' when the decimal mark is a comma. It takes neither a '+' nor a D, so a number on a card is copied to
// the stack without its '+' and with its letter as 'e'. A magnitude beyond
// the double range is an infinity of the number's sign when `huge`, else a
// zero of that sign, as strtod gives them (from_chars leaves them to us).
double text_to_double(const char* text, std::size_t length, std::size_t letter, bool huge) {
    char copy[card_size];
    std::string long_copy;
    char* number = copy;
    if (length > card_size) {
        long_copy.assign(text, length);
        number = &long_copy[0];
    } else {
        std::memcpy(copy, text, length);
    }
    if (letter < length) number[letter] = 'e';
    const bool negative = number[0] == '-';
    const char* first = number + (number[0] == '+' ? 1 : 0);
    double value = 0.0;
    std::from_chars_result read;
    {
        [[maybe_unused]] const double_rounding_once once;
        read = std::from_chars(first, number + length, value);
    }
    if (read.ec != std::errc::result_out_of_range) return value;
    const double beyond = huge ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -beyond : beyond;
}

// Whether one multiplication or division by a power of ten rounds once as
// written: where doubles are computed as doubles. On x87 the library's own
// shortcut is left to std::from_chars under double_rounding_once, since the
// compiler may move plain arithmetic across the precision switch.
#if defined(FLT_EVAL_METHOD) && (FLT_EVAL_METHOD == 0 || FLT_EVAL_METHOD == 1)
constexpr bool single_rounding = true;
#else
constexpr bool single_rounding = false;
#endif

// Converts a number to the nearest double, given its text (as for
// text_to_double), the value of its first significant digits (at most 19),
// their count and the decimal exponent of the last of them. With at most 15
// digits and a small exponent both factors are exact doubles and, where the
// arithmetic rounds once, one multiplication or division rounds correctly
// (Clinger's fast path); anything else goes through text_to_double.
double decimal_to_double(const char* text, std::size_t length, std::size_t letter, bool negative,
                         std::uint64_t mantissa, std::size_t digits, int exponent) {
    if (single_rounding && digits <= 15 && exponent >= -22 && exponent <= 22) {
        double value = static_cast<double>(mantissa);
        value = exponent < 0 ? value / exact_powers_of_ten[-exponent] : value * exact_powers_of_ten[exponent];
        return negative ? -value : value;
    }
    // The first digit's decimal exponent tells an overflow from an underflow.
    const int first_digit = exponent + static_cast<int>(digits < 19 ? digits : 19) - 1;
    return text_to_double(text, length, letter, first_digit > 0);
}

// A card without the value indicator has no value, and is commentary, when
// its name field holds one or more keyword characters (A-Z, 0-9, '-', '_')
// followed only by blanks, the name is not HIERARCH, and neither column 9
// nor 10 holds '='. Anything else there is a keyword written wrongly (a
// lower-case "end", "NAXIS1  =5"), which is refused rather than dropped.
bool is_commentary(const std::string& card) {
    auto keyword_char = [](char c) { return (c >= 'A' && c <= 'Z') || is_digit(c) || c == '-' || c == '_'; };
    std::size_t n = 0;
    while (n < name_field && keyword_char(card[n])) ++n;
    if (n == 0 || card.compare(0, name_field, "HIERARCH") == 0) return false;
    for (std::size_t i = n; i < name_field; ++i)
        if (card[i] != ' ') return false;
    return card[8] != '=' && card[9] != '=';
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

}  // namespace

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

namespace {

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
// 64 bits), `length` bytes of sign and digits at `text`, given the value of
// its first 19 significant digits and where the rest, `more` of them, start.
double wide_integer_to_double(const char* text, std::size_t length, bool negative, std::uint64_t first,
                              const char* rest, std::size_t more) {
#ifdef __SIZEOF_INT128__
    // Up to 38 digits the integer is held exactly, and converted once.
    if (more <= 19) {
        __extension__ typedef unsigned __int128 uint128;
        std::uint64_t tail = 0, scale = 1;
        for (std::size_t k = 0; k < more; ++k, scale *= 10) tail = tail * 10 + static_cast<std::uint64_t>(rest[k] - '0');
        const double value = static_cast<double>(static_cast<uint128>(first) * scale + tail);
        return negative ? -value : value;
    }
#else
    (void)negative, (void)first, (void)rest, (void)more;
#endif
    return text_to_double(text, length, std::string::npos, true);
}

}  // namespace

// One pass over the number: an optionally signed integer, at its exact
// value; when a '.', E or D follows its digits, when a '.' and a digit follow
// the sign, or when a '.', E or D stands at `pos`, a floating number instead:
// sign, mantissa with at least one digit and an exponent introduced by E, e,
// D or d. A floating number without a mantissa digit is 0.0 and leaves `pos`,
// as does an integer without digits (DT_INT 0): nothing read leaves `pos`.
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
        if (d + 4 <= run + kept) {
            mantissa = mantissa * 10000 + four_digits(d);
            d += 4;
        }
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
    // A mantissa may also begin at its point, after any blanks and sign:
    // ".5", "-.5", "( .5" (FITS asks for one of the integer and fraction
    // parts, not both).
    const bool fraction_first = !integer && *p == '.' && is_digit(p[1]);
    const std::size_t after = integer || fraction_first ? i : pos;
    const char next = after < n ? text[after] : '\0';
    if (next != '.' && next != 'E' && next != 'D') {
        pos = after;
        if (!integer) {
            int_value = 0;
            return DT_INT;
        }
        if (digits <= 19) return integer_type(negative, mantissa, int_value, double_value);
        double_value = wide_integer_to_double(text + start, i - start, negative, mantissa, run + 19, digits - 19);
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
            // outside the double range either way, kept so with its sign.
            const std::int64_t total = std::int64_t{exponent} + power;
            exponent = total > 10000 ? 10000 : total < -10000 ? -10000 : static_cast<int>(total);
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
    // The position the record takes among the entry's records: the next one,
    // or its own when it is parsed in place in storage lent to the entry.
    const keyword_record* first = entry.krs_.data();
    const std::less<const keyword_record*> before;
    index_ = static_cast<std::int32_t>(!before(this, first) && before(this, first + entry.krs_.size())
                                           ? this - first
                                           : static_cast<std::ptrdiff_t>(entry.krs_.size()));

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

    const bool indicator = card[8] == '=' && card[9] == ' ';
    if (!indicator && type_ == KWRT_NONE) {
        if (card.compare(0, name_field, "HIERARCH") == 0 && card[8] == ' ') {
            parse_hierarch(card);
            return;
        }
        if (is_commentary(card)) {
            type_ = KWRT_COMMENTARY;
            parse_comment(card, name_field);
            return;
        }
    }
    bool continue_blank = type_ == KWRT_CONTINUE && card[8] == ' ' && card[9] == ' ';
    if (!indicator && !continue_blank) fail("Bad keyword format");
    dt_ = DT_UNKNOWN;
    if (type_ != KWRT_CONTINUE) type_ = KWRT_VALUE;
    parse_value(card, value_column);
}

// A HIERARCH card (the name field "HIERARCH", column 9 blank): the keyword
// is the text from column 10 up to the first '=', without its outer blanks,
// and the value and comment are read from the column after that '=' as an
// ordinary card's are from column 11. Without an '=' or with an empty
// keyword the card is commentary.
void keyword_record::parse_hierarch(const std::string& card) {
    const std::size_t equals = card.find('=', 9);
    std::size_t first = 9, last = equals == std::string::npos ? 9 : equals;
    while (first < last && card[first] == ' ') ++first;
    while (last > first && card[last - 1] == ' ') --last;
    if (first == last) {
        type_ = KWRT_COMMENTARY;
        parse_comment(card, name_field);
        return;
    }
    name_.append(" ").append(card, first, last - first);
    type_ = KWRT_VALUE;
    dt_ = DT_UNKNOWN;
    parse_value(card, equals + 1);
}

// Reads the value from `column` (0-based) on, then what follows it.
void keyword_record::parse_value(const std::string& card, std::size_t column) {
    std::size_t start = skip_blanks(card, column);
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
    } else if (first == '+' || first == '-' || is_digit(first) || (first == '.' && is_digit(at(card, start + 1)))) {
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
    // Each part must hold a number: "(,1)" and "(1, )" have a part missing,
    // not a part of 0. A number read moves the position; nothing read does not.
    const std::size_t re_start = pos;
    std::int32_t re_dt = parse_number(card, pos, re_int, re_double);
    if (pos == re_start) fail("Bad complex number format");
    pos = skip_blanks(card, pos);
    if (pos == std::string::npos || card[pos] != ',') fail("Bad complex number format");
    const std::size_t im_start = ++pos;
    std::int32_t im_dt = parse_number(card, pos, im_int, im_double);
    if (pos == im_start) fail("Bad complex number format");
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

}  // namespace velmora
