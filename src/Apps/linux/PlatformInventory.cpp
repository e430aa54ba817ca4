#include "Apps/PlatformInventory.h"

#include "Apps/AppInventory.h"
#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/DesktopIcons.h"
#include "Apps/linux/IcuNameCollation.h"
#include "Apps/linux/InventoryCollector.h"
#include "Apps/linux/ProcessIdentity.h"
#include "Apps/linux/X11RunningApplications.h"

namespace tarvel {

namespace {

// The identity read once on the main thread.
class FixedIdentity final : public OwnIdentity {
public:
    explicit FixedIdentity(const OwnIdentity& source)
        : bundleIdentifier_(source.bundleIdentifier()), executablePath_(source.executablePath()) {}
    std::optional<std::string> bundleIdentifier() const override { return bundleIdentifier_; }
    std::optional<std::filesystem::path> executablePath() const override { return executablePath_; }

private:
    std::optional<std::string> bundleIdentifier_;
    std::optional<std::filesystem::path> executablePath_;
};

} // namespace

std::function<AppInventoryPayload()> makeInventoryCollector() {
    return [theme = IconLookup::displaySettings(), identity = FixedIdentity(ProcessIdentity())] {
        const IconLookup icons(theme);
        const DesktopAppCatalog catalog(icons);
        const X11RunningApplications running(icons, identity.bundleIdentifier());
        const IcuNameCollation collation;
        return AppInventory::collect({catalog, running, collation, identity});
    };
}

AppInventoryPayload collectPlatformInventory() { return makeInventoryCollector()(); }

} // namespace tarvel
