// Settings files: ".stg" is a compound file holding the stream "Contents" (IPersistStorage); any
// other name holds the 4-byte stream of IPersistStreamInit.
#pragma once

#include <string>

#include "api/velmora.h"

namespace velmora::host {

bool IsStorageFile(const std::string& path);
bool LoadSettings(IUnknown* effect, const std::string& path, std::string* error);
bool SaveSettings(IUnknown* effect, const std::string& path, std::string* error);

} // namespace velmora::host
