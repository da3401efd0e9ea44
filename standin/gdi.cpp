// GDI objects of the stand-in: device contexts, bitmaps and pens, selection and deletion, stock
// objects, colours. Behaviour follows what Wine's GDI was measured to do.
#include <cstring>
#include <new>
#include <unordered_set>

#include "standin/gdi_control.h"
#include "standin/gdi_objects.h"

namespace kinetiscan::standin::gdi {
namespace {

std::unordered_set<const Object*>& live() {
  static std::unordered_set<const Object*> objects;
  return objects;
}

// A fresh memory DC holds a 1x1 monochrome bitmap; that is why a bitmap made compatible with it
// is monochrome too.
Bitmap& defaultBitmap() {
  static Bitmap* bitmap = [] {
    auto* made = new Bitmap(1, 1, 1);
    made->pixels.assign(1, 0);
    made->stock = true;
    live().insert(made);
    return made;
  }();
  return *bitmap;
}

Pen& stockPen(int index) {
  static Pen* pens[3] = {};
  Pen*& pen = pens[index - WHITE_PEN];
  if (pen == nullptr) {
    pen = new Pen;
    pen->stock = true;
    pen->colour = index == WHITE_PEN ? 0x00FFFFFFu : 0;
    pen->style = index == NULL_PEN ? PS_NULL : PS_SOLID;
    live().insert(pen);
  }
  return *pen;
}

// The platform's default palette, for colours given as palette indices.
constexpr std::uint32_t kDefaultPalette[20] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
    0xC0C0C0, 0xC0DCC0, 0xA6CAF0, 0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000,
    0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};  // R G B

void destroy(Object* object) {
  live().erase(object);
  delete object;
}

void select(Dc& dc, Object* object) {
  ++object->selections;
  if (object->type == Type::Bitmap && !object->stock) static_cast<Bitmap*>(object)->holder = &dc;
}

void deselect(Object* object) {
  --object->selections;
  if (object->type == Type::Bitmap && object->selections == 0) {
    static_cast<Bitmap*>(object)->holder = nullptr;
  }
  releaseSelection(object);
}

Dc* makeDc(bool screen) {
  auto* dc = new (std::nothrow) Dc;
  if (dc == nullptr) return nullptr;
  dc->screen = screen;
  addObject(dc);
  if (!screen) {
    dc->bitmap = &defaultBitmap();
    select(*dc, dc->bitmap);
  }
  dc->pen = &stockPen(BLACK_PEN);
  select(*dc, dc->pen);
  return dc;
}

}  // namespace

Object* find(const void* handle) {
  auto found = live().find(static_cast<const Object*>(handle));
  return found == live().end() ? nullptr : const_cast<Object*>(*found);
}

template <class T>
T* findAs(const void* handle, Type type) {
  Object* object = find(handle);
  return object != nullptr && object->type == type ? static_cast<T*>(object) : nullptr;
}

Dc* findDc(HDC handle) { return findAs<Dc>(handle, Type::Dc); }
Bitmap* findBitmap(const void* handle) { return findAs<Bitmap>(handle, Type::Bitmap); }
Pen* findPen(const void* handle) { return findAs<Pen>(handle, Type::Pen); }
Region* findRegion(const void* handle) { return findAs<Region>(handle, Type::Region); }

void addObject(Object* object) { live().insert(object); }

void releaseSelection(Object* object) {
  if (object->deletePending && object->selections == 0 && !object->stock) destroy(object);
}

Box surfaceBox(const Dc& dc) {
  if (dc.screen) return Box{0, 0, kScreenWidth, kScreenHeight};
  if (dc.bitmap == nullptr) return Box{0, 0, 0, 0};
  return Box{0, 0, dc.bitmap->width, dc.bitmap->height};
}

bool writable(const Dc& dc, long long x, long long y) {
  if (dc.bitmap == nullptr || !surfaceBox(dc).contains(x, y)) return false;
  if (!dc.clipped) return true;
  for (const Box& box : dc.clip) {
    if (box.contains(x, y)) return true;
  }
  return false;
}

std::uint32_t pixelOf(COLORREF colour) {
  std::uint32_t rgb = colour & 0x00FFFFFFu;
  if ((colour >> 24) == 0x01) {
    const std::uint32_t index = colour & 0xFFFFu;
    const std::uint32_t entry = kDefaultPalette[index < 20 ? index : 0];
    rgb = RGB(entry >> 16, entry >> 8, entry);
  }
  return (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb);
}

std::uint32_t monoBitOf(const Dc& dc, COLORREF colour) {
  return pixelOf(colour) == pixelOf(dc.backgroundColour) ? 1u : 0u;
}

std::uint32_t mix(int rop2, std::uint32_t pen, std::uint32_t target) {
  // The mode minus one is the truth table, indexed by pen bit * 2 + target bit.
  const unsigned table = static_cast<unsigned>(rop2 - 1) & 15u;
  std::uint32_t result = 0;
  if (table & 1u) result |= ~pen & ~target;
  if (table & 2u) result |= ~pen & target;
  if (table & 4u) result |= pen & ~target;
  if (table & 8u) result |= pen & target;
  return result;
}

}  // namespace kinetiscan::standin::gdi

namespace kinetiscan::standin {
namespace {
int memoryDcFailures = 0;
bool leftovers = false;
}  // namespace

void failMemoryDcs(int count) { memoryDcFailures = count; }
void holdLeftoversInNewBitmaps(bool on) { leftovers = on; }
bool newBitmapsHoldLeftovers() { return leftovers; }

int liveGdiObjects() {
  int count = 0;
  for (const gdi::Object* object : gdi::live()) count += object->stock ? 0 : 1;
  return count;
}
}  // namespace kinetiscan::standin

using namespace kinetiscan::standin::gdi;

extern "C" HDC GetDC(HWND window) {
  if (window != nullptr) return nullptr;  // only the screen exists here
  return reinterpret_cast<HDC>(makeDc(true));
}

extern "C" int ReleaseDC(HWND, HDC handle) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || !dc->screen) return 0;
  return DeleteDC(handle);
}

extern "C" HDC CreateCompatibleDC(HDC handle) {
  if (handle != nullptr && findDc(handle) == nullptr) return nullptr;
  if (kinetiscan::standin::memoryDcFailures > 0) {
    --kinetiscan::standin::memoryDcFailures;
    return nullptr;
  }
  return reinterpret_cast<HDC>(makeDc(false));
}

extern "C" BOOL DeleteDC(HDC handle) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return FALSE;
  Object* bitmap = dc->bitmap;
  Object* pen = dc->pen;
  destroy(dc);
  if (bitmap != nullptr) deselect(bitmap);
  if (pen != nullptr) deselect(pen);
  return TRUE;
}

// Wine's GDI and this one hand out cleared bitmaps, but the platform promises nothing of what a
// new bitmap holds: on request they hold leftovers, a pattern that is never black.
static void fillWithLeftovers(Bitmap& bitmap) {
  bitmap.pixels.resize(static_cast<std::size_t>(bitmap.width) * bitmap.height);
  if (!kinetiscan::standin::newBitmapsHoldLeftovers()) return;  // value-initialised: cleared
  for (std::size_t i = 0; i < bitmap.pixels.size(); ++i) {
    const auto word = static_cast<std::uint32_t>(0x9E3779B9u * (i + 1));
    bitmap.pixels[i] = bitmap.bitsPerPixel == 1 ? (word >> 31) : word;
  }
}

extern "C" HBITMAP CreateCompatibleBitmap(HDC handle, int width, int height) {
  Dc* dc = findDc(handle);
  if (dc == nullptr || width < 0 || height < 0) return nullptr;
  const int depth = dc->screen ? 32 : dc->bitmap->bitsPerPixel;
  if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(&defaultBitmap());
  // The platform refuses bitmaps beyond its limits; so does the stand-in, before allocating.
  if (static_cast<long long>(width) * height > (1LL << 28)) return nullptr;
  auto* bitmap = new (std::nothrow) Bitmap(width, height, depth);
  if (bitmap == nullptr) return nullptr;
  fillWithLeftovers(*bitmap);
  addObject(bitmap);
  return reinterpret_cast<HBITMAP>(bitmap);
}

// Only top-down 32 bpp BI_RGB sections exist here: the stand-in keeps a bitmap's rows top row
// first, so such a section's bits are the bitmap's own pixels.
extern "C" HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits,
                                    HANDLE section, DWORD) {
  if (bits != nullptr) *bits = nullptr;
  if (info == nullptr || bits == nullptr || usage != DIB_RGB_COLORS || section != nullptr) {
    return nullptr;
  }
  const BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biBitCount != 32 ||
      header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight >= 0 ||
      header.biHeight == static_cast<LONG>(0x80000000u)) {
    return nullptr;
  }
  const int width = header.biWidth, height = -header.biHeight;
  if (static_cast<long long>(width) * height > (1LL << 28)) return nullptr;
  auto* bitmap = new (std::nothrow) Bitmap(width, height, 32);
  if (bitmap == nullptr) return nullptr;
  fillWithLeftovers(*bitmap);
  addObject(bitmap);
  *bits = bitmap->pixels.data();
  return reinterpret_cast<HBITMAP>(bitmap);
}

// The stand-in draws at once; there is no batch to flush.
extern "C" BOOL GdiFlush() { return TRUE; }

extern "C" HGDIOBJ SelectObject(HDC handle, HGDIOBJ objectHandle) {
  Dc* dc = findDc(handle);
  Object* object = find(objectHandle);
  if (dc == nullptr || object == nullptr || object->deletePending) return nullptr;
  switch (object->type) {
    case Type::Bitmap: {
      auto* bitmap = static_cast<Bitmap*>(object);
      if (dc->screen) return nullptr;
      if (bitmap == dc->bitmap) return bitmap;
      if (!bitmap->stock && bitmap->holder != nullptr) return nullptr;  // one DC at a time
      Bitmap* previous = dc->bitmap;
      dc->bitmap = bitmap;
      select(*dc, bitmap);
      deselect(previous);
      return previous;
    }
    case Type::Pen: {
      Pen* previous = dc->pen;
      dc->pen = static_cast<Pen*>(object);
      select(*dc, object);
      deselect(previous);
      return previous;
    }
    case Type::Region:
      return reinterpret_cast<HGDIOBJ>(
          static_cast<std::intptr_t>(SelectClipRgn(handle, static_cast<HRGN>(objectHandle))));
    case Type::Dc:
      return nullptr;
  }
  return nullptr;
}

extern "C" BOOL DeleteObject(HGDIOBJ handle) {
  Object* object = find(handle);
  if (object == nullptr || object->type == Type::Dc) return FALSE;
  if (object->stock) return TRUE;
  object->deletePending = true;
  releaseSelection(object);
  return TRUE;
}

extern "C" HGDIOBJ GetStockObject(int index) {
  if (index < WHITE_PEN || index > NULL_PEN) return nullptr;
  return &stockPen(index);
}

extern "C" HGDIOBJ GetCurrentObject(HDC handle, UINT type) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return nullptr;
  if (type == OBJ_PEN) return dc->pen;
  if (type == OBJ_BITMAP) return dc->bitmap;
  return nullptr;
}

extern "C" DWORD GetObjectType(HGDIOBJ handle) {
  Object* object = find(handle);
  if (object == nullptr) return 0;
  switch (object->type) {
    case Type::Dc:
      return static_cast<Dc*>(object)->screen ? OBJ_DC : OBJ_MEMDC;
    case Type::Bitmap:
      return OBJ_BITMAP;
    case Type::Pen:
      return OBJ_PEN;
    case Type::Region:
      return OBJ_REGION;
  }
  return 0;
}

extern "C" int GetObjectA(HANDLE handle, int size, LPVOID out) {
  Bitmap* bitmap = findBitmap(handle);
  if (bitmap == nullptr) return 0;
  if (out == nullptr) return sizeof(BITMAP);
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  BITMAP record{};
  record.bmWidth = bitmap->width;
  record.bmHeight = bitmap->height;
  record.bmWidthBytes =
      bitmap->bitsPerPixel == 1 ? ((bitmap->width + 15) / 16) * 2 : bitmap->width * 4;
  record.bmPlanes = 1;
  record.bmBitsPixel = static_cast<WORD>(bitmap->bitsPerPixel);
  std::memcpy(out, &record, sizeof record);
  return sizeof(BITMAP);
}

extern "C" int GetDeviceCaps(HDC handle, int index) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return 0;
  switch (index) {
    case BITSPIXEL:
      return dc->screen || dc->bitmap == nullptr ? 32 : dc->bitmap->bitsPerPixel;
    case PLANES:
      return 1;
    case RASTERCAPS:
      return 0;
    case HORZRES:
      return kScreenWidth;
    case VERTRES:
      return kScreenHeight;
    default:
      return 0;
  }
}

extern "C" COLORREF SetTextColor(HDC handle, COLORREF colour) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return CLR_INVALID;
  const COLORREF previous = dc->textColour;
  dc->textColour = colour;
  return previous;
}

extern "C" COLORREF SetBkColor(HDC handle, COLORREF colour) {
  Dc* dc = findDc(handle);
  if (dc == nullptr) return CLR_INVALID;
  const COLORREF previous = dc->backgroundColour;
  dc->backgroundColour = colour;
  return previous;
}
