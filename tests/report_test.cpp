// The report as a user sees it: the built tool run on built and shipped files.
#include "fits.h"
#include "fits_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(Report, PrimaryWithoutDataAndOneTable) {
    fitsb::temp_file f(fitsb::primary(8, {}).logical("EXTEND", true).end().bytes() +
                       fitsb::bintable(24, 100, 0, {"3D"}).end().data(2400).bytes());
    fitsb::run_result r = fitsb::tessary(f.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Primary\nSIMPLE[logical]=TRUE\nBITPIX[int32]=8\nNAXIS[int32]=0\nEXTEND[logical]=TRUE\n"
              "Data: 0B\n\n"
              "BinTable\nXTENSION[string]=BINTABLE\nBITPIX[int32]=8\nNAXIS[int32]=2\nNAXIS1[int32]=24\n"
              "NAXIS2[int32]=100\nPCOUNT[int32]=0\nGCOUNT[int32]=1\nTFIELDS[int32]=1\nTFORM1[string]=3D\n"
              "Data: 2400B\n\n");
}

// The report without its keyword lines: titles, Data and Heap lines, and the
// empty line after each HDU.
std::string skeleton(const std::string& out) {
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.find("]=") == std::string::npos) kept += line + "\n";
    return kept;
}

bool has_line(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

const std::string no_data = fitsb::primary(8, {}).end().bytes();
const std::string header_of_primary = "Primary\nSIMPLE[logical]=TRUE\nBITPIX[int32]=8\nNAXIS[int32]=0\n";

TEST(Report, UsageWithoutArgument) {
    fitsb::run_result r = fitsb::run(TESSARY_BINARY, {});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "Usage: tessary <FITS-file>\n");
    EXPECT_EQ(r.err, "");
}

TEST(Report, ArgumentsAfterThePathAreIgnored) {
    fitsb::temp_file f(no_data);
    fitsb::run_result r = fitsb::run(TESSARY_BINARY, {f.path(), "/nonexistent.fits", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header_of_primary + "Data: 0B\n\n");
    EXPECT_EQ(r.err, "");
}

TEST(Report, OneLinePerValuedKeywordInItsTypesNotation) {
    using fitsb::card;
    using fitsb::fixed;
    struct value_case {
        std::string card;  // one card, or several of 80 bytes each
        std::string line;  // "" when the card gives no line
    };
    const value_case cases[] = {
        {card("LOGT", fixed("T")), "LOGT[logical]=TRUE"},
        {card("LOGF", fixed("F")), "LOGF[logical]=FALSE"},
        {card("UNDEF", ""), "UNDEF[unknown]="},
        {card("UNDEFC", "", "only a comment"), "UNDEFC[unknown]="},
        {card("EMPTY", "''"), "EMPTY[string]="},
        {card("QUOTE", "'it''s  '"), "QUOTE[string]=it's"},
        {card("NEG", fixed("-42")), "NEG[int32]=-42"},
        // Integers at their exact value: 32 bits, 64 bits, then the nearest double.
        {card("I32MAX", fixed("2147483647")), "I32MAX[int32]=2147483647"},
        {card("I32MIN", fixed("-2147483648")), "I32MIN[int32]=-2147483648"},
        {card("BZERO", fixed("2147483648")), "BZERO[int64]=2147483648"},
        {card("I32LOW", fixed("-2147483649")), "I32LOW[int64]=-2147483649"},
        {card("DSUN_REF", fixed("149597870691")), "DSUN_REF[int64]=149597870691"},
        {card("I64MAX", "+09223372036854775807"), "I64MAX[int64]=9223372036854775807"},
        {card("I64MIN", "-9223372036854775808"), "I64MIN[int64]=-9223372036854775808"},
        {card("I64OVER", "9223372036854775808"), "I64OVER[double]=9.22337203685478e+18"},
        {card("U64OVER", "18446744073709551616"), "U64OVER[double]=1.84467440737096e+19"},
        {card("QID", "30002000000000008375"), "QID[double]=3.0002e+19"},
        {card("ZEROS42", "+000000000000000000000042"), "ZEROS42[int32]=42"},
        {card("CBIG", "(1, 2147483648)"), "CBIG[complex double]=(1,2147483648)"},
        // Long strings: a value ending in '&' goes on in the string of the
        // CONTINUE card right after it, as long as each piece ends in '&'.
        {card("LONG1", "'abc&'") + "CONTINUE  'def'", "LONG1[string]=abcdef"},
        {card("LONG2", "'ab&'") + "CONTINUE  'cd&'" + std::string(65, ' ') + "CONTINUE= '&' / c" + std::string(63, ' ') +
             "CONTINUE  'ef'",
         "LONG2[string]=abcdef"},
        {card("LONGBL", "'abc &'") + "CONTINUE  'def'", "LONGBL[string]=abc def"},
        {card("LONGNUL", "'ab&'") + "CONTINUE  ''" + std::string(68, ' ') + "CONTINUE  'not joined'",
         "LONGNUL[string]=ab"},
        {card("LONGNUM", "'ab&'") + "CONTINUE= 7", "LONGNUM[string]=ab&"},
        {card("LONGCOM", "'ab&'") + "COMMENT between" + std::string(65, ' ') + "CONTINUE  'cd'", "LONGCOM[string]=ab&"},
        {card("LONGEND", "'ab&'"), "LONGEND[string]=ab&"},
        {card("MIDAMP", "'a&b'") + "CONTINUE  'c'", "MIDAMP[string]=a&b"},
        {card("LONGESC", "'a\x1b&'") + "CONTINUE  'b\n'", "LONGESC[string]=a\\x1bb\\x0a"},
        {card("ZEROS", fixed("+007")), "ZEROS[int32]=7"},
        {card("CINT", "(1, -2)"), "CINT[complex int]=(1,-2)"},
        {card("CDBL", "(1.5, -0.25)"), "CDBL[complex double]=(1.5,-0.25)"},
        {card("ONE", fixed("1.0")), "ONE[double]=1"},
        {card("TENTH", fixed("0.1")), "TENTH[double]=0.1"},
        {card("BIG", fixed("1.0E20")), "BIG[double]=1e+20"},
        {card("DIGITS15", fixed("123456789012345.0")), "DIGITS15[double]=123456789012345"},
        {card("DIGITS16", fixed("1234567890123456.0")), "DIGITS16[double]=1.23456789012346e+15"},
        {card("SMALL", fixed("0.0001")), "SMALL[double]=0.0001"},
        {card("TINY", fixed("0.00001")), "TINY[double]=1e-05"},
        {card("DEXP", fixed("2.5D3")), "DEXP[double]=2500"},
        {card("SUBNORM", "4.9406564584124654E-324"), "SUBNORM[double]=4.94065645841247e-324"},
        // Reals without integer digits, complex parts among them.
        {card("CDELT1", ".1"), "CDELT1[double]=0.1"},
        {card("HALF", "-.5"), "HALF[double]=-0.5"},
        {card("ZHALF", "( .5, 1)"), "ZHALF[complex double]=(0.5,1)"},
        {card("DOT", ". 5"), "DOT[unknown]="},
        // HIERARCH keywords: named by the text before their '=', listed like any.
        {fitsb::raw("HIERARCH ESO DET CHIP1 ID = 'ccd1' / id"), "HIERARCH ESO DET CHIP1 ID[string]=ccd1"},
        {fitsb::raw("HIERARCH ESO ADA ABSROT END  =      0.00099 / deg"), "HIERARCH ESO ADA ABSROT END[double]=0.00099"},
        {fitsb::raw("HIERARCH time_recorded = '2012-11-24T03:38:38'"), "HIERARCH time_recorded[string]=2012-11-24T03:38:38"},
        {fitsb::raw("HIERARCH ESO LONG = 'abc&'") + "CONTINUE  'def'", "HIERARCH ESO LONG[string]=abcdef"},
        {fitsb::raw("HIERARCH ESO \x1b = 1"), "HIERARCH ESO \\x1b[int32]=1"},
        {"HIERARCH without an equals sign is commentary", ""},
        {"TELESCOP no line for a keyword without the value indicator", ""},
        {"COMMENT no line for commentary", ""},
        {"HISTORY nor for history", ""},
        {"CONTINUE  'nor for a continuation'", ""},
        {"          nor for a blank name", ""},
        {card("DUP", fixed("1")), "DUP[int32]=1"},
        {card("DUP", fixed("2")), "DUP[int32]=2"},
        // Bytes a header may not hold are printed as \xNN, so that no file
        // can split a line or drive a terminal; other bytes print as they are.
        {card("ESC", "'\x1b]0;pwned\x07\x1b[31mRED\x1b[0m'"), "ESC[string]=\\x1b]0;pwned\\x07\\x1b[31mRED\\x1b[0m"},
        {card("LF", "'a\nEXPTIME[double]=1200'"), "LF[string]=a\\x0aEXPTIME[double]=1200"},
        {card("CRTAB", "'a\rb\tc'"), "CRTAB[string]=a\\x0db\\x09c"},
        {card("NUL", std::string("'a\0b'", 5)), "NUL[string]=a\\x00b"},
        {card("DEL", "'a\x7f'"), "DEL[string]=a\\x7f"},
        {card("HIGH", "'caf\xe9\x80'"), "HIGH[string]=caf\\xe9\\x80"},
        {card("CSI", "'\x9b" "2J'"), "CSI[string]=\\x9b2J"},
        {card("UTF8", "'Mesure \xc3\xa9t\xc3\xa9'"), "UTF8[string]=Mesure \\xc3\\xa9t\\xc3\\xa9"},
        {card("DEGREE", "'45\xb0 \xff'"), "DEGREE[string]=45\\xb0 \\xff"},
        {card("LONGUTF", "'\xc3&'") + "CONTINUE  '\xa9\x9b'", "LONGUTF[string]=\\xc3\\xa9\\x9b"},
        {card("N\x80\xff", fixed("1")), "N\\x80\\xff[int32]=1"},
        {card("BSLASH", "'C:\\x41\\'"), "BSLASH[string]=C:\\x41\\"},
        {card("CT\x1bL", fixed("1")), "CT\\x1bL[int32]=1"},
    };
    fitsb::hdu h = fitsb::primary(8, {});
    std::string lines;
    for (const value_case& c : cases) {
        for (std::size_t at = 0; at < c.card.size(); at += fitsb::card_len) h.add(c.card.substr(at, fitsb::card_len));
        if (!c.line.empty()) lines += c.line + "\n";
    }
    fitsb::temp_file f(h.end().bytes());
    fitsb::run_result r = fitsb::tessary(f.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, header_of_primary + lines + "Data: 0B\n\n");
}

TEST(Report, DataAndHeapLines) {
    struct size_case {
        const char* name;
        std::string bytes;
        std::string skeleton;
    };
    const size_case cases[] = {
        {"BITPIX 16 and -64 over 100 x 200",
         fitsb::primary(16, {100, 200}).end().data(40000).bytes() +
             fitsb::image(-64, {100, 200}).end().data(160000).bytes(),
         "Primary\nData: 40000B\n\nImage\nData: 160000B\n\n"},
        {"NAXIS 0 and an axis of 0", fitsb::primary(32, {}).end().bytes() + fitsb::image(32, {7, 0}).end().bytes(),
         "Primary\nData: 0B\n\nImage\nData: 0B\n\n"},
        {"table without heap", no_data + fitsb::bintable(24, 100, 0, {"3D"}).end().data(2400).bytes(),
         "Primary\nData: 0B\n\nBinTable\nData: 2400B\n\n"},
        {"table without rows", no_data + fitsb::bintable(24, 0, 0, {"3D"}).end().bytes(),
         "Primary\nData: 0B\n\nBinTable\nData: 0B\n\n"},
        {"2147483647 empty rows", no_data + fitsb::bintable(0, 2147483647, 0, {}).end().bytes(),
         "Primary\nData: 0B\n\nBinTable\nData: 0B\n\n"},
        {"ASCII table", no_data + fitsb::ascii_table(10, 3, {{1, "A10"}}).end().data(30, ' ').bytes(),
         "Primary\nData: 0B\n\nTable\nData: 30B\n\n"},
        {"conforming extension", no_data + fitsb::extension("HDRLET", 16, {5}, 2, 3).end().data(42).bytes(),
         "Primary\nData: 0B\n\nExtension\nData: 42B\n\n"},
        {"heap without THEAP", no_data + fitsb::bintable(24, 100, 1200, {"3D"}).end().data(3600).bytes(),
         "Primary\nData: 0B\n\nBinTable\nData: 2400B\nHeap: 1200B with offs=0\n\n"},
        {"heap with THEAP", no_data + fitsb::bintable(24, 100, 1200, {"3D"}).integer("THEAP", 2400).end()
                                          .data(6000).bytes(),
         "Primary\nData: 0B\n\nBinTable\nData: 2400B\nHeap: 1200B with offs=2400\n\n"},
        {"repeated NAXIS1, PCOUNT and THEAP: the first counts",
         no_data + fitsb::bintable(24, 100, 1200, {"3D"}).integer("THEAP", 2400).integer("NAXIS1", 99)
                       .integer("PCOUNT", 0).integer("THEAP", 7).end().data(6000).bytes(),
         "Primary\nData: 0B\n\nBinTable\nData: 2400B\nHeap: 1200B with offs=2400\n\n"},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.name);
        fitsb::temp_file f(c.bytes);
        fitsb::run_result r = fitsb::tessary(f.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(skeleton(r.out), c.skeleton);
    }
}

// An 8 GiB image and an 8 GiB table held by a sparse file: sizes are exact.
TEST(Report, SizesBeyond32BitsArePrintedWhole) {
    auto padded = [](std::uint64_t n) { return (n + fitsb::block - 1) / fitsb::block * fitsb::block; };
    const std::string image = fitsb::primary(16, {65536, 65536}).end().bytes();
    const std::string table = fitsb::bintable(2147483647, 4, 0, {}).end().bytes();
    fitsb::temp_file f(image);
    const std::uint64_t table_at = image.size() + padded(8589934592ULL);
    std::filesystem::resize_file(fitsb::native(f.path()), table_at);
    {
        std::ofstream out(fitsb::native(f.path()), std::ios::binary | std::ios::app);
        out << table;
    }
    std::filesystem::resize_file(fitsb::native(f.path()), table_at + table.size() + padded(8589934588ULL));
    fitsb::run_result r = fitsb::tessary(f.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(skeleton(r.out), "Primary\nData: 8589934592B\n\nBinTable\nData: 8589934588B\n\n");
}

// To a file or a pipe the report goes out in blocks of 64 KiB or more; to a
// terminal, line by line as a person watching expects. The write calls are
// counted by strace.
TEST(Report, WrittenInBlocksUnlessToATerminal) {
#if defined(_WIN32)
    GTEST_SKIP() << "no strace on Windows";
#endif
    if (std::system("strace -o /dev/null true > /dev/null 2>&1") != 0) GTEST_SKIP() << "no strace that can trace here";
    fitsb::hdu h = fitsb::primary(8, {});
    for (int i = 0; i < 8000; ++i) h.integer("KEY" + std::to_string(i), i);
    fitsb::temp_file f(h.end().bytes()), trace(""), out("");
    const std::string report = fitsb::tessary(f.path()).out;
    const std::size_t lines = static_cast<std::size_t>(std::count(report.begin(), report.end(), '\n'));
    ASSERT_GT(report.size(), std::size_t{2} << 16);
    // (A leak check cannot run under strace's ptrace.)
    const std::string tool = "ASAN_OPTIONS=detect_leaks=0 strace -e trace=write -o " + trace.path() + " " +
                             TESSARY_BINARY + " " + f.path();
    const std::size_t blocks = report.size() / (1 << 16) + 1;
    const struct {
        std::string command;
        std::size_t least_writes, most_writes;
    } cases[] = {
        {tool + " > " + out.path(), 1, blocks},
        {tool + " | cat > " + out.path(), 1, blocks},
        {"script -qec '" + tool + "' /dev/null > " + out.path(), lines, lines},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(std::system(c.command.c_str()), 0) << c.command;
        std::istringstream calls(fitsb::slurp(trace.path()));
        std::size_t writes = 0;
        for (std::string call; std::getline(calls, call);) writes += call.compare(0, 8, "write(1,") == 0;
        EXPECT_GE(writes, c.least_writes) << c.command;
        EXPECT_LE(writes, c.most_writes) << c.command;
        std::string shown = fitsb::slurp(out.path());
        shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());  // the terminal's line ends
        EXPECT_EQ(shown, report) << c.command;
    }
}

// A file named with characters outside any one code page lists as its
// bytes do: by the tool, by the library from its path, from its bytes in
// memory and from an istream opened by its name (and from a pipe, where the
// tool reads one); a message names the path as given.
TEST(Report, FileNamedOutsideAnyCodePage) {
    const std::string sample = fitsb::sample("double_ext.fits");
    fitsb::temp_file stem("");
    const std::string whole = stem.path() + u8"_Mesure_\u00e9t\u00e9_\u89b3\u6e2c.fits", cut = whole + ".cut";
    std::ofstream(fitsb::native(whole), std::ios::binary) << fitsb::slurp(sample);
    if (fitsb::slurp(whole).empty()) GTEST_SKIP() << "the file system holds no such name";
    std::ofstream(fitsb::native(cut), std::ios::binary) << no_data.substr(0, 100);
    fitsb::run_result listed = fitsb::tessary(whole), failed = fitsb::tessary(cut);
    std::size_t hdus = 0;
    {
        std::ifstream by_name(fitsb::native(whole), std::ios::binary);
        hdus = velmora::fits_file(by_name).hdus_.size();
    }  // closed: Windows removes no open file
    std::filesystem::remove(fitsb::native(whole));
    std::filesystem::remove(fitsb::native(cut));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, fitsb::tessary(sample).out);
    EXPECT_EQ(hdus, 2u);
    EXPECT_EQ(failed.err, "tessary: " + cut +
                              ": HDU 1, card 1: file ends inside a header: the input ends at byte 100, inside the "
                              "first block\n");
}

TEST(Report, EmptyOrShortFileIsNoFitsFile) {
    fitsb::temp_file empty(""), card(no_data.substr(0, 80)), short_file(no_data.substr(0, 2879));
    std::vector<std::pair<std::string, int>> inputs = {{empty.path(), 0}, {card.path(), 80}, {short_file.path(), 2879}};
#if !defined(_WIN32)
    inputs.emplace_back("/dev/null", 0);
#endif
    for (const auto& [path, size] : inputs) {
        fitsb::run_result r = fitsb::tessary(path);
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.out, "") << path;
        EXPECT_EQ(r.err, "tessary: " + path + ": HDU 1, card 1: file ends inside a header: the input ends at byte " +
                             std::to_string(size) + ", inside the first block\n")
            << path;
    }
}

TEST(Report, ShippedFiles) {
    const std::string empty_primary = "Primary\nData: 0B\n\n";
    const std::string image = "Image\nData: 3200B\n\n";
    struct shipped_case {
        const char* file;
        std::string skeleton;
        std::vector<std::string> lines;
    };
    const shipped_case cases[] = {
        {"arange.fits", "Primary\nData: 3080B\n\n", {"BITPIX[int32]=32", "NAXIS3[int32]=7"}},
        {"blank.fits", "Primary\nData: 8B\n\n", {"BITPIX[int32]=64", "BLANK[int32]=2"}},
        {"btable.fits", empty_primary + "BinTable\nData: 108B\n\n", {"TTYPE1[string]=order", "TFORM2[string]=20A"}},
        {"checksum.fits", "Primary\nData: 2400B\n\nBinTable\nData: 80B\n\n",
         {"DATAMAX[double]=1037.890381", "CLOCKCOR[logical]=FALSE", "DATASUM[string]=2008423139"}},
        {"compressed_image.fits", empty_primary + "BinTable\nData: 80B\nHeap: 60B with offs=0\n\n",
         {"TFORM1[string]=1PB(6)", "ZCMPTYPE[string]=RICE_1"}},
        {"double_ext.fits", empty_primary + "BinTable\nData: 40B\nHeap: 15B with offs=0\n\n",
         {"BZERO[int32]=32768", "EXTNAMX[string]=COMPRESSED_IMAGE", "EXTNAMX[string]=ccd00"}},
        {"history_header.fits", empty_primary, {"NAXIS[int32]=0"}},
        {"scale.fits", "Primary\nData: 840B\n\n", {"BZERO[double]=1500", "BSCALE[double]=0.045777764213996"}},
        {"tdim.fits", empty_primary + "BinTable\nData: 72B\n\n", {"TDIM2[string]=(1,1)"}},
        {"test0.fits", empty_primary + image + image + image + image,
         {"GROUPS[logical]=FALSE", "BSCALE[double]=1", "FILTNAM2[string]="}},
        {"variable_length_table.fits", empty_primary + "BinTable\nData: 24B\nHeap: 10B with offs=0\n\n",
         {"TFORM1[string]=PI(3)"}},
    };
    for (const shipped_case& c : cases) {
        SCOPED_TRACE(c.file);
        fitsb::run_result r = fitsb::tessary(fitsb::sample(c.file));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(skeleton(r.out), c.skeleton);
        for (const std::string& line : c.lines) EXPECT_TRUE(has_line(r.out, line)) << line;
    }
}

// Its TSCAL3 is written as an integer where a floating value is required.
TEST(Report, ShippedTableWithIntegerScaleIsListed) {
    fitsb::run_result r = fitsb::tessary(fitsb::sample("tb.fits"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(has_line(r.out, "TSCAL3[int32]=3")) << r.out;
}

}  // namespace
