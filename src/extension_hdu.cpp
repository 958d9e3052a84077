// velmora::fits - conforming extensions of types the library does not
// interpret: their array keywords and the size of their data.
#include "internal.h"

namespace velmora {

hdu_extension::~hdu_extension() = default;

void hdu_extension::read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) {
    file_reader& in = file_reader::of(file);
    in.begin_records(entry);
    keyword_record& xtension = record_at(entry, 0);
    expect_keyword(entry, first_card, "XTENSION", DT_STRING, xtension);
    read_array_keywords(in, entry, data_type_, dims_);

    const keyword_record& pcount = in.read_mandatory(entry, "PCOUNT");
    if (pcount.get_int() < 0) refuse(pcount, "Not conforming to the standard");
    pcount_ = pcount.get_int();
    const keyword_record& gcount = in.read_mandatory(entry, "GCOUNT");
    if (gcount.get_int() < 0) refuse(gcount, "Not conforming to the standard");
    gcount_ = gcount.get_int();

    in.read_free_cards(entry);
    in.end_block();
    const std::uint64_t size = data_size();
    if (size == 0) return;
    in.load_data(data_, size);
    in.end_block();
}

// The standard's size of any extension's data: |BITPIX|/8 x GCOUNT x
// (PCOUNT + NAXIS1 x ... x NAXISn), the product of no axes being 0.
std::uint64_t hdu_extension::data_size() const {
    std::uint64_t elements = dims_.empty() ? 0 : 1;
    for (std::int32_t axis : dims_) elements = saturating_mul(elements, static_cast<std::uint64_t>(axis));
    elements = saturating_add(elements, static_cast<std::uint64_t>(pcount_));
    elements = saturating_mul(elements, static_cast<std::uint64_t>(gcount_));
    return saturating_mul(elements, data_type_size[data_type_]);
}

}  // namespace velmora
