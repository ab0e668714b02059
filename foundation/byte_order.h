// Loads and stores of fixed-width words at a byte position, in either byte
// order: no packed structs are cast over bytes, and a position needs no
// alignment. Every multi-byte field of a data file is little-endian (loadU32,
// storeU32, ...); the probes' memory images hold big-endian words (loadU16BE,
// storeU16BE).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace cdt {

namespace byte_order_detail {

// `value` read in the byte order `order` (the swap is its own inverse, so it
// also converts a native value into that order).
template <std::endian order, class T>
inline T fromOrder(T value) {
  if constexpr (std::endian::native == order || sizeof(T) == 1) {
    return value;
  } else {
    T swapped = 0;
    for (unsigned i = 0; i < sizeof(T); ++i) {
      swapped = static_cast<T>((swapped << 8) | ((value >> (8 * i)) & 0xFF));
    }
    return swapped;
  }
}

template <class T, std::endian order = std::endian::little>
inline T load(const void* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return fromOrder<order>(value);
}

template <std::endian order = std::endian::little, class T>
inline void store(void* p, T value) {
  value = fromOrder<order>(value);
  std::memcpy(p, &value, sizeof value);
}

}  // namespace byte_order_detail

inline uint8_t loadU8(const void* p) {
  return *static_cast<const uint8_t*>(p);
}
inline uint16_t loadU16(const void* p) {
  return byte_order_detail::load<uint16_t>(p);
}
inline uint32_t loadU32(const void* p) {
  return byte_order_detail::load<uint32_t>(p);
}
inline uint64_t loadU64(const void* p) {
  return byte_order_detail::load<uint64_t>(p);
}
inline int16_t loadI16(const void* p) {
  return static_cast<int16_t>(loadU16(p));
}
inline int64_t loadI64(const void* p) {
  return static_cast<int64_t>(loadU64(p));
}
inline float loadF32(const void* p) {
  return std::bit_cast<float>(loadU32(p));
}

inline void storeU8(void* p, uint8_t v) {
  *static_cast<uint8_t*>(p) = v;
}
inline void storeU16(void* p, uint16_t v) {
  byte_order_detail::store(p, v);
}
inline void storeU32(void* p, uint32_t v) {
  byte_order_detail::store(p, v);
}
inline void storeU64(void* p, uint64_t v) {
  byte_order_detail::store(p, v);
}
inline void storeI16(void* p, int16_t v) {
  storeU16(p, static_cast<uint16_t>(v));
}
inline void storeI64(void* p, int64_t v) {
  storeU64(p, static_cast<uint64_t>(v));
}
inline void storeF32(void* p, float v) {
  storeU32(p, std::bit_cast<uint32_t>(v));
}

// Big-endian words: the most significant byte first.
inline uint16_t loadU16BE(const void* p) {
  return byte_order_detail::load<uint16_t, std::endian::big>(p);
}
inline void storeU16BE(void* p, uint16_t v) {
  byte_order_detail::store<std::endian::big>(p, v);
}

}  // namespace cdt
