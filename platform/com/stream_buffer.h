// Internal: the bytes behind memory streams and storage streams.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "objidl.h"

namespace velmora::com {

struct StreamBuffer {
    std::mutex mutex;
    std::vector<BYTE> bytes;
    std::wstring name;     // element name inside a storage; empty for a free memory stream
    int openCount = 0;     // streams open on it (storage elements allow one at a time)
    bool reverted = false; // the element was destroyed while open
    FILETIME ctime{}, atime{}, mtime{};
};

// Makes a stream over the buffer. tracked: the stream counts itself in openCount.
HRESULT CreateStreamOnBuffer(std::shared_ptr<StreamBuffer> buffer, DWORD mode, bool tracked,
                             IStream** ppstm);

// Duplicates a task-allocated wide string; null on failure.
LPOLESTR TaskStrDup(const std::wstring& s);

FILETIME CurrentFileTime();

} // namespace velmora::com
