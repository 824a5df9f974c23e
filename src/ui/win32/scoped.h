#pragma once
// Owners of Win32 handles: each handle is released by exactly one object, on every way out.

#include <windows.h>

#include <utility>

namespace kelvad::ui::win32 {

// A GDI object (font, brush, bitmap) deleted with DeleteObject.
template <typename T>
class gdi_object {
  public:
    gdi_object() = default;
    explicit gdi_object(T handle) : handle_(handle) {}
    ~gdi_object() { reset(); }
    gdi_object(gdi_object&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    gdi_object& operator=(gdi_object&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    gdi_object(const gdi_object&) = delete;
    gdi_object& operator=(const gdi_object&) = delete;

    T get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(T handle = nullptr) {
        if (handle_ != nullptr) DeleteObject(handle_);
        handle_ = handle;
    }

  private:
    T handle_ = nullptr;
};

using unique_font = gdi_object<HFONT>;
using unique_bitmap = gdi_object<HBITMAP>;

// A device context of a window, released with ReleaseDC (null window: the screen).
class window_dc {
  public:
    explicit window_dc(HWND hwnd) : hwnd_(hwnd), hdc_(GetDC(hwnd)) {}
    ~window_dc() {
        if (hdc_ != nullptr) ReleaseDC(hwnd_, hdc_);
    }
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    HDC get() const { return hdc_; }

  private:
    HWND hwnd_;
    HDC hdc_;
};

// A memory device context, deleted with DeleteDC.
class memory_dc {
  public:
    explicit memory_dc(HDC compatible_with) : hdc_(CreateCompatibleDC(compatible_with)) {}
    ~memory_dc() {
        if (hdc_ != nullptr) DeleteDC(hdc_);
    }
    memory_dc(const memory_dc&) = delete;
    memory_dc& operator=(const memory_dc&) = delete;
    HDC get() const { return hdc_; }

  private:
    HDC hdc_;
};

// An object selected into a device context for the lifetime of this guard.
class selected_object {
  public:
    selected_object(HDC hdc, HGDIOBJ object)
        : hdc_(hdc), previous_(object != nullptr ? SelectObject(hdc, object) : nullptr) {}
    ~selected_object() {
        if (previous_ != nullptr) SelectObject(hdc_, previous_);
    }
    selected_object(const selected_object&) = delete;
    selected_object& operator=(const selected_object&) = delete;

  private:
    HDC hdc_;
    HGDIOBJ previous_;
};

}  // namespace kelvad::ui::win32
