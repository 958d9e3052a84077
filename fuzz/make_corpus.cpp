// Writes the built part of the fuzz corpus:
//   make_corpus DIR     (DIR is fuzz/corpus; writes DIR/fuzz_reader/built_*,
//                        DIR/fuzz_card/* and DIR/fuzz_tform/*)
// The files are valid or nearly valid FITS files made with the tests' builder,
// single cards and column format strings. For each file it prints whether the
// reader accepts it, with the reason when it does not.
#include "fits.h"
#include "fits_builder.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fitsb::bintable;
using fitsb::card;
using fitsb::fixed;
using fitsb::image;
using fitsb::primary;

void write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The mandatory cards of a BINTABLE with a TFIELDS of its own and no TFORMn.
fitsb::hdu table_header(long long naxis1, long long naxis2, long long pcount, long long tfields) {
    fitsb::hdu h;
    h.string("XTENSION", "BINTABLE").integer("BITPIX", 8).integer("NAXIS", 2).integer("NAXIS1", naxis1);
    h.integer("NAXIS2", naxis2).integer("PCOUNT", pcount).integer("GCOUNT", 1).integer("TFIELDS", tfields);
    return h;
}

// A primary HDU without data, the usual start of a file with extensions.
std::string no_data() { return primary(8, {}).logical("EXTEND", true).end().bytes(); }

std::vector<std::pair<std::string, std::string>> files() {
    std::vector<std::pair<std::string, std::string>> f;

    // Valid files.
    f.emplace_back("primary_empty", primary(8, {}).end().bytes());
    f.emplace_back("primary_int16", primary(16, {10, 12}).comment("a comment").history("a history")
                                        .real("BSCALE", "1.0").real("BZERO", "32768.0").end().data(240).bytes());
    f.emplace_back("primary_then_image",
                   no_data() + image(-32, {5, 5}).string("EXTNAME", "SCI").end().data(100).bytes() +
                       image(64, {3}).end().data(24).bytes());
    f.emplace_back("bintable_keywords",
                   no_data() + bintable(24, 3, 0, {"3D"}).string("TTYPE1", "X").string("TUNIT1", "m")
                                   .real("TSCAL1", "1.0").real("TZERO1", "0.0").integer("TNULL1", -1)
                                   .string("TDISP1", "F8.3").string("TDIM1", "(3)").end().data(72).bytes());
    f.emplace_back("bintable_heap", no_data() + bintable(8, 2, 40, {"1PE(5)"}).end().data(56).bytes());
    f.emplace_back("bintable_theap_gap",
                   no_data() + bintable(8, 2, 40, {"1PB(20)"}).integer("THEAP", 100).end().data(156).bytes());
    f.emplace_back("bintable_theap_from_table_start",
                   no_data() + bintable(8, 2, 2000, {"1PB(20)"}).integer("THEAP", 1000).end().data(2016).bytes() +
                       bintable(4, 1, 0, {"J"}).end().data(4).bytes());
    f.emplace_back("bintable_empty_heap_at_end_of_pcount",
                   no_data() + bintable(8, 0, 2000, {"1PB(20)"}).integer("THEAP", 2000).end().data(2000).bytes());
    f.emplace_back("bintable_every_type",
                   no_data() + bintable(128, 2, 0, {"L", "X", "13X", "B", "I", "J", "K", "A", "10A", "E", "D",
                                                    "C", "M", "2M", "1QD(7)", "0J", "8A10"})
                                   .string("TDIM9", "(5,2)").string("TDIM14", "(1,2)").end().data(256).bytes());
    f.emplace_back("ascii_table",
                   no_data() + fitsb::ascii_table(24, 2, {{1, "I8"}, {9, "F8.3"}, {17, "A8"}})
                                   .string("TTYPE1", "ID").string("TNULL1", "*").real("TSCAL2", ".5")
                                   .end().data("       1   1.500     abc       2  -0.250 xyz    ").bytes());
    f.emplace_back("conforming_extensions",
                   no_data() + fitsb::extension("HDRLET", 8, {}).end().bytes() +
                       fitsb::extension("A3DTABLE", 16, {5, 2}, 3, 2).end().data(52).bytes() +
                       fitsb::hdu().value("XTENSION", "'IMAGE    '").integer("BITPIX", 8).integer("NAXIS", 1)
                           .integer("NAXIS1", 3).integer("PCOUNT", 0).integer("GCOUNT", 1).end().data(3).bytes());
    f.emplace_back("hierarch_and_commentary",
                   primary(8, {}).add("HIERARCH ESO DET CHIP1 ID = 'ccd1' / id")
                       .add("HIERARCH ESO ADA ABSROT END  =      0.00099 / deg").add("HIERARCH ESO LONG = 'abc&'")
                       .add("CONTINUE  'def'").add("HIERARCH no equals sign").add("HIERARCH= 5")
                       .add("TELESCOP  a keyword without a value").add("DATE-OBS").end().bytes());
    f.emplace_back("bintable_no_columns", no_data() + bintable(4, 2, 0, {}).end().data(8).bytes());
    f.emplace_back("random_groups", primary(-32, {0, 3, 2}).logical("GROUPS", true).integer("PCOUNT", 2)
                                        .integer("GCOUNT", 4).end().data(128).bytes());
    f.emplace_back("every_value_type",
                   primary(8, {}).logical("FLAGT", true).logical("FLAGF", false).integer("COUNT", -42)
                       .value("BIG", "99999999999").real("RATIO", "2.5D-3").real("HUGE", "1.0E400")
                       .real("TINY", "1.0E-400").real("DIGITS", "12345678901234567890.125")
                       .value("CI", "(3, -4)").value("CD", "( 1.5 , 2 )").value("CH", "(.5,1)")
                       .string("QUOTE", "it's").value("EMPTY", "''").value("BLANKS", "'   '")
                       .value("UNDEF", "").value("NOVAL", "", "only a comment").value("WORD", "INDEF / note")
                       .add("CONTINUE  'more text'").add("CONTINUE= 7").add("        = 5 blank name")
                       .add("END-NOT = 1").add("KEY     = 'x'/").add(std::string(79, ' ') + "/")
                       .end().add("BROKEN  = 'never read").bytes());
    f.emplace_back("long_strings_and_wide_integers",
                   primary(8, {}).value("SOURCE", "'hmi.lev1[:#1,&'").add("CONTINUE  '#2,&'")
                       .add("CONTINUE  ''").add("CONTINUE  'not joined'").value("AMP", "'a&'").comment("between")
                       .add("CONTINUE  'b'").value("BZERO", "2147483648").value("QID", "30002000000000008375")
                       .value("ZBIG", "(1,-9223372036854775808)").end().bytes() +
                       bintable(2, 1, 0, {"I"}).value("TZERO1", "32768").value("TSCAL1", "1").end().data(2).bytes());
    f.emplace_back("header_of_36_cards", [] {
        fitsb::hdu h = primary(8, {});
        for (int i = 0; i < 32; ++i) h.integer("KEY" + std::to_string(i), i);
        return h.end().bytes();
    }());
    f.emplace_back("header_of_two_blocks", [] {
        fitsb::hdu h = primary(8, {4});
        for (int i = 0; i < 40; ++i) h.comment("filler " + std::to_string(i));
        return h.end().data(4).bytes();
    }());
    f.emplace_back("trailing_bytes", no_data() + std::string(100, 'x'));

    // Nearly valid files.
    f.emplace_back("empty", "");
    f.emplace_back("short_of_a_block", std::string(2879, ' '));
    f.emplace_back("header_without_end", [] {
        fitsb::hdu h = primary(8, {});
        for (int i = 0; i < 33; ++i) h.integer("KEY" + std::to_string(i), i);
        return h.bytes();
    }());
    f.emplace_back("data_cut_short", primary(16, {100, 100}).end().data(20000).bytes().substr(0, 6880));
    f.emplace_back("padding_cut_short", primary(8, {3}).end().data(3).unpadded().bytes());
    f.emplace_back("two_primaries", no_data() + no_data());
    f.emplace_back("extension_first", image(8, {}).end().bytes());
    f.emplace_back("unknown_extension", no_data() + fitsb::hdu().add("XTENSION= 'TABLE'").end().bytes());
    f.emplace_back("ascii_table_bad_form", no_data() + fitsb::ascii_table(8, 1, {{1, "F8"}}).end().data(8).bytes());
    f.emplace_back("ascii_table_field_beyond_row",
                   no_data() + fitsb::ascii_table(8, 1, {{2, "I8"}}).end().data(8).bytes());
    f.emplace_back("extension_data_cut_short",
                   no_data() + fitsb::extension("FOREIGN", 32, {1000}).end().data(4000).bytes().substr(0, 4000));
    f.emplace_back("zero_block_after_hdu", no_data() + std::string(2880, '\0'));
    f.emplace_back("image_pcount_1", no_data() + fitsb::hdu().string("XTENSION", "IMAGE").integer("BITPIX", 8)
                                                    .integer("NAXIS", 0).integer("PCOUNT", 1).integer("GCOUNT", 1)
                                                    .end().bytes());
    f.emplace_back("huge_dimensions", primary(64, {2147483647, 2147483647, 2147483647}).end().bytes());
    f.emplace_back("huge_groups", primary(64, {0, 2147483647}).logical("GROUPS", true)
                                      .integer("PCOUNT", 2147483647).integer("GCOUNT", 2147483647).end().bytes());
    f.emplace_back("huge_table", no_data() + bintable(2147483647, 2147483647, 2147483647, {"J"})
                                                 .integer("THEAP", 2147483647).end().bytes());
    f.emplace_back("many_fields_few_forms",
                   no_data() + table_header(4, 1, 0, 2147483647).string("TFORM1", "J").string("TFORM2", "0A")
                                   .end().data(4).bytes());
    f.emplace_back("negative_theap", no_data() + bintable(4, 1, 8, {"1PJ(2)"}).integer("THEAP", -1).end()
                                                     .data(12).bytes());
    f.emplace_back("bad_tform", no_data() + bintable(4, 1, 0, {"1PE(3"}).end().data(4).bytes());
    f.emplace_back("bad_tdim", no_data() + bintable(4, 1, 0, {"J"}).string("TDIM1", "(1 )").end().data(4).bytes());
    f.emplace_back("blank_tform", no_data() + table_header(4, 1, 0, 1).value("TFORM1", "' '")
                                                  .end().data(4).bytes());
    f.emplace_back("naxis_many_axes", [] {
        fitsb::hdu h;
        h.logical("SIMPLE", true).integer("BITPIX", 8).integer("NAXIS", 999);
        for (int i = 1; i <= 40; ++i) h.integer("NAXIS" + std::to_string(i), 1);
        return h.end().bytes();
    }());
    return f;
}

std::vector<std::pair<std::string, std::string>> cards() {
    const std::string blank = std::string(80, ' ');
    return {
        {"simple", card("SIMPLE", fixed("T"))},
        {"int_comment", card("EXPOSURE", "1500", "seconds")},
        {"string_quote", card("LABEL", "'it''s  '")},
        {"string_lead", card("LABEL", "'  lead'")},
        {"string_empty", card("LABEL", "''")},
        {"string_blanks", card("LABEL", "'   '")},
        {"string_open", card("LABEL", "'abc")},
        {"string_close_80", card("LABEL", "'" + std::string(68, 'x') + "'")},
        {"string_pair_79", card("LABEL", "'" + std::string(67, 'x') + "''")},
        {"double_exp", card("TEMP", "-12.5E1")},
        {"double_d", card("RATIO", "2.5D-3")},
        {"double_3d2", card("SCALE", "3D2")},
        {"double_lower", card("SCALE", "1.5e2")},
        {"double_dot", card("SCALE", "1.")},
        {"int_lower_e", card("COUNT", "12e3")},
        {"int_e_alone", card("COUNT", "1E")},
        {"int_plus", card("COUNT", "+007")},
        {"int_sat", card("COUNT", "99999999999")},
        {"int_sat_neg", card("COUNT", "-99999999999")},
        {"int_slash", card("COUNT", "5/x")},
        {"int_comma", card("COUNT", "5,6")},
        {"half", card("HALF", ".5")},
        {"minus_half", card("HALF", "-.5")},
        {"true_word", card("FLAG", "TRUE")},
        {"lower_t", card("FLAG", "t")},
        {"indef", card("WORD", "INDEF / note")},
        {"complex_int", card("ZI", "(3, -4)")},
        {"complex_double", card("ZD", "( 1.5 , 2 )")},
        {"complex_dot", card("ZD", "(.5,1)")},
        {"complex_blank_dot", card("ZD", "( .5,1)")},
        {"complex_no_comma", card("ZB", "(1 2)")},
        {"complex_open", card("ZB", "(1,")},
        {"complex_garbage", card("ZB", "(1,2)x")},
        {"complex_exp", card("ZE", "(1.5D+300, -2E-300)")},
        {"complex_signed_dots", card("ZD", "(-.5,+.5D1)")},
        {"complex_no_real", card("ZB", "(,1)")},
        {"complex_no_imaginary", card("ZB", "(1.5,  )")},
        {"python_repr", card("LONG", "1.2345678901234567")},
        {"hierarch", fitsb::raw("HIERARCH ESO DET CHIP1 ID = 'ccd1' / id")},
        {"hierarch_number", fitsb::raw("HIERARCH ESO ADA ABSROT END  =      0.00099 / deg")},
        {"hierarch_no_equals", fitsb::raw("HIERARCH ESO no value")},
        {"commentary_keyword", fitsb::raw("TELESCOP  not a value")},
        {"indicator_in_column_10", fitsb::raw("FILTER   ='x'")},
        {"near_halfway", card("MID", "1929.49980932295")},
        {"plus_dot", card("SCALE", "+.25E2")},
        {"undefined", card("UNDEF", "")},
        {"undefined_comment", card("UNDEF", "/ no value")},
        {"no_indicator", card("NOEQ", "5", "", "  ")},
        {"bad_indicator", card("NOEQ", "5", "", "=5")},
        {"embedded_blank", card("AB CD", "1")},
        {"lower_end", fitsb::raw("end")},
        {"end", fitsb::raw("END")},
        {"end_junk", fitsb::raw("END       junk")},
        {"comment", fitsb::raw("COMMENT   some text")},
        {"blank_name", card("", "5")},
        {"continue_blank", card("CONTINUE", "'more text'", "", "  ")},
        {"continue_int", card("CONTINUE", "7")},
        {"continue_bad", card("CONTINUE", "'more'", "", "x ")},
        {"slash_80", card("KEY", "5" + std::string(68, ' ') + "/")},
        {"logical_80", card("KEY", std::string(69, ' ') + "T")},
        {"long_double", card("PI", "3.14159265358979323846264338327950288419716939937510582097494459")},
        {"huge_exponent", card("BIG", "1.0E99999999999")},
        {"blank", blank},
    };
}

std::vector<std::pair<std::string, std::string>> forms() {
    return {
        {"e", "E"},        {"10a", "10A"},         {"13x", "13X"},      {"0j", "0J"},
        {"16c", "16C"},    {"2m", "2M"},           {"1pe", "1PE(200)"}, {"qd", "QD(5)"},
        {"1pb_empty", "1PB()"}, {"lower", "e"},    {"blank_e", " E"},   {"blank_3e", " 3E"},
        {"plus", "+3E"},   {"minus_zero", "-0E"},  {"minus", "-1E"},    {"digits", "10"},
        {"empty", ""},     {"sat", "99999999999E"}, {"trailing", "8A10"}, {"0pe", "0PE(10)"},
        {"2pe", "2PE(10)"}, {"2pz", "2PZ(10)"},    {"pp", "1PP(3)"},    {"bracket", "1PE[3]"},
        {"emax_x", "1PE(3x)"}, {"emax_open", "1PE(3"}, {"pe", "1PE"},   {"p", "1P"},
        {"px", "1PX(10)"}, {"neg_emax", "1PE(-5)"}, {"dim_34", "(3,4)"}, {"dim_blanks", "( 3, 4)"},
        {"dim_blank_comma", "(3 ,4)"}, {"dim_empty", "()"}, {"dim_commas", "(,)"}, {"dim_open", "("},
        {"dim_trailing_comma", "(3,"}, {"dim_unclosed", "(3"}, {"dim_blank", "( )"},
        {"dim_tail", "(3,4)abc"}, {"dim_bare", "3,4"}, {"dim_neg", "(-1)"}, {"dim_zero", "(0)"},
        {"big_bits", "2147483647X"}, {"big_complex", "2147483647M"},
    };
}

// Whether the reader accepts a built file, or why not.
std::string verdict(const fs::path& path) {
    try {
        velmora::fits_file file(path.string());
        return "accepted, " + std::to_string(file.hdus_.size()) + " HDU(s)";
    } catch (const std::exception& e) {
        return std::string("rejected: ") + e.what();
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "Usage: make_corpus <fuzz/corpus>\n";
        return 2;
    }
    const fs::path dir = argv[1];
    try {
        fs::create_directories(dir / "fuzz_reader");
        fs::create_directories(dir / "fuzz_card");
        fs::create_directories(dir / "fuzz_tform");
        for (const auto& [name, bytes] : files()) {
            fs::path path = dir / "fuzz_reader" / ("built_" + name + ".fits");
            write(path, bytes);
            std::cout << path.filename().string() << ": " << verdict(path) << "\n";
        }
        for (const auto& [name, text] : cards()) write(dir / "fuzz_card" / (name + ".card"), text);
        for (const auto& [name, text] : forms()) write(dir / "fuzz_tform" / (name + ".txt"), text);
    } catch (const std::exception& e) {
        std::cerr << "make_corpus: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
