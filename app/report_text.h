// tessary - the report's text: its lines as they are composed, kept in
// chunks, and written out in blocks or line by line.
#ifndef TESSARY_REPORT_TEXT_H
#define TESSARY_REPORT_TEXT_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tessary {

// The report composed so far: its lines in order, each with its newline, in
// chunks, so that growing it never copies what it already holds. Each line
// is composed in place at the end of the last chunk.
class report_text {
public:
    // Appends `n` bytes to the line being composed.
    void append(const char* text, std::size_t n) {
        if (capacity_ - used_ < n) make_room(n);
        std::memcpy(chunks_.back().bytes.get() + used_, text, n);
        used_ += n;
    }
    // Room for `n` more bytes of the line being composed, written from the
    // pointer returned; keep() then takes them up to `end`.
    char* room(std::size_t n) {
        if (capacity_ - used_ < n) make_room(n);
        return chunks_.back().bytes.get() + used_;
    }
    void keep(const char* end) { used_ = static_cast<std::size_t>(end - chunks_.back().bytes.get()); }
    // Ends the line being composed, its newline included.
    void end_line() {
        chunks_.back().ends.push_back(used_);
        line_start_ = used_;
    }

    // Writes the report to `out`, an unbuffered stream that passes each
    // write on whole: line by line when `by_line` (a person watching a
    // terminal sees each line as it comes), else chunk by chunk, each of 64
    // KiB or more but the last. False, with errno telling why, as soon as
    // the output fails.
    bool write(std::FILE* out, bool by_line) const;

    // The whole text, and a fresh start.
    std::string text() const;
    void clear();

private:
    static constexpr std::size_t first_chunk = std::size_t{1} << 16;
    static constexpr std::size_t last_chunk = std::size_t{1} << 20;
    struct chunk {
        std::unique_ptr<char[]> bytes;
        std::vector<std::size_t> ends;  // where each line ends in bytes
    };

    // A new chunk, each twice the one before up to a MiB, taking the line
    // composed so far along. A chunk holds 64 KiB or more of the report
    // unless it is the last.
    void make_room(std::size_t n);

    std::vector<chunk> chunks_;
    std::size_t used_ = 0;        // bytes of the last chunk in use
    std::size_t capacity_ = 0;    // bytes of the last chunk
    std::size_t line_start_ = 0;  // where the line being composed starts in it
};

// True when standard output is a terminal, where a person watches the
// lines come; elsewhere the report goes out in large blocks.
bool output_is_terminal();

// Writes one line of a message, its newline added, to std::cerr; to a
// Windows console as the text it stands for, so that a path shows as typed.
void write_message(const std::string& line);

}  // namespace tessary

#endif  // TESSARY_REPORT_TEXT_H
