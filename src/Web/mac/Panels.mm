#include "Web/mac/Panels.h"

#import <AppKit/AppKit.h>
#import <UniformTypeIdentifiers/UniformTypeIdentifiers.h>

#include <cerrno>
#include <optional>

#include "Web/KeymapWebView.h"

namespace tarvel {

namespace {

NSString* text(std::string_view value) {
    return [[NSString alloc] initWithBytes:value.data() length:value.size() encoding:NSUTF8StringEncoding];
}

// A button title in the user's language, from the application's Panels table; the English title
// where there is none.
NSString* buttonTitle(std::string_view english) {
    NSString* key = text(english);
    return [[NSBundle mainBundle] localizedStringForKey:key value:key table:@"Panels"];
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
    [alert addButtonWithTitle:buttonTitle(okLabel)];  // the first answers Return
    // AppKit gives Escape only to a button titled "Cancel" in English: bound here whatever the title.
    NSButton* cancel = [alert addButtonWithTitle:buttonTitle(cancelLabel)];
    cancel.keyEquivalent = @"\033";
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

NSURL* Panels::downloadDestination(NSString* suggestedFilename, NSURL* folder) {
    const char* name = suggestedFilename.UTF8String;
    const std::filesystem::path destination = KeymapWebView::Coordinator::uniqueDestination(
        name ? name : "", folder ? std::filesystem::path(folder.fileSystemRepresentation) : downloadFolder());
    return [NSURL fileURLWithFileSystemRepresentation:destination.c_str() isDirectory:NO relativeToURL:nil];
}

void Panels::showDownloadFailure(NSURL* destination, NSError* error, NSWindow* window) {
    NSAlert* alert = [[NSAlert alloc] init];
    alert.alertStyle = NSAlertStyleWarning;
    alert.messageText = text(downloadFailedTitle);
    NSMutableArray<NSString*>* details = [NSMutableArray array];
    if (destination.path) [details addObject:destination.path];
    if (error.localizedDescription) [details addObject:error.localizedDescription];
    // Downloads is a protected folder: a refusal there is the likely cause, and one the user can lift.
    const bool refused = ([error.domain isEqualToString:NSCocoaErrorDomain] &&
                          (error.code == NSFileWriteNoPermissionError || error.code == NSFileReadNoPermissionError)) ||
                         ([error.domain isEqualToString:NSPOSIXErrorDomain] && (error.code == EPERM || error.code == EACCES));
    if (refused) [details addObject:text(downloadsPermissionHint)];
    alert.informativeText = [details componentsJoinedByString:@"\n\n"];
    if (window)
        [alert beginSheetModalForWindow:window completionHandler:nil];
    else
        [alert runModal];
}

} // namespace tarvel
