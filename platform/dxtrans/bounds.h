// Discrete bounds made from their axes or from a rectangle, and their width and height: one set
// for the surfaces, the transform base and the tests.
#pragma once

#include "dxtrans.h"

namespace velmora::dxbounds {

// Bounds on the four axes, maxima exclusive; z and t default to the one plane and instant.
inline DXBNDS Discrete(LONG x0, LONG x1, LONG y0, LONG y1, LONG z0 = 0, LONG z1 = 1, LONG t0 = 0,
                       LONG t1 = 1) {
    DXBNDS b{};
    b.eType = DXBT_DISCRETE;
    b.u.D[DXB_X] = {x0, x1};
    b.u.D[DXB_Y] = {y0, y1};
    b.u.D[DXB_Z] = {z0, z1};
    b.u.D[DXB_T] = {t0, t1};
    return b;
}

// The columns and rows of a rectangle: Discrete({left, top, right, bottom}).
inline DXBNDS Discrete(const RECT& r) {
    return Discrete(r.left, r.right, r.top, r.bottom);
}

inline LONG Width(const DXBNDS& b) {
    return b.u.D[DXB_X].Max - b.u.D[DXB_X].Min;
}
inline LONG Height(const DXBNDS& b) {
    return b.u.D[DXB_Y].Max - b.u.D[DXB_Y].Min;
}

} // namespace velmora::dxbounds
