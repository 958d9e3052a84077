// Header cards of every value type, as telescopes and pipelines write them.
#ifndef TESSARY_BENCH_WORKLOADS_H
#define TESSARY_BENCH_WORKLOADS_H

#include "fits_builder.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

// Adds `count` free cards cycling through every value type and commentary;
// every valued keyword has a name of its own.
inline void add_mixed_cards(fitsb::hdu& h, int count) {
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        switch (i % 8) {
            case 0: h.integer("EXP" + n, 1500 + i, "exposure in seconds"); break;
            case 1: h.real("TMP" + n, "-12.5E1"); break;
            case 2: h.string("OBJ" + n, "NGC 1316 field " + n); break;
            case 3: h.logical("FLG" + n, i % 16 == 3); break;
            case 4: h.value("ZI" + n, "(3, -4)", "complex integer"); break;
            case 5: h.value("ZD" + n, "(1.5, 2.0D-3)"); break;
            case 6: h.comment("observation log entry " + n); break;
            default: h.value("RAT" + n, fitsb::fixed("2.5D-3"), "a ratio with a comment"); break;
        }
    }
}

// Adds `count` free cards of every value type a header holds, their names
// led by `layout` so that headers of other layouts hold other names:
// integers of 32 and 64 bits and beyond, doubles short and long, strings
// (one continued over a CONTINUE card), logicals, complex pairs, undefined
// values, COMMENT and HISTORY cards, comments of every length.
inline void add_every_type_cards(fitsb::hdu& h, int count, const std::string& layout) {
    for (int i = 0; i < count; ++i) {
        std::string n = layout + std::to_string(i);
        switch (i % 16) {
            case 0: h.integer("I" + n, 1500 + i, "[s] exposure"); break;
            case 1: h.value("L" + n, fitsb::fixed("149597870691"), "[m] distance to the Sun"); break;
            case 2: h.real("D" + n, "-12.5E1"); break;
            case 3: h.value("R" + n, fitsb::fixed("150.1163213"), "[deg] right ascension of the pointing"); break;
            case 4: h.string("S" + n, "NGC 1316 field " + n); break;
            case 5: h.value("Q" + n, fitsb::quoted("O'Brien's field"), "target name as the observer gave it"); break;
            case 6: h.logical("F" + n, i % 32 == 6); break;
            case 7: h.value("ZI" + n, "(3, -4)", "complex integer"); break;
            case 8: h.value("ZD" + n, "(1.5, 2.0D-3)"); break;
            case 9: h.value("U" + n, "", "value not known when the file was written"); break;
            case 10: h.comment("observation log entry " + n); break;
            case 11: h.history("reduced by pipeline 4.2, step " + n); break;
            case 12: h.value("M" + n, fitsb::fixed("59215.123456789"), "[d] modified Julian date"); break;
            case 13:
                if (i + 1 == count) {  // no room for the CONTINUE card
                    h.string("W" + n, "short");
                    break;
                }
                h.value("W" + n, "'a long string value that goes on &'");
                h.add("CONTINUE  'over a second card'");
                ++i;
                break;
            case 14: h.value("G" + n, fitsb::fixed("2.1534E+00"), "[e-/ADU] gain"); break;
            default: h.value("B" + n, "30002000000000008375", "query identifier"); break;
        }
    }
}

// Adds `count` cards of doubles as writers print them, their names led by
// `layout`: a third as the shortest text that reads back (16-17 digits, as
// Python's repr), a third as %.10E with exponents anywhere in +-300, a third
// short (as a person or an older pipeline writes them). Drawn from a fixed
// seed, so the file is the same on every run.
inline void add_double_cards(fitsb::hdu& h, int count, const std::string& layout) {
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return state >> 11;
    };
    char text[40];
    for (int i = 0; i < count; ++i) {
        const std::string name = layout + std::to_string(i);
        const double unit = static_cast<double>(next()) / 9007199254740992.0;  // in [0, 1)
        switch (i % 3) {
            case 0: {
                const double value = (unit - 0.5) * 720.0;
                text[std::to_chars(text, text + sizeof text, value).ptr - text] = '\0';
                h.value(name, fitsb::fixed(text), "[deg] as a program writes a double back");
                break;
            }
            case 1:
                std::snprintf(text, sizeof text, "%.10E", (1.0 + 9.0 * unit) * std::pow(10.0, static_cast<int>(next() % 601) - 300));
                h.value(name, fitsb::fixed(text));
                break;
            default:
                std::snprintf(text, sizeof text, "%.*f", static_cast<int>(next() % 5) + 1, unit * 2000.0 - 1000.0);
                h.value(name, fitsb::fixed(text), "[arcsec] offset");
                break;
        }
    }
}

}  // namespace bench

#endif
