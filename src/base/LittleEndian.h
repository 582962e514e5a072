// Little-endian integers in byte buffers, for the file and wire formats (track log records,
// packets, the "LastTrkPt" registry value, power records). Each value is written and read
// byte by byte, so a layout depends neither on the host's byte order nor on a struct's
// padding. p must hold as many bytes as the value has. Pure functions, any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kestrix {

template <class T>
constexpr void PutLittleEndian(uint8_t* p, T v) {
    static_assert(std::is_unsigned_v<T>);
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <class T>
constexpr T GetLittleEndian(const uint8_t* p) {
    static_assert(std::is_unsigned_v<T>);
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>(v | static_cast<T>(static_cast<T>(p[i]) << (8 * i)));
    return v;
}

constexpr void PutU16(uint8_t* p, uint16_t v) { PutLittleEndian(p, v); }
constexpr void PutU32(uint8_t* p, uint32_t v) { PutLittleEndian(p, v); }
constexpr void PutU64(uint8_t* p, uint64_t v) { PutLittleEndian(p, v); }
constexpr uint16_t GetU16(const uint8_t* p) { return GetLittleEndian<uint16_t>(p); }
constexpr uint32_t GetU32(const uint8_t* p) { return GetLittleEndian<uint32_t>(p); }
constexpr uint64_t GetU64(const uint8_t* p) { return GetLittleEndian<uint64_t>(p); }

}  // namespace kestrix
