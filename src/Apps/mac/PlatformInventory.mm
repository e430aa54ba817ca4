#include "Apps/PlatformInventory.h"

#include "Apps/AppInventory.h"
#include "Apps/mac/BundleAppCatalog.h"
#include "Apps/mac/FoundationNameCollation.h"
#include "Apps/mac/MainBundleIdentity.h"
#include "Apps/mac/WorkspaceRunningApplications.h"

namespace tarvel {

// Called away from the main thread: every service below is safe there, and nothing here touches
// a view. The pool drains what the collection made once it is done.
AppInventoryPayload collectPlatformInventory() {
    @autoreleasepool {
        const MainBundleIdentity identity;
        const BundleAppCatalog catalog;
        const WorkspaceRunningApplications running;
        const FoundationNameCollation collation;
        return AppInventory::collect({catalog, running, collation, identity});
    }
}

} // namespace tarvel
