#include "Apps/PlatformInventory.h"

#include "Apps/AppInventory.h"
#include "Apps/mac/BundleAppCatalog.h"
#include "Apps/mac/FoundationNameCollation.h"
#include "Apps/mac/MainBundleIdentity.h"
#include "Apps/mac/WorkspaceRunningApplications.h"

namespace tarvel {

AppInventoryPayload collectPlatformInventory() {
    const MainBundleIdentity identity;
    const BundleAppCatalog catalog;
    const WorkspaceRunningApplications running;
    const FoundationNameCollation collation;
    return AppInventory::collect({catalog, running, collation, identity});
}

} // namespace tarvel
