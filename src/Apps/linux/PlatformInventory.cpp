#include "Apps/PlatformInventory.h"

#include "Apps/AppInventory.h"
#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/DesktopIcons.h"
#include "Apps/linux/IcuNameCollation.h"
#include "Apps/linux/ProcessIdentity.h"
#include "Apps/linux/X11RunningApplications.h"

namespace tarvel {

AppInventoryPayload collectPlatformInventory() {
    const ProcessIdentity identity;
    const IconLookup icons;
    const DesktopAppCatalog catalog(icons);
    const X11RunningApplications running(icons, identity.bundleIdentifier());
    const IcuNameCollation collation;
    return AppInventory::collect({catalog, running, collation, identity});
}

} // namespace tarvel
