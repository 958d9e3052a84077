// velmora::fits - primary HDUs and IMAGE extensions: their mandatory
// keywords, random groups and the size of their data.
#include "internal.h"

#include <algorithm>
#include <string>

namespace velmora {

std::int32_t bitpix_to_dt(std::int32_t bitpix) {
    switch (bitpix) {
        case 8: return DT_BYTE;
        case 16: return DT_INT16;
        case 32: return DT_INT;
        case 64: return DT_INT64;
        case -32: return DT_FLOAT;
        case -64: return DT_DOUBLE;
        default: fail("Primary HDU: bad BITPIX");
    }
}

hdu_simple_parent::~hdu_simple_parent() = default;

void read_array_keywords(file_reader& in, hdu_entry& entry, std::int32_t& data_type, std::vector<std::int32_t>& dims) {
    const keyword_record& bitpix = in.read_mandatory(entry, "BITPIX");
    try {
        data_type = bitpix_to_dt(bitpix.get_int());
    } catch (located_error& e) {
        about_record(e, bitpix);
        throw;
    }

    const keyword_record& naxis = in.read_mandatory(entry, "NAXIS");
    if (naxis.get_int() < 0) refuse(naxis, "Primary HDU: bad NAXIS");
    const std::int32_t axes = naxis.get_int();

    for (std::int32_t n = 1; n <= axes; ++n) {
        const keyword_record& axis = in.read_mandatory(entry, "NAXIS" + std::to_string(n));
        if (axis.get_int() < 0) refuse(axis, "Primary HDU: bad dimension");
        dims.push_back(axis.get_int());
    }
}

void hdu_simple_parent::read_header(fits_file& file, hdu_entry& entry, const std::string& first_card) {
    file_reader& in = file_reader::of(file);
    in.begin_records(entry);
    check_first_card(entry, first_card);
    read_array_keywords(in, entry, data_type_, dims_);
    read_extra_keywords(file, entry);
    in.read_free_cards(entry);
    in.end_block();
    if (entry.get_hdu_type() == HT_PRIMARY) read_groups_keywords(entry);

    std::uint64_t size = data_size();
    if (size == 0) return;
    in.load_data(data_, size);
    in.end_block();
}

// A primary HDU with GROUPS = T and NAXIS1 = 0 holds random groups: GCOUNT
// groups, each of PCOUNT parameters followed by an array of NAXIS2 x ... x
// NAXISn elements.
void hdu_simple_parent::read_groups_keywords(const hdu_entry& entry) {
    hdu_entry::position groups = entry.find_record("GROUPS");
    bool flagged = groups != entry.krs_.end() && groups->dt_ == DT_BOOL && !groups->is_null_ &&
                   groups->bool_value_;
    if (!flagged || dims_.empty() || dims_[0] != 0) return;

    std::int32_t pcount = optional_count(entry, "PCOUNT", 0, "Not conforming to the standard");
    std::int32_t gcount = optional_count(entry, "GCOUNT", 1, "Not conforming to the standard");
    groups_ = true;
    group_pcount_ = pcount;
    group_gcount_ = gcount;
}

std::uint64_t hdu_simple_parent::data_size() const {
    if (dims_.empty()) return 0;
    // Elements of the array (of each group's array for random groups, whose
    // NAXIS1 of 0 stands for "no image axis").
    auto first = dims_.begin() + (groups_ ? 1 : 0);
    std::uint64_t elements = 1;
    if (std::find(first, dims_.end(), 0) != dims_.end()) elements = 0;
    for (auto axis = first; axis != dims_.end(); ++axis)
        elements = saturating_mul(elements, static_cast<std::uint64_t>(*axis));
    if (groups_) {
        elements = saturating_add(elements, static_cast<std::uint64_t>(group_pcount_));
        elements = saturating_mul(elements, static_cast<std::uint64_t>(group_gcount_));
    }
    return saturating_mul(elements, data_type_size[data_type_]);
}

// The first card's record is parsed in place, as the header's first.
void hdu_primary::check_first_card(hdu_entry& entry, const std::string& first_card) {
    keyword_record& kr = record_at(entry, 0);
    expect_keyword(entry, first_card, "SIMPLE", DT_BOOL, kr);
    if (!kr.get_bool()) refuse(kr, "Not conforming to the standard");
}

void hdu_primary::read_extra_keywords(fits_file&, hdu_entry&) {}

void hdu_image::check_first_card(hdu_entry& entry, const std::string& first_card) {
    keyword_record& kr = record_at(entry, 0);
    expect_keyword(entry, first_card, "XTENSION", DT_STRING, kr);
    if (kr.is_null() || kr.get_string() != "IMAGE") refuse(kr, "Not conforming to the standard");
}

void hdu_image::read_extra_keywords(fits_file& file, hdu_entry& entry) {
    file_reader& in = file_reader::of(file);
    const keyword_record& pcount = in.read_mandatory(entry, "PCOUNT");
    if (pcount.get_int() != 0) refuse(pcount, "Not conforming to the standard");

    const keyword_record& gcount = in.read_mandatory(entry, "GCOUNT");
    if (gcount.get_int() != 1) refuse(gcount, "Not conforming to the standard");
}

}  // namespace velmora
