# Cocoa services of the inventory: application bundles, running applications, icons, names, self.
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/BundleAppCatalog.mm
    ${CMAKE_CURRENT_LIST_DIR}/FoundationNameCollation.mm
    ${CMAKE_CURRENT_LIST_DIR}/MainBundleIdentity.mm
    ${CMAKE_CURRENT_LIST_DIR}/PlatformInventory.mm
    ${CMAKE_CURRENT_LIST_DIR}/WorkspaceIcon.mm
    ${CMAKE_CURRENT_LIST_DIR}/WorkspaceRunningApplications.mm
)
