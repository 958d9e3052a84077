// velmora::fits - escaping: bytes of a file as a line of text shows them,
// every byte outside printable ASCII (0x20-0x7E) as \xNN. FITS headers hold
// only printable ASCII, so a conforming file shows unchanged, while a
// hostile one can neither split a line nor send a terminal a control
// sequence, 7-bit or 8-bit (0x9b). The tool's listing and the library's
// error details escape alike.
#ifndef VELMORA_ESCAPING_H
#define VELMORA_ESCAPING_H

#include <string>

namespace velmora {

// Writes `text` at `out` as printable() shows it and returns the end; needs
// room for four times the text. Text with nothing to escape is copied whole.
char* write_printable(char* out, const std::string& text);

}  // namespace velmora

#endif  // VELMORA_ESCAPING_H
