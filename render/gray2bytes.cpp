// SPDX-License-Identifier: Apache-2.0
#include "render/gray2bytes.h"

#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "log/diag_log.h"

namespace {

const uint8_t bitMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

// clang-format off
// Ordered 8x8 dither, indexed [y % 8][x % 8].
const uint8_t dither8x8[64] = {
    1,  48, 12, 60, 3,  51, 15, 63, 32, 16, 44, 28, 35, 19, 47, 31,
    8,  56, 4,  52, 11, 59, 7,  55, 40, 24, 36, 20, 43, 27, 39, 23,
    2,  50, 14, 62, 1,  49, 13, 61, 34, 18, 46, 30, 33, 17, 45, 29,
    10, 58, 6,  54, 9,  57, 5,  53, 42, 26, 38, 22, 41, 25, 37, 21,
};

// Clustered 8x8 dither, indexed [y % 8][x % 8].
const uint8_t cluster8x8[64] = {
    24, 10, 12, 26, 35, 47, 49, 37, 8,  0,  2,  14, 45, 59, 61, 51,
    22, 6,  4,  16, 43, 57, 63, 53, 30, 20, 18, 28, 33, 41, 55, 39,
    34, 46, 48, 36, 25, 11, 13, 27, 44, 58, 60, 50, 9,  1,  3,  15,
    42, 56, 62, 52, 23, 7,  5,  17, 32, 40, 54, 38, 31, 21, 19, 29,
};

// Ordered 16x16 dither, indexed [x % 16][y % 16]: the column picks the row.
const uint8_t dither16x16[256] = {
    0,   128, 32,  160, 8,   136, 40,  168, 2,   130, 34,  162, 10,  138, 42,  170,
    192, 64,  224, 96,  200, 72,  232, 104, 194, 66,  226, 98,  202, 74,  234, 106,
    48,  176, 16,  144, 56,  184, 24,  152, 50,  178, 18,  146, 58,  186, 26,  154,
    240, 112, 208, 80,  248, 120, 216, 88,  242, 114, 210, 82,  250, 122, 218, 90,
    12,  140, 44,  172, 4,   132, 36,  164, 14,  142, 46,  174, 6,   134, 38,  166,
    204, 76,  236, 108, 196, 68,  228, 100, 206, 78,  238, 110, 198, 70,  230, 102,
    60,  188, 28,  156, 52,  180, 20,  148, 62,  190, 30,  158, 54,  182, 22,  150,
    252, 124, 220, 92,  244, 116, 212, 84,  254, 126, 222, 94,  246, 118, 214, 86,
    3,   131, 35,  163, 11,  139, 43,  171, 1,   129, 33,  161, 9,   137, 41,  169,
    195, 67,  227, 99,  203, 75,  235, 107, 193, 65,  225, 97,  201, 73,  233, 105,
    51,  179, 19,  147, 59,  187, 27,  155, 49,  177, 17,  145, 57,  185, 25,  153,
    243, 115, 211, 83,  251, 123, 219, 91,  241, 113, 209, 81,  249, 121, 217, 89,
    15,  143, 47,  175, 7,   135, 39,  167, 13,  141, 45,  173, 5,   133, 37,  165,
    207, 79,  239, 111, 199, 71,  231, 103, 205, 77,  237, 109, 197, 69,  229, 101,
    63,  191, 31,  159, 55,  183, 23,  151, 61,  189, 29,  157, 53,  181, 21,  149,
    254, 127, 223, 95,  247, 119, 215, 87,  253, 125, 221, 93,  245, 117, 213, 85,
};
// clang-format on

typedef uint8_t pixels16_t __attribute__((vector_size(16)));

// One step of the fast path: 128 pixels in, 16 packed bytes out.
constexpr int kBlockBytes = kBlockPixels / 8;

// The threshold of pixel (x, y): the pixel is dark when its value is below it.
// In the 8x8 modes (p >> 2) < t is the same test as p < 4t.
uint8_t threshold_at(int mode, int x, int y) {
  switch (static_cast<uint32_t>(mode)) {
  case 0:
    return 129;
  case 2:
    return static_cast<uint8_t>(dither8x8[(y % 8) * 8 + x % 8] * 4);
  case 3:
    return static_cast<uint8_t>(cluster8x8[(y % 8) * 8 + x % 8] * 4);
  case 4:
    return dither16x16[(x % 16) * 16 + y % 16];
  default:
    return 161;
  }
}

// Fill the threshold rows of every row phase the mode has (one for the plain thresholds):
// the first 16 thresholds of a row, then copies of them, as 16 is a multiple of every period.
void fill_thresholds(int mode, threshold_table_t *table) {
  bool dithered = static_cast<uint32_t>(mode) - 2 < 3;
  int phases = dithered ? 16 : 1;
  table->phaseMask = phases - 1;
  for (int y = 0; y < phases; y++) {
    uint8_t *row = table->row[y];
    for (int x = 0; x < 16; x++)
      row[x] = threshold_at(mode, x, y);
    for (int x = 16; x < kBlockPixels + 8; x += 8)
      memcpy(row + x, row + x - 16, 8);
  }
}

// The dark pixels among 16, each as its own bit (0x80 >> x % 8) of its byte.
inline pixels16_t dark_bits(const uint8_t *gray, const uint8_t *thresholds) {
  const pixels16_t bitOfPixel = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01,
                                 0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
  pixels16_t pixels, limit;
  memcpy(&pixels, gray, sizeof pixels);
  memcpy(&limit, thresholds, sizeof limit);
  return bitOfPixel & ~(pixels16_t)(pixels >= limit);
}

// OR each pair of neighbouring bytes of a then b into one byte, keeping their order.
inline pixels16_t fold_pairs(pixels16_t a, pixels16_t b) {
  return __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30) |
         __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
}

// Ask for the gray bytes 4 KiB past a block, so that a page larger than the caches
// streams in ahead of the conversion; a hint, harmless past the end of the page.
inline void prefetch_ahead(const uint8_t *gray) {
  const uintptr_t ahead = reinterpret_cast<uintptr_t>(gray) + 4096;
  __builtin_prefetch(reinterpret_cast<const void *>(ahead));
  __builtin_prefetch(reinterpret_cast<const void *>(ahead + 64));
}

// The dark pixels among 32, one byte of bits per pixel pair.
inline pixels16_t dark_pairs(const uint8_t *gray, const uint8_t *thresholds) {
  return fold_pairs(dark_bits(gray, thresholds), dark_bits(gray + 16, thresholds + 16));
}

// Convert one block and OR its 16 packed bytes into bits. The bits of the eight
// pixels of a byte are disjoint, so three rounds of pair folding pack them.
inline void convert_block(const uint8_t *gray, const uint8_t *thresholds, uint8_t *bits) {
  pixels16_t left =
      fold_pairs(dark_pairs(gray, thresholds), dark_pairs(gray + 32, thresholds + 32));
  pixels16_t right =
      fold_pairs(dark_pairs(gray + 64, thresholds + 64), dark_pairs(gray + 96, thresholds + 96));
  pixels16_t packed = fold_pairs(left, right);
  pixels16_t old;
  memcpy(&old, bits, sizeof old);
  old |= packed;
  memcpy(bits, &old, sizeof old);
}

// Convert half a block and OR its 8 packed bytes into bits.
inline void convert_half_block(const uint8_t *gray, const uint8_t *thresholds, uint8_t *bits) {
  pixels16_t half =
      fold_pairs(dark_pairs(gray, thresholds), dark_pairs(gray + 32, thresholds + 32));
  pixels16_t packed = fold_pairs(half, half);
  uint64_t old, low;
  memcpy(&old, bits, sizeof old);
  memcpy(&low, &packed, sizeof low);
  old |= low;
  memcpy(bits, &old, sizeof old);
}

// Convert one row. A row of at least one block ends with a whole or half block that
// overlaps the one before it, which ORs the same bits again; a shorter row goes through
// a padded copy. A block that starts half way through a matrix row takes its
// thresholds 8 pixels on.
void convert_row(const uint8_t *gray, uint8_t *bits, int bytesPerRow, const uint8_t *thresholds) {
  if (bytesPerRow < kBlockBytes) {
    uint8_t pixels[kBlockPixels], packed[kBlockBytes] = {};
    memset(pixels, 255, sizeof pixels);
    memcpy(pixels, gray, static_cast<size_t>(bytesPerRow) * 8);
    convert_block(pixels, thresholds, packed);
    for (int i = 0; i < bytesPerRow; i++)
      bits[i] |= packed[i];
    return;
  }
  int i = 0;
  for (; i + kBlockBytes <= bytesPerRow; i += kBlockBytes) {
    prefetch_ahead(gray + i * 8);
    convert_block(gray + i * 8, thresholds, bits + i);
  }
  if (bytesPerRow - i > kBlockBytes / 2) {
    int last = bytesPerRow - kBlockBytes;
    convert_block(gray + last * 8, thresholds + (last % 2) * 8, bits + last);
  } else if (i < bytesPerRow) {
    int last = bytesPerRow - kBlockBytes / 2;
    convert_half_block(gray + last * 8, thresholds + (last % 2) * 8, bits + last);
  }
}

#if defined(__x86_64__)
// Where the processor has AVX2, 32 pixels at a time: each is compared with its
// threshold, the compare's bytes are reversed within each group of eight so that the
// leftmost pixel lands in the most significant bit, and one movemask packs the four bytes.
__attribute__((target("avx2"))) inline uint32_t dark_32(const uint8_t *gray,
                                                        const uint8_t *thresholds) {
  const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7,
                                           6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(gray));
  __m256i limit = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(thresholds));
  __m256i light = _mm256_cmpeq_epi8(_mm256_max_epu8(pixels, limit), pixels);
  return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(light, reverse)));
}

// OR the packed bytes of 64 pixels into bits.
__attribute__((target("avx2"))) inline void convert_64(const uint8_t *gray,
                                                       const uint8_t *thresholds, uint8_t *bits) {
  uint64_t dark = dark_32(gray, thresholds) | uint64_t{dark_32(gray + 32, thresholds + 32)} << 32;
  uint64_t old;
  memcpy(&old, bits, sizeof old);
  old |= dark;
  memcpy(bits, &old, sizeof old);
}

// OR the packed bytes of 32 pixels into bits.
__attribute__((target("avx2"))) inline void convert_32(const uint8_t *gray,
                                                       const uint8_t *thresholds, uint8_t *bits) {
  uint32_t dark = dark_32(gray, thresholds);
  uint32_t old;
  memcpy(&old, bits, sizeof old);
  old |= dark;
  memcpy(bits, &old, sizeof old);
}

// Convert one row of at least 8 bytes 64 pixels at a time, ending with a step of 64 or
// 32 pixels that overlaps the one before it, as convert_row does with its blocks.
__attribute__((target("avx2"))) void convert_row_avx2(const uint8_t *gray, uint8_t *bits,
                                                      int bytesPerRow, const uint8_t *thresholds) {
  int i = 0;
  for (; i + 8 <= bytesPerRow; i += 8) {
    if (i % kBlockBytes == 0)
      prefetch_ahead(gray + i * 8);
    convert_64(gray + i * 8, thresholds, bits + i);
  }
  if (bytesPerRow - i > 4) {
    int last = bytesPerRow - 8;
    convert_64(gray + last * 8, thresholds + (last % 2) * 8, bits + last);
  } else if (i < bytesPerRow) {
    int last = bytesPerRow - 4;
    convert_32(gray + last * 8, thresholds + (last % 2) * 8, bits + last);
  }
}
#endif

} // namespace

void Gray2Bytes(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode) {
  threshold_table_t table;
  Gray2BytesBegin(&table, mode);
  const size_t stride = static_cast<size_t>(bytesPerRow) * 8;
  for (int y = 0; y < rows && bytesPerRow > 0; y++)
    Gray2BytesRow(&table, gray + y * stride, bits + static_cast<size_t>(y) * bytesPerRow,
                  bytesPerRow, y);
  Gray2BytesEnd();
}

void Gray2BytesBegin(threshold_table_t *table, int mode) {
  WriteLog("Gray2Bytes: Enter function\r\n");
  fill_thresholds(mode, table);
#if defined(__x86_64__)
  table->useAvx2 = __builtin_cpu_supports("avx2");
#else
  table->useAvx2 = false;
#endif
}

void Gray2BytesRow(const threshold_table_t *table, const uint8_t *gray, uint8_t *bits,
                   int bytesPerRow, int y) {
  const uint8_t *thresholds = table->row[y & table->phaseMask];
#if defined(__x86_64__)
  if (table->useAvx2 && bytesPerRow >= 8) {
    convert_row_avx2(gray, bits, bytesPerRow, thresholds);
    return;
  }
#endif
  if (bytesPerRow > 0)
    convert_row(gray, bits, bytesPerRow, thresholds);
}

void Gray2BytesEnd() {
  WriteLog("Gray2Bytes: Exit function11\r\n");
}

void Gray2BytesLiteral(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode) {
  for (int y = 0; y < rows; y++) {
    for (int x = 0; x < bytesPerRow * 8; x++) {
      int p = gray[y * bytesPerRow * 8 + x];
      bool dark;
      switch (static_cast<uint32_t>(mode)) {
      case 0:
        dark = p < 129;
        break;
      case 2:
        dark = (p >> 2) < dither8x8[(y % 8) * 8 + (x % 8)];
        break;
      case 3:
        dark = (p >> 2) < cluster8x8[(y % 8) * 8 + (x % 8)];
        break;
      case 4:
        dark = p < dither16x16[(x % 16) * 16 + (y % 16)];
        break;
      default:
        dark = p < 161;
        break;
      }
      if (dark)
        bits[y * bytesPerRow + x / 8] |= bitMask[x % 8];
    }
  }
}
