// Every payload the project makes: the shipped host program image, and the
// payloads the tests and benchmarks upload. Each is a pure function of
// fixed constants and a seed, so every build makes the same bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace payloads {

using Bytes = std::vector<std::uint8_t>;

// The shipped host program ZORBELIX: 438 records of 256 bytes.
Bytes ShippedImage();

// Zlib's format, as the installer's packed payloads are stored.
Bytes Pack(const Bytes& data);

// Payloads of the run tests.
Bytes Pattern(std::size_t size, std::uint32_t seed);  // never starts with the header magic
Bytes WithOwnHeader(std::size_t size);                // starts with "QZBIN"
Bytes CrLfText();                                     // CR LF, lone CR; three blocks

// Payloads of the end-to-end tests.
Bytes Noise(std::size_t size, std::uint32_t seed);
Bytes TransferHeader();  // the installer's 128-byte header layout, own magic
Bytes MixedLineText();   // every kind of line end, none split at a block's end
Bytes Runs(std::size_t size, std::uint32_t seed);  // repeated bytes with noise between

// The benchmark's 1,000,000-byte program-like image.
Bytes ProgramImage();

}  // namespace payloads
