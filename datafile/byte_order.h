// Little-endian loads and stores at a byte position. Every multi-byte field of
// a data file goes through these: no packed structs are cast over file bytes,
// and a position needs no alignment.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace cdt {

namespace byte_order_detail {

template <class T>
inline T fromLittle(T value) {
  if constexpr (std::endian::native == std::endian::little || sizeof(T) == 1) {
    return value;
  } else {
    T swapped = 0;
    for (unsigned i = 0; i < sizeof(T); ++i) {
      swapped = static_cast<T>((swapped << 8) | ((value >> (8 * i)) & 0xFF));
    }
    return swapped;
  }
}

template <class T>
inline T load(const void* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return fromLittle(value);
}

template <class T>
inline void store(void* p, T value) {
  value = fromLittle(value);  // the swap is its own inverse
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

}  // namespace cdt
