// Decoding gzip files: members (RFC 1952) of deflate data (RFC 1951), one
// after another, each checked against the CRC-32 and length in its trailer.
//
// The decoder pulls compressed bytes from a source and pushes what it
// decodes to a sink, a few hundred KiB at a time, holding no more than the
// 32 KiB that deflate may refer back to and one buffer each way: a stream
// of any length, or of any ratio, is decoded in the same memory. Every
// byte of the stream is hostile until checked: code length sets that do not
// form a prefix code, distances reaching back before the member's first
// byte, a stream cut short and bytes after the last member all end the
// decoding with DamagedGzip, and no input makes it read outside its
// buffers or loop without consuming input.
//
// What is accepted is what Python's gzip module accepts (members one after
// another, zero bytes between and after them), with two checks it skips:
// a header whose reserved flag bits are set, and a header CRC that does not
// match, are refused as RFC 1952 asks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace lhg {

// Where compressed bytes come from.
class ByteSource {
 public:
  // Up to `capacity` bytes into `buffer`; 0 only at the end of the input.
  virtual std::size_t read(unsigned char* buffer, std::size_t capacity) = 0;

 protected:
  ~ByteSource() = default;
};

// Where decoded bytes go, in order.
class ByteSink {
 public:
  virtual void write(const unsigned char* bytes, std::size_t size) = 0;

 protected:
  ~ByteSink() = default;
};

// A gzip stream that is damaged or cut short; what() says how, in a few
// words.
class DamagedGzip : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The CRC-32 of gzip (and zlib's crc32()): `crc` is the value for the bytes
// before, 0 for none.
std::uint32_t crc32(std::uint32_t crc, const unsigned char* bytes, std::size_t size) noexcept;

// Decodes every member of the gzip stream in `source` into `sink`. Bytes
// decoded before a failure have been written; the failure follows them.
void gunzip(ByteSource& source, ByteSink& sink);

}  // namespace lhg
