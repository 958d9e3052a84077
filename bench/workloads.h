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

}  // namespace bench

#endif
