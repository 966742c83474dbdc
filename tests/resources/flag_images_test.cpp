// What the generated background bitmap and window icon must be, whatever draws them: sizes, 16
// colours at 4 bits per pixel, three vertical bands of equal width and one colour each in the
// flag's colours, the icon's black frame around them and a transparency mask that leaves exactly
// the framed flag opaque.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

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
constexpr int kIconFramedFlagHeight = 20;

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

// A run of columns whose top pixels have one colour, within a rectangle of a picture.
struct Band {
  Rgb colour;
  int width;
};

// The picture's area from column `left` and row `top` up to, not including, `right` and `bottom`.
struct Area {
  int left;
  int top;
  int right;
  int bottom;
};

// The vertical bands of an area, left to right, as its top row shows them.
std::vector<Band> BandsOfTopRow(const FourBitImage& image, Area area) {
  std::vector<Band> bands;
  for (int x = area.left; x < area.right; ++x) {
    const Rgb colour = image.ColourAt(x, area.top);
    if (bands.empty() || !(bands.back().colour == colour)) bands.push_back({colour, 0});
    ++bands.back().width;
  }
  return bands;
}

// Every pixel of the area has the colour of the top pixel of its column.
void ExpectEachColumnOneColour(const FourBitImage& image, Area area) {
  for (int x = area.left; x < area.right; ++x) {
    for (int y = area.top + 1; y < area.bottom; ++y) {
      ASSERT_EQ(image.ColourAt(x, y), image.ColourAt(x, area.top)) << "pixel x=" << x << " y=" << y;
    }
  }
}

// Three bands of equal width that fill the area, in the given colours from the left.
void ExpectThreeEqualBands(const FourBitImage& image, Area area, const Rgb (&colours)[3]) {
  const std::vector<Band> bands = BandsOfTopRow(image, area);
  ASSERT_EQ(bands.size(), 3u);
  for (std::size_t i = 0; i < bands.size(); ++i) {
    EXPECT_EQ(bands[i].colour, colours[i]) << "band " << i;
    EXPECT_EQ(bands[i].width, (area.right - area.left) / 3) << "band " << i;
  }
}

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

TEST_F(FlagBitmap, ShowsThreeVerticalBandsOfEqualWidthGreenWhiteRed) {
  ASSERT_EQ(file.size(), pixelsAt + RowBytes(kFlagWidth, 4) * kFlagHeight);
  ExpectThreeEqualBands(image, {0, 0, kFlagWidth, kFlagHeight}, {kFlagGreen, kWhite, kRed});
}

TEST_F(FlagBitmap, EachBandIsOneColourFromTopToBottom) {
  ASSERT_EQ(file.size(), pixelsAt + RowBytes(kFlagWidth, 4) * kFlagHeight);
  ExpectEachColumnOneColour(image, {0, 0, kFlagWidth, kFlagHeight});
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
  // The framed flag: the whole width, centred from top to bottom.
  const Area frame{0, (kIconSize - kIconFramedFlagHeight) / 2, kIconSize,
                   (kIconSize + kIconFramedFlagHeight) / 2};

  bool Transparent(int x, int y) const {
    const std::size_t row =
        maskAt + static_cast<std::size_t>(kIconSize - 1 - y) * RowBytes(kIconSize, 1);
    return (file[row + static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1;
  }
  bool InFrame(int x, int y) const {
    return x >= frame.left && x < frame.right && y >= frame.top && y < frame.bottom;
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

TEST_F(AppIcon, IsOpaqueExactlyWithinTheFramedFlag) {
  ASSERT_EQ(file.size(), endAt);
  for (int y = 0; y < kIconSize; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      ASSERT_EQ(Transparent(x, y), !InFrame(x, y)) << "pixel x=" << x << " y=" << y;
    }
  }
}

TEST_F(AppIcon, FramesAFlagOfThreeEqualBandsInBlack) {
  ASSERT_EQ(file.size(), endAt);
  for (int x = frame.left; x < frame.right; ++x) {
    EXPECT_EQ(image.ColourAt(x, frame.top), kBlack) << "top of the frame, x=" << x;
    EXPECT_EQ(image.ColourAt(x, frame.bottom - 1), kBlack) << "bottom of the frame, x=" << x;
  }
  for (int y = frame.top; y < frame.bottom; ++y) {
    EXPECT_EQ(image.ColourAt(frame.left, y), kBlack) << "left of the frame, y=" << y;
    EXPECT_EQ(image.ColourAt(frame.right - 1, y), kBlack) << "right of the frame, y=" << y;
  }
  const Area flag{frame.left + 1, frame.top + 1, frame.right - 1, frame.bottom - 1};
  ExpectThreeEqualBands(image, flag, {kDarkGreen, kWhite, kRed});
  ExpectEachColumnOneColour(image, flag);
}

TEST_F(AppIcon, IsBlackWhereTransparentSoTheScreenShowsThroughUntinted) {
  ASSERT_EQ(file.size(), endAt);
  for (int y = 0; y < kIconSize; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      // AND 1 with colour black leaves the screen as it is; any other colour would tint it.
      if (Transparent(x, y)) {
        ASSERT_EQ(image.ColourAt(x, y), kBlack) << "pixel x=" << x << " y=" << y;
      }
    }
  }
}

}  // namespace
}  // namespace quorvik
