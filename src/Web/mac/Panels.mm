#include "Web/mac/Panels.h"

#import <AppKit/AppKit.h>
#import <UniformTypeIdentifiers/UniformTypeIdentifiers.h>

#include <optional>

#include "Web/KeymapWebView.h"

namespace tarvel {

namespace {

NSString* text(std::string_view value) {
    return [[NSString alloc] initWithBytes:value.data() length:value.size() encoding:NSUTF8StringEncoding];
}

} // namespace

void Panels::runOpenPanel(WKOpenPanelParameters* parameters, void (^completion)(NSArray<NSURL*>*)) {
    NSOpenPanel* panel = [NSOpenPanel openPanel];
    panel.allowsMultipleSelection = parameters.allowsMultipleSelection;
    // Either folders or files, never both.
    panel.canChooseDirectories = parameters.allowsDirectories;
    panel.canChooseFiles = !parameters.allowsDirectories;
    // JSON only, whatever the page's input accepts.
    panel.allowedContentTypes = @[ UTTypeJSON ];
    [panel beginWithCompletionHandler:^(NSModalResponse result) {
        completion(result == NSModalResponseOK ? panel.URLs : nil);
    }];
}

void Panels::runAlert(NSString* message) {
    NSAlert* alert = [[NSAlert alloc] init];
    alert.messageText = message;
    [alert runModal];
}

bool Panels::runConfirm(NSString* message) {
    NSAlert* alert = [[NSAlert alloc] init];
    alert.messageText = message;
    [alert addButtonWithTitle:text(okLabel)];
    [alert addButtonWithTitle:text(cancelLabel)];  // also answers Escape
    return [alert runModal] == NSAlertFirstButtonReturn;
}

std::filesystem::path Panels::downloadFolder() {
    NSFileManager* files = [NSFileManager defaultManager];
    NSURL* downloads = [files URLsForDirectory:NSDownloadsDirectory inDomains:NSUserDomainMask].firstObject;
    std::optional<std::filesystem::path> platformDownloads;
    if (downloads) platformDownloads = std::filesystem::path(downloads.fileSystemRepresentation);
    return KeymapWebView::Coordinator::downloadsFolder(platformDownloads,
                                                        files.homeDirectoryForCurrentUser.fileSystemRepresentation);
}

NSURL* Panels::downloadDestination(NSString* suggestedFilename) {
    const char* name = suggestedFilename.UTF8String;
    const std::filesystem::path destination = KeymapWebView::Coordinator::uniqueDestination(name ? name : "", downloadFolder());
    return [NSURL fileURLWithFileSystemRepresentation:destination.c_str() isDirectory:NO relativeToURL:nil];
}

} // namespace tarvel
