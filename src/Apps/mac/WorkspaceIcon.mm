#include "Apps/mac/WorkspaceIcon.h"

namespace tarvel {

IconImagePtr WorkspaceIcon::wrap(NSImage* image) {
    if (!image) return nullptr;
    return std::make_shared<WorkspaceIcon>(image);
}

std::optional<std::string> WorkspaceIcon::pngBase64(double side) const {
    // Every intermediate image and buffer goes with this pool, on every path.
    @autoreleasepool {
        const NSSize size = NSMakeSize(side, side);
        NSImage* square = [[NSImage alloc] initWithSize:size];
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"  // the icon is drawn this way by design
        [square lockFocus];
#pragma clang diagnostic pop
        if (NSGraphicsContext* context = [NSGraphicsContext currentContext])
            context.imageInterpolation = NSImageInterpolationHigh;
        // The whole source (the empty rectangle), stretched, replacing the fresh image's pixels.
        [image_ drawInRect:NSMakeRect(0, 0, side, side)
                  fromRect:NSZeroRect
                 operation:NSCompositingOperationCopy
                  fraction:1.0];
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
        [square unlockFocus];
#pragma clang diagnostic pop

        NSData* tiff = square.TIFFRepresentation;
        if (!tiff) return std::nullopt;
        NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithData:tiff];
        if (!bitmap) return std::nullopt;
        NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
        if (!png) return std::nullopt;
        NSString* base64 = [png base64EncodedStringWithOptions:0];
        return std::string(base64.UTF8String);
    }
}

} // namespace tarvel
