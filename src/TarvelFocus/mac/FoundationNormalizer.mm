#include "FoundationNormalizer.h"

#import <Foundation/Foundation.h>

namespace tarvel_focus::mac_platform {

std::optional<std::string> FoundationNormalizer::composed(const std::string& text) const {
    NSString* string = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
    if (!string) return std::nullopt;
    NSData* bytes = [string.precomposedStringWithCanonicalMapping dataUsingEncoding:NSUTF8StringEncoding];
    if (!bytes) return std::nullopt;
    return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

} // namespace tarvel_focus::mac_platform
