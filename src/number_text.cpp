// velmora::fits - number texts: a double in the report's notation, 15
// significant digits as printf's %.15g lays them out, exact on every target.
#include "number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace velmora {

namespace {

// The 15 significant digits that %.15g rounds a positive normal `value` to,
// as an integer of 15 digits and the decimal exponent of its first; false
// when they cannot be told with certainty here. One scaling by an exact
// power of ten, rounded once, lands within 1/16 of value x 10^k (below 2^50
// a double's step is at most 1/8), so unless the scaled value lies within
// 1/16 of halfway between two integers, the nearer integer is the one the
// exact value rounds to. Values read from cards of at most 15 digits lie
// within 1/16 of an integer and always pass; the rest fall back. On x87 the
// product may be rounded to 64 bits first: it then lies within 1/16 and a
// hair, but a scaled value that is rounded to a double lies on its grid
// (multiples of 1/8 here), and one kept wider is off by far less than 1/16,
// so the same test tells the digits rightly.
bool fifteen_digits(double value, std::uint64_t& digits, int& exponent) {
    constexpr std::uint64_t lowest = 100000000000000u, limit = 1000000000000000u;
    // floor(log10(value)), or one less, from the binary exponent: 78913 /
    // 2^18 is log10(2) a little low.
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int binary = static_cast<int>(bits >> 52 & 0x7ff) - 1023;
    int e = binary >= 0 ? (binary * 78913) >> 18 : -((-binary * 78913 + (1 << 18) - 1) >> 18);
    for (int tries = 0; tries < 2; ++tries, ++e) {
        const int k = 14 - e;
        if (k > 22 || k < -22) return false;
        const double scaled = k >= 0 ? value * exact_powers_of_ten[k] : value / exact_powers_of_ten[-k];
        if (scaled >= static_cast<double>(limit)) continue;
        const double whole = std::floor(scaled);
        const double fraction = scaled - whole;  // exact
        if (fraction >= 0.4375 && fraction <= 0.5625) return false;  // too near halfway to tell
        const std::uint64_t m = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
        if (m >= limit) continue;
        if (m < lowest) return false;
        digits = m;
        exponent = e;
        return true;
    }
    return false;
}

// "00" to "99": decimal digits are written two at a time.
const std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Powers of ten as integers, for splitting digits.
constexpr std::uint64_t integer_powers_of_ten[] = {1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u,
                                                   100000000u, 1000000000u, 10000000000u, 100000000000u,
                                                   1000000000000u, 10000000000000u, 100000000000000u,
                                                   1000000000000000u};

// Writes the `width` decimal digits of `v` (below 10^width, leading zeros
// included) at `o`.
void write_digits(char* o, std::uint64_t v, std::size_t width) {
    char* p = o + width;
    while (p - o >= 2) {
        p -= 2;
        std::memcpy(p, &digit_pairs[static_cast<std::size_t>(v % 100) * 2], 2);
        v /= 100;
    }
    if (p > o) *--p = static_cast<char>('0' + v);
}

// Lays out the `count` significant digits of `m` (at most 15, the last not
// 0 unless m is), the first with the decimal exponent `exponent`, as %.15g
// does: fixed notation for exponents from -4 to 14, else d.ddde+XX with at
// least two exponent digits.
char* lay_out(char* o, bool negative, std::uint64_t m, std::size_t count, int exponent) {
    if (negative) *o++ = '-';
    if (exponent < -4 || exponent >= 15) {
        // The digits one place on, the first then moved before the point.
        write_digits(o + 1, m, count);
        o[0] = o[1];
        if (count > 1) {
            o[1] = '.';
            o += count + 1;
        } else {
            o += 1;
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        const unsigned magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
        if (magnitude >= 100) *o++ = static_cast<char>('0' + magnitude / 100);
        std::memcpy(o, &digit_pairs[(magnitude % 100) * 2], 2);
        return o + 2;
    }
    if (exponent < 0) {
        const std::size_t zeros = static_cast<std::size_t>(-exponent - 1);
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', zeros);
        write_digits(o + zeros, m, count);
        return o + zeros + count;
    }
    const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    if (count <= whole) {
        write_digits(o, m, count);
        std::memset(o + count, '0', whole - count);
        return o + whole;
    }
    const std::uint64_t split = integer_powers_of_ten[count - whole];
    write_digits(o, m / split, whole);
    o[whole] = '.';
    write_digits(o + whole + 1, m % split, count - whole);
    return o + count + 1;
}

// Drops the trailing zeros of the 15 digits of `m`; returns how many are left.
std::size_t strip_zeros(std::uint64_t& m) {
    std::size_t count = 15;
    for (std::size_t zeros : {8, 4, 2, 1}) {
        if (m % integer_powers_of_ten[zeros] == 0) {
            m /= integer_powers_of_ten[zeros];
            count -= zeros;
        }
    }
    return count;
}

}  // namespace

// Writes `value` at `out` as printf's %.15g does and returns the end. The
// digits come from fifteen_digits when it is sure of them; else, when the
// shortest text that reads back as a normal double has at most 15
// significant digits, those are the digits %.15g prints (the double lies far
// closer to them than half a step of 15 digits). Both are laid out as %.15g
// lays them out. Any other double goes through the 15-digit conversion.
char* write_double(char* out, double value) {
    const bool negative = std::signbit(value);
    if (value == 0) {
        if (negative) *out++ = '-';
        *out = '0';
        return out + 1;
    }
    std::uint64_t m = 0;
    int exponent = 0;
    if (std::isnormal(value) && fifteen_digits(negative ? -value : value, m, exponent)) {
        const std::size_t count = strip_zeros(m);
        return lay_out(out, negative, m, count, exponent);
    }
    char shortest[32];
    const char* end = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific).ptr;
    const char* p = shortest + (negative ? 1 : 0);
    if (!std::isnormal(value) || *p < '0' || *p > '9')
        return std::to_chars(out, out + 64, value, std::chars_format::general, 15).ptr;
    std::size_t count = 1;
    m = static_cast<std::uint64_t>(*p++ - '0');
    if (*p == '.')
        for (++p; p < end && *p != 'e' && count <= 15; ++p, ++count) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    if (count > 15 || p >= end || *p != 'e') return std::to_chars(out, out + 64, value, std::chars_format::general, 15).ptr;
    std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
    return lay_out(out, negative, m, count, exponent);
}


}  // namespace velmora
