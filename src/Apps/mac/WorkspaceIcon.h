#pragma once
#import <AppKit/AppKit.h>

#include "Apps/AppInventory.h"

namespace tarvel {

// An application's icon as NSWorkspace or NSRunningApplication gives it, drawn only when a PNG is
// asked for: side x side pixels on any screen, from any thread.
class WorkspaceIcon final : public IconImage {
public:
    explicit WorkspaceIcon(NSImage* image) : image_(image) {}
    std::optional<std::string> pngBase64(double side) const override;

    // The image wrapped, or none for nil.
    static IconImagePtr wrap(NSImage* image);

private:
    NSImage* image_;
};

} // namespace tarvel
