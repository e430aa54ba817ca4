#pragma once
#include <functional>

#include "Apps/AppRecord.h"

namespace tarvel {

// This platform's inventory as a closure for the bridge's worker thread. What only the main thread
// may read (the display's icon theme, the application's own identity) is read when this is called,
// on the main thread; the closure reads everything else afresh on each call, on its own thread,
// with objects of its own (a private icon theme, its own X connection).
std::function<AppInventoryPayload()> makeInventoryCollector();

} // namespace tarvel
