#include "Apps/mac/FoundationNameCollation.h"

#import <Foundation/Foundation.h>

namespace tarvel {

namespace {

NSString* text(std::string_view value) {
    return [[NSString alloc] initWithBytes:value.data() length:value.size() encoding:NSUTF8StringEncoding];
}

} // namespace

int FoundationNameCollation::compare(std::string_view a, std::string_view b) const {
    NSString* left = text(a);
    NSString* right = text(b);
    // Names that are not UTF-8 cannot reach the page as text; they keep their byte order.
    if (!left || !right) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    switch ([left localizedStandardCompare:right]) {
    case NSOrderedAscending: return -1;
    case NSOrderedSame: return 0;
    case NSOrderedDescending: return 1;
    }
    return 0;
}

} // namespace tarvel
