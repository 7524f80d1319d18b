// Streams and storages in memory, for hosts and tests on every platform: the stand-in's own
// here, the system's memory stream and compound file over memory on Windows.
#pragma once

#include "../system.h"

// A memory stream as CreateStreamOnHGlobal gives one: growable, starting empty or with a copy of
// the given bytes, positioned at 0.
HRESULT CreateMemoryStream(IStream** ppstm);
HRESULT CreateMemoryStream(const void* data, SIZE_T size, IStream** ppstm);
// A fresh in-memory root storage, open for reading and writing.
HRESULT CreateMemoryStorage(IStorage** ppstg);
