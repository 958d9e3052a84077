// BINTABLE HDUs: mandatory keywords, column descriptions from the column
// keywords, the main table, its rows and the heap with both THEAP placements.
#include "fits.h"
#include "fits_builder.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using velmora::fits_file;
using velmora::hdu_bintable;

const std::string primary = fitsb::primary(8, {}).end().bytes();
// An IMAGE extension with known data: found, with that data, only when the
// table before it ended at the right block.
const std::string marker = fitsb::image(8, {5}).end().data("ABCDE").bytes();

std::string kw(const std::string& name, const std::string& value) { return fitsb::card(name, value); }

// A table header of `naxis1` x `naxis2` bytes and `tfields` columns, then `cards` as given.
fitsb::hdu table(int tfields, std::initializer_list<std::string> cards, int naxis1 = 8, int naxis2 = 0,
                 int pcount = 0) {
    fitsb::hdu h = fitsb::bintable_header(naxis1, naxis2, pcount, tfields);
    for (const std::string& c : cards) h.add(c);
    return h;
}

using fitsb::error_of;

std::unique_ptr<fits_file> read(const std::string& bytes, velmora::read_mode mode = velmora::RM_LOAD_DATA,
                                fitsb::source from = fitsb::source::file) {
    return fitsb::read_from(from, bytes, mode);
}

const hdu_bintable& table_of(const fits_file& file, std::size_t i = 1) {
    return dynamic_cast<const hdu_bintable&>(*file.hdus_.at(i).get_hdu());
}

std::string marker_data(const fits_file& file, std::size_t i) {
    const auto& image = dynamic_cast<const velmora::hdu_simple_parent&>(*file.hdus_.at(i).get_hdu());
    return image.get_data() ? std::string(image.get_data(), 5) : std::string();
}

TEST(BintableHeader, MandatoryKeywordsInOrder) {
    struct mandatory_case {
        std::size_t at;  // card replaced: 0 XTENSION ... 7 TFIELDS
        std::string card;
        const char* error;
    };
    const mandatory_case cases[] = {
        {0, kw("XTENSION", "'BINTABLE' x"), "Garbage chars after value"},
        {1, kw("BITPIX", fitsb::fixed("16")), "Not conforming to the standard"},
        {1, kw("NAXIS", fitsb::fixed("2")), "Unexpected keyword"},
        {1, "COMMENT in place of BITPIX", "Unexpected comment"},
        {2, kw("NAXIS", fitsb::fixed("3")), "Bintable HDU: bad NAXIS"},
        {2, kw("NAXIS", fitsb::fixed("1")), "Bintable HDU: bad NAXIS"},
        {3, kw("NAXIS1", fitsb::fixed("-1")), "Not conforming to the standard"},
        {3, kw("NAXIS1", fitsb::fixed("8.0")), "Unexpected keyword value type"},
        {3, kw("NAXIS1", fitsb::fixed(".8E1")), "Unexpected keyword value type"},
        {4, kw("NAXIS2", fitsb::fixed("-1")), "Not conforming to the standard"},
        {4, kw("NAXIS2", ""), "Unexpected keyword value type"},
        {5, kw("PCOUNT", fitsb::fixed("-1")), "Not conforming to the standard"},
        {5, kw("GCOUNT", fitsb::fixed("1")), "Unexpected keyword"},
        {5, "END", "Unexpected comment"},
        {6, kw("GCOUNT", fitsb::fixed("2")), "Not conforming to the standard"},
        {6, kw("GCOUNT", fitsb::fixed("0")), "Not conforming to the standard"},
        {6, "CONTINUE  'more'", "Unexpected comment"},
        {7, kw("TFIELDS", fitsb::fixed("-1")), "Not conforming to the standard"},
        {7, kw("TFIELDS", "'one'"), "Unexpected keyword value type"},
        {7, "HISTORY in place of TFIELDS", "Unexpected comment"},
        {7, "", "Unexpected comment"},
    };
    const fitsb::hdu base = table(0, {});
    for (const mandatory_case& c : cases) {
        SCOPED_TRACE(c.card);
        fitsb::hdu h;
        for (std::size_t i = 0; i < base.cards().size(); ++i) h.add(i == c.at ? c.card : base.cards()[i]);
        // The card at fault is the one in the mandatory keyword's place.
        EXPECT_EQ(error_of(primary + h.end().bytes()), "HDU 2, card " + std::to_string(c.at + 1) + ": " + c.error);
    }
}

TEST(BintableHeader, ColumnKeywordTypesAndPresence) {
    const std::string j = kw("TFORM1", "'J'");
    struct column_case {
        const char* name;
        fitsb::hdu header;
        const char* error;
    };
    const column_case cases[] = {
        {"TFORM2 missing", table(2, {j}), "HDU 2: Not conforming to the standard"},
        {"TFORM as an integer", table(1, {kw("TFORM1", "1")}), "HDU 2, card 9: Unexpected keyword value type"},
        {"TTYPE as an integer", table(1, {j, kw("TTYPE1", "5")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TUNIT as a logical", table(1, {j, kw("TUNIT1", "T")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TSCAL as an integer", table(1, {j, kw("TSCAL1", "1")}), ""},
        {"TSCAL as a string", table(1, {j, kw("TSCAL1", "'1'")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TSCAL without value", table(1, {j, kw("TSCAL1", "")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TZERO as an integer", table(1, {j, kw("TZERO1", "0")}), ""},
        {"TZERO as a complex pair", table(1, {j, kw("TZERO1", "(1,0)")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TNULL beyond 32 bits", table(1, {j, kw("TNULL1", "2147483648")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TNULL with a decimal point", table(1, {j, kw("TNULL1", "1.5")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TDISP as an integer", table(1, {j, kw("TDISP1", "8")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"TDIM as an integer", table(1, {j, kw("TDIM1", "3")}), "HDU 2, card 10: Unexpected keyword value type"},
        {"first of two TSCAL is a logical", table(1, {j, kw("TSCAL1", "T"), kw("TSCAL1", "1.0")}),
         "HDU 2, card 10: Unexpected keyword value type"},
        {"TFORM ''", table(1, {kw("TFORM1", "''")}), "HDU 2, card 9: invalid string position"},
        {"TFORM of blanks", table(1, {kw("TFORM1", "'    '")}), "HDU 2, card 9: invalid string position"},
        {"TDIM ''", table(1, {j, kw("TDIM1", "''")}), "HDU 2, card 10: Bad DIM in BINTABLE"},
        {"bad TFORM of column 2", table(2, {j, kw("TFORM2", "'Z'")}), "HDU 2, card 10: Unknown form type in BINTABLE"},
        {"TSCAL written 1.0", table(1, {j, kw("TSCAL1", "1.0")}), ""},
        {"TSCAL written .5", table(1, {j, kw("TSCAL1", ".5")}), ""},
        {"TZERO written -.5E2", table(1, {j, kw("TZERO1", "-.5E2")}), ""},
        {"second of two TSCAL is an integer", table(1, {j, kw("TSCAL1", "2.0"), kw("TSCAL1", "7")}), ""},
        {"keywords beyond TFIELDS unused", table(1, {j, kw("TFORM2", "'Z'"), kw("TSCAL2", "5")}), ""},
        {"COMMENT and blank cards after TFIELDS", table(1, {"COMMENT x", "", j}), ""},
        {"THEAP unused without heap", table(0, {kw("THEAP", "-5"), kw("THEAP", "'x'")}), ""},
        {"negative THEAP with a heap", table(0, {kw("THEAP", "-1")}, 8, 0, 10), "HDU 2, card 9: Bad THEAP value in BINTABLE"},
        {"THEAP as a double with a heap", table(0, {kw("THEAP", "1.0")}, 8, 0, 10),
         "HDU 2, card 9: Unexpected keyword value type"},
    };
    for (const column_case& c : cases) {
        SCOPED_TRACE(c.name);
        fitsb::hdu h = c.header;
        EXPECT_EQ(error_of(primary + h.end().bytes()), c.error);
    }
    EXPECT_THROW(read(primary + table(1, {kw("TFORM1", "''")}).end().bytes()), std::out_of_range);
}

TEST(BintableColumns, DescriptionsFromTheFirstOfEachKeyword) {
    auto file = read(primary + table(3, {kw("TFORM1", "'1J'"), kw("TTYPE1", "'flux'"), kw("TUNIT1", "'Jy'"),
                                         kw("TSCAL1", "2.5"), kw("TZERO1", "-1.0"), kw("TNULL1", "-99"),
                                         kw("TDISP1", "'I8'"), kw("TDIM1", "'(1)'"),
                                         kw("TFORM2", "'3D'"), kw("TSCAL2", "0.5"), kw("TSCAL2", "7"),
                                         kw("TTYPE2", "'a'"), kw("TTYPE2", "'b'"),
                                         kw("TFORM3", "'10A'"), kw("TTYPE3", "''"), kw("TUNIT3", "'   '"),
                                         kw("TDIM3", "'(5,2)'"), kw("TZERO3", "32768"), kw("TSCAL3", "1"),
                                         kw("TFORM4", "'QZ'"), kw("TZERO2", "9223372036854775807")},
                                     50)
                                   .end()
                                   .bytes());
    const std::vector<velmora::bintable_column>& cols = table_of(*file).columns_;
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].col_index_, 0);
    EXPECT_EQ(cols[0].ct_, velmora::CT_INT32);
    EXPECT_EQ(cols[0].ttype_, "flux");
    EXPECT_EQ(cols[0].tunit_, "Jy");
    EXPECT_EQ(cols[0].tscal_, 2.5);
    EXPECT_EQ(cols[0].tzero_, -1.0);
    EXPECT_EQ(cols[0].tnull_, -99);
    EXPECT_EQ(cols[0].tdisp_, "I8");
    EXPECT_EQ(cols[0].tdim_, std::vector<std::int32_t>{1});

    EXPECT_EQ(cols[1].col_index_, 1);
    EXPECT_EQ(cols[1].ct_, velmora::CT_DOUBLE);
    EXPECT_EQ(cols[1].repeat_, 3);
    EXPECT_EQ(cols[1].ttype_, "a");
    EXPECT_EQ(cols[1].tscal_, 0.5);
    EXPECT_EQ(cols[1].tzero_, 9223372036854775807.0);  // an integer beyond 32 bits, as the nearest double
    EXPECT_EQ(cols[1].tnull_, 0);
    EXPECT_EQ(cols[1].tunit_, "");
    EXPECT_TRUE(cols[1].tdim_.empty());

    EXPECT_EQ(cols[2].ct_, velmora::CT_CHAR);
    EXPECT_EQ(cols[2].ttype_, "");
    EXPECT_EQ(cols[2].tunit_, "");
    EXPECT_EQ(cols[2].tdim_, (std::vector<std::int32_t>{5, 2}));
    EXPECT_EQ(cols[2].tzero_, 32768.0);  // unsigned 16-bit columns are written so
    EXPECT_EQ(cols[2].tscal_, 1.0);
}

TEST(BintableColumns, OffsetsFollowTheWidthsWhateverNaxis1) {
    auto file = read(primary + fitsb::bintable(7, 0, 0, {"1J", "3D", "10A", "1PJ(5)", "QD(2)", "13X", "0E", "L"})
                                   .end()
                                   .bytes());
    std::vector<std::int32_t> widths, offsets;
    for (const velmora::bintable_column& c : table_of(*file).columns_) {
        widths.push_back(c.width_);
        offsets.push_back(c.offset_);
    }
    EXPECT_EQ(widths, (std::vector<std::int32_t>{4, 24, 10, 8, 16, 2, 0, 1}));
    EXPECT_EQ(offsets, (std::vector<std::int32_t>{0, 4, 28, 38, 46, 62, 64, 64}));
}

TEST(BintableData, MainTableRowsAndNextHdu) {
    struct rows_case {
        const char* name;
        fitsb::hdu header;
        std::string data;
        std::size_t rows;
    };
    const rows_case cases[] = {
        {"TFIELDS 0 still reads the table", table(0, {}, 4, 3), "abcdefghijkl", 3},
        {"NAXIS2 0", table(1, {kw("TFORM1", "'25A'")}, 100, 0), "", 0},
        {"NAXIS1 0", table(0, {}, 0, 5), "", 5},
        {"table of exactly one block", table(1, {kw("TFORM1", "'J'")}, 4, 720), std::string(2880, 'r'), 720},
    };
    for (const rows_case& c : cases) {
        SCOPED_TRACE(c.name);
        fitsb::hdu h = c.header;
        const std::string bytes = primary + h.end().data(c.data).bytes() + marker;
        for (velmora::read_mode mode : {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY}) {
            auto file = read(bytes, mode);
            ASSERT_EQ(file->hdus_.size(), 3u);
            const hdu_bintable& t = table_of(*file);
            EXPECT_EQ(t.rows_.size(), c.rows);
            EXPECT_EQ(t.rows_.empty(), c.rows == 0);
            EXPECT_TRUE(t.heap_.empty());
            std::size_t row = 0;
            for (velmora::bintable_row r : t.rows_) {
                EXPECT_EQ(r.row_, static_cast<std::int32_t>(row++));
                EXPECT_EQ(r.table_, &t);
            }
            EXPECT_EQ(row, c.rows);
            if (mode == velmora::RM_LOAD_DATA) {
                EXPECT_EQ(std::string(t.data_.begin(), t.data_.end()), c.data);
                EXPECT_EQ(marker_data(*file, 2), "ABCDE");
            }
        }
    }
}

TEST(BintableData, ManyEmptyRowsCostNoMemory) {
    auto file = read(primary + table(0, {}, 0, 2147483647).end().bytes());
    const hdu_bintable& t = table_of(*file);
    EXPECT_EQ(t.rows_.size(), 2147483647u);
    EXPECT_EQ(t.rows_[2147483646].row_, 2147483646);
    EXPECT_EQ(t.rows_[2147483646].table_, &t);
    EXPECT_TRUE(t.data_.empty());
}

// A table of NAXIS1 x NAXIS2 bytes 't', then gap bytes 'g' and heap bytes 'h'.
TEST(BintableHeap, BothThePlacementsOfTheHeap) {
    struct heap_case {
        const char* name;
        int naxis1, naxis2, pcount, theap;  // theap < 0: no THEAP card
        std::size_t gap, heap;              // bytes written after the table
        std::size_t expected;               // heap bytes read
    };
    const heap_case cases[] = {
        {"no THEAP: heap right after the table", 20, 100, 1000, -1, 0, 1000, 1000},
        {"THEAP beyond the table and heap: gap passed over", 4, 2, 10, 3000, 3000, 10, 10},
        {"file holds only the standard placement", 20, 100, 1000, 2900, 900, 100, 100},
        {"file holds the gap placement", 20, 100, 1000, 2900, 2900, 1000, 1000},
    };
    for (const heap_case& c : cases) {
        for (int variant = 0; variant < 16; ++variant) {
            const bool followed = variant % 2, long_header = variant >= 8;
            const fitsb::source from = fitsb::every_source[variant / 2 % 4];
            SCOPED_TRACE(std::string(c.name) + (followed ? ", followed by an HDU" : ", last HDU") + ", " +
                         fitsb::source_name(from) + (long_header ? ", header of two blocks" : ""));
            fitsb::hdu h = table(0, {}, c.naxis1, c.naxis2, c.pcount);
            for (int i = 0; long_header && i < 30; ++i) h.comment("the header reaches into a second block");
            if (c.theap >= 0) h.integer("THEAP", c.theap);
            h.end().data(static_cast<std::size_t>(c.naxis1 * c.naxis2), 't').data(c.gap, 'g').data(c.heap, 'h');
            const std::string bytes = primary + h.bytes() + (followed ? marker : "");
            EXPECT_EQ(error_of(bytes), "");
            auto headers_only = read(bytes, velmora::RM_HEADERS_ONLY, from);
            auto file = read(bytes, velmora::RM_LOAD_DATA, from);
            ASSERT_EQ(file->hdus_.size(), followed ? 3u : 2u);
            EXPECT_EQ(headers_only->hdus_.size(), file->hdus_.size());
            const hdu_bintable& t = table_of(*file);
            EXPECT_EQ(std::string(t.data_.begin(), t.data_.end()), std::string(t.data_.size(), 't'));
            EXPECT_EQ(std::string(t.heap_.begin(), t.heap_.end()), std::string(c.expected, 'h'));
            if (followed) {
                EXPECT_EQ(marker_data(*file, 2), "ABCDE");
            }
        }
    }
}

TEST(BintableHeap, HeapBeyondTheFileIsAReadError) {
    const std::string cut_heap = table(0, {}, 20, 100, 1000).end().data(2000, 't').data(1000, 'h').unpadded().bytes();
    const std::string short_gap = table(0, {}, 4, 2, 10).integer("THEAP", 3000).end().data(8, 't').bytes();
    EXPECT_EQ(error_of(primary + cut_heap), "HDU 2: file ends inside the data");
    EXPECT_EQ(error_of(primary + short_gap), "HDU 2: file ends inside the data");
}

}  // namespace
