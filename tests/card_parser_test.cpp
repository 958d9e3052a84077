// The card parser: one 80-character header card into a typed keyword record,
// and the number reader it uses for plain and complex values.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace {

using namespace velmora;

using pair_i = std::pair<std::int32_t, std::int32_t>;
using pair_d = std::pair<double, double>;
// The value a record carries: none (null), or the member that dt_ selects.
using value = std::variant<std::monostate, bool, std::int32_t, std::int64_t, double, std::string, pair_i, pair_d>;

const value none{};
value B(bool v) { return value{v}; }
value I(std::int32_t v) { return value{v}; }
value L(std::int64_t v) { return value{v}; }
value D(double v) { return value{v}; }
value S(const std::string& v) { return value{v}; }
value CI(std::int32_t re, std::int32_t im) { return value{pair_i{re, im}}; }
value CD(double re, double im) { return value{pair_d{re, im}}; }

constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();
const double inf = std::numeric_limits<double>::infinity();

value value_of(const keyword_record& kr) {
    if (kr.is_null_) return none;
    switch (kr.dt_) {
        case DT_BOOL: return kr.bool_value_;
        case DT_INT: return kr.int_value_;
        case DT_INT64: return kr.int64_value_;
        case DT_DOUBLE: return kr.double_value_;
        case DT_STRING: return kr.string_value_;
        case DT_COMPLEX_INT: return kr.complex_int_value_;
        case DT_COMPLEX_DOUBLE: return kr.complex_double_value_;
        default: return S("<non-null record of type " + std::to_string(kr.dt_) + ">");
    }
}

// A valued card: name, "= ", then `text` from column 11.
std::string V(const std::string& name, const std::string& text) { return fitsb::card(name, text); }
// A card with the given columns 9-10 in place of "= ".
std::string V(const std::string& name, const std::string& text, const std::string& indicator) {
    return fitsb::card(name, text, "", indicator);
}
std::string blanks(std::size_t n) { return std::string(n, ' '); }

// The message of the error `parse` raises, or "no error".
std::string parse_error(const std::string& card) {
    hdu_entry entry(HT_PRIMARY);
    keyword_record kr;
    return fitsb::message_of([&] { kr.parse(entry, card); });
}

struct card_case {
    std::string card;
    std::int32_t type;
    std::string name;
    std::int32_t dt;
    value v;  // none: is_null_ must be true
    std::string comment;
};

TEST(CardParser, CardsBecomeRecords) {
    const std::vector<card_case> cases = {
        // Logicals, in column 11, in the fixed column 30, in column 80.
        {V("SIMPLE", "T"), KWRT_VALUE, "SIMPLE", DT_BOOL, B(true), ""},
        {V("SIMPLE", fitsb::fixed("T")), KWRT_VALUE, "SIMPLE", DT_BOOL, B(true), ""},
        {V("EXTEND", "F / no"), KWRT_VALUE, "EXTEND", DT_BOOL, B(false), " no"},
        {fitsb::raw("FLAG    = " + blanks(69) + "T"), KWRT_VALUE, "FLAG", DT_BOOL, B(true), ""},
        // Integers: sign, leading zeros, exact at any size (32 bits, 64 bits,
        // then the nearest double), comment glued to the value.
        {V("EXPOSURE", "1500 / seconds"), KWRT_VALUE, "EXPOSURE", DT_INT, I(1500), " seconds"},
        {V("COUNT", "+007"), KWRT_VALUE, "COUNT", DT_INT, I(7), ""},
        {V("COUNT", "+000000000000000000000042"), KWRT_VALUE, "COUNT", DT_INT, I(42), ""},
        {V("COUNT", "2147483647"), KWRT_VALUE, "COUNT", DT_INT, I(int_max), ""},
        {V("COUNT", "-2147483648"), KWRT_VALUE, "COUNT", DT_INT, I(int_min), ""},
        {V("BZERO", "2147483648"), KWRT_VALUE, "BZERO", DT_INT64, L(2147483648), ""},
        {V("COUNT", "-2147483649"), KWRT_VALUE, "COUNT", DT_INT64, L(-2147483649), ""},
        {V("DSUN_REF", "149597870691 / m"), KWRT_VALUE, "DSUN_REF", DT_INT64, L(149597870691), " m"},
        {V("COUNT", "-99999999999"), KWRT_VALUE, "COUNT", DT_INT64, L(-99999999999), ""},
        {V("COUNT", "9223372036854775807"), KWRT_VALUE, "COUNT", DT_INT64, L(int64_max), ""},
        {V("COUNT", "-0009223372036854775808"), KWRT_VALUE, "COUNT", DT_INT64, L(int64_min), ""},
        {V("COUNT", "9223372036854775808"), KWRT_VALUE, "COUNT", DT_DOUBLE, D(9223372036854775808.0), ""},
        {V("COUNT", "-9223372036854775809"), KWRT_VALUE, "COUNT", DT_DOUBLE, D(-9223372036854775808.0), ""},
        {V("COUNT", "18446744073709551616"), KWRT_VALUE, "COUNT", DT_DOUBLE, D(18446744073709551616.0), ""},
        {V("QID", "30002000000000008375"), KWRT_VALUE, "QID", DT_DOUBLE, D(30002000000000008375.0), ""},
        {V("COUNT", "123456789012345678901234567890"), KWRT_VALUE, "COUNT", DT_DOUBLE, D(1.2345678901234568e29), ""},
        {V("COUNT", "5/x"), KWRT_VALUE, "COUNT", DT_INT, I(5), "x"},
        {V("COUNT", "5 /    "), KWRT_VALUE, "COUNT", DT_INT, I(5), ""},
        {fitsb::raw("COUNT   = " + blanks(68) + "5/"), KWRT_VALUE, "COUNT", DT_INT, I(5), ""},
        // Floating values: E and D exponents, lower-case letters after a point, overflow.
        {V("TEMP", "-12.5E1"), KWRT_VALUE, "TEMP", DT_DOUBLE, D(-125.0), ""},
        {V("RATIO", "2.5D-3"), KWRT_VALUE, "RATIO", DT_DOUBLE, D(0.0025), ""},
        {V("SCALE", "3D2"), KWRT_VALUE, "SCALE", DT_DOUBLE, D(300.0), ""},
        {V("SCALE", "1.5e2"), KWRT_VALUE, "SCALE", DT_DOUBLE, D(150.0), ""},
        {V("SCALE", "1.5d2 / x"), KWRT_VALUE, "SCALE", DT_DOUBLE, D(150.0), " x"},
        {V("SCALE", "1."), KWRT_VALUE, "SCALE", DT_DOUBLE, D(1.0), ""},
        {V("HUGE", "1E400"), KWRT_VALUE, "HUGE", DT_DOUBLE, D(inf), ""},
        {V("HUGE", "-1D400"), KWRT_VALUE, "HUGE", DT_DOUBLE, D(-inf), ""},
        // Reals without integer digits: a point and a digit, after a sign or not.
        {V("CDELT1", ".1"), KWRT_VALUE, "CDELT1", DT_DOUBLE, D(0.1), ""},
        {V("HALF", "-.5"), KWRT_VALUE, "HALF", DT_DOUBLE, D(-0.5), ""},
        {V("HALF", "+.5 / half"), KWRT_VALUE, "HALF", DT_DOUBLE, D(0.5), " half"},
        {V("SCALE", "+.25E2"), KWRT_VALUE, "SCALE", DT_DOUBLE, D(25.0), ""},
        {V("TINY", fitsb::fixed(".000125d-2")), KWRT_VALUE, "TINY", DT_DOUBLE, D(1.25e-6), ""},
        // A point without a digit after it is no number: no value, nothing more read.
        {V("HALF", "."), KWRT_VALUE, "HALF", DT_UNKNOWN, none, ""},
        {V("HALF", ".E5 / x"), KWRT_VALUE, "HALF", DT_UNKNOWN, none, ""},
        {V("HALF", ". 5"), KWRT_VALUE, "HALF", DT_UNKNOWN, none, ""},
        // Strings: doubled quotes, leading blanks kept, trailing blanks dropped, null and blank.
        {V("LABEL", "'it''s  '"), KWRT_VALUE, "LABEL", DT_STRING, S("it's"), ""},
        {V("LABEL", "'  lead'"), KWRT_VALUE, "LABEL", DT_STRING, S("  lead"), ""},
        {V("LABEL", "''"), KWRT_VALUE, "LABEL", DT_STRING, none, ""},
        {V("LABEL", "'   '"), KWRT_VALUE, "LABEL", DT_STRING, S(""), ""},
        {V("LABEL", "''''"), KWRT_VALUE, "LABEL", DT_STRING, S("'"), ""},
        {V("LABEL", "'a/b' / x  y   "), KWRT_VALUE, "LABEL", DT_STRING, S("a/b"), " x  y"},
        {fitsb::raw("LABEL   = '" + std::string(68, 'x') + "'"), KWRT_VALUE, "LABEL", DT_STRING,
         S(std::string(68, 'x')), ""},
        // Complex pairs: integer parts, any floating part, blanks around the parts.
        {V("ZI", "(3, -4)"), KWRT_VALUE, "ZI", DT_COMPLEX_INT, CI(3, -4), ""},
        {V("ZI", "(2147483647,-2147483648)"), KWRT_VALUE, "ZI", DT_COMPLEX_INT, CI(int_max, int_min), ""},
        {V("ZD", "(99999999999,-1)/c"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(99999999999.0, -1.0), "c"},
        {V("ZD", "(1, -99999999999999999999)"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(1.0, -1e20), ""},
        {V("ZD", "( 1.5 , 2 )"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(1.5, 2.0), ""},
        {V("ZD", "(.5,1)"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(0.5, 1.0), ""},
        {V("ZD", "( .5, 1)"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(0.5, 1.0), ""},
        {V("ZD", "( .5,1)"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(0.5, 1.0), ""},
        {V("ZD", "(-.5,+.5)"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(-0.5, 0.5), ""},
        {V("ZD", "(1, .5E1)"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(1.0, 5.0), ""},
        {V("ZD", "(1, 2E1) / z"), KWRT_VALUE, "ZD", DT_COMPLEX_DOUBLE, CD(1.0, 20.0), " z"},
        // Valued keywords without a value: blank field, "/" first, unrecognised first character.
        {V("UNDEF", ""), KWRT_VALUE, "UNDEF", DT_UNKNOWN, none, ""},
        {V("UNDEF", "/ no value"), KWRT_VALUE, "UNDEF", DT_UNKNOWN, none, " no value"},
        {fitsb::raw("UNDEF   = " + blanks(69) + "/"), KWRT_VALUE, "UNDEF", DT_UNKNOWN, none, ""},
        {V("FLAG", "t"), KWRT_VALUE, "FLAG", DT_UNKNOWN, none, ""},
        {V("WORD", "INDEF / note"), KWRT_VALUE, "WORD", DT_UNKNOWN, none, ""},
        // Names: cut at the first blank, eight characters, whole-name classification.
        {V("AB CD", "1"), KWRT_VALUE, "AB", DT_INT, I(1), ""},
        {V("ABCDEFGH", "1"), KWRT_VALUE, "ABCDEFGH", DT_INT, I(1), ""},
        {V("COMMENTS", "5"), KWRT_VALUE, "COMMENTS", DT_INT, I(5), ""},
        // Commentary cards: columns 9-80 are the comment whatever they hold.
        {fitsb::raw("END"), KWRT_END, "END", DT_UNKNOWN, none, ""},
        {fitsb::raw("END     " "  junk"), KWRT_END, "END", DT_UNKNOWN, none, "  junk"},
        {V("END", "5"), KWRT_END, "END", DT_UNKNOWN, none, "= 5"},
        {fitsb::raw("COMMENT " "  some text   "), KWRT_COMMENT, "COMMENT", DT_UNKNOWN, none, "  some text"},
        {V("COMMENT", "'x'"), KWRT_COMMENT, "COMMENT", DT_UNKNOWN, none, "= 'x'"},
        {fitsb::raw("HISTORY made it"), KWRT_HISTORY, "HISTORY", DT_UNKNOWN, none, "made it"},
        {V("", "5"), KWRT_BLANK, "", DT_UNKNOWN, none, "= 5"},
        {fitsb::raw(""), KWRT_BLANK, "", DT_UNKNOWN, none, ""},
        {fitsb::raw("  X     = 5"), KWRT_BLANK, "", DT_UNKNOWN, none, "= 5"},
        // CONTINUE: a value like any valued card, with "= " or two blanks.
        {V("CONTINUE", "'more text'", "  "), KWRT_CONTINUE, "CONTINUE", DT_STRING, S("more text"), ""},
        {V("CONTINUE", "7"), KWRT_CONTINUE, "CONTINUE", DT_INT, I(7), ""},
        {V("CONTINUE", "", "  "), KWRT_CONTINUE, "CONTINUE", DT_UNKNOWN, none, ""},
        // Commentary keywords: a name of keyword characters without "= ".
        {V("NOEQ", "5", "  "), KWRT_COMMENTARY, "NOEQ", DT_UNKNOWN, none, "  5"},
        {V("KEY", "5", ": "), KWRT_COMMENTARY, "KEY", DT_UNKNOWN, none, ": 5"},
        {fitsb::raw("TELESCOP"), KWRT_COMMENTARY, "TELESCOP", DT_UNKNOWN, none, ""},
        {fitsb::raw("DATE-OBS  2020-01-01  "), KWRT_COMMENTARY, "DATE-OBS", DT_UNKNOWN, none, "  2020-01-01"},
        {fitsb::raw("A_1 "), KWRT_COMMENTARY, "A_1", DT_UNKNOWN, none, ""},
        // HIERARCH keywords: the name up to the first '=', its value after it.
        {fitsb::raw("HIERARCH ESO DET CHIP1 ID = 'ccd1' / id"), KWRT_VALUE, "HIERARCH ESO DET CHIP1 ID", DT_STRING,
         S("ccd1"), " id"},
        {fitsb::raw("HIERARCH ESO ADA ABSROT END  =      0.00099 / deg"), KWRT_VALUE, "HIERARCH ESO ADA ABSROT END",
         DT_DOUBLE, D(0.00099), " deg"},
        {fitsb::raw("HIERARCH time_recorded = '2012-11-24T03:38:38'"), KWRT_VALUE, "HIERARCH time_recorded",
         DT_STRING, S("2012-11-24T03:38:38"), ""},
        {fitsb::raw("HIERARCH   A  B=T"), KWRT_VALUE, "HIERARCH A  B", DT_BOOL, B(true), ""},
        {fitsb::raw("HIERARCH ESO DET CHIPS =1"), KWRT_VALUE, "HIERARCH ESO DET CHIPS", DT_INT, I(1), ""},
        {fitsb::raw("HIERARCH X = 2147483648"), KWRT_VALUE, "HIERARCH X", DT_INT64, L(2147483648), ""},
        {fitsb::raw("HIERARCH X = (1, .5)"), KWRT_VALUE, "HIERARCH X", DT_COMPLEX_DOUBLE, CD(1.0, 0.5), ""},
        {fitsb::raw("HIERARCH X = / none"), KWRT_VALUE, "HIERARCH X", DT_UNKNOWN, none, " none"},
        {fitsb::raw("HIERARCH X = 'a=b' / c=d"), KWRT_VALUE, "HIERARCH X", DT_STRING, S("a=b"), " c=d"},
        {fitsb::raw("HIERARCH " + std::string(70, 'K') + "="), KWRT_VALUE, "HIERARCH " + std::string(70, 'K'),
         DT_UNKNOWN, none, ""},
        {fitsb::raw("HIERARCH= 5"), KWRT_VALUE, "HIERARCH", DT_INT, I(5), ""},
        // Without an '=' or a keyword before it, a HIERARCH card is commentary.
        {fitsb::raw("HIERARCH ESO no value here"), KWRT_COMMENTARY, "HIERARCH", DT_UNKNOWN, none, " ESO no value here"},
        {fitsb::raw("HIERARCH    = 5"), KWRT_COMMENTARY, "HIERARCH", DT_UNKNOWN, none, "    = 5"},
    };
    for (const card_case& c : cases) {
        SCOPED_TRACE("card [" + c.card + "]");
        ASSERT_EQ(c.card.size(), fitsb::card_len);
        hdu_entry entry(HT_PRIMARY);
        keyword_record kr;
        try {
            kr.parse(entry, c.card);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "threw: " << e.what();
            continue;
        }
        EXPECT_EQ(kr.type_, c.type);
        EXPECT_EQ(kr.name_, c.name);
        EXPECT_EQ(kr.dt_, c.dt);
        EXPECT_EQ(kr.is_null_, std::holds_alternative<std::monostate>(c.v));
        EXPECT_EQ(value_of(kr), c.v);
        if (kr.is_null_) {
            EXPECT_EQ(kr.string_value_, "");
        }
        EXPECT_EQ(kr.comment_, c.comment);
    }
}

TEST(CardParser, MalformedCardsAreRejected) {
    const std::string eol = "EOL in string";
    const std::string garbage = "Garbage chars after value";
    const std::string complex = "Bad complex number format";
    const std::string format = "Bad keyword format";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {V("LABEL", "'abc"), eol},
        {fitsb::raw("LABEL   = '" + std::string(67, 'x') + "''"), eol},  // doubled quote in 79-80
        {fitsb::raw("LABEL   = " + blanks(69) + "'"), eol},               // opening quote in column 80
        {V("COUNT", "12e3"), garbage},   // lower-case letter right after the digits
        {V("COUNT", "12d3"), garbage},
        {V("COUNT", "1E"), garbage},     // exponent letter without digits is not part of the number
        {V("COUNT", "1.5E+"), garbage},
        {V("COUNT", "5,6"), garbage},
        {V("HALF", "-."), garbage},      // a sign must be followed by a digit, or a point and a digit
        {V("HALF", "-.E5"), garbage},
        {V("HALF", ".5x"), garbage},
        {V("HALF", ".5.5"), garbage},
        {V("SIGN", "+"), garbage},
        {V("SIGN", "- 5"), garbage},
        {V("FLAG", "TRUE"), garbage},
        {V("LABEL", "'abc' x"), garbage},
        {V("ZB", "(1,2)x"), garbage},
        {V("ZD", "(.,1)"), complex},
        {V("ZD", "(1,-.)"), complex},
        // A part without a number is missing, not 0.
        {V("ZB", "(,1)"), complex},
        {V("ZB", "(1,)"), complex},
        {V("ZB", "( , )"), complex},
        {V("ZB", "(1.5,  )"), complex},
        {V("ZB", "()"), complex},
        {V("ZB", "(1 2)"), complex},
        {V("ZB", "(1,"), complex},
        {V("ZB", "(1,2"), complex},
        {V("ZB", "(-,1)"), complex},
        {V("ZB", "(1e2,1)"), complex},
        // A keyword without "= " is commentary only when its name is all
        // keyword characters and neither column 9 nor 10 holds '='.
        {fitsb::raw("NOEQ    =5"), format},
        {fitsb::raw("FILTER   ='x'"), format},
        {fitsb::raw("end"), format},     // only upper-case END ends a header
        {fitsb::raw("Filter    x"), format},
        {fitsb::raw("A.B       x"), format},
        {fitsb::raw("AB CD     x"), format},
        {fitsb::raw("HIERARCHX = 5"), format},
        {fitsb::raw("HIERARCH=5"), format},
        // A HIERARCH keyword's value is read by the same rules.
        {fitsb::raw("HIERARCH ESO DET CHIPS = 'abc"), eol},
        {fitsb::raw("HIERARCH ESO DET CHIPS = 1 x"), garbage},
        {fitsb::raw("HIERARCH ESO DET CHIPS = (1,)"), complex},
        {V("CONTINUE", "'more'", "x "), format},
    };
    for (const auto& [card, message] : cases) {
        SCOPED_TRACE("card [" + card + "]");
        EXPECT_EQ(parse_error(card), message);
        // Read from a file, the card after SIMPLE, BITPIX and NAXIS is named.
        EXPECT_EQ(fitsb::error_of(fitsb::primary(8, {}).add(card).end().bytes()), "HDU 1, card 4: " + message);
    }
}

TEST(CardParser, ParseRecordsOwnerAndPosition) {
    hdu_entry entry(HT_PRIMARY);
    entry.add_record(keyword_record(entry, V("SIMPLE", "T")));
    entry.add_record(keyword_record(entry, V("BITPIX", "8")));
    keyword_record kr(entry, V("NAXIS", "0"));
    EXPECT_EQ(kr.owner_, &entry);
    EXPECT_EQ(kr.index_, 2);
    EXPECT_EQ(entry.krs_.size(), 2u);  // parsing does not append
}

struct number_case {
    std::string text;
    std::size_t start;
    value v;  // an std::int32_t for DT_INT, an std::int64_t for DT_INT64, a double for DT_DOUBLE
    std::size_t end;
};

TEST(CardParser, ParseNumberReadsOneNumber) {
    const std::vector<number_case> cases = {
        {"42", 0, I(42), 2},
        {"+007x", 0, I(7), 4},
        {"  \t42)", 0, I(42), 5},         // white space before the number is skipped
        {"ab -7,", 2, I(-7), 5},
        {"2147483647", 0, I(int_max), 10},
        {"2147483648", 0, L(2147483648), 10},
        {"-2147483649", 0, L(-2147483649), 11},
        {"99999999999999999999", 0, D(1e20), 20},
        {"-0000000000002147483648", 0, I(int_min), 23},
        {"-9223372036854775808,", 0, L(int64_min), 20},
        {"0x10", 0, I(0), 1},
        {"12e3", 0, I(12), 2},            // lower case right after the digits: integer
        {"1d2", 0, I(1), 1},
        // Nothing read: 0 and the position stays at the start, before blanks and sign.
        {"+", 0, I(0), 0},
        {"-x", 0, I(0), 0},
        {"ab - 7", 2, I(0), 2},
        {"- .5", 0, I(0), 0},
        {"-.", 0, I(0), 0},
        {" .E5", 0, I(0), 0},
        {"", 0, I(0), 0},
        // Floating: decided by ".", "E" or "D" right after the digits.
        {"3D2", 0, D(300.0), 3},
        {"2.5D-3,", 0, D(0.0025), 6},
        {"2.5d-3", 0, D(0.0025), 6},
        {"1.5e+2", 0, D(150.0), 6},
        {"-12.5E1", 0, D(-125.0), 7},
        {"1.e5", 0, D(1e5), 4},
        {".5", 0, D(0.5), 2},
        // or by a point and a digit after the blanks and sign.
        {" .5", 0, D(0.5), 3},
        {"-.5", 0, D(-0.5), 3},
        {"+.25E2,", 0, D(25.0), 6},
        {"( \t.5e-1)", 1, D(0.05), 8},
        {"(.25,", 1, D(0.25), 4},
        {"1E", 0, D(1.0), 1},             // the letter without digits is not part of the number
        {"1E+)", 0, D(1.0), 1},
        {"1.5E-x", 0, D(1.5), 3},
        {"1E400", 0, D(inf), 5},
        {"-1D400", 0, D(-inf), 6},
        {".", 0, D(0.0), 0},              // no mantissa digit: 0.0 at the start
        {"E5", 0, D(0.0), 0},
    };
    for (const number_case& c : cases) {
        SCOPED_TRACE("text [" + c.text + "] from " + std::to_string(c.start));
        std::size_t pos = c.start;
        std::int64_t int_value = 77;
        double double_value = 7.5;
        std::int32_t dt = parse_number(c.text, pos, int_value, double_value);
        if (!std::holds_alternative<double>(c.v)) {
            const bool narrow = std::holds_alternative<std::int32_t>(c.v);
            EXPECT_EQ(dt, narrow ? DT_INT : DT_INT64);
            EXPECT_EQ(narrow ? value(static_cast<std::int32_t>(int_value)) : value(int_value), c.v);
            EXPECT_EQ(double_value, 7.5);  // the other result is left alone
        } else {
            EXPECT_EQ(dt, DT_DOUBLE);
            EXPECT_EQ(value(double_value), c.v);
            EXPECT_EQ(int_value, 77);
        }
        EXPECT_EQ(pos, c.end);
    }
}

}  // namespace
