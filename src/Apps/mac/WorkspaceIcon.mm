#include "Apps/mac/WorkspaceIcon.h"

#include <cmath>

namespace tarvel {

IconImagePtr WorkspaceIcon::wrap(NSImage* image) {
    if (!image) return nullptr;
    return std::make_shared<WorkspaceIcon>(image);
}

std::optional<std::string> WorkspaceIcon::pngBase64(double side) const {
    // Every intermediate image and buffer goes with this pool, on every path and on any thread.
    @autoreleasepool {
        const NSInteger pixels = std::lround(side);
        if (pixels <= 0) return std::nullopt;
        // A bitmap of exactly side x side pixels, whatever the screens' scale: one point per pixel.
        // Drawing into a bitmap of its own, through a context that is current on this thread only,
        // is safe away from the main thread, which lockFocus on an image is not.
        NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithBitmapDataPlanes:nullptr
                                                                           pixelsWide:pixels
                                                                           pixelsHigh:pixels
                                                                        bitsPerSample:8
                                                                      samplesPerPixel:4
                                                                             hasAlpha:YES
                                                                             isPlanar:NO
                                                                       colorSpaceName:NSCalibratedRGBColorSpace
                                                                          bytesPerRow:0
                                                                         bitsPerPixel:0];
        if (!bitmap) return std::nullopt;
        bitmap.size = NSMakeSize(pixels, pixels);
        NSGraphicsContext* context = [NSGraphicsContext graphicsContextWithBitmapImageRep:bitmap];
        if (!context) return std::nullopt;

        [NSGraphicsContext saveGraphicsState];
        NSGraphicsContext.currentContext = context;
        context.imageInterpolation = NSImageInterpolationHigh;
        // The whole source (the empty rectangle), stretched, replacing every pixel of the bitmap.
        [image_ drawInRect:NSMakeRect(0, 0, pixels, pixels)
                  fromRect:NSZeroRect
                 operation:NSCompositingOperationCopy
                  fraction:1.0];
        [context flushGraphics];
        [NSGraphicsContext restoreGraphicsState];

        NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
        if (!png) return std::nullopt;
        NSString* base64 = [png base64EncodedStringWithOptions:0];
        return std::string(base64.UTF8String);
    }
}

} // namespace tarvel
