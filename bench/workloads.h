// Header cards of every value type, as telescopes and pipelines write them.
#ifndef TESSARY_BENCH_WORKLOADS_H
#define TESSARY_BENCH_WORKLOADS_H

#include "fits_builder.h"

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

// Adds `count` free cards as observatories write them: a comment on every
// card, strings with doubled quotes, undefined values, doubles of 7 to 12
// digits; every valued keyword has a name of its own.
inline void add_realistic_cards(fitsb::hdu& h, int count) {
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        switch (i % 10) {
            case 0: h.value("EXPT" + n, fitsb::fixed("1200.5"), "[s] exposure time"); break;
            case 1: h.value("RA" + n, fitsb::fixed("150.1163213"), "[deg] right ascension of the pointing"); break;
            case 2: h.value("DEC" + n, fitsb::fixed("-2.20593316842"), "[deg] declination of the pointing"); break;
            case 3: h.value("OBJ" + n, fitsb::quoted("O'Brien's field " + n), "target name as the observer gave it"); break;
            case 4: h.value("UND" + n, "", "value not known when the file was written"); break;
            case 5: h.value("GAIN" + n, fitsb::fixed("2.1534E+00"), "[e-/ADU] detector gain"); break;
            case 6: h.integer("NCB" + n, 1000 + i, "number of frames combined"); break;
            case 7: h.value("FLG" + n, fitsb::fixed("T"), "quality flag set by the pipeline"); break;
            case 8: h.value("MJD" + n, fitsb::fixed("59215.123456789"), "[d] modified Julian date of the start"); break;
            default: h.value("FILT" + n, fitsb::quoted("r'"), "filter in the beam"); break;
        }
    }
}

}  // namespace bench

#endif
