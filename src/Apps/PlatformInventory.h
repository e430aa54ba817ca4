#pragma once
#include "Apps/AppRecord.h"

namespace tarvel {

// The whole inventory from this platform's services: running, installed, shortcuts and helperPath,
// collected in that order. Implemented by the platform layer.
AppInventoryPayload collectPlatformInventory();

} // namespace tarvel
