// Rendering one frame: the region to produce, its place on the output surface, and its division
// into bands that run on the calling thread or on the task manager.
#include <algorithm>

#include "dxbase.h"

namespace bnds = velmora::dxbounds;

void CDXBaseNTo1::TaskProc(void* taskData, BOOL* continueFlag) {
    auto* work = static_cast<WorkInfo*>(taskData);
    work->result = work->transform->WorkProc(*work, continueFlag);
}

HRESULT CDXBaseNTo1::Execute(const GUID* requestId, const DXBNDS* clip, const DXVEC* placement) {
    ObjectLock lock(this);
    if (!m_Output.object)
        return DXTERR_UNINITIALIZED;

    if (m_ulMaxImageBands == 0 || IsMeshInput() || IsMeshOutput()) {
        if ((clip && !(m_dwMiscFlags & DXTMF_BOUNDS_SUPPORTED)) ||
            (placement && !(m_dwMiscFlags & DXTMF_PLACEMENT_SUPPORTED)))
            return E_INVALIDARG;
        return OnExecuteWhole(requestId, clip, placement);
    }

    WorkInfo templ{};
    templ.workBounds.eType = templ.outputBounds.eType = DXBT_DISCRETE;
    if ((clip && clip->eType != DXBT_DISCRETE) || (placement && placement->eType != DXBT_DISCRETE))
        return E_INVALIDARG;

    HRESULT hr = MapBoundsIn2Out(nullptr, 0, 0, &templ.workBounds);
    if (hr != S_OK)
        return hr;
    hr = OutputSurface()->GetBounds(&templ.outputBounds);
    if (hr != S_OK)
        return hr;

    // The clipped region's minimum corner lands at the placement, or at the surface's origin.
    if (clip && !bnds::Intersect(templ.workBounds, *clip))
        return S_FALSE;
    DXVEC v{};
    v.eType = DXBT_DISCRETE;
    for (int a = 0; a < 4; ++a)
        v.u.D[a] = templ.workBounds.u.D[a].Min - (placement ? placement->u.D[a] : 0);
    bnds::Offset(templ.outputBounds, v, +1);
    if (!bnds::Intersect(templ.workBounds, templ.outputBounds))
        return S_FALSE;
    templ.outputBounds = templ.workBounds;
    bnds::Offset(templ.outputBounds, v, -1);

    // One more piece per started 4096 pixels, up to the processors and the events there are.
    // Unsited, or on a site without a task manager, the pieces run here, one after another.
    ULONG pieces = m_cpTaskMgr ? std::max<ULONG>(m_ulNumProcessors, 1) : 1;
    if (pieces > 1) {
        const std::uint32_t area = static_cast<std::uint32_t>(bnds::Height(templ.outputBounds)) *
                                   static_cast<std::uint32_t>(bnds::Width(templ.outputBounds));
        pieces = std::min<ULONG>({pieces, m_ulMaxImageBands, area / 4096 + 1});
    }
    hr = OnInitWork(templ, pieces);
    if (FAILED(hr))
        return hr;
    const ULONG rows = static_cast<ULONG>(bnds::Height(templ.workBounds));
    // Within the events there are, and no band without a row.
    pieces = std::clamp<ULONG>(pieces, 1, std::min(m_ulMaxImageBands, kMaxPieces));
    pieces = std::min(pieces, rows);

    if (pieces == 1 && (!requestId || !m_cpTaskMgr)) {
        BOOL keepGoing = TRUE;
        hr = WorkProc(templ, &keepGoing);
    } else {
        WorkInfo work[kMaxPieces];
        DXTMTASKINFO tasks[kMaxPieces];
        DWORD taskIds[kMaxPieces];
        const LONG y0 = templ.workBounds.u.D[DXB_Y].Min, y1 = templ.workBounds.u.D[DXB_Y].Max;
        const LONG d = templ.outputBounds.u.D[DXB_Y].Min - y0;
        const LONG band = static_cast<LONG>(rows / pieces);
        for (ULONG i = 0; i < pieces; ++i) {
            work[i] = templ;
            work[i].transform = this;
            const LONG from = y0 + static_cast<LONG>(i) * band;
            const LONG to = i + 1 == pieces ? y1 : from + band;
            work[i].workBounds.u.D[DXB_Y] = {from, to};
            work[i].outputBounds.u.D[DXB_Y] = {from + d, to + d};
            tasks[i] = {&CDXBaseNTo1::TaskProc, &work[i], nullptr, 0, requestId};
        }
        if (m_cpTaskMgr) {
            hr = m_cpTaskMgr->ScheduleTasks(tasks, m_ahFinishedEvent, taskIds, pieces,
                                            m_ulTaskWaitPeriod);
        } else {
            for (ULONG i = 0; i < pieces; ++i) {
                BOOL keepGoing = TRUE;
                TaskProc(&work[i], &keepGoing);
            }
        }
        if (SUCCEEDED(hr)) {
            hr = S_OK;
            for (ULONG i = 0; i < pieces; ++i)
                if (work[i].result != S_OK) {
                    hr = work[i].result;
                    break;
                }
        }
    }
    OnFreeWork(templ);
    return hr;
}
