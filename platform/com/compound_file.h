// Structured storage on disk: an in-memory storage written to and read from an OLE2 compound
// file, so that saved settings open in any compound-file tool. Here through libgsf, on Windows
// through the system's compound files.
#pragma once

#include <string>

#include "memory.h"

#ifndef _WIN32
// The file is not a compound file (its header is not one).
constexpr HRESULT STG_E_INVALIDHEADER = MakeHResult(0x800300FB);
#endif

namespace velmora::com {

// Reads the compound file at path into a new in-memory storage, open for reading and writing:
// every storage (with its class id) and stream. STG_E_FILENOTFOUND when there is no such file,
// STG_E_INVALIDHEADER when it is not a compound file.
HRESULT LoadCompoundFile(const char* path, IStorage** storage);

// Writes every storage and stream of the storage to path as a compound file. The file is
// replaced atomically (temporary file beside it, fsync, rename): a failure leaves what was there.
HRESULT SaveCompoundFile(IStorage* storage, const char* path);

// Why the last call above failed on this thread, in one line, such as "x.stg: not a compound
// file"; empty after a success.
std::string CompoundFileError();

} // namespace velmora::com
