// velmora::fits - BINTABLE extensions: their mandatory keywords, the column
// formats (TFORMn, TDIMn) and column keywords, the main table and the heap.
#include "internal.h"

#include <string>
#include <utility>

namespace velmora {

const std::int32_t column_type_width[column_type_count] = {0, 1, 0, 1, 2, 4, 8, 1, 4, 8, 8, 16, 0, 0};

std::int32_t column_type_from_letter(char letter) {
    switch (letter) {
        case 'L': return CT_LOGICAL;
        case 'X': return CT_BIT;
        case 'B': return CT_BYTE;
        case 'I': return CT_INT16;
        case 'J': return CT_INT32;
        case 'K': return CT_INT64;
        case 'A': return CT_CHAR;
        case 'E': return CT_FLOAT;
        case 'D': return CT_DOUBLE;
        case 'C': return CT_COMPLEX_FLOAT;
        case 'M': return CT_COMPLEX_DOUBLE;
        case 'P': return CT_DESC32;
        case 'Q': return CT_DESC64;
        default: fail("Unknown form type in BINTABLE");
    }
}

namespace {

// The character at `pos` of a column keyword value; a value that ends first
// is the standard out-of-range error.
char char_at(const std::string& text, std::size_t pos) {
    if (pos >= text.size()) fail_position();
    return text[pos];
}

// A 32-bit product that wraps like the unsigned arithmetic of the format's
// row widths, computed without signed overflow.
std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

void parse_tform(const std::string& tform, bintable_column& column) {
    std::size_t pos = 0;
    std::int32_t repeat = 0;
    if (read_decimal(tform, pos, repeat)) {
        if (repeat < 0) fail("Negative form repetition in BINTABLE");
        column.repeat_ = repeat;
    } else {
        column.repeat_ = 1;
    }
    column.ct_ = column_type_from_letter(char_at(tform, pos));

    if (column.ct_ == CT_BIT) {
        column.width_ = static_cast<std::int32_t>((static_cast<std::uint32_t>(column.repeat_) + 7) / 8);
    } else if (column.ct_ == CT_DESC32 || column.ct_ == CT_DESC64) {
        column.pq_ = column.ct_ == CT_DESC32 ? 1 : 2;
        if (column.repeat_ > 1) fail("Repetition count >1 for P/Q form in BINTABLE");
        column.ct_ = column_type_from_letter(char_at(tform, pos + 1));
        if (column.ct_ == CT_DESC32 || column.ct_ == CT_DESC64)
            fail("Bad column type for P/Q form in BINTABLE");
        if (char_at(tform, pos + 2) != '(') fail("Bad P/Q form in BINTABLE");
        std::size_t emax_pos = pos + 3;
        std::int32_t emax = 0;
        read_decimal(tform, emax_pos, emax);
        column.max_count_ = emax;
        if (char_at(tform, emax_pos) != ')') fail("Bad P/Q form in BINTABLE");
        // A descriptor takes two 32-bit (P) or two 64-bit (Q) fields in the row.
        column.width_ = column.repeat_ * (column.pq_ == 1 ? 8 : 16);
    } else {
        column.width_ = wrapping_mul(column_type_width[column.ct_], column.repeat_);
    }
    if (column.max_count_ == 0) column.max_count_ = column.repeat_;
}

void parse_tdim(const std::string& tdim, bintable_column& column) {
    if (tdim.empty() || tdim[0] != '(') fail("Bad DIM in BINTABLE");
    std::size_t pos = 1;
    while (pos < tdim.size()) {
        std::int32_t dim = 0;
        read_decimal(tdim, pos, dim);
        if (dim < 0) fail("Bad DIM in BINTABLE");
        column.tdim_.push_back(dim);
        char stop = at(tdim, pos);
        if (stop == ')') return;
        if (stop != ',') fail("Bad DIM in BINTABLE");
        ++pos;
    }
}

bintable_row bintable_row_list::operator[](std::size_t i) const {
    return bintable_row{static_cast<std::int32_t>(i), table_};
}

hdu_bintable::~hdu_bintable() = default;

std::uint64_t hdu_bintable::table_size() const {
    return static_cast<std::uint64_t>(naxis1_) * static_cast<std::uint64_t>(naxis2_);
}

void hdu_bintable::read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) {
    file_reader& in = file_reader::of(file);
    std::int32_t tfields = 0;
    read_table_keywords(in, entry, first_card, "BINTABLE", {
        {"BITPIX", [](std::int32_t v) { return v == 8; }, "Not conforming to the standard", nullptr},
        {"NAXIS", [](std::int32_t v) { return v == 2; }, "Bintable HDU: bad NAXIS", nullptr},
        {"NAXIS1", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &naxis1_},
        {"NAXIS2", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &naxis2_},
        {"PCOUNT", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &pcount_},
        {"GCOUNT", [](std::int32_t v) { return v == 1; }, "Not conforming to the standard", nullptr},
        {"TFIELDS", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &tfields},
    });

    in.read_free_cards(entry);
    read_columns(entry, tfields);

    in.end_block();
    in.load_data(data_, table_size());
    if (pcount_ != 0) read_heap(file, entry);
    in.end_block();
    rows_ = bintable_row_list(naxis2_, this);
}

void hdu_bintable::read_columns(const hdu_entry& entry, std::int32_t tfields) {
    std::int32_t offset = 0;
    for (std::int32_t n = 1; n <= tfields; ++n) {
        bintable_column column;
        column.col_index_ = n - 1;
        const std::string number = std::to_string(n);

        // Every keyword is looked up (and type-checked) before the formats
        // are parsed; absent ones leave the column's defaults.
        std::string tform, tdim;
        auto tform_at = column_string(entry, "TFORM" + number, true, tform);
        column_string(entry, "TTYPE" + number, false, column.ttype_);
        column_string(entry, "TUNIT" + number, false, column.tunit_);
        double tscal = column.tscal_, tzero = column.tzero_;
        column_real(entry, "TSCAL" + number, tscal);
        column_real(entry, "TZERO" + number, tzero);
        auto tnull = find_keyword(entry, "TNULL" + number, DT_INT, false);
        column_string(entry, "TDISP" + number, false, column.tdisp_);
        auto tdim_at = column_string(entry, "TDIM" + number, false, tdim);

        parse_value_of(entry, tform_at, [&] { parse_tform(tform, column); });
        column.tscal_ = tscal;
        column.tzero_ = tzero;
        if (tnull != entry.krs_.end()) column.tnull_ = tnull->get_int();
        if (tdim_at != entry.krs_.end()) parse_value_of(entry, tdim_at, [&] { parse_tdim(tdim, column); });

        column.offset_ = offset;
        offset = wrapping_add(offset, column.width_);
        columns_.push_back(std::move(column));
    }
}

// Reads the heap that follows the main table. This reader has always taken
// THEAP as the gap between the end of the table and the heap, followed by
// PCOUNT heap bytes. The FITS standard counts THEAP from the start of the
// table, with PCOUNT covering gap and heap; files written that way are
// recognised when THEAP lies within the table and heap, the two readings end
// the HDU in different blocks, and only the standard reading fits the file
// or lands the next HDU on an XTENSION card.
void hdu_bintable::read_heap(fits_file& file, const hdu_entry& entry) {
    file_reader& in = file_reader::of(file);
    std::int32_t theap = optional_count(entry, "THEAP", 0, "Bad THEAP value in BINTABLE");

    const std::uint64_t table = table_size();
    const std::uint64_t gap = static_cast<std::uint64_t>(theap);
    const std::uint64_t pcount = static_cast<std::uint64_t>(pcount_);

    // Where each placement ends the HDU, counted from the start of the table.
    bool standard = false;
    if (table <= gap && gap <= table + pcount &&
        round_up_to_block(table + gap + pcount) != round_up_to_block(table + pcount)) {
        standard = in.data_ends_nearer(pcount, gap + pcount);
    }

    if (standard) {
        in.pass_bytes(gap - table);
        in.load_data(heap_, table + pcount - gap);
    } else {
        in.skip_bytes(gap);
        in.load_data(heap_, pcount);
    }
}

}  // namespace velmora
