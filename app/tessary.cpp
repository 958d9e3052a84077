// tessary - lists every header of a FITS file with typed values, the size of
// each HDU's data and the heap of each binary table.
#include "fits.h"

#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

using namespace velmora;

namespace {

// Writes the value of a valued keyword in the report's notation.
void write_value(const keyword_record& kr, std::int32_t dt) {
    switch (dt) {
        case DT_BOOL:
            std::cout << (kr.get_bool() ? "TRUE" : "FALSE");
            break;
        case DT_INT:
            std::cout << kr.get_int();
            break;
        case DT_DOUBLE:
            std::cout << kr.get_double();
            break;
        case DT_STRING:
            std::cout << kr.get_string();
            break;
        case DT_COMPLEX_INT:
            std::cout << '(' << kr.get_complex_int().first << ',' << kr.get_complex_int().second << ')';
            break;
        case DT_COMPLEX_DOUBLE:
            std::cout << '(' << kr.get_complex_double().first << ',' << kr.get_complex_double().second << ')';
            break;
        default:
            VELMORA_ASSERT(0);
    }
}

}  // namespace

// One line per valued keyword: NAME[type]=value, in card order.
void list_keywords(const hdu_entry& entry) {
    for (const keyword_record& kr : entry.krs_) {
        switch (kr.get_type()) {
            case KWRT_VALUE: {
                std::int32_t dt = kr.get_dt();
                std::cout << kr.get_name() << '[' << data_type_name[dt] << "]=";
                if (dt != DT_UNKNOWN && !kr.is_null()) write_value(kr, dt);
                std::cout << std::endl;
                break;
            }
            case KWRT_END:
            case KWRT_COMMENT:
            case KWRT_HISTORY:
            case KWRT_BLANK:
            case KWRT_CONTINUE:
                break;
            default:
                VELMORA_ASSERT(0);
        }
    }
}

// The report of a primary or IMAGE HDU under `title`.
void report_simple_hdu(const hdu_entry& entry, const std::string& title) {
    std::shared_ptr<hdu_data> hdu = entry.get_hdu();
    const hdu_simple_parent& simple = static_cast<const hdu_simple_parent&>(*hdu);
    std::cout << title << std::endl;
    list_keywords(entry);
    switch (simple.get_data_type()) {
        case DT_BYTE: case DT_INT16: case DT_INT: case DT_INT64: case DT_FLOAT: case DT_DOUBLE:
            break;
        default:
            VELMORA_ASSERT(0);
    }
    std::cout << "Data: " << simple.data_size() << 'B' << std::endl;
}

// The report of a BINTABLE HDU: keywords, table size and heap.
void report_bintable_hdu(const hdu_entry& entry) {
    std::shared_ptr<hdu_data> hdu = entry.get_hdu();
    const hdu_bintable& table = static_cast<const hdu_bintable&>(*hdu);
    std::cout << "BinTable" << std::endl;
    list_keywords(entry);

    std::uint64_t naxis1 = static_cast<std::uint64_t>(entry.find_record("NAXIS1")->get_int());
    std::cout << "Data: " << naxis1 * table.rows_.size() << 'B' << std::endl;

    std::int32_t pcount = entry.find_record("PCOUNT")->get_int();
    if (pcount == 0) return;
    hdu_entry::position theap = entry.find_record("THEAP");
    std::int32_t offset = theap == entry.krs_.end() ? 0 : theap->get_int();
    std::cout << "Heap: " << pcount << "B with offs=" << offset << std::endl;
}

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::cout << "Usage: tessary <FITS-file>" << std::endl;
        return 4;
    }
    const std::string path = argv[1];

    // The whole file is read before the first line is printed, so a bad file
    // leaves standard output empty.
    std::unique_ptr<fits_file> file;
    try {
        file = std::make_unique<fits_file>(path);
    } catch (const std::exception& e) {
        std::cerr << "tessary: " << path << ": " << e.what() << std::endl;
        return 1;
    }

    std::cout.precision(15);
    for (const hdu_entry& entry : file->hdus_) {
        switch (entry.get_hdu_type()) {
            case HT_PRIMARY:
                report_simple_hdu(entry, "Primary");
                break;
            case HT_IMAGE:
                report_simple_hdu(entry, "Image");
                break;
            case HT_BINTABLE:
                report_bintable_hdu(entry);
                break;
            default:
                std::cerr << "Unknown FITS extension" << std::endl;
        }
        std::cout << std::endl;
    }
    return 0;
}
