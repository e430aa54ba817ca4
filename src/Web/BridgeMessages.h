#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/Json.h"
#include "Web/KeymapWebView.h"

// The answers to the page's messages, one function per message; the coordinator's table routes
// to them and delivers what they return.
namespace tarvel::bridge {

using Services = KeymapWebView::Coordinator::Services;

// "tarvelApply": check, lint, back up and write; the outcome {"ok", "error" | "backupPath"}.
std::string applyAnswer(const Json& body, const Services& services);

// "tarvelApps": the inventory's JSON text, or "null" when it cannot be encoded.
std::string inventoryAnswer(const Services& services);

// "tarvelConfig": karabiner.json as the page shows it, with the backups beside it.
std::string configAnswer(const Services& services);

// "tarvelRestore": puts a backup back; the outcome as for an apply.
std::string restoreAnswer(const Json& body, const Services& services);

// "tarvelFetch": a rule document from the network, {"ok", "url", "document", "text"} (with
// "kind": "galleryIndex", the gallery's index: {"ok", "url", "index", "text"}) or a failure
// {"ok", "error", "code", "status"?}; fetchRefusal is the failure for a body refused at the door.
std::string fetchAnswer(const Json& body, const Services& services);
std::string fetchRefusal(std::string_view code, std::string_view text);

// The apply outcome's JSON text: "ok" always, "error" on failure, "backupPath" on success, never null;
// a failure the page can explain in the user's language also carries its "code", and a problem in
// karabiner.json's text its "line" and "column".
std::string outcomeText(bool ok, std::optional<std::string> error, std::optional<std::string> backupPath,
                        std::optional<std::string> code = std::nullopt,
                        std::optional<std::pair<std::size_t, std::size_t>> position = std::nullopt);

// Where karabiner.json is for these services.
std::filesystem::path configurationPath(const Services& services);

} // namespace tarvel::bridge
