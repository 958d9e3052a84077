// velmora::fits - ASCII TABLE extensions: their mandatory keywords, the
// column formats (TFORMn) and column keywords, and the table.
#include "internal.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace velmora {

namespace {

// The value of the run of decimal digits at `pos`, saturated to 32 bits;
// -1 when no digit stands there. `pos` moves past the run.
std::int32_t digit_run(const std::string& text, std::size_t& pos) {
    if (!is_digit(at(text, pos))) return -1;
    std::int64_t value = 0;
    for (; is_digit(at(text, pos)); ++pos) value = std::min<std::int64_t>(value * 10 + (text[pos] - '0'), std::int64_t{INT32_MAX});
    return static_cast<std::int32_t>(value);
}

}  // namespace

void parse_table_tform(const std::string& tform, table_column& column) {
    const char letter = at(tform, 0);
    const bool text_or_integer = letter == 'A' || letter == 'I';
    const bool real = letter == 'F' || letter == 'E' || letter == 'D';
    if (!text_or_integer && !real) fail("Bad form in TABLE");
    std::size_t pos = 1;
    const std::int32_t width = digit_run(tform, pos);
    if (width < 1) fail("Bad form in TABLE");
    std::int32_t decimals = 0;
    if (real) {
        if (at(tform, pos) != '.') fail("Bad form in TABLE");
        ++pos;
        decimals = digit_run(tform, pos);
        if (decimals < 0) fail("Bad form in TABLE");
    }
    if (pos != tform.size()) fail("Bad form in TABLE");
    column.letter_ = letter;
    column.width_ = width;
    column.decimals_ = decimals;
}

hdu_table::~hdu_table() = default;

std::uint64_t hdu_table::table_size() const {
    return static_cast<std::uint64_t>(naxis1_) * static_cast<std::uint64_t>(naxis2_);
}

void hdu_table::read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) {
    file_reader& in = file_reader::of(file);
    std::int32_t tfields = 0;
    read_table_keywords(in, entry, first_card, "TABLE", {
        {"BITPIX", [](std::int32_t v) { return v == 8; }, "Not conforming to the standard", nullptr},
        {"NAXIS", [](std::int32_t v) { return v == 2; }, "Table HDU: bad NAXIS", nullptr},
        {"NAXIS1", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &naxis1_},
        {"NAXIS2", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &naxis2_},
        {"PCOUNT", [](std::int32_t v) { return v == 0; }, "Not conforming to the standard", nullptr},
        {"GCOUNT", [](std::int32_t v) { return v == 1; }, "Not conforming to the standard", nullptr},
        {"TFIELDS", [](std::int32_t v) { return v >= 0; }, "Not conforming to the standard", &tfields},
    });

    in.read_free_cards(entry);
    read_columns(entry, tfields);

    in.end_block();
    in.load_data(data_, table_size());
    in.end_block();
}

void hdu_table::read_columns(const hdu_entry& entry, std::int32_t tfields) {
    for (std::int32_t n = 1; n <= tfields; ++n) {
        table_column column;
        column.col_index_ = n - 1;
        const std::string number = std::to_string(n);

        // Every keyword is looked up (and type-checked) before the format is
        // parsed and the field placed in the row.
        const hdu_entry::position tbcol = find_keyword(entry, "TBCOL" + number, DT_INT, true);
        std::string tform;
        const hdu_entry::position tform_at = column_string(entry, "TFORM" + number, true, tform);
        column_string(entry, "TTYPE" + number, false, column.ttype_);
        column_string(entry, "TUNIT" + number, false, column.tunit_);
        column_real(entry, "TSCAL" + number, column.tscal_);
        column_real(entry, "TZERO" + number, column.tzero_);
        column_string(entry, "TNULL" + number, false, column.tnull_);
        column_string(entry, "TDISP" + number, false, column.tdisp_);

        parse_value_of(entry, tform_at, [&] { parse_table_tform(tform, column); });
        // The field lies within the row: bytes TBCOLn to TBCOLn + w - 1 of NAXIS1.
        column.tbcol_ = tbcol->get_int();
        if (column.tbcol_ < 1 || std::int64_t{column.tbcol_} + column.width_ - 1 > naxis1_)
            refuse_at(entry, tbcol, "Not conforming to the standard");
        columns_.push_back(std::move(column));
    }
}

}  // namespace velmora
