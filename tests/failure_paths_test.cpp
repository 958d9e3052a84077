// Failures as a user meets them: the built tool either lists the whole file
// (status 0) or prints one line "tessary: <path>: <message>" on standard
// error, nothing on standard output, and exits with status 1.
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using fitsb::hdu;

// Runs the tool and requires the one-line error `message` (where it is at
// fault, the fixed text and the detail), or only its start and end.
void expect_error(const std::string& path, const std::string& message, const std::string& what,
                  const std::string& ending = "") {
    fitsb::run_result r = fitsb::tessary(path);
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.out, "") << what;
    const std::string line = "tessary: " + path + ": " + message;
    if (ending.empty()) {
        EXPECT_EQ(r.err, line + "\n") << what;
    } else {
        EXPECT_EQ(r.err.substr(0, line.size()), line) << what;
        EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), ending.size() + 1)), ending + "\n") << what;
    }
}

std::string empty_primary() { return fitsb::primary(8, {}).end().bytes(); }

// A primary header with `card` in the free part.
std::string primary_with(const std::string& card) { return fitsb::primary(8, {}).add(card).end().bytes(); }

// A primary followed by a table whose only column has the given TFORM1, plus `extra` cards.
std::string table_with(const std::string& tform, const std::vector<std::string>& extra = {}, long long pcount = 0) {
    hdu t = fitsb::bintable(4, 1, pcount, {tform});
    for (const std::string& c : extra) t.add(c);
    return empty_primary() + t.end().data(static_cast<std::size_t>(4 + pcount)).bytes();
}

TEST(FailurePaths, EveryMessageReachesTheUser) {
    hdu bad_naxis_table;
    bad_naxis_table.string("XTENSION", "BINTABLE").integer("BITPIX", 8).integer("NAXIS", 3).end();
    hdu naxis_first;
    naxis_first.logical("SIMPLE", true).integer("NAXIS", 0).end();
    hdu comment_at_bitpix;
    comment_at_bitpix.logical("SIMPLE", true).comment("too early").end();
    hdu real_bitpix;
    real_bitpix.logical("SIMPLE", true).real("BITPIX", "8.0").end();
    hdu two_columns_one_form;
    two_columns_one_form.string("XTENSION", "BINTABLE").integer("BITPIX", 8).integer("NAXIS", 2)
        .integer("NAXIS1", 4).integer("NAXIS2", 1).integer("PCOUNT", 0).integer("GCOUNT", 1)
        .integer("TFIELDS", 2).string("TFORM1", "1J").end().data(4);
    hdu simple_false;
    simple_false.logical("SIMPLE", false).integer("BITPIX", 8).integer("NAXIS", 0).end();

    const struct {
        std::string file;
        const char* message;
        std::uint64_t offset;  // of the card at fault; without one, of the HDU or where the input ends
    } cases[] = {
        {empty_primary() + std::string(2880, '\0'), "HDU 2, card 1: Unexpected keyword or bad format: a card of blanks and zero bytes", 2880},
        {empty_primary() + empty_primary(), "HDU 2, card 1: Primary HDU not first: SIMPLE  =                    T", 2880},
        {fitsb::image(8, {}).end().bytes(), "HDU 1, card 1: Extension without primary HDU: XTENSION= 'IMAGE   '", 0},
        {empty_primary() + hdu().value("XTENSION", "'TABLE'").end().bytes(), "HDU 2, card 1: Unknown extension: XTENSION= 'TABLE'", 2880},
        {primary_with(fitsb::card("NOEQ", "5", "", " =")), "HDU 1, card 4: Bad keyword format: NOEQ     =5", 240},
        {primary_with(fitsb::card("LABEL", "'abc")), "HDU 1, card 4: EOL in string: LABEL   = 'abc", 240},
        {primary_with(fitsb::card("ZB", "(1 2)")), "HDU 1, card 4: Bad complex number format: ZB      = (1 2)", 240},
        {primary_with(fitsb::card("COUNT", "12e3")), "HDU 1, card 4: Garbage chars after value: COUNT   = 12e3", 240},
        {comment_at_bitpix.bytes(), "HDU 1, card 2: Unexpected comment: COMMENT where BITPIX is required", 80},
        {naxis_first.bytes(), "HDU 1, card 2: Unexpected keyword: NAXIS where BITPIX is required", 80},
        {real_bitpix.bytes(), "HDU 1, card 2: Unexpected keyword value type: BITPIX = 8.0: an integer is required", 80},
        {simple_false.bytes(), "HDU 1, card 1: Not conforming to the standard: SIMPLE = F", 0},
        {fitsb::primary(12, {}).end().bytes(), "HDU 1, card 2: Primary HDU: bad BITPIX: BITPIX = 12", 80},
        {hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", -1).end().bytes(),
         "HDU 1, card 3: Primary HDU: bad NAXIS: NAXIS = -1", 160},
        {fitsb::primary(8, {-1}).end().bytes(), "HDU 1, card 4: Primary HDU: bad dimension: NAXIS1 = -1", 240},
        {empty_primary() + bad_naxis_table.bytes(), "HDU 2, card 3: Bintable HDU: bad NAXIS: NAXIS = 3", 3040},
        {table_with("1J", {fitsb::card("THEAP", fitsb::fixed("-1"))}, 10), "HDU 2, card 10: Bad THEAP value in BINTABLE: THEAP = -1", 3600},
        {table_with("1Z"), "HDU 2, card 9: Unknown form type in BINTABLE: TFORM1 = '1Z'", 3520},
        {table_with("-1E"), "HDU 2, card 9: Negative form repetition in BINTABLE: TFORM1 = '-1E'", 3520},
        {table_with("2PE(10)"), "HDU 2, card 9: Repetition count >1 for P/Q form in BINTABLE: TFORM1 = '2PE(10)'", 3520},
        {table_with("1PP(3)"), "HDU 2, card 9: Bad column type for P/Q form in BINTABLE: TFORM1 = '1PP(3)'", 3520},
        {table_with("1PE[3]"), "HDU 2, card 9: Bad P/Q form in BINTABLE: TFORM1 = '1PE[3]'", 3520},
        {table_with("10"), "HDU 2, card 9: invalid string position: TFORM1 = '10'", 3520},
        {table_with("1J", {fitsb::card("TDIM1", "'3,4'")}), "HDU 2, card 10: Bad DIM in BINTABLE: TDIM1 = '3,4'", 3600},
        {table_with("1J", {fitsb::card("TSCAL1", fitsb::fixed("T"))}),
         "HDU 2, card 10: Unexpected keyword value type: TSCAL1 = T: a floating value is required", 3600},
        {empty_primary() + two_columns_one_form.bytes(), "HDU 2: Not conforming to the standard: TFORM2 is missing", 2880},
        {primary_with(fitsb::card("ESC\x1b", "'a\nb")), "HDU 1, card 4: EOL in string: ESC\\x1b    = 'a\\x0ab", 240},
        {primary_with(fitsb::card("HI\x80\xff", "'\x9b" "2J \xc3\xa9")),
         "HDU 1, card 4: EOL in string: HI\\x80\\xff    = '\\x9b2J \\xc3\\xa9", 240},
        {fitsb::primary(8, {}).bytes(), "HDU 1, card 37: file ends inside a header: no END card before the input ends at byte 2880", 2880},
        {fitsb::primary(8, {10}).end().bytes(), "HDU 1: file ends inside the data: 10 bytes from byte 2880 (to byte 5760 with padding); the input ends at byte 2880", 2880},
    };
    for (const auto& c : cases) {
        fitsb::temp_file f(c.file);
        expect_error(f.path(), c.message, c.message);
        EXPECT_EQ(fitsb::error_offset(c.file), c.offset) << c.message;
    }
}

// An integer beyond 32 bits (kept exact, or beyond 64 bits as a double) is
// refused on the card of every keyword that must hold a count or a size.
TEST(FailurePaths, IntegerBeyond32BitsWhereACountIsRequired) {
    struct place {
        std::function<std::string(const std::string&)> file;  // the file with the value in place
        std::string at;
        std::string name;
    };
    const place places[] = {
        {[](const std::string& v) { return hdu().logical("SIMPLE", true).value("BITPIX", v).end().bytes(); },
         "HDU 1, card 2", "BITPIX"},
        {[](const std::string& v) {
             return hdu().logical("SIMPLE", true).integer("BITPIX", 8).value("NAXIS", v).end().bytes();
         }, "HDU 1, card 3", "NAXIS"},
        {[](const std::string& v) {
             return hdu().logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 1).value("NAXIS1", v).end().bytes();
         }, "HDU 1, card 4", "NAXIS1"},
        {[](const std::string& v) {
             return empty_primary() + hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8).integer("NAXIS", 0)
                                          .value("PCOUNT", v).end().bytes();
         }, "HDU 2, card 4", "PCOUNT"},
        {[](const std::string& v) {
             return empty_primary() + hdu().string("XTENSION", "BINTABLE").integer("BITPIX", 8).integer("NAXIS", 2)
                                          .integer("NAXIS1", 4).value("NAXIS2", v).end().bytes();
         }, "HDU 2, card 5", "NAXIS2"},
        {[](const std::string& v) { return table_with("1J", {fitsb::card("THEAP", v)}, 10); }, "HDU 2, card 10", "THEAP"},
        {[](const std::string& v) { return table_with("1J", {fitsb::card("TNULL1", v)}); }, "HDU 2, card 10", "TNULL1"},
        {[](const std::string& v) {
             return fitsb::primary(8, {0, 1}).logical("GROUPS", true).value("GCOUNT", v).end().bytes();
         }, "HDU 1, card 7", "GCOUNT"},
    };
    const std::pair<std::string, std::string> values[] = {
        {"2147483648", "2147483648"}, {"-9223372036854775808", "-9223372036854775808"},
        {"30002000000000008375", "3.0002e+19"}};
    for (const place& p : places) {
        for (const auto& [written, shown] : values) {
            fitsb::temp_file f(p.file(written));
            const std::string message = p.at + ": Unexpected keyword value type: " + p.name + " = " + shown +
                                        ": a 32-bit integer is required";
            expect_error(f.path(), message, message);
        }
    }
}

TEST(FailurePaths, PathsThatCannotBeRead) {
    fitsb::temp_file regular(empty_primary());
    const std::string dir = std::filesystem::temp_directory_path().string();
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {"/nonexistent/tessary/file.fits", "cannot open file: No such file or directory"},
        {"", "cannot open file: No such file or directory"},
        {dir, "cannot read file: Is a directory"},
#if defined(_WIN32)
        {regular.path() + "/inside.fits", "cannot open file: No such file or directory"},  // no such path there
#else
        {regular.path() + "/inside.fits", "cannot open file: Not a directory"},
#endif
    };
    for (const auto& c : cases) expect_error(c.path, c.message, c.path);
}

TEST(FailurePaths, UnreadableFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "a file's mode does not keep its owner from reading it on Windows";
#else
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    fitsb::temp_file f(empty_primary());
    std::filesystem::permissions(f.path(), std::filesystem::perms::none);
    expect_error(f.path(), "cannot open file: Permission denied", "mode 000");
#endif
}

// A read error is never taken for the end of the input: at an HDU boundary,
// in a header or in the data, from a file or a pipe, the tool fails.
TEST(FailurePaths, ReadErrorIsNeverTheEnd) {
#ifndef READ_FAULT_LIBRARY
    GTEST_SKIP() << "no read fault library in this build";
#else
    fitsb::temp_file f(empty_primary() + fitsb::image(8, {4000}).end().data(4000).bytes());
    ::setenv("LD_PRELOAD", READ_FAULT_LIBRARY, 1);
    for (const char* after : {"0", "2880", "3000", "6000"}) {
        ::setenv("TESSARY_READ_FAULT_AFTER", after, 1);
        for (bool pipe : {false, true}) {
            const std::string path = pipe ? "/dev/stdin" : f.path();
            fitsb::run_result r = fitsb::run(TESSARY_BINARY, {path}, pipe ? &f.path() : nullptr);
            EXPECT_EQ(r.status, 1) << path << " after " << after;
            EXPECT_EQ(r.out, "") << path << " after " << after;
            EXPECT_EQ(r.err, "tessary: " + path + ": cannot read file: Input/output error\n") << path << " after " << after;
        }
    }
    ::unsetenv("TESSARY_READ_FAULT_AFTER");
    ::unsetenv("LD_PRELOAD");
#endif
}

// A report that cannot be written (here to a full device) is a failure.
TEST(FailurePaths, ReportThatCannotBeWritten) {
#if defined(_WIN32)
    GTEST_SKIP() << "no full device on Windows";
#else
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    fitsb::temp_file err("");
    const std::string sample = fitsb::sample("test0.fits");
    int status = std::system((std::string(TESSARY_BINARY) + " " + sample + " >/dev/full 2>" + err.path()).c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(fitsb::slurp(err.path()),
              "tessary: " + sample + ": cannot write the report: No space left on device\n");
#endif
}

// A real file of a primary header (blocks 0-3) and four IMAGE extensions of
// two header and two data blocks each, cut at every block boundary and
// inside every block.
TEST(FailurePaths, RealFileCutAnywhere) {
    const std::string whole = fitsb::slurp(fitsb::sample("test0.fits"));
    ASSERT_EQ(whole.size(), 20u * 2880);
    const std::string report = fitsb::tessary(fitsb::sample("test0.fits")).out;
    const std::vector<std::size_t> hdu_starts = {0, 4, 8, 12, 16};

    for (std::size_t block = 0; block < 20; ++block) {
        for (std::size_t into : {std::size_t{0}, std::size_t{100}, std::size_t{2879}}) {
            const std::size_t cut = block * 2880 + into;
            fitsb::temp_file f(whole.substr(0, cut));
            const std::string what = "cut at byte " + std::to_string(cut);
            std::size_t listed = 0;
            while (listed < hdu_starts.size() && hdu_starts[listed] < block) ++listed;
            if (block == 0) {
                // Less than a block: no HDU, so no FITS file.
                expect_error(f.path(), "HDU 1, card 1: file ends inside a header: the input ends at byte " +
                                           std::to_string(cut) + ", inside the first block", what);
                continue;
            }
            if (listed < hdu_starts.size() && hdu_starts[listed] == block) {
                // The cut falls in the first block of an HDU: the HDUs before
                // it are listed and the short tail is ignored.
                std::size_t end = 0;
                for (std::size_t n = 0; n < listed; ++n) end = report.find("B\n\n", end) + 3;
                fitsb::run_result r = fitsb::tessary(f.path());
                EXPECT_EQ(r.status, 0) << what;
                EXPECT_EQ(r.err, "") << what;
                EXPECT_EQ(r.out, report.substr(0, end)) << what;
                continue;
            }
            // The HDU being read is named; in its header, the first card the
            // input does not hold.
            std::size_t in_hdu = block - hdu_starts[listed - 1];
            bool in_header = block < 4 || in_hdu == 1;
            const std::string hdu = "HDU " + std::to_string(listed);
            expect_error(f.path(),
                         in_header ? hdu + ", card " + std::to_string(36 * in_hdu + 1) + ": file ends inside a header"
                                   : hdu + ": file ends inside the data",
                         what, "the input ends at byte " + std::to_string(cut));
        }
    }
}

// Headers that claim more than any file holds fail at once, in a few MiB;
// huge counts that need no data are listed just as fast.
TEST(FailurePaths, HugeClaimsCostNoMemory) {
    fitsb::temp_file tiny(empty_primary());
    const long baseline = fitsb::tessary(tiny.path()).peak_kib;

    hdu huge_naxis;
    huge_naxis.logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 2147483647).end();
    hdu huge_tfields;  // TFIELDS far beyond the columns described
    huge_tfields.string("XTENSION", "BINTABLE").integer("BITPIX", 8).integer("NAXIS", 2).integer("NAXIS1", 4);
    huge_tfields.integer("NAXIS2", 1).integer("PCOUNT", 0).integer("GCOUNT", 1).integer("TFIELDS", 2147483647);
    huge_tfields.string("TFORM1", "1J").end().data(4);
    const struct {
        std::string file;
        const char* message;  // nullptr: listed
    } cases[] = {
        {fitsb::primary(-64, {2147483647, 2147483647, 2147483647}).end().bytes(), "HDU 1: file ends inside the data: 2^64 or more bytes from byte 2880; the input ends at byte 2880"},
        {fitsb::primary(16, {65536, 32768}).end().bytes(), "HDU 1: file ends inside the data: 4294967296 bytes from byte 2880 (to byte 4294972800 with padding); the input ends at byte 2880"},
        {fitsb::primary(8, {65536, 65536, 65536, 65536}).end().bytes(), "HDU 1: file ends inside the data: 2^64 or more bytes from byte 2880; the input ends at byte 2880"},  // 2^64
        {huge_naxis.bytes(), "HDU 1, card 4: Unexpected comment: END where NAXIS1 is required"},
        {empty_primary() + fitsb::bintable(2147483647, 2147483647, 0, {"1J"}).end().bytes(),
         "HDU 2: file ends inside the data: 4611686014132420609 bytes from byte 5760 (to byte 4611686014132427520 with padding); the input ends at byte 5760"},
        {empty_primary() + fitsb::bintable(4, 1, 2147483647, {"1J"}).end().data(4).bytes(),
         "HDU 2: file ends inside the data: 2147483647 bytes from byte 5764 (to byte 2147492160 with padding); the input ends at byte 8640"},
        {empty_primary() + huge_tfields.bytes(), "HDU 2: Not conforming to the standard: TFORM2 is missing"},
        {empty_primary() + fitsb::bintable(0, 2147483647, 0, {"0J"}).end().bytes(), nullptr},
    };
    for (const auto& c : cases) {
        fitsb::temp_file f(c.file);
        fitsb::run_result r = fitsb::tessary(f.path());
        if (c.message) {
            EXPECT_EQ(r.status, 1) << c.message;
            EXPECT_EQ(r.err, "tessary: " + f.path() + ": " + c.message + "\n");
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
        }
        if (baseline >= 0) {  // measured
            EXPECT_LT(r.peak_kib - baseline, 8 * 1024) << (c.message ? c.message : "listed");
        }
    }
}

// A 2 GiB image and a 500 MB table are listed in the memory of a tiny file.
TEST(FailurePaths, MemoryDoesNotGrowWithTheData) {
    fitsb::temp_file tiny(empty_primary());
    const long baseline = fitsb::tessary(tiny.path()).peak_kib;

    const struct {
        std::string header;
        std::uintmax_t data;
    } cases[] = {
        {fitsb::primary(8, {65536, 32768}).end().bytes(), std::uintmax_t{1} << 31},
        {empty_primary() + fitsb::bintable(400, 1000000, 100000000, {"100E"}).end().bytes(), 500000000},
    };
    for (const auto& c : cases) {
        fitsb::temp_file f(c.header);
        std::filesystem::resize_file(f.path(), c.header.size() + (c.data + 2879) / 2880 * 2880);
        fitsb::run_result r = fitsb::tessary(f.path());
        EXPECT_EQ(r.status, 0) << r.err;
        if (baseline >= 0) {  // measured
            EXPECT_LT(r.peak_kib - baseline, 4 * 1024);
        }
    }
}

}  // namespace
