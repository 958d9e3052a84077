// velmora::fits - number texts: the powers of ten that reading and writing
// numbers share, and the report's notation for a double (printf's %.15g in
// the "C" locale, whatever locale the program has set). The tool writes its
// listing and the library its error details with it.
#ifndef VELMORA_NUMBER_TEXT_H
#define VELMORA_NUMBER_TEXT_H

namespace velmora {

// Powers of ten that a double holds exactly.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Writes `value` at `out` as printf's %.15g writes it in the "C" locale and
// returns the end: at most 24 bytes.
char* write_double(char* out, double value);

}  // namespace velmora

#endif  // VELMORA_NUMBER_TEXT_H
