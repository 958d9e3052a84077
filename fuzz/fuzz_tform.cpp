// Fuzz target: BINTABLE column formats.
//
// The input, as a string, is given to parse_tform and to parse_tdim, each
// with a fresh column. A std::logic_error (std::out_of_range included) is an
// expected outcome; anything else is a finding, as is a column left in a
// state no TFORMn or TDIMn value can describe.
#include "fits.h"

#include "finding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    const std::string text(reinterpret_cast<const char*>(data), size);

    try {
        bintable_column column;
        parse_tform(text, column);
        if (column.repeat_ < 0) finding("negative repeat count");
        if (column.pq_ < 0 || column.pq_ > 2) finding("descriptor kind out of range");
        if (column.ct_ <= CT_NONE || column.ct_ >= CT_DESC32) finding("column type out of range");
        if (column.pq_ != 0 && column.repeat_ > 1) finding("descriptor column repeated");
        if (column.pq_ == 0 && column.ct_ == CT_BIT &&
            column.width_ != static_cast<std::int32_t>((static_cast<std::uint32_t>(column.repeat_) + 7) / 8))
            finding("bit column width");
        if (column.pq_ == 0 && column.ct_ != CT_BIT && column.max_count_ != column.repeat_)
            finding("plain column with a maximum count of its own");
    } catch (const std::logic_error&) {
    }

    try {
        bintable_column column;
        parse_tdim(text, column);
        for (std::int32_t dim : column.tdim_)
            if (dim < 0) finding("negative dimension");
        if (column.tdim_.size() > text.size()) finding("more dimensions than characters");
    } catch (const std::logic_error&) {
    }
    return 0;
}
