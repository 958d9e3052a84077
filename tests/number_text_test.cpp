// Numbers between text and binary, held to the C library's own conversions
// over many values: a card's number read as strtod and strtoll read it, and a
// double written as printf's %.15g writes it. TESSARY_NUMBER_CHECKS sets how
// many random values each check draws (default one million), for a longer
// run by hand.
#include "fits.h"
#include "fits_builder.h"

#include <gtest/gtest.h>

#include <cerrno>
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

std::size_t draws() {
    const char* n = std::getenv("TESSARY_NUMBER_CHECKS");
    return n ? static_cast<std::size_t>(std::strtoull(n, nullptr, 10)) : 1000000;
}

// A random number text as cards hold them: sign, 1 to 25 digits with or
// without a point among them, an exponent letter E, e, D or d with a sign
// and up to three digits.
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
    if (point <= digits && pick(2) == 0) {
        text += "EeDd"[pick(4)];
        if (pick(2)) text += pick(2) ? '-' : '+';
        text += std::to_string(pick(pick(8) == 0 ? 400 : 40));
    }
    return text;
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
    if (rng() % 2 == 0) {
        double value;
        do {
            const std::uint64_t bits = rng();
            std::memcpy(&value, &bits, sizeof value);
        } while (!std::isfinite(value));
        return value;
    }
    return std::strtod(random_number(rng).c_str(), nullptr);
}

TEST(NumberText, CardNumbersReadAsTheCLibraryReadsThem) {
    std::mt19937_64 rng(20261207);
    std::vector<std::string> edges = {"0", "-0", "+0.0", "0.", ".5", "9007199254740993", "9007199254740993.0",
                                      "2147483647", "2147483648", "-2147483648", "-2147483649",
                                      "9223372036854775807", "9223372036854775808", "-9223372036854775808",
                                      "-9223372036854775809", "18446744073709551615", "18446744073709551616",
                                      "99999999999999999999999999999999999999", "999999999999999999999999999999999999999",
                                      "1E308", "1.7976931348623157E308", "1.7976931348623159E308", "4.9E-324",
                                      "2.4703282292062327E-324", "1E-400", "123456789012345.5", "0.1E-22", "1E22",
                                      "1E23", "999999999999999E22"};
    std::size_t wrong = 0;
    const std::size_t n = draws();
    for (std::size_t i = 0; i < n + edges.size() && wrong < 10; ++i) {
        const std::string text = i < edges.size() ? edges[i] : random_number(rng);
        std::size_t pos = 0;
        std::int64_t integer = 0;
        double value = 0;
        const std::int32_t dt = velmora::parse_number(text, pos, integer, value);
        std::string c_text = text.substr(0, pos);
        for (char& c : c_text)
            if (c == 'D' || c == 'd') c = 'e';
        if (dt == velmora::DT_DOUBLE) {
            const double expected = std::strtod(c_text.c_str(), nullptr);
            if (std::memcmp(&expected, &value, sizeof value) != 0) {
                ADD_FAILURE() << text << " read as " << value << ", the C library reads " << expected;
                ++wrong;
            }
        } else {
            errno = 0;
            const long long expected = std::strtoll(c_text.c_str(), nullptr, 10);
            const bool narrow = integer >= std::numeric_limits<std::int32_t>::min() &&
                                integer <= std::numeric_limits<std::int32_t>::max();
            if (errno != 0 || expected != integer || narrow != (dt == velmora::DT_INT)) {
                ADD_FAILURE() << text << " read as integer " << integer << " of type " << dt;
                ++wrong;
            }
        }
    }
}

TEST(NumberText, DoublesWrittenAsPrintfWritesThem) {
    std::mt19937_64 rng(7);
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
    std::size_t wrong = 0;
    const std::size_t n = draws();
    for (std::size_t i = 0; i < n + edges.size() && wrong < 10; ++i) {
        const double value = i < edges.size() ? edges[i] : random_double(rng);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15g", value);
        const std::string written = fitsb::formatted(value);
        if (written != expected) {
            ADD_FAILURE() << "wrote " << written << ", printf writes " << expected;
            ++wrong;
        }
    }
}

}  // namespace
