// Hostile and malformed files: whatever the bytes, the tool ends with either a
// complete report (status 0) or exactly one line "tessary: <path>: <message>"
// on standard error with nothing on standard output (status 1), and the
// library, loading every data array, reaches the same verdict. The cases are
// inputs found by fuzzing, minimised and rebuilt here, and files that push
// sizes, offsets and card syntax to their limits.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <exception>
#include <string>
#include <vector>

namespace {

using fitsb::bintable;
using fitsb::primary;

// A primary HDU without data, the usual start of a file with extensions.
const std::string no_data = primary(8, {}).logical("EXTEND", true).end().bytes();

// A primary HDU of `naxis` axes with NAXIS1 ... NAXIS999 (at most) all 1.
fitsb::hdu axes(long long naxis) {
    fitsb::hdu h;
    h.logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", naxis);
    for (long long n = 1; n <= naxis && n <= 999; ++n) h.integer("NAXIS" + std::to_string(n), 1);
    return h;
}

// A one-row BINTABLE of 999 one-byte columns B that claims `tfields` columns.
fitsb::hdu columns(long long tfields) {
    fitsb::hdu h = fitsb::bintable_header(999, 1, 0, tfields);
    for (int n = 1; n <= 999; ++n) h.string("TFORM" + std::to_string(n), "B");
    return h;
}

struct hostile_case {
    std::string name;
    std::string bytes;
    std::string error;  // the message of the error line; "" when the file is listed
    std::string line;   // on success, a line the report must hold ("" for none)
};

std::vector<hostile_case> cases() {
    return {
        // Found by fuzzing: THEAP places a standard heap at the very end of
        // PCOUNT, leaving no heap byte to load; the empty heap was copied
        // into the null start of its empty buffer (undefined behaviour).
        {"EmptyHeapAtEndOfPcount",
         no_data + bintable(8, 0, 2000, {"1PB(20)"}).integer("THEAP", 2000).end().data(2000).bytes(), "",
         "Heap: 2000B with offs=2000"},

        // Sizes far beyond the file: rejected before anything is allocated.
        {"HugeRandomGroups",
         primary(64, {0, 2147483647}).logical("GROUPS", true).integer("PCOUNT", 2147483647)
             .integer("GCOUNT", 2147483647).end().bytes(),
         "HDU 1: file ends inside the data: 2^64 or more bytes from byte 2880; the input ends at byte 2880", ""},
        {"HugeGapBeforeHugeHeap",
         no_data + bintable(4, 1, 2147483647, {"1PJ(2)"}).integer("THEAP", 2147483647).end().data(4).bytes(),
         "HDU 2: file ends inside the data: 2147483643 bytes from byte 5764 (to byte 2147492160 with padding); "
         "the input ends at byte 8640",
         ""},

        // The most axes and columns a header can name: a keyword name has at
        // most eight characters, so NAXIS999 and TFORM999 are the last.
        {"NaxisOf999", axes(999).end().data(1).bytes(), "", "Data: 1B"},
        {"TfieldsOf999", no_data + columns(999).end().data(999).bytes(), "", "Data: 999B"},
        {"TfieldsOf1000", no_data + columns(1000).end().data(999).bytes(), "HDU 2: Not conforming to the standard: TFORM1000 is missing", ""},

        // Exponents beyond the double range, and beyond 32 bits.
        {"DoubleBeyondItsRange",
         primary(8, {}).real("HUGE", "1.0E400").real("NEGHUGE", "-1D99999999999").end().bytes(), "",
         "NEGHUGE[double]=-inf"},
    };
}

// The verdict of the library when it loads every data array: "" or the
// located message.
std::string load_verdict(const std::string& path) {
    try {
        velmora::fits_file file(path, velmora::RM_LOAD_DATA);
        return "";
    } catch (const std::exception& e) {
        return fitsb::located_text(e);
    }
}

bool has_line(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

// Each byte outside printable ASCII (control bytes, DEL, 0x80 and above) is
// shown as \xNN wherever it stands in a name or a string, of any length
// (the check reads eight bytes at a time).
TEST(HostileInput, EveryUnprintableByteIsShownEscaped) {
    std::vector<unsigned char> controls;
    for (unsigned b = 0; b < 0x100; ++b)
        if (b < 0x20 || b > 0x7e) controls.push_back(static_cast<unsigned char>(b));
    for (std::size_t length = 1; length <= 20; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            for (unsigned char b : controls) {
                std::string text(length, 'a');
                text[at] = static_cast<char>(b);
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
                const std::string expected = std::string(at, 'a') + escaped + std::string(length - at - 1, 'a');
                ASSERT_EQ(fitsb::shown(text), expected) << "byte " << int(b) << " at " << at << " of " << length;
            }
        }
    }
    EXPECT_EQ(fitsb::shown(" ~ plain}"), " ~ plain}");
}

TEST(HostileInput, EndsInAReportOrOneErrorLine) {
    for (const hostile_case& c : cases()) {
        SCOPED_TRACE(c.name);
        fitsb::temp_file f(c.bytes);
        fitsb::run_result r = fitsb::tessary(f.path());
        if (c.error.empty()) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_NE(r.out, "");
            if (!c.line.empty()) {
                EXPECT_TRUE(has_line(r.out, c.line)) << r.out;
            }
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "tessary: " + f.path() + ": " + c.error + "\n");
        }
        // The library names the same HDU, card and message; the tool adds the detail.
        const std::string verdict = load_verdict(f.path());
        EXPECT_EQ(c.error.substr(0, verdict.size()), verdict);
        EXPECT_EQ(verdict.empty(), c.error.empty());
    }
}

}  // namespace
