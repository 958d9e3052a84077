// Numbers between text and binary, held to the C library's own conversions
// in the "C" locale over many values: every number text is read whole, as
// the rules read it, to the value strtod and strtoll give the same text; and
// a double is written as printf's %.15g writes it. The same holds whatever
// locale the program has set (one with ',' as decimal mark is tried), on
// every target the tests are built for. TESSARY_NUMBER_CHECKS sets how many
// random texts each check draws (default one million), for a longer run by
// hand.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace velmora;

std::size_t draws() {
    const char* n = std::getenv("TESSARY_NUMBER_CHECKS");
    return n ? static_cast<std::size_t>(std::strtoull(n, nullptr, 10)) : 1000000;
}

// A random number text as cards hold them, read whole by the rules: sign, 1
// to 25 digits with or without a point among them (".5" and "5." too), an
// exponent letter with a sign and up to three digits: any of E, e, D, d
// after a point, only E or D right after integer digits.
std::string random_number(std::mt19937_64& rng) {
    auto pick = [&](std::uint64_t n) { return static_cast<std::size_t>(rng() % n); };
    std::string text;
    if (pick(3) == 0) text += pick(2) ? '-' : '+';
    const std::size_t digits = 1 + pick(pick(4) == 0 ? 25 : 17);
    const std::size_t point = pick(3) == 0 ? digits + 1 : pick(digits + 1);
    for (std::size_t i = 0; i < digits; ++i) {
        if (i == point) text += '.';
        text += static_cast<char>('0' + (i == 0 && pick(4) == 0 ? 0 : pick(10)));
    }
    if (point == digits) text += '.';
    if (pick(point <= digits ? 2 : 4) == 0) {
        text += point <= digits ? "EeDd"[pick(4)] : "ED"[pick(2)];
        if (pick(2)) text += pick(2) ? '-' : '+';
        text += std::to_string(pick(pick(8) == 0 ? 400 : 40));
    }
    return text;
}

// A number's value as the rules give it, computed by the C library in the
// "C" locale: an integer within 64 bits exactly, anything else as the
// nearest double (D and d being E).
struct reading {
    std::int32_t dt = DT_UNKNOWN;  // DT_INT, DT_INT64 or DT_DOUBLE
    std::int64_t integer = 0;
    double value = 0;
};

reading expected_reading(const std::string& text) {
    reading r;
    if (text.find_first_of(".EeDd") == std::string::npos) {
        errno = 0;
        r.integer = std::strtoll(text.c_str(), nullptr, 10);
        if (errno == 0) {
            r.dt = r.integer >= std::numeric_limits<std::int32_t>::min() &&
                           r.integer <= std::numeric_limits<std::int32_t>::max()
                       ? DT_INT
                       : DT_INT64;
            return r;
        }
    }
    std::string c_text = text;
    for (char& c : c_text)
        if (c == 'D' || c == 'd') c = 'e';
    r.dt = DT_DOUBLE;
    r.value = std::strtod(c_text.c_str(), nullptr);
    return r;
}

bool same(const reading& a, const reading& b) {
    return a.dt == b.dt && (a.dt == DT_DOUBLE ? std::memcmp(&a.value, &b.value, sizeof a.value) == 0
                                              : a.integer == b.integer);
}

std::string shown(const reading& r) {
    if (r.dt != DT_DOUBLE) return std::to_string(r.integer) + " of type " + std::to_string(r.dt);
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, r.value).ptr);
}

// Number texts with their expected readings, all computed before any check
// runs, so that a check may run under another locale.
struct number_texts {
    std::vector<std::string> texts;
    std::vector<reading> expected;
    void add(const std::string& text) {
        texts.push_back(text);
        expected.push_back(expected_reading(text));
    }
};

number_texts random_texts(std::size_t n) {
    number_texts t;
    for (const char* edge :
         {"0", "-0", "+0.0", "0.", ".5", "-.5", "+.25E2", ".1", "-.000e-0", "9007199254740993", "9007199254740993.0",
          "2147483647", "2147483648", "-2147483648", "-2147483649", "9223372036854775807", "9223372036854775808",
          "-9223372036854775808", "-9223372036854775809", "18446744073709551615", "18446744073709551616",
          "99999999999999999999999999999999999999", "999999999999999999999999999999999999999", "1E308",
          "1.7976931348623157E308", "1.7976931348623159E308", "4.9E-324", "2.4703282292062327E-324",
          "2.4703282292062328E-324", "1E-400", "-1E-400", "1E400", "123456789012345.5", "0.1E-22", "1E22", "1E23",
          "999999999999999E22", "1929.49980932295", "1.2345678901234567", "1.5E300", "1E2147483648",
          "1E-2147483649"})
        t.add(edge);
    std::mt19937_64 rng(20261207);
    for (std::size_t i = 0; i < n; ++i) t.add(random_number(rng));
    return t;
}

// A double every finite bit pattern of which is equally likely.
double any_finite_double(std::mt19937_64& rng) {
    double value;
    do {
        const std::uint64_t bits = rng();
        std::memcpy(&value, &bits, sizeof value);
    } while (!std::isfinite(value));
    return value;
}

// The shortest text that reads back as `value` (as Python's repr and other
// writers print doubles), in scientific notation when `scientific`.
std::string shortest(double value, bool scientific) {
    char text[40];
    const auto format = scientific ? std::chars_format::scientific : std::chars_format::general;
    return std::string(text, std::to_chars(text, text + sizeof text, value, format).ptr);
}

// Texts aimed at where a conversion goes wrong: at most 15 digits near the
// end of the exact powers of ten; 16 and 17 digits; the midpoint between
// two adjacent doubles written to 40 digits (which rounds to even when the
// midpoint itself is written); exponents anywhere to +-308 with E and D.
number_texts aimed_texts(std::size_t n) {
    number_texts t;
    std::mt19937_64 rng(2880);
    auto pick = [&](std::uint64_t k) { return static_cast<std::size_t>(rng() % k); };
    auto any_double = [&] { return any_finite_double(rng); };
    char text[96];
    for (std::size_t i = 0; i < n; ++i) {
        switch (i % 5) {
            case 0: {  // up to 15 digits, exponents about the exact powers of ten
                std::string digits = std::to_string(1 + rng() % 999999999999999u).substr(0, 1 + pick(15));
                digits.insert(pick(digits.size() + 1), ".");
                t.add(digits + "E" + std::to_string(static_cast<int>(pick(61)) - 30));
                break;
            }
            case 1: {  // a double as a program writes it back: 16-17 digits
                const double value = std::ldexp(1.0 + static_cast<double>(rng() >> 11) / 9007199254740992.0,
                                                static_cast<int>(pick(120)) - 60);
                t.add(pick(2) ? shortest(value, false) : (std::snprintf(text, sizeof text, "%.16E", value), text));
                break;
            }
            case 2: {  // the midpoint of two adjacent doubles, to 40 digits
                const double low = std::fabs(any_double());
                const double high = std::nextafter(low, std::numeric_limits<double>::infinity());
                if (!std::isfinite(high)) continue;
                const long double midpoint = (static_cast<long double>(low) + high) / 2;
                std::snprintf(text, sizeof text, "%.39Le", midpoint);
                t.add(text);
                break;
            }
            case 3: {  // %.10E anywhere in the range, E or D
                std::snprintf(text, sizeof text, "%.10E", any_double());
                std::string s = text;
                if (pick(2)) s[s.find('E')] = 'D';
                t.add(s);
                break;
            }
            default: {  // short values a header holds
                std::snprintf(text, sizeof text, "%.*f", static_cast<int>(pick(7)),
                              static_cast<double>(rng() % 2000000) / 1000.0 - 1000.0);
                t.add(text);
                break;
            }
        }
    }
    return t;
}

// Reads every text whole with parse_number; returns how many read wrong
// (reporting the first ten).
std::size_t check_parse_number(const number_texts& t) {
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < t.texts.size(); ++i) {
        std::size_t pos = 0;
        reading got;
        got.dt = parse_number(t.texts[i], pos, got.integer, got.value);
        if (pos != t.texts[i].size() || !same(got, t.expected[i])) {
            if (++wrong <= 10)
                ADD_FAILURE() << t.texts[i] << " read to " << pos << " as " << shown(got) << ", the rules give "
                              << shown(t.expected[i]);
        }
    }
    return wrong;
}

// A primary header of one card per aimed text: the text alone, or as one
// part of a complex pair with the next text (a card holds two texts of up to
// 33 characters).
std::string aimed_file(const number_texts& t) {
    fitsb::hdu h = fitsb::primary(8, {});
    for (std::size_t i = 0; i < t.texts.size(); ++i) {
        const std::string& a = t.texts[i];
        const bool pair = i % 3 == 2 && i + 1 < t.texts.size() && a.size() <= 33 && t.texts[i + 1].size() <= 33;
        if (pair) {
            h.value("Z", "(" + a + (i % 2 ? ", " : " ,") + t.texts[i + 1] + ")");
            ++i;
        } else {
            h.value("A", i % 2 ? fitsb::fixed(a) : a);
        }
    }
    return h.end().bytes();
}

// Reads the aimed file through the library and checks every value, complex
// parts included; returns how many read wrong.
std::size_t check_aimed_file(const number_texts& t, const std::string& bytes) {
    fits_file file(memory_input{bytes.data(), bytes.size()}, RM_HEADERS_ONLY);
    std::size_t wrong = 0, i = 0;
    auto check = [&](const reading& got, const reading& expected, const std::string& text) {
        if (!same(got, expected) && ++wrong <= 10)
            ADD_FAILURE() << text << " read as " << shown(got) << ", the rules give " << shown(expected);
    };
    // A complex pair holds both parts as doubles unless both are 32-bit integers.
    auto as_part = [](reading r, bool doubles) {
        if (doubles && r.dt != DT_DOUBLE) r.value = static_cast<double>(r.integer), r.dt = DT_DOUBLE;
        return r;
    };
    for (const keyword_record& kr : file.hdus_.at(0).krs_) {
        if (kr.name_ == "A") {
            reading got;
            got.dt = kr.dt_;
            got.integer = kr.dt_ == DT_INT ? kr.int_value_ : kr.int64_value_;
            got.value = kr.double_value_;
            check(got, t.expected[i], t.texts[i]);
            ++i;
        } else if (kr.name_ == "Z") {
            const reading& re = t.expected[i];
            const reading& im = t.expected[i + 1];
            const bool doubles = re.dt != DT_INT || im.dt != DT_INT;
            reading got_re, got_im;
            got_re.dt = got_im.dt = doubles ? DT_DOUBLE : DT_INT;
            if (doubles) {
                got_re.value = kr.complex_double_value_.first;
                got_im.value = kr.complex_double_value_.second;
            } else {
                got_re.integer = kr.complex_int_value_.first;
                got_im.integer = kr.complex_int_value_.second;
            }
            EXPECT_EQ(kr.dt_, doubles ? DT_COMPLEX_DOUBLE : DT_COMPLEX_INT) << t.texts[i] << ", " << t.texts[i + 1];
            check(got_re, as_part(re, doubles), t.texts[i]);
            check(got_im, as_part(im, doubles), t.texts[i + 1]);
            i += 2;
        }
    }
    EXPECT_EQ(i, t.texts.size());
    return wrong;
}

// The aimed values: 280,000 of them.
constexpr std::size_t aimed_count = 280000;

TEST(NumberText, CardNumbersReadAsTheRulesReadThem) {
    EXPECT_EQ(check_parse_number(random_texts(draws())), 0u);
    const number_texts aimed = aimed_texts(aimed_count);
    EXPECT_EQ(check_parse_number(aimed), 0u);
    EXPECT_EQ(check_aimed_file(aimed, aimed_file(aimed)), 0u);
}

// The double every bit pattern of which is equally likely, infinities and
// not-a-number excepted; or the nearest to a decimal of 16 digits ending in
// 5, halfway between two of 15 digits; or one with few significant digits,
// as cards hold.
double random_double(std::mt19937_64& rng) {
    if (rng() % 4 == 0) {
        const std::string tie = std::to_string(100000000000000u + rng() % 900000000000000u) + "5e" +
                                std::to_string(static_cast<int>(rng() % 80) - 40);
        return std::strtod(tie.c_str(), nullptr);
    }
    if (rng() % 2 == 0) return any_finite_double(rng);
    return expected_reading(random_number(rng)).value;
}

// Doubles with what printf's %.15g writes for them in the "C" locale.
struct double_texts {
    std::vector<double> values;
    std::vector<std::string> expected;
};

double_texts printf_texts(std::size_t n) {
    std::vector<double> edges = {0.0, -0.0, 1.0, 0.1, 1e20, 123456789012345.0, 1234567890123456.0, 0.0001, 0.00001,
                                 1e15, 999999999999999.5, 9999999999999995.0, 0.5, 2.5, 1e-5, 1e-4,
                                 std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                                 std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(), 3.0002000000000008e19};
    // Halfway cases of 15 digits and their neighbours.
    for (double tie : {1.000000000000005, 123456789012345.5, 0.1000000000000005}) {
        edges.push_back(tie);
        edges.push_back(std::nextafter(tie, 0.0));
        edges.push_back(std::nextafter(tie, 10.0 * tie));
    }
    std::mt19937_64 rng(7);
    double_texts d;
    for (std::size_t i = 0; i < n + edges.size(); ++i) {
        const double value = i < edges.size() ? edges[i] : random_double(rng);
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", value);
        d.values.push_back(value);
        d.expected.push_back(text);
    }
    return d;
}

std::size_t check_written(const double_texts& d) {
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < d.values.size(); ++i) {
        const std::string written = fitsb::formatted(d.values[i]);
        if (written != d.expected[i] && ++wrong <= 10)
            ADD_FAILURE() << "wrote " << written << ", printf writes " << d.expected[i];
    }
    return wrong;
}

TEST(NumberText, DoublesWrittenAsPrintfWritesThem) { EXPECT_EQ(check_written(printf_texts(draws())), 0u); }

// Sets the C library's locale to one whose decimal mark is ',' (as a
// program with a user interface does from its user's environment) until
// the end of the scope; none() when the system has none.
class comma_locale {
public:
    comma_locale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point == std::string(",")) {
                set_ = true;
                return;
            }
        }
        std::setlocale(LC_ALL, "C");
    }
    ~comma_locale() { std::setlocale(LC_ALL, "C"); }
    bool none() const { return !set_; }

private:
    bool set_ = false;
};

TEST(NumberText, NumbersAreReadAndWrittenAlikeInEveryLocale) {
    // Every expectation is computed in the "C" locale first.
    const number_texts random = random_texts(draws() / 4);
    const number_texts aimed = aimed_texts(aimed_count);
    const std::string file = aimed_file(aimed);
    const double_texts written = printf_texts(draws() / 4);
    fitsb::hdu axis;
    axis.logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 1).value("NAXIS1", "1.5");
    const std::string bad_axis = axis.end().bytes();
    comma_locale locale;
    if (locale.none()) GTEST_SKIP() << "no locale with ',' as decimal mark here (localedef -i de_DE -f UTF-8 de_DE.UTF-8 makes one)";
    EXPECT_EQ(check_parse_number(random), 0u);
    EXPECT_EQ(check_parse_number(aimed), 0u);
    EXPECT_EQ(check_aimed_file(aimed, file), 0u);
    EXPECT_EQ(check_written(written), 0u);
    // An error's detail shows a double with its point.
    EXPECT_EQ(fitsb::error_of(bad_axis),
              "HDU 1, card 4: Unexpected keyword value type");
    try {
        fits_file bad(memory_input{bad_axis.data(), bad_axis.size()});
        ADD_FAILURE() << "read";
    } catch (const std::exception& e) {
        ASSERT_NE(location_of(e), nullptr);
        EXPECT_EQ(location_of(e)->detail, "NAXIS1 = 1.5: an integer is required");
    }
}

}  // namespace
