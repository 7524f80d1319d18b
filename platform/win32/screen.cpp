#include "screen.h"

#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

struct HDC__ {
    Display* display;
    Drawable drawable;
};

namespace {

// The byte of a pixel value under one colour mask, scaled to 0-255.
unsigned Channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    unsigned long value = (pixel & mask) >> shift;
    unsigned long max = mask >> shift;
    return static_cast<unsigned>((value * 255 + max / 2) / max);
}

} // namespace

HDC GetDC(HWND hwnd) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return nullptr;
    Drawable drawable = hwnd == nullptr
                            ? DefaultRootWindow(display)
                            : static_cast<Drawable>(reinterpret_cast<std::uintptr_t>(hwnd));
    return new HDC__{display, drawable};
}

int ReleaseDC(HWND, HDC hdc) {
    if (hdc == nullptr)
        return 0;
    XCloseDisplay(hdc->display);
    delete hdc;
    return 1;
}

BOOL GetCursorPos(LPPOINT point) {
    if (point == nullptr)
        return FALSE;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return FALSE;
    Window root = DefaultRootWindow(display), rootReturn, child;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    Bool found =
        XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask);
    XCloseDisplay(display);
    if (!found)
        return FALSE;
    point->x = rootX;
    point->y = rootY;
    return TRUE;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
    if (hdc == nullptr)
        return CLR_INVALID;
    // Xlib reports a read outside the drawable, or of an unmapped window, as an error; check first.
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(hdc->display, hdc->drawable, &attributes) ||
        attributes.map_state != IsViewable || x < 0 || y < 0 || x >= attributes.width ||
        y >= attributes.height)
        return CLR_INVALID;
    XImage* image = XGetImage(hdc->display, hdc->drawable, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return CLR_INVALID;
    unsigned long pixel = XGetPixel(image, 0, 0);
    const Visual* visual = attributes.visual;
    unsigned r = Channel(pixel, visual->red_mask);
    unsigned g = Channel(pixel, visual->green_mask);
    unsigned b = Channel(pixel, visual->blue_mask);
    XDestroyImage(image);
    return r | g << 8 | b << 16;
}
