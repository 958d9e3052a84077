// BINTABLE column formats: TFORMn type letters, repeat counts, descriptor
// forms and row widths, and TDIMn dimension lists.
#include "fits.h"
#include "reading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace velmora;

constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();

using fitsb::message_of;

const std::string unknown = "Unknown form type in BINTABLE";

TEST(ColumnFormat, TypeLetters) {
    const struct {
        char letter;
        std::int32_t ct;
    } known[] = {{'L', CT_LOGICAL}, {'X', CT_BIT},   {'B', CT_BYTE},          {'I', CT_INT16},
                 {'J', CT_INT32},   {'K', CT_INT64}, {'A', CT_CHAR},          {'E', CT_FLOAT},
                 {'D', CT_DOUBLE},  {'C', CT_COMPLEX_FLOAT}, {'M', CT_COMPLEX_DOUBLE},
                 {'P', CT_DESC32},  {'Q', CT_DESC64}};
    for (const auto& c : known) {
        SCOPED_TRACE(std::string(1, c.letter));
        std::int32_t ct = CT_NONE;
        EXPECT_EQ(message_of([&] { ct = column_type_from_letter(c.letter); }), "no error");
        EXPECT_EQ(ct, c.ct);
    }
    for (char letter : std::string("eljpqFGHNORSTUVWYZ 0139(-\t") + '\0') {
        SCOPED_TRACE("code " + std::to_string(static_cast<int>(letter)));
        EXPECT_EQ(message_of([&] { column_type_from_letter(letter); }), unknown);
    }
}

struct tform_case {
    std::string tform;
    std::int32_t ct, pq, repeat, max_count, width;
};

TEST(ColumnFormat, TformDescribesTheColumn) {
    const std::vector<tform_case> cases = {
        {"E", CT_FLOAT, 0, 1, 1, 4},
        {"10A", CT_CHAR, 0, 10, 10, 10},
        {"0J", CT_INT32, 0, 0, 0, 0},
        {"16C", CT_COMPLEX_FLOAT, 0, 16, 16, 128},
        {"2M", CT_COMPLEX_DOUBLE, 0, 2, 2, 32},
        // Element width times repeat count, for every plain letter.
        {"3L", CT_LOGICAL, 0, 3, 3, 3},
        {"3B", CT_BYTE, 0, 3, 3, 3},
        {"3I", CT_INT16, 0, 3, 3, 6},
        {"3J", CT_INT32, 0, 3, 3, 12},
        {"3K", CT_INT64, 0, 3, 3, 24},
        {"3D", CT_DOUBLE, 0, 3, 3, 24},
        // Bits are packed into whole bytes, without overflow at the largest count.
        {"0X", CT_BIT, 0, 0, 0, 0},
        {"X", CT_BIT, 0, 1, 1, 1},
        {"8X", CT_BIT, 0, 8, 8, 1},
        {"13X", CT_BIT, 0, 13, 13, 2},
        {"2147483647X", CT_BIT, 0, int_max, int_max, 268435456},
        // Repeat count: blanks before it, a sign, saturation, trailing text ignored.
        {" 3E", CT_FLOAT, 0, 3, 3, 12},
        {"+3E", CT_FLOAT, 0, 3, 3, 12},
        {"-0E", CT_FLOAT, 0, 0, 0, 0},
        {"8A10", CT_CHAR, 0, 8, 8, 8},
        {"99999999999E", CT_FLOAT, 0, int_max, int_max, -4},
        // A width beyond 32 bits wraps.
        {"536870912J", CT_INT32, 0, 536870912, 536870912, int_min},
        {"1073741824D", CT_DOUBLE, 0, 1073741824, 1073741824, 0},
        {"2147483647K", CT_INT64, 0, int_max, int_max, -8},
        {"2147483647M", CT_COMPLEX_DOUBLE, 0, int_max, int_max, -16},
        // Descriptors: a P column takes 8 bytes, a Q column 16, per repeat.
        {"1PE(200)", CT_FLOAT, 1, 1, 200, 8},
        {"PJ(7)", CT_INT32, 1, 1, 7, 8},
        {"QD(5)", CT_DOUBLE, 2, 1, 5, 16},
        {"1QJ(7)tail", CT_INT32, 2, 1, 7, 16},
        {"1PB()", CT_BYTE, 1, 1, 1, 8},
        {"0PE(10)", CT_FLOAT, 1, 0, 10, 0},
        {"0QE(10)", CT_FLOAT, 2, 0, 10, 0},
        {"0PE()", CT_FLOAT, 1, 0, 0, 0},
        {"1PX(10)", CT_BIT, 1, 1, 10, 8},
        {"1PE( 5)", CT_FLOAT, 1, 1, 5, 8},
    };
    for (const tform_case& c : cases) {
        SCOPED_TRACE("TFORM [" + c.tform + "]");
        bintable_column column;
        column.offset_ = 12;
        EXPECT_EQ(message_of([&] { parse_tform(c.tform, column); }), "no error");
        EXPECT_EQ(column.ct_, c.ct);
        EXPECT_EQ(column.pq_, c.pq);
        EXPECT_EQ(column.repeat_, c.repeat);
        EXPECT_EQ(column.max_count_, c.max_count);
        EXPECT_EQ(column.width_, c.width);
        EXPECT_EQ(column.offset_, 12);  // the table reader's member is left alone
        EXPECT_TRUE(column.tdim_.empty());
    }
}

TEST(ColumnFormat, TformFaults) {
    const std::string repetition = "Repetition count >1 for P/Q form in BINTABLE";
    const std::string pq_type = "Bad column type for P/Q form in BINTABLE";
    const std::string pq_form = "Bad P/Q form in BINTABLE";
    const std::string cut = "out of range: invalid string position";
    const struct {
        std::string tform;
        std::string message;
    } cases[] = {
        {"e", unknown},
        {" E", unknown},  // a blank without digits is not consumed
        {"3 E", unknown},
        {"-", unknown},
        {"Z", unknown},
        {"1PZ(3)", unknown},
        {"1Pe(3)", unknown},
        {"-1E", "Negative form repetition in BINTABLE"},
        {"-99999999999PE(1)", "Negative form repetition in BINTABLE"},
        {"2PE(10)", repetition},
        {"2PZ(10)", repetition},  // the count is checked before the element letter
        {"2QD(5)", repetition},
        {"1PP(3)", pq_type},
        {"1PQ(3)", pq_type},
        {"1QP(3)", pq_type},
        {"1PE[3]", pq_form},
        {"1PE(3x)", pq_form},
        {"1PE(3 )", pq_form},
        {"1PE 3)", pq_form},
        {"", cut},
        {"10", cut},
        {"  7", cut},
        {"1P", cut},
        {"1PE", cut},
        {"1PE(", cut},
        {"1PE(3", cut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("TFORM [" + c.tform + "]");
        bintable_column column;
        EXPECT_EQ(message_of([&] { parse_tform(c.tform, column); }), c.message);
    }
}

TEST(ColumnFormat, TdimListsTheDimensions) {
    const struct {
        std::string tdim;
        std::vector<std::int32_t> dims;
    } cases[] = {
        {"(3,4)", {3, 4}},
        {"( 3, 4)", {3, 4}},
        {"(3,4)abc", {3, 4}},
        {"(0)", {0}},
        {"()", {0}},
        {"(,)", {0, 0}},
        {"(", {}},
        {"(3,", {3}},
        {"(+2,5,7,11)", {2, 5, 7, 11}},
        {"(99999999999)", {int_max}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("TDIM [" + c.tdim + "]");
        bintable_column column;
        EXPECT_EQ(message_of([&] { parse_tdim(c.tdim, column); }), "no error");
        EXPECT_EQ(column.tdim_, c.dims);
    }
    bintable_column column;  // dimensions are appended to those already held
    column.tdim_ = {9};
    parse_tdim("(1,2)", column);
    EXPECT_EQ(column.tdim_, (std::vector<std::int32_t>{9, 1, 2}));
}

TEST(ColumnFormat, TdimFaults) {
    for (const std::string tdim : {"", "3,4", " (3,4)", "[3,4]", "(3", "(3 ,4)", "(3 )", "( )", "(3;4)",
                                   "(-1)", "(3,-4)", "(x)"}) {
        SCOPED_TRACE("TDIM [" + tdim + "]");
        bintable_column column;
        EXPECT_EQ(message_of([&] { parse_tdim(tdim, column); }), "Bad DIM in BINTABLE");
    }
}

}  // namespace
