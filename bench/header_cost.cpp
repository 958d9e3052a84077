// What the library's default mode costs per card: constructs a fits_file of
// FILE with headers only and every HDU kept, then prints the cards read and
// the heap in use for them.
//
//   header_cost FILE
//   valgrind --tool=callgrind --toggle-collect='velmora::fits_file::read_hdus*' header_cost FILE
//                                  (instructions of the reading alone)
#include "fits.h"

#include <malloc.h>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: header_cost FILE\n");
        return 2;
    }
    struct mallinfo2 before = mallinfo2();
    auto file = std::make_unique<velmora::fits_file>(argv[1], velmora::RM_HEADERS_ONLY);
    struct mallinfo2 after = mallinfo2();
    std::size_t cards = 0;
    for (const velmora::hdu_entry& entry : file->hdus_) cards += entry.krs_.size();
    double heap = static_cast<double>((after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd));
    std::printf("%zu HDUs, %zu cards, %.0f bytes of heap, %.1f bytes per card\n", file->hdus_.size(), cards, heap,
                cards ? heap / static_cast<double>(cards) : 0.0);
    return 0;
}
