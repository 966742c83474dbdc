#include "flag_painter.h"

#include "dpi.h"
#include "win32_resources.h"

namespace quorvik {
namespace {

// A memory device context with one bitmap selected into it, undone on scope exit.
class BitmapDc {
 public:
  BitmapDc(HDC compatibleWith, HBITMAP bitmap)
      : dc_(CreateCompatibleDC(compatibleWith)),
        previous_(dc_ ? SelectObject(dc_.get(), bitmap) : nullptr) {}
  BitmapDc(const BitmapDc&) = delete;
  BitmapDc& operator=(const BitmapDc&) = delete;
  ~BitmapDc() {
    if (dc_) SelectObject(dc_.get(), previous_);
  }
  HDC get() const { return dc_.get(); }

 private:
  MemoryDc dc_;
  HGDIOBJ previous_;
};

}  // namespace

void DrawFlag(HDC target, HBITMAP flag, int dpi) {
  BITMAP info{};
  if (!flag || !GetObjectW(flag, sizeof info, &info)) return;
  const BitmapDc source(target, flag);
  if (!source.get()) return;
  if (dpi == kStandardDpi) {
    BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source.get(), 0, 0, SRCCOPY);
    return;
  }
  const int previousMode = SetStretchBltMode(target, COLORONCOLOR);
  StretchBlt(target, 0, 0, MulDiv(info.bmWidth, dpi, kStandardDpi),
             MulDiv(info.bmHeight, dpi, kStandardDpi), source.get(), 0, 0, info.bmWidth,
             info.bmHeight, SRCCOPY);
  SetStretchBltMode(target, previousMode);
}

}  // namespace quorvik
