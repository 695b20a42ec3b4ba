#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// NumPy's .npz: a ZIP archive of .npy arrays, read by numpy.load. The members are stored as they
// are (no compression) and written piece by piece as they are made, so that a large matrix is
// never held twice: each array is made twice, once for its CRC-32 (which the ZIP headers give
// before the data) and once to write it.
namespace ostrel {

// Where the bytes of the archive go, piece by piece, in order.
using ByteSink = std::function<void(std::string_view bytes)>;

// Sizes and offsets from this value on go into ZIP64 fields (the 32-bit fields hold 0xFFFFFFFF).
inline constexpr std::uint64_t kZip64From = 0xFFFFFFFF;

// The CRC-32 of ZIP (reflected polynomial 0xEDB88320) of `bytes`, continuing from `crc` (0 to
// start).
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

// One array of an archive, the member NAME.npy.
struct NpyArray {
  std::string name;
  std::string descr;                 // NumPy's type: "<f8", "<i8", "|b1", "<U12"
  std::vector<std::uint64_t> shape;  // empty: a scalar
  // Gives the elements in C order (last index fastest), little-endian, to the sink; the same
  // bytes every time it is called.
  std::function<void(const ByteSink&)> data;
};

// Bytes per element of a type of NpyArray::descr. Throws StageError for another type.
std::uint64_t ItemSize(std::string_view descr);

// The .npy header of an array: magic, version, header length, the header's dict, then blanks
// and a line feed so that the data starts at a multiple of 64 bytes. Version 1.0 (16-bit
// length); 2.0 (32-bit length) when the header would not fit in 65,535 bytes. The dict is ASCII,
// so version 3.0 (a UTF-8 dict) is never needed.
std::string NpyHeader(std::string_view descr, std::span<const std::uint64_t> shape);

// Writes the archive of `arrays`, in their order, to `out`. A member, an offset or the central
// directory from `zip64_from` bytes on is written with ZIP64 fields, and the archive then ends
// with the ZIP64 end records. Throws StageError when an array's data is not the size its type and
// shape give (or whatever its `data` throws), before anything of that array is written.
void WriteNpz(const std::vector<NpyArray>& arrays, const ByteSink& out,
              std::uint64_t zip64_from = kZip64From);

}  // namespace ostrel
