// The value encodings of our Parquet data pages besides plain little-endian
// numbers: definition levels in the RLE / bit-packing hybrid, and booleans
// bit-packed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cdt::parquet {

// Appends `count` levels of bit width 1 (each 0 or 1) in the RLE /
// bit-packing hybrid, without the length in front of it: a run of 8 or
// more equal levels that starts on a group of 8 is one RLE run, anything
// else groups of 8 bit-packed, the last group padded with zeros.
void appendLevels(std::string& out, const uint8_t* levels, std::size_t count);

// Appends `count` booleans (each 0 or 1) as PLAIN encodes them: 8 to a
// byte, the first in the lowest bit, the last byte padded with zeros.
void appendBits(std::string& out, const uint8_t* values, std::size_t count);

}  // namespace cdt::parquet
