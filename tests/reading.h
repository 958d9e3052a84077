// Reading built files with the library, for the suites that look inside.
#ifndef TESSARY_TESTS_READING_H
#define TESSARY_TESTS_READING_H

#include "fits.h"
#include "fits_builder.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

namespace fitsb {

// The error text of reading `bytes`, "" when they are read; the reader must
// say the same whether it loads the data or passes over it.
inline std::string error_of(const std::string& bytes) {
    temp_file f(bytes);
    std::string errors[2];
    const velmora::read_mode modes[2] = {velmora::RM_LOAD_DATA, velmora::RM_HEADERS_ONLY};
    for (int i = 0; i < 2; ++i) {
        try {
            velmora::fits_file file(f.path(), modes[i]);
        } catch (const std::exception& e) {
            errors[i] = e.what();
        }
    }
    EXPECT_EQ(errors[0], errors[1]);
    return errors[0];
}

}  // namespace fitsb

#endif
