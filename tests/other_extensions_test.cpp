// ASCII TABLE extensions and conforming extensions of any other type: their
// mandatory keywords in order, an ASCII table's columns, the size of their
// data and where the next HDU starts, from every input source.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace velmora;
using fitsb::error_of;

const std::string primary = fitsb::primary(8, {}).logical("EXTEND", true).end().bytes();

std::string kw(const std::string& name, const std::string& value) { return fitsb::card(name, value); }

// A header with the card at `at` replaced.
fitsb::hdu replaced(const fitsb::hdu& base, std::size_t at, const std::string& card) {
    fitsb::hdu h;
    for (std::size_t i = 0; i < base.cards().size(); ++i) h.add(i == at ? card : base.cards()[i]);
    return h;
}

struct mandatory_case {
    std::size_t at;  // place of the card replaced (0: XTENSION)
    std::string card;
    const char* error;
};

TEST(AsciiTableHeader, MandatoryKeywordsInOrder) {
    const mandatory_case cases[] = {
        {1, kw("BITPIX", fitsb::fixed("16")), "Not conforming to the standard"},
        {1, "COMMENT in place of BITPIX", "Unexpected comment"},
        {1, "BITPIX  8", "Unexpected comment"},
        {2, kw("NAXIS", fitsb::fixed("1")), "Table HDU: bad NAXIS"},
        {2, kw("NAXIS", fitsb::fixed("3")), "Table HDU: bad NAXIS"},
        {3, kw("NAXIS1", fitsb::fixed("-1")), "Not conforming to the standard"},
        {3, kw("NAXIS1", fitsb::fixed("8.0")), "Unexpected keyword value type"},
        {4, kw("NAXIS2", fitsb::fixed("-1")), "Not conforming to the standard"},
        {5, kw("PCOUNT", fitsb::fixed("1")), "Not conforming to the standard"},
        {6, kw("GCOUNT", fitsb::fixed("2")), "Not conforming to the standard"},
        {6, "HIERARCH GCOUNT = 1", "Unexpected keyword"},
        {7, kw("TFIELDS", fitsb::fixed("-1")), "Not conforming to the standard"},
        {7, kw("TBCOL1", fitsb::fixed("1")), "Unexpected keyword"},
    };
    const fitsb::hdu base = fitsb::ascii_table(8, 1, {{1, "I8"}});
    for (const mandatory_case& c : cases) {
        SCOPED_TRACE(c.card);
        const fitsb::hdu h = replaced(base, c.at, c.card);
        EXPECT_EQ(error_of(primary + fitsb::hdu(h).end().data(8, ' ').bytes()),
                  "HDU 2, card " + std::to_string(c.at + 1) + ": " + c.error);
    }
}

TEST(AsciiTableHeader, ColumnKeywordsAndFormats) {
    struct column_case {
        const char* name;
        fitsb::hdu header;
        const char* error;
    };
    auto table = [](const std::string& tform, long long tbcol = 1) { return fitsb::ascii_table(12, 1, {{tbcol, tform}}); };
    auto with = [](fitsb::hdu h, const std::string& card) { return h.add(card); };
    const column_case cases[] = {
        // Every TFORMn shape: Aw, Iw, Fw.d, Ew.d, Dw.d.
        {"A12", table("A12"), ""},
        {"I1", table("I1"), ""},
        {"F12.3", table("F12.3"), ""},
        {"E12.0", table("E12.0"), ""},
        {"D9.12", table("D9.12"), ""},
        {"lower case", table("a12"), "HDU 2, card 10: Bad form in TABLE"},
        {"width 0", table("A0"), "HDU 2, card 10: Bad form in TABLE"},
        {"no width", table("I"), "HDU 2, card 10: Bad form in TABLE"},
        {"F without decimals", table("F12"), "HDU 2, card 10: Bad form in TABLE"},
        {"F without decimal digits", table("F12."), "HDU 2, card 10: Bad form in TABLE"},
        {"I with decimals", table("I8.2"), "HDU 2, card 10: Bad form in TABLE"},
        {"a blank inside", table("F 8.2"), "HDU 2, card 10: Bad form in TABLE"},
        {"a sign", table("I+8"), "HDU 2, card 10: Bad form in TABLE"},
        {"a binary table's form", table("1J"), "HDU 2, card 10: Bad form in TABLE"},
        {"a letter only binary tables know", table("L1"), "HDU 2, card 10: Bad form in TABLE"},
        {"text after the form", table("I8X"), "HDU 2, card 10: Bad form in TABLE"},
        {"empty", table(""), "HDU 2, card 10: Bad form in TABLE"},
        // The field within the row: TBCOLn from 1, TBCOLn + w - 1 up to NAXIS1.
        {"field ending at the row's end", table("A4", 9), ""},
        {"field beyond the row's end", table("A4", 10), "HDU 2, card 9: Not conforming to the standard"},
        {"field before the row", table("A4", 0), "HDU 2, card 9: Not conforming to the standard"},
        {"width beyond any row", table("A2147483647", 2), "HDU 2, card 9: Not conforming to the standard"},
        // The column keywords, looked up in order: TBCOLn, TFORMn required.
        {"TBCOL missing", replaced(table("A1"), 8, "COMMENT no TBCOL1"), "HDU 2: Not conforming to the standard"},
        {"TFORM missing", replaced(table("A1"), 9, "COMMENT no TFORM1"), "HDU 2: Not conforming to the standard"},
        {"TBCOL as a string", replaced(table("A1"), 8, kw("TBCOL1", "'1'")), "HDU 2, card 9: Unexpected keyword value type"},
        {"TFORM as an integer", replaced(table("A1"), 9, kw("TFORM1", "1")), "HDU 2, card 10: Unexpected keyword value type"},
        {"TSCAL as an integer", with(table("I8"), kw("TSCAL1", "2")), ""},
        {"TZERO written .5", with(table("I8"), kw("TZERO1", ".5")), ""},
        {"TSCAL as a string", with(table("I8"), kw("TSCAL1", "'2'")), "HDU 2, card 11: Unexpected keyword value type"},
        {"TNULL as a string", with(table("I8"), kw("TNULL1", "'*'")), ""},
        {"TNULL as an integer", with(table("I8"), kw("TNULL1", "-99")), "HDU 2, card 11: Unexpected keyword value type"},
        {"TTYPE as a logical", with(table("I8"), kw("TTYPE1", "T")), "HDU 2, card 11: Unexpected keyword value type"},
        {"TDISP as an integer", with(table("I8"), kw("TDISP1", "5")), "HDU 2, card 11: Unexpected keyword value type"},
        {"a bad TTYPE before a bad TFORM", with(table("X"), kw("TTYPE1", "1")), "HDU 2, card 11: Unexpected keyword value type"},
    };
    for (const column_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(error_of(primary + fitsb::hdu(c.header).end().data(12, ' ').bytes()), c.error);
    }
}

TEST(AsciiTableHeader, ColumnsDescribedAndTableRead) {
    const std::string rows = "  1.5  abc  -2.25e1 xyz ";
    fitsb::hdu h = fitsb::ascii_table(12, 2, {{1, "F5.1"}, {6, "A5"}, {12, "I1"}});
    h.string("TTYPE2", "NAME").string("TNULL1", "*").real("TSCAL1", "2").real("TZERO1", ".5").end().data(rows);
    const std::string bytes = primary + h.bytes() + fitsb::image(8, {}).end().bytes();
    fits_file file(memory_input{bytes.data(), bytes.size()});
    ASSERT_EQ(file.hdus_.size(), 3u);
    ASSERT_EQ(file.hdus_[1].get_hdu_type(), HT_TABLE);
    const auto& table = static_cast<const hdu_table&>(*file.hdus_[1].get_hdu());
    EXPECT_EQ(table.naxis1_, 12);
    EXPECT_EQ(table.naxis2_, 2);
    ASSERT_EQ(table.columns_.size(), 3u);
    EXPECT_EQ(table.columns_[0].letter_, 'F');
    EXPECT_EQ(table.columns_[0].width_, 5);
    EXPECT_EQ(table.columns_[0].decimals_, 1);
    EXPECT_EQ(table.columns_[0].tnull_, "*");
    EXPECT_EQ(table.columns_[0].tscal_, 2.0);
    EXPECT_EQ(table.columns_[0].tzero_, 0.5);
    EXPECT_EQ(table.columns_[1].tbcol_, 6);
    EXPECT_EQ(table.columns_[1].ttype_, "NAME");
    EXPECT_EQ(table.columns_[2].letter_, 'I');
    EXPECT_EQ(std::string(table.data_.begin(), table.data_.end()), rows);
    EXPECT_EQ(file.hdus_[2].get_hdu_type(), HT_IMAGE);  // the next HDU at its block
}

TEST(ConformingExtension, MandatoryKeywordsInOrder) {
    const mandatory_case cases[] = {
        {1, kw("BITPIX", fitsb::fixed("12")), "Primary HDU: bad BITPIX"},
        {1, kw("NAXIS", fitsb::fixed("1")), "Unexpected keyword"},
        {2, kw("NAXIS", fitsb::fixed("-1")), "Primary HDU: bad NAXIS"},
        {3, kw("NAXIS1", fitsb::fixed("-1")), "Primary HDU: bad dimension"},
        {3, "NAXIS1  5", "Unexpected comment"},
        {4, kw("PCOUNT", fitsb::fixed("-1")), "Not conforming to the standard"},
        {4, kw("GCOUNT", fitsb::fixed("1")), "Unexpected keyword"},
        {5, kw("GCOUNT", fitsb::fixed("-1")), "Not conforming to the standard"},
        {5, kw("GCOUNT", fitsb::fixed("1.0")), "Unexpected keyword value type"},
    };
    const fitsb::hdu base = fitsb::extension("HDRLET", 8, {4});
    for (const mandatory_case& c : cases) {
        SCOPED_TRACE(c.card);
        EXPECT_EQ(error_of(primary + replaced(base, c.at, c.card).end().data(4).bytes()),
                  "HDU 2, card " + std::to_string(c.at + 1) + ": " + c.error);
    }
}

TEST(ConformingExtension, DataSizedByTheStandardsFormula) {
    const struct {
        const char* name;
        fitsb::hdu header;
        std::uint64_t size;  // |BITPIX|/8 x GCOUNT x (PCOUNT + NAXIS1 x ... x NAXISn)
    } cases[] = {
        {"no axes", fitsb::extension("FOREIGN", 8, {}), 0},
        {"no axes but parameters", fitsb::extension("FOREIGN", 16, {}, 10, 1), 20},
        {"one group", fitsb::extension("A3DTABLE", 8, {100, 3}), 300},
        {"two groups with parameters", fitsb::extension("IUEIMAGE", -32, {5, 2}, 3, 2), 4 * 2 * (3 + 10)},
        {"no groups", fitsb::extension("HDRLET", 64, {7}, 1, 0), 0},
        {"an axis of 0", fitsb::extension(" IMAGE", 8, {0, 9}, 2, 1), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes =
            primary + fitsb::hdu(c.header).end().data(fitsb::pattern(c.size)).bytes() + fitsb::image(8, {}).end().bytes();
        EXPECT_EQ(error_of(bytes), "");
        fits_file file(memory_input{bytes.data(), bytes.size()});
        ASSERT_EQ(file.hdus_.size(), 3u);
        EXPECT_EQ(file.hdus_[1].get_hdu_type(), HT_EXTENSION);
        const auto& ext = static_cast<const hdu_extension&>(*file.hdus_[1].get_hdu());
        EXPECT_EQ(ext.data_size(), c.size);
        EXPECT_EQ(hdu_kinds[HT_EXTENSION].data_size(ext), c.size);
        EXPECT_EQ(std::string(ext.data_.begin(), ext.data_.end()), fitsb::pattern(c.size));
        EXPECT_EQ(file.hdus_[2].get_hdu_type(), HT_IMAGE);  // the next HDU at its block
        // Cut one byte short, the data is not all there.
        if (c.size != 0) {
            EXPECT_EQ(error_of(primary + fitsb::hdu(c.header).end().data(c.size - 1).unpadded().bytes()),
                      "HDU 2: file ends inside the data");
        }
    }
}

TEST(OtherExtensions, TableDataCutShort) {
    const std::string cut = primary + fitsb::ascii_table(10, 3, {{1, "A10"}}).end().data(29).unpadded().bytes();
    EXPECT_EQ(error_of(cut), "HDU 2: file ends inside the data");
}

}  // namespace
