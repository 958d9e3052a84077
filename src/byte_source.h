// velmora::fits - where a fits_file's bytes come from.
//
// One small input under the reader: a regular file, a pipe or device, bytes
// in memory, or a caller's std::istream. The reader takes bytes in order and
// passes over bytes; it may also look at bytes ahead of its position, which
// stay in place for the takes that follow. A sized input (a regular file,
// memory) knows its length before anything is read, so that every size a
// header claims is checked before it is allocated; an unsized one (a pipe, an
// istream) is read strictly front to back and proves its bytes by delivering
// them.
#ifndef VELMORA_BYTE_SOURCE_H
#define VELMORA_BYTE_SOURCE_H

#include "fits.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>

namespace velmora {

class byte_source {
public:
    virtual ~byte_source();

    // A regular file, measured; anything else that opens (a pipe, a FIFO, a
    // device) as a stream. Throws read_error when it cannot be opened.
    static std::unique_ptr<byte_source> open(const std::string& path);
    // Bytes in memory, read in place.
    static std::unique_ptr<byte_source> in_memory(memory_input bytes);
    // A caller's stream, read front to back, never seeked.
    static std::unique_ptr<byte_source> from_stream(std::istream& in);

    // True when the input's length is known before it is read.
    bool sized() const { return sized_; }
    // Bytes of a sized input after the reading position.
    std::uint64_t left() const { return size_ - std::min(position_, size_); }
    // Bytes taken or passed over so far: the input offset of the reading position.
    std::uint64_t position() const { return position_; }
    // Where the input ends: the length of a sized input; where a stream
    // ended, once it has.
    std::uint64_t end_offset() const { return sized_ ? size_ : position_; }

    // Copies the next `n` bytes to `dest`; fewer only where the input ends.
    // A read error is read_error "cannot read file: <reason>".
    virtual std::size_t take(char* dest, std::size_t n) = 0;
    // Passes over the next `n` bytes; fewer only where an unsized input ends.
    virtual std::uint64_t pass(std::uint64_t n) = 0;
    // The `n` bytes lying `offset` bytes ahead, kept for the takes that
    // follow; null when the input ends first.
    virtual const char* look_ahead(std::size_t offset, std::size_t n) = 0;
    // Copies up to `n` bytes lying `offset` bytes ahead to `dest`, the bytes
    // up to their end kept for what follows; returns how many the input holds
    // there. Unless `keep_before`, the reader will only pass over the bytes
    // before them, so a stream need not keep those.
    virtual std::size_t peek(std::uint64_t offset, char* dest, std::size_t n, bool keep_before) = 0;
    // True when the input holds `n` more bytes. Unless `keep`, the reader
    // will only pass over them, so a stream reads and drops them; and when it
    // ends first, what it held past the bytes already kept is gone.
    virtual bool holds(std::uint64_t n, bool keep) = 0;

protected:
    bool sized_ = false;          // the length is known: size_
    std::uint64_t size_ = 0;      // bytes of a sized input
    std::uint64_t position_ = 0;  // bytes taken or passed over
};

}  // namespace velmora

#endif  // VELMORA_BYTE_SOURCE_H
