// The report as a user sees it: the built tool run on built and shipped files.
#include "fits_builder.h"

#include <gtest/gtest.h>

namespace {

TEST(Report, PrimaryWithoutDataAndOneTable) {
    fitsb::temp_file f(fitsb::primary(8, {}).logical("EXTEND", true).end().bytes() +
                       fitsb::bintable(24, 100, 0, {"3D"}).end().data(2400).bytes());
    fitsb::run_result r = fitsb::tessary(f.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Primary\nSIMPLE[logical]=TRUE\nBITPIX[int32]=8\nNAXIS[int32]=0\nEXTEND[logical]=TRUE\n"
              "Data: 0B\n\n"
              "BinTable\nXTENSION[string]=BINTABLE\nBITPIX[int32]=8\nNAXIS[int32]=2\nNAXIS1[int32]=24\n"
              "NAXIS2[int32]=100\nPCOUNT[int32]=0\nGCOUNT[int32]=1\nTFIELDS[int32]=1\nTFORM1[string]=3D\n"
              "Data: 2400B\n\n");
}

}  // namespace
