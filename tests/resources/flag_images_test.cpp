// Checks every pixel of the generated background bitmap and window icon: sizes, 16 colours at 4
// bits per pixel, the exact colours, the band boundaries, the icon's frame and its transparency.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "bytes.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

struct Rgb {
  int red;
  int green;
  int blue;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}

constexpr Rgb kFlagGreen{0, 176, 69};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kDarkGreen{0, 128, 0};
constexpr Rgb kBlack{0, 0, 0};

constexpr int kFlagWidth = 75;
constexpr int kFlagHeight = 56;
constexpr int kIconSize = 32;
constexpr int kIconFrameTop = 6;
constexpr int kIconFrameBottom = 25;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kIconDirSize = 6 + 16;
constexpr std::size_t kPaletteEntries = 16;

std::uint16_t U16(ByteView b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(ByteView b, std::size_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) |
         (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}
std::int32_t I32(ByteView b, std::size_t at) { return static_cast<std::int32_t>(U32(b, at)); }

std::size_t RowBytes(int width, int bitsPerPixel) {
  return static_cast<std::size_t>((width * bitsPerPixel + 31) / 32 * 4);
}

// A 4-bit palette image, bottom-up as stored, read at row y counted from the top.
struct FourBitImage {
  ByteView file;
  std::size_t paletteAt;
  std::size_t pixelsAt;
  int width;
  int height;

  int IndexAt(int x, int y) const {
    const std::size_t row =
        pixelsAt + static_cast<std::size_t>(height - 1 - y) * RowBytes(width, 4);
    const std::uint8_t pair = file[row + static_cast<std::size_t>(x / 2)];
    return x % 2 == 0 ? pair >> 4 : pair & 0x0F;
  }
  Rgb PaletteColour(int index) const {
    const std::size_t at = paletteAt + 4 * static_cast<std::size_t>(index);  // blue, green, red, 0
    return {file[at + 2], file[at + 1], file[at]};
  }
  Rgb ColourAt(int x, int y) const { return PaletteColour(IndexAt(x, y)); }
};

// The BITMAPINFOHEADER fields shared by both pictures: one plane, 4 bits per pixel, uncompressed,
// a palette of 16 colours.
void ExpectSixteenColourHeader(ByteView file, std::size_t at, int width, int storedHeight) {
  EXPECT_EQ(U32(file, at), kInfoHeaderSize);
  EXPECT_EQ(I32(file, at + 4), width);
  EXPECT_EQ(I32(file, at + 8), storedHeight);
  EXPECT_EQ(U16(file, at + 12), 1) << "planes";
  EXPECT_EQ(U16(file, at + 14), 4) << "bits per pixel";
  EXPECT_EQ(U32(file, at + 16), 0u) << "compression: BI_RGB";
  const std::uint32_t coloursUsed = U32(file, at + 32);
  EXPECT_TRUE(coloursUsed == 0 || coloursUsed == kPaletteEntries) << coloursUsed;
}

class FlagBitmap : public ::testing::Test {
 protected:
  const Bytes file = testing::ReadBytes(QUORVIK_FLAG_BITMAP_PATH);
  const std::size_t paletteAt = kFileHeaderSize + kInfoHeaderSize;
  const std::size_t pixelsAt = paletteAt + 4 * kPaletteEntries;
  FourBitImage image{file, paletteAt, pixelsAt, kFlagWidth, kFlagHeight};
};

TEST_F(FlagBitmap, IsA75By56BitmapFileWithSixteenColours) {
  ASSERT_EQ(file.size(), pixelsAt + RowBytes(kFlagWidth, 4) * kFlagHeight);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(U32(file, 2), file.size());
  EXPECT_EQ(U32(file, 10), pixelsAt) << "offset of the pixels";
  ExpectSixteenColourHeader(file, kFileHeaderSize, kFlagWidth, kFlagHeight);
}

TEST_F(FlagBitmap, ShowsThreeVertical25PixelBandsGreenWhiteRed) {
  ASSERT_EQ(file.size(), pixelsAt + RowBytes(kFlagWidth, 4) * kFlagHeight);
  for (int y = 0; y < kFlagHeight; ++y) {
    for (int x = 0; x < kFlagWidth; ++x) {
      const Rgb expected = x < 25 ? kFlagGreen : x < 50 ? kWhite : kRed;
      ASSERT_EQ(image.ColourAt(x, y), expected) << "pixel x=" << x << " y=" << y;
    }
  }
}

TEST_F(FlagBitmap, BandBoundariesFallAfterColumns24And49) {
  ASSERT_EQ(file.size(), pixelsAt + RowBytes(kFlagWidth, 4) * kFlagHeight);
  EXPECT_EQ(image.ColourAt(24, 0), kFlagGreen);
  EXPECT_EQ(image.ColourAt(25, 0), kWhite);
  EXPECT_EQ(image.ColourAt(49, 55), kWhite);
  EXPECT_EQ(image.ColourAt(50, 55), kRed);
  EXPECT_EQ(image.ColourAt(74, 55), kRed);
}

// What an icon pixel should be: a colour, or transparent (nullopt).
std::optional<Rgb> ExpectedIconPixel(int x, int y) {
  if (y < kIconFrameTop || y > kIconFrameBottom) return std::nullopt;
  if (y == kIconFrameTop || y == kIconFrameBottom || x == 0 || x == kIconSize - 1) return kBlack;
  if (x <= 10) return kDarkGreen;
  if (x <= 20) return kWhite;
  return kRed;
}

class AppIcon : public ::testing::Test {
 protected:
  const Bytes file = testing::ReadBytes(QUORVIK_APP_ICON_PATH);
  const std::size_t imageAt = kIconDirSize;
  const std::size_t paletteAt = imageAt + kInfoHeaderSize;
  const std::size_t pixelsAt = paletteAt + 4 * kPaletteEntries;
  const std::size_t maskAt = pixelsAt + RowBytes(kIconSize, 4) * kIconSize;
  const std::size_t endAt = maskAt + RowBytes(kIconSize, 1) * kIconSize;
  FourBitImage image{file, paletteAt, pixelsAt, kIconSize, kIconSize};

  bool Transparent(int x, int y) const {
    const std::size_t row =
        maskAt + static_cast<std::size_t>(kIconSize - 1 - y) * RowBytes(kIconSize, 1);
    return (file[row + static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1;
  }
};

TEST_F(AppIcon, IsOne32By32IconWithSixteenColours) {
  ASSERT_EQ(file.size(), endAt);
  EXPECT_EQ(U16(file, 0), 0) << "reserved";
  EXPECT_EQ(U16(file, 2), 1) << "type: icon";
  EXPECT_EQ(U16(file, 4), 1) << "number of images";
  EXPECT_EQ(file[6], kIconSize) << "width";
  EXPECT_EQ(file[7], kIconSize) << "height";
  EXPECT_EQ(file[8], kPaletteEntries) << "colour count";
  EXPECT_EQ(U16(file, 10), 1) << "planes";
  EXPECT_EQ(U16(file, 12), 4) << "bits per pixel";
  EXPECT_EQ(U32(file, 14), endAt - imageAt) << "size of the image";
  EXPECT_EQ(U32(file, 18), imageAt) << "offset of the image";
  // An icon's header counts the colour image and the AND mask: twice the height.
  ExpectSixteenColourHeader(file, imageAt, kIconSize, 2 * kIconSize);
}

TEST_F(AppIcon, ShowsTheFramedFlagInRows6To25) {
  ASSERT_EQ(file.size(), endAt);
  for (int y = kIconFrameTop; y <= kIconFrameBottom; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      ASSERT_FALSE(Transparent(x, y)) << "pixel x=" << x << " y=" << y;
      ASSERT_EQ(image.ColourAt(x, y), *ExpectedIconPixel(x, y)) << "pixel x=" << x << " y=" << y;
    }
  }
}

TEST_F(AppIcon, FramesA30By18FlagOfThree10PixelBandsInBlack) {
  ASSERT_EQ(file.size(), endAt);
  for (int x = 0; x < kIconSize; ++x) {
    EXPECT_EQ(image.ColourAt(x, 6), kBlack) << "top of the frame, x=" << x;
    EXPECT_EQ(image.ColourAt(x, 25), kBlack) << "bottom of the frame, x=" << x;
  }
  for (int y = 6; y <= 25; ++y) {
    EXPECT_EQ(image.ColourAt(0, y), kBlack) << "left of the frame, y=" << y;
    EXPECT_EQ(image.ColourAt(31, y), kBlack) << "right of the frame, y=" << y;
  }
  EXPECT_EQ(image.ColourAt(1, 7), kDarkGreen);
  EXPECT_EQ(image.ColourAt(10, 24), kDarkGreen);
  EXPECT_EQ(image.ColourAt(11, 7), kWhite);
  EXPECT_EQ(image.ColourAt(20, 24), kWhite);
  EXPECT_EQ(image.ColourAt(21, 7), kRed);
  EXPECT_EQ(image.ColourAt(30, 24), kRed);
}

TEST_F(AppIcon, IsTransparentAboveAndBelowTheFlag) {
  ASSERT_EQ(file.size(), endAt);
  for (int y = 0; y < kIconSize; ++y) {
    if (y >= kIconFrameTop && y <= kIconFrameBottom) continue;
    for (int x = 0; x < kIconSize; ++x) {
      ASSERT_TRUE(Transparent(x, y)) << "pixel x=" << x << " y=" << y;
      // AND 1 with colour black leaves the screen as it is; any other colour would tint it.
      ASSERT_EQ(image.ColourAt(x, y), kBlack) << "pixel x=" << x << " y=" << y;
    }
  }
}

}  // namespace
}  // namespace quorvik
