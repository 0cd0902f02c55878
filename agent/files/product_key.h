// RefreshFlag and NeedShow in the product's uninstall key: the control centre's switch for
// refresh-rate changes, and the agent's word on whether the panel has two rates to offer.
#pragma once

#include <cstdint>

// RefreshFlag as a 4-byte value; 0 when the key or value is missing or of another type.
uint32_t ReadRefreshFlag();
// Overwrites an existing NeedShow with 1 or 0; never creates it.
void WriteNeedShow(bool show);
