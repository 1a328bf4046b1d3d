#pragma once
// The argument checks every queryInterface of this module starts with.

#include <cstring>

#include "pluginterfaces/base/funknown.h"

namespace Steinberg {

// Rejects a null result pointer or a null id, clears the result, and copies
// the queried id into `aligned` (declare it alignas(8)): hosts may pass the id
// in an unaligned buffer, and the interface comparisons read it as 64-bit
// words. Returns kResultOk when the query may go on.
inline tresult BeginInterfaceQuery(const TUID queriedIid, void** obj, TUID aligned)
{
  if (!obj)
    return kInvalidArgument;
  *obj = nullptr;
  if (!queriedIid)
    return kInvalidArgument;
  std::memcpy(aligned, queriedIid, sizeof(TUID));
  return kResultOk;
}

}  // namespace Steinberg
