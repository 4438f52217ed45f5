// Shared between the Windows backend's files: handle conversion and the GDI
// state behind a Bitmap.
#pragma once

// ui.hpp first: it names WM_DESTROY, WM_TIMER and WM_USER, which windows.h
// makes macros of the same values.
#include "ui/ui.hpp"

#include <windows.h>

namespace tovui {

// Window handles are 32-bit on PE32: a Handle is the HWND's value.
inline HWND Hwnd(Handle h) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(h)); }
inline Handle ToHandle(HWND w) { return static_cast<Handle>(reinterpret_cast<uintptr_t>(w)); }

// A memory device context with a 32-bit top-down DIB section selected into
// it, and the GDI pen and brush that match the bitmap's colours (made again
// when the colours change).
struct Bitmap::Gdi {
  HDC dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ first_bitmap = nullptr;  // the DC's own 1 x 1 bitmap, put back before the DIB goes
  uint32_t* bits = nullptr;        // 0x00RRGGBB words, row by row
  HPEN pen = nullptr;
  Color pen_color = 0;
  HBRUSH brush = nullptr;
  Color brush_color = 0;
};

}  // namespace tovui
