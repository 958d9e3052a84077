// Opens a FITS file, walks its HDUs and reads a keyword of each.
#include <velmora/fits.h>

#include <iostream>

int main(int argc, char* argv[]) {
    if (argc < 2) return 4;
    velmora::fits_file file(argv[1], velmora::RM_HEADERS_ONLY);
    for (const velmora::hdu_entry& hdu : file.hdus_) {
        auto bitpix = hdu.find_record("BITPIX");
        std::cout << "HDU kind " << hdu.get_hdu_type() << ", BITPIX " << bitpix->get_int() << '\n';
    }
    return 0;
}
