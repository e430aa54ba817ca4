#include "Apps/PlatformInventory.h"

namespace tarvel {

// Placeholder until the Linux inventory services exist.
AppInventoryPayload collectPlatformInventory() { return {}; }

} // namespace tarvel
