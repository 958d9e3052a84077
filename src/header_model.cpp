// velmora::fits - the header model: the data type tables, HDU entries with
// their name index, and the checks that require a keyword of a type.
#include "internal.h"

#include <memory>
#include <string>

namespace velmora {

const char* const data_type_name[data_type_count] = {
    "unknown", "logical", "byte",   "int16",       "int32",         "int64",
    "float",   "double",  "string", "complex int", "complex double"};

const std::uint32_t data_type_size[data_type_count] = {0, 1, 1, 2, 4, 8, 4, 8, 1, 8, 16};

hdu_data::~hdu_data() = default;

namespace {

template <typename Hdu>
std::shared_ptr<hdu_data> make_hdu() {
    return std::make_shared<Hdu>();
}

// The bytes of data a kind's object holds, or passed over.
template <typename Hdu>
std::uint64_t size_of_data(const hdu_data& hdu) {
    return static_cast<const Hdu&>(hdu).data_size();
}
template <>
std::uint64_t size_of_data<hdu_table>(const hdu_data& hdu) {
    return static_cast<const hdu_table&>(hdu).table_size();
}
template <>
std::uint64_t size_of_data<hdu_bintable>(const hdu_data& hdu) {
    return static_cast<const hdu_bintable&>(hdu).table_size();
}

}  // namespace

const hdu_kind hdu_kinds[hdu_kind_count] = {
    {HT_PRIMARY, "", "Primary", make_hdu<hdu_primary>, size_of_data<hdu_primary>},
    {HT_IMAGE, "IMAGE", "Image", make_hdu<hdu_image>, size_of_data<hdu_image>},
    {HT_TABLE, "TABLE", "Table", make_hdu<hdu_table>, size_of_data<hdu_table>},
    {HT_BINTABLE, "BINTABLE", "BinTable", make_hdu<hdu_bintable>, size_of_data<hdu_bintable>},
    {HT_EXTENSION, "", "Extension", make_hdu<hdu_extension>, size_of_data<hdu_extension>},
};

hdu_entry::hdu_entry(std::int32_t hdu_type) : hdu_type_(hdu_type) {
    VELMORA_ASSERT(hdu_type>=0 && hdu_type<hdu_kind_count);
    hdu_ = hdu_kinds[hdu_type].make();
}

// A valued record enters the name index; an earlier record of the same name keeps its place.
void hdu_entry::index_record(const keyword_record& kr) {
    if (kr.type_ == KWRT_VALUE) krs_map_.try_emplace(kr.name_, static_cast<std::int32_t>(krs_.size()));
}

void hdu_entry::add_record(const keyword_record& kr) {
    index_record(kr);
    krs_.push_back(kr);
}

void hdu_entry::add_record(keyword_record&& kr) {
    index_record(kr);
    krs_.push_back(std::move(kr));
}

hdu_entry::position hdu_entry::find_record(const std::string& name) const {
    auto it = krs_map_.find(name);
    return it == krs_map_.end() ? krs_.end() : krs_.begin() + it->second;
}

void hdu_entry::long_string(position pos, std::string& value) const {
    VELMORA_ASSERT(pos->type_==KWRT_VALUE && !pos->is_null_ && pos->dt_==DT_STRING);
    value = pos->string_value_;
    for (++pos; !value.empty() && value.back() == '&' && pos != krs_.end() && pos->type_ == KWRT_CONTINUE &&
                pos->dt_ == DT_STRING;
         ++pos) {
        value.pop_back();
        if (!pos->is_null_) value += pos->string_value_;
    }
}

void expect_keyword(const hdu_entry& entry, const std::string& card, const std::string& name,
                    std::int32_t dt, keyword_record& kr) {
    kr.parse(entry, card);
    if (kr.type_ != KWRT_VALUE || kr.name_ != name || kr.dt_ != dt) refuse_mandatory(kr, name, dt);
}

hdu_entry::position find_keyword(const hdu_entry& entry, const std::string& name, std::int32_t dt,
                                 bool required) {
    hdu_entry::position pos = entry.find_record(name);
    if (pos == entry.krs_.end()) {
        if (!required) return pos;
        keyword_missing(name);
    }
    if (pos->get_dt() != dt) refuse_type_at(entry, pos, dt);
    return pos;
}

// The string value of an optional column keyword, and its position (the
// end when absent); an empty string ('') counts as the empty string.
hdu_entry::position column_string(const hdu_entry& entry, const std::string& name, bool required,
                                  std::string& value) {
    hdu_entry::position pos = find_keyword(entry, name, DT_STRING, required);
    if (pos != entry.krs_.end()) value = pos->is_null() ? std::string() : pos->get_string();
    return pos;
}

// The value of an optional column scale or zero (TSCALn, TZEROn), kept in
// `value` when present: a floating value, or an integer of any size as the
// nearest double (TZEROn = 32768 is how unsigned 16-bit columns are
// written). Any other type is refused as a floating keyword's would be.
void column_real(const hdu_entry& entry, const std::string& name, double& value) {
    hdu_entry::position pos = entry.find_record(name);
    if (pos != entry.krs_.end() && pos->dt_ == DT_INT)
        value = pos->int_value_;
    else if (pos != entry.krs_.end() && pos->dt_ == DT_INT64)
        value = static_cast<double>(pos->int64_value_);
    else if ((pos = find_keyword(entry, name, DT_DOUBLE, false)) != entry.krs_.end())
        value = pos->get_double();
}

void read_table_keywords(file_reader& in, hdu_entry& entry, const std::string& first_card, const char* type,
                         std::initializer_list<mandatory_count> counts) {
    in.begin_records(entry);
    keyword_record& xtension = record_at(entry, 0);
    expect_keyword(entry, first_card, "XTENSION", DT_STRING, xtension);
    if (xtension.is_null() || xtension.get_string() != type) refuse(xtension, "Not conforming to the standard");
    for (const mandatory_count& m : counts) {
        const keyword_record& kr = in.read_mandatory(entry, m.name);
        if (!m.valid(kr.get_int())) refuse(kr, m.message);
        if (m.kept) *m.kept = kr.get_int();
    }
}

// The integer value of an optional keyword, `absent` when missing; a value
// of another type is "Unexpected keyword value type", and a negative one
// is refused with `negative`.
std::int32_t optional_count(const hdu_entry& entry, const std::string& name, std::int32_t absent,
                            const char* negative) {
    hdu_entry::position pos = find_keyword(entry, name, DT_INT, false);
    if (pos == entry.krs_.end()) return absent;
    if (pos->get_int() < 0) refuse_at(entry, pos, negative);
    return pos->get_int();
}

}  // namespace velmora
