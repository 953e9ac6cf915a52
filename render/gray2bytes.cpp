#include "render/gray2bytes.h"

#include <cstring>

#include "log/diag_log.h"

namespace {

const uint8_t bitMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

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

typedef uint8_t pixels16_t __attribute__((vector_size(16)));

// Masks each byte of a compare result with its bit, so that one multiply sums
// (and, the bits being disjoint, ORs) eight pixels into one byte.
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr uint64_t kPackBits = 0x8040201008040201ull;
#else
constexpr uint64_t kPackBits = 0x0102040810204080ull;
#endif
constexpr uint64_t kSumBytes = 0x0101010101010101ull;

inline uint8_t pack_eight(uint64_t darkMask) {
  return static_cast<uint8_t>(((darkMask & kPackBits) * kSumBytes) >> 56);
}

// Fill the 16 thresholds that repeat along row y: a pixel p is dark when p < threshold.
// In the 8x8 modes (p >> 2) < t is the same test as p < 4t.
void threshold_row(int mode, int y, uint8_t thresholds[16]) {
  switch (static_cast<uint32_t>(mode)) {
  case 0:
    memset(thresholds, 129, 16);
    break;
  case 2:
    for (int x = 0; x < 16; x++)
      thresholds[x] = static_cast<uint8_t>(dither8x8[(y % 8) * 8 + x % 8] * 4);
    break;
  case 3:
    for (int x = 0; x < 16; x++)
      thresholds[x] = static_cast<uint8_t>(cluster8x8[(y % 8) * 8 + x % 8] * 4);
    break;
  case 4:
    for (int x = 0; x < 16; x++)
      thresholds[x] = dither16x16[x * 16 + y % 16];
    break;
  default:
    memset(thresholds, 161, 16);
    break;
  }
}

// Convert one row, sixteen pixels per step, then the last eight if the width
// is an odd multiple of eight.
void convert_row(const uint8_t *gray, uint8_t *bits, int bytesPerRow, const uint8_t thresholds[16]) {
  pixels16_t limit;
  memcpy(&limit, thresholds, sizeof limit);

  int i = 0;
  for (; i + 2 <= bytesPerRow; i += 2) {
    pixels16_t pixels;
    memcpy(&pixels, gray + i * 8, sizeof pixels);
    pixels16_t dark = (pixels16_t)(pixels < limit);
    uint64_t halves[2];
    memcpy(halves, &dark, sizeof halves);
    bits[i] |= pack_eight(halves[0]);
    bits[i + 1] |= pack_eight(halves[1]);
  }
  if (i < bytesPerRow) {
    uint8_t byte = 0;
    for (int x = 0; x < 8; x++)
      if (gray[i * 8 + x] < thresholds[x])
        byte |= bitMask[x];
    bits[i] |= byte;
  }
}

} // namespace

void Gray2Bytes(const uint8_t *gray, uint8_t *bits, int bytesPerRow, int rows, int mode) {
  WriteLog("Gray2Bytes: Enter function\r\n");
  const size_t stride = static_cast<size_t>(bytesPerRow) * 8;
  uint8_t thresholds[16];
  for (int y = 0; y < rows; y++) {
    threshold_row(mode, y, thresholds);
    convert_row(gray + y * stride, bits + static_cast<size_t>(y) * bytesPerRow, bytesPerRow,
                thresholds);
  }
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
