// velmora::fits - escaping: bytes of a file as a line of text shows them.
#include "escaping.h"

#include "fits.h"

#include <cstdint>
#include <cstring>

namespace velmora {

std::string printable(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(bytes.size());
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7e) {
            const char escaped[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
            shown.append(escaped, 4);
        } else {
            shown += c;
        }
    }
    return shown;
}

namespace {

// True when `n` bytes at `p` hold a byte outside printable ASCII (below
// 0x20, DEL, or 0x80 and above); eight bytes at a time: such a byte leaves
// a high bit in one of the words below (a byte of 0x80 or more in the word
// itself; one below 0x20 or equal to 0x7f, among bytes below 0x80, in the
// words derived from it).
bool has_unprintable_byte(const char* p, std::size_t n) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    std::size_t i = 0;
    for (std::uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, p + i, 8);
        const std::uint64_t del = w ^ (ones * 0x7f);
        if ((w | ((w - ones * 0x20) & ~w) | ((del - ones) & ~del)) & highs) return true;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) < 0x20 || static_cast<unsigned char>(p[i]) > 0x7e) return true;
    return false;
}

// Writes `text` at `o` with its unprintable bytes as \xNN; returns the end.
// Only hostile files come here, so it stays out of the common path.
[[gnu::cold, gnu::noinline]] char* write_escaped(char* o, const std::string& text) {
    const std::string shown = printable(text);
    std::memcpy(o, shown.data(), shown.size());
    return o + shown.size();
}

}  // namespace

char* write_printable(char* o, const std::string& text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    if (!has_unprintable_byte(p, n)) {
        std::memcpy(o, p, n);
        return o + n;
    }
    return write_escaped(o, text);
}

}  // namespace velmora
