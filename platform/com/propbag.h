// Property maps and the loader and saver that move them through a property bag, and a bag in
// memory.
#pragma once

#include "../system.h"

// An in-memory property bag: names compare without case; values are kept as written.
HRESULT CreateMemoryPropertyBag(IPropertyBag** ppbag);

namespace velmora::com {

// One entry of a class's property map. An entry without a name only names a property page and
// carries no data; the map ends with an entry that has neither name nor page.
struct PropertyMapEntry {
    const OLECHAR* name;
    VARTYPE vt;
    const CLSID* page;
    HRESULT (*get)(void* object, VARIANT* value);
    HRESULT (*put)(void* object, const VARIANT& value);
};

// Reads every data entry from the bag and hands it to the object. A property missing from the
// bag is skipped (as containers differ in how they say so); a refused value fails the load.
HRESULT LoadPropertyMap(IPropertyBag* bag, IErrorLog* log, const PropertyMapEntry* map,
                        void* object);
// Writes every data entry of the object to the bag.
HRESULT SavePropertyMap(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll,
                        const PropertyMapEntry* map, void* object);

} // namespace velmora::com
