// Registry scripts: the text a module registers its classes with.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {clsid} = s 'Name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Both'
//               }
//           }
//       }
//   }
//
// Registering creates every key and value, deleting ForceRemove keys with all below them
// first. Unregistering deletes every named key with all below it, except NoRemove keys, whose
// children are still visited. %NAME% is replaced from the variables; %% stands for %.
#pragma once

#include <map>
#include <string>

#include "../system.h"

namespace velmora::com {

// The whole script is applied under one registry lock. A malformed script answers E_INVALIDARG
// and changes nothing; the reason is in registry::LastError().
HRESULT ApplyRegistryScript(const std::string& script, bool reg,
                            const std::map<std::string, std::string>& variables);

} // namespace velmora::com
