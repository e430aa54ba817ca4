#include "Karabiner/KarabinerWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <thread>

#include "Karabiner/KarabinerConfig.h"
#include "Karabiner/KarabinerEdit.h"
#include "Platform/FileDescriptor.h"
#include "Platform/FileIO.h"
#include "Platform/Sha256.h"
#include "Platform/Uuid.h"

namespace tarvel {

namespace fs = std::filesystem;
using jsonc::Span;
using Kind = KarabinerWriterError::Kind;

KarabinerWriterError KarabinerWriterError::configNotFound(fs::path configURL) { return {Kind::configNotFound, configURL.string()}; }
KarabinerWriterError KarabinerWriterError::backupFailed(Error underlying) { return {Kind::backupFailed, {}, std::move(underlying)}; }
KarabinerWriterError KarabinerWriterError::writeFailed(Error underlying) { return {Kind::writeFailed, {}, std::move(underlying)}; }
KarabinerWriterError KarabinerWriterError::of(Kind kind, std::string detail) { return {kind, std::move(detail)}; }
KarabinerWriterError KarabinerWriterError::inText(Kind kind, std::string what, std::size_t line, std::size_t column) {
    KarabinerWriterError error(kind, std::move(what));
    error.position_ = std::pair{line, column};
    return error;
}

std::string KarabinerWriterError::errorDescription() const {
    const std::string at =
        position_ ? " at line " + std::to_string(position_->first) + ", column " + std::to_string(position_->second) : "";
    switch (kind_) {
    case Kind::configNotFound: return "karabiner.json not found at " + detail_;
    case Kind::backupFailed: return "could not back up karabiner.json: " + underlying_.localizedDescription();
    case Kind::writeFailed: return "could not write karabiner.json: " + underlying_.localizedDescription();
    case Kind::notAnObject: return "karabiner.json is not a Karabiner-Elements configuration: its top level is not an object";
    case Kind::noProfiles: return "karabiner.json has no profiles";
    case Kind::syntax: return "karabiner.json is not valid JSON" + at + ": " + detail_;
    case Kind::trailingComma: return "karabiner.json has a trailing comma" + at + "; Karabiner-Elements does not accept it either";
    case Kind::numberOutOfRange: return "karabiner.json has a number out of range" + at;
    case Kind::tooDeep: return "karabiner.json is nested deeper than 256 levels" + at + "; Tarvel leaves it as it is";
    case Kind::readOnly: return "karabiner.json: the file is read-only; Tarvel leaves it as it is";
    case Kind::changed: return "karabiner.json changed since Tarvel read it; reload to see the change";
    case Kind::busy: return "another apply to karabiner.json did not finish within 10 seconds; try again";
    case Kind::noSuchProfile: return "karabiner.json has no profile " + detail_;
    case Kind::noSuchRule: return "the profile has no rule " + detail_;
    case Kind::noSuchDevice: return "the profile has no device " + detail_;
    case Kind::noSuchBackup: return "there is no backup named \"" + detail_ + "\" beside karabiner.json";
    }
    return {};
}

std::string_view KarabinerWriterError::code() const noexcept {
    switch (kind_) {
    case Kind::configNotFound: return "notFound";
    case Kind::backupFailed: return "backupFailed";
    case Kind::writeFailed: return "writeFailed";
    case Kind::notAnObject: return "notAnObject";
    case Kind::noProfiles: return "noProfiles";
    case Kind::syntax: return "syntax";
    case Kind::trailingComma: return "trailingComma";
    case Kind::numberOutOfRange: return "numberOutOfRange";
    case Kind::tooDeep: return "tooDeep";
    case Kind::readOnly: return "readOnly";
    case Kind::changed: return "changed";
    case Kind::busy: return "busy";
    case Kind::noSuchProfile: return "noSuchProfile";
    case Kind::noSuchRule: return "noSuchRule";
    case Kind::noSuchDevice: return "noSuchDevice";
    case Kind::noSuchBackup: return "noSuchBackup";
    }
    return {};
}

std::string localizedDescription(const KarabinerApplyError& error) {
    if (const auto* own = std::get_if<KarabinerWriterError>(&error)) return own->errorDescription();
    return std::get<Error>(error).localizedDescription();
}

std::optional<std::string> errorCode(const KarabinerApplyError& error) {
    if (const auto* own = std::get_if<KarabinerWriterError>(&error)) return std::string(own->code());
    switch (std::get<Error>(error).code) {
    case ENOENT: return "notFound";
    case EISDIR:
    case EINVAL: return "notRegularFile";
    case EFBIG: return "tooLarge";
    default: return std::nullopt;
    }
}

std::optional<std::pair<std::size_t, std::size_t>> errorPosition(const KarabinerApplyError& error) {
    if (const auto* own = std::get_if<KarabinerWriterError>(&error)) return own->position();
    return std::nullopt;
}

namespace {

// Local time, 24-hour clock: "yyyyMMdd-HHmmss".
std::string currentStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

constexpr std::string_view backupTemporaryPrefix = ".karabiner.backup-tarvel-";
constexpr auto lockTimeout = std::chrono::seconds(10);

// Applies from any process hold this while they read and write. The lock is on the folder's own
// descriptor, so no lock file is left in a folder that users keep in their dotfiles.
class FolderLock {
public:
    static Result<FolderLock, KarabinerWriterError> acquire(const fs::path& folder) {
        FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd) return unexpected(KarabinerWriterError::writeFailed(Error::fromErrno("could not open " + folder.string(), errno)));
        const auto deadline = std::chrono::steady_clock::now() + lockTimeout;
        while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK)
                return unexpected(KarabinerWriterError::writeFailed(Error::fromErrno("could not lock " + folder.string(), errno)));
            if (std::chrono::steady_clock::now() > deadline) return unexpected(KarabinerWriterError::of(Kind::busy));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return FolderLock(std::move(fd));
    }

private:
    explicit FolderLock(FileDescriptor fd) : fd_(std::move(fd)) {}
    FileDescriptor fd_;  // closing it releases the lock
};

// A backup made by linking is a second name of the file it saved; when nothing replaced that file,
// the backup would follow every later change made in place, so it goes.
void dropBackupIfShared(const fs::path& backupURL, const fs::path& configURL) {
    struct stat backup {}, config {};
    if (::stat(backupURL.c_str(), &backup) == 0 && ::stat(configURL.c_str(), &config) == 0 && backup.st_dev == config.st_dev &&
        backup.st_ino == config.st_ino)
        ::unlink(backupURL.c_str());
}

// Under the lock no other apply runs, so every temporary file of ours is a dead apply's, and so is
// a backup name that is still the live file (an apply killed between its backup and its rename: the
// apply never happened, and the name would follow every later change made in place).
void removeLeftovers(const fs::path& configURL, const fs::path& target) {
    std::string targetPrefix = ".";
    targetPrefix += target.filename().string();
    targetPrefix += ".tarvel-";
    auto sweep = [](const fs::path& folder, const std::function<bool(const std::string&)>& ours) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (ours(name)) ::unlink(it->path().c_str());
        }
    };
    sweep(configURL.parent_path(), [&](const std::string& name) { return name.starts_with(backupTemporaryPrefix); });
    struct stat config {};
    if (::stat(configURL.c_str(), &config) == 0 && config.st_nlink > 1) {
        std::error_code ec;
        for (fs::directory_iterator it(configURL.parent_path(), ec), end; !ec && it != end; it.increment(ec))
            if (KarabinerWriter::isBackupName(it->path().filename().string())) dropBackupIfShared(it->path(), configURL);
    }
    sweep(target.parent_path(), [&](const std::string& name) {
        return name.starts_with(targetPrefix) && name.size() == targetPrefix.size() + 6;
    });
}

// The identity of the file a path leads to (links followed).
std::optional<FileIdentity> identityOf(const fs::path& path) { return identityOfItem(resolvedLinkTarget(path)); }

// No write permission for anyone, or none for this user: the user meant the file to stay as it is.
bool isReadOnly(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

edit::Target members(std::vector<std::pair<std::string, edit::Target>> changed) {
    return {edit::Target::Kind::members, nullptr, std::move(changed), {}, {}};
}

// The whole file's change: only the profile's members named change.
edit::Target profileTarget(std::size_t profile, std::vector<std::pair<std::string, edit::Target>> changed) {
    edit::Target profiles{edit::Target::Kind::elements, nullptr, {}, {{profile, members(std::move(changed))}}, {}};
    return members({{"profiles", std::move(profiles)}});
}

Json ruleObject(const TarvelRule& rule) {
    Json object = {{"description", std::string(KarabinerWriter::ruleTitleMarker) + rule.description}, {"manipulators", rule.manipulators}};
    if (!rule.enabled) object["enabled"] = false;
    return object;
}

// What was read of karabiner.json: a backup made by copying must hold exactly these bytes, and a
// backup made by linking must be this file.
struct ReadState {
    FileIdentity identity;
    std::string_view bytes;
};

// A second name for `source`, "karabiner.backup-yyyyMMdd-HHmmss.json" in `folder` (then "-2",
// "-3", ... within one second); across file systems a complete copy (of `read`'s bytes when given)
// under a temporary name, on disk before it gets the backup's name. With `read`, a name that by
// then leads to another file means the file changed.
Result<fs::path, KarabinerWriterError> backupOf(const fs::path& source, const fs::path& folder, FileManager& fileManager,
                                                const ReadState* read) {
    const std::string stem = std::string(KarabinerWriter::backupPrefix) + currentStamp();
    auto nameFor = [&](int counter) { return folder / (counter == 1 ? stem + ".json" : stem + "-" + std::to_string(counter) + ".json"); };
    // A name taken within the same second (by an earlier apply, or another process) is never
    // replaced: it may hold the only copy of the rules from before that apply.
    auto linkToFreeName = [&](const fs::path& from) -> Result<fs::path, Error> {
        for (int counter = 1;; ++counter) {
            auto error = fileManager.linkItem(from, nameFor(counter));
            if (!error) return nameFor(counter);
            if (error->code != EEXIST || counter > 100000) return unexpected(*error);
        }
    };
    const auto changed = [] { return unexpected(KarabinerWriterError::of(Kind::changed)); };
    // The file itself becomes the backup: its bytes are already complete on disk, and the apply
    // then puts a new file in its place.
    auto linked = linkToFreeName(source);
    if (linked) {
        if (read && identityOfItem(*linked) != read->identity) {
            ::unlink(linked->c_str());
            return changed();
        }
        return *linked;
    }
    const int reason = linked.error().code;
    // Another program replacing the file at that moment.
    if (reason == ENOENT) return changed();
    if (reason != EXDEV && reason != EPERM && reason != ENOTSUP && reason != EOPNOTSUPP && reason != EMLINK)
        return unexpected(KarabinerWriterError::backupFailed(linked.error()));

    const fs::path temporary = folder / (std::string(backupTemporaryPrefix) + randomUUIDString());
    if (read) {
        struct stat st {};
        const mode_t mode = ::stat(source.c_str(), &st) == 0 ? st.st_mode & 07777 : 0600;
        if (auto error = writeNewFile(temporary, read->bytes, mode)) return unexpected(KarabinerWriterError::backupFailed(*error));
    } else if (auto error = fileManager.copyItem(source, temporary)) {
        return unexpected(KarabinerWriterError::backupFailed(*error));
    }
    auto copied = linkToFreeName(temporary);
    fileManager.removeItem(temporary);
    if (!copied) return unexpected(KarabinerWriterError::backupFailed(copied.error()));
    return *copied;
}

// What an apply and a restore share: the lock, the checks on the file as it is, and the
// replacement, which never loses a save another program makes meanwhile.
class Change {
public:
    using Failure = KarabinerApplyError;

    static Result<Change, Failure> begin(const fs::path& configURL, FileManager& fileManager) {
        if (!fileManager.fileExists(configURL)) return unexpected(Failure(KarabinerWriterError::configNotFound(configURL)));
        auto lock = FolderLock::acquire(configURL.parent_path());
        if (!lock) return unexpected(Failure(lock.error()));
        removeLeftovers(configURL, resolvedLinkTarget(configURL));
        if (isReadOnly(configURL)) return unexpected(Failure(KarabinerWriterError::of(Kind::readOnly)));
        // A link is followed; what is checked later is the file read, by its descriptor's identity.
        auto content = fileManager.readFile(configURL);
        if (!content) return unexpected(Failure(content.error()));
        return Change(std::move(*lock), configURL, fileManager, content->identity, std::move(content->bytes));
    }

    std::string& bytes() { return bytes_; }

    std::optional<Failure> checkDigest(const std::optional<std::string>& baseDigest) const {
        if (baseDigest && *baseDigest != KarabinerWriter::digest(bytes_)) return Failure(KarabinerWriterError::of(Kind::changed));
        return std::nullopt;
    }

    // `readBytes`: the bytes read (the apply has moved them on to be examined).
    Result<KarabinerApplyResult, Failure> commit(const std::vector<std::string_view>& newBytes, std::string_view readBytes) {
        const fs::path folder = configURL_.parent_path();
        const fs::path destination = resolvedLinkTarget(configURL_);
        const ReadState read{identity_, readBytes};
        auto backupURL = backupOf(configURL_, folder, fileManager_, &read);
        if (!backupURL) return unexpected(Failure(backupURL.error()));
        // Names in one folder become durable in the order they were made; across folders the
        // backup's name is made durable before the file it holds is replaced.
        std::error_code ec;
        const bool oneFolder = fs::equivalent(folder, destination.parent_path(), ec);
        if (!oneFolder) fileManager_.syncFolder(folder);

        auto outcome = [&]() -> Result<bool, Error> {
            auto file = PendingFile::create(destination, newBytes);
            if (!file) return unexpected(file.error());
            return replace(*file, destination);
        }();
        if (outcome && *outcome) {
            fileManager_.syncFolder(destination.parent_path());
            return KarabinerApplyResult{std::move(*backupURL)};
        }
        dropBackupIfShared(*backupURL, configURL_);
        if (!outcome) return unexpected(Failure(KarabinerWriterError::writeFailed(outcome.error())));
        return unexpected(Failure(KarabinerWriterError::of(Kind::changed)));
    }

private:
    Change(FolderLock lock, fs::path configURL, FileManager& fileManager, FileIdentity identity, std::string bytes)
        : lock_(std::move(lock)), configURL_(std::move(configURL)), fileManager_(fileManager), identity_(identity),
          bytes_(std::move(bytes)) {}

    // Puts the new file in place: true when done, false when the file was no longer the one read
    // (then another program's bytes are in place).
    //
    // The new file and the live one exchange names in one step, and only then is the file that
    // went out compared with the one read: another program's save, however late, is never
    // replaced unseen; it is exchanged back. Where the file system cannot exchange, a last check
    // and a rename remain.
    Result<bool, Error> replace(PendingFile& file, const fs::path& destination) {
        if (auto error = fileManager_.exchangeItems(file.path(), destination)) {
            if (!FileManager::exchangeIsUnsupported(*error)) return unexpected(*error);
            if (identityOf(configURL_) != identity_) return false;
            if (auto moved = fileManager_.moveItem(file.path(), destination)) return unexpected(*moved);
            file.placed();
            return true;
        }
        // From here on the pending file's name holds whatever went out.
        file.placed();
        const fs::path out = file.path();
        if (identityOfItem(out) == identity_) {
            ::unlink(out.c_str());  // the old file; its backup is another name for it, or a copy
            return true;
        }
        if (fileManager_.exchangeItems(out, destination)) {
            keepAside(out);  // ours stays in place; theirs is not lost
            return false;
        }
        // A save that came between the two exchanges took the place of ours: it is the newest, so it
        // goes back in place, and the one it would have replaced is kept as a backup.
        if (identityOfItem(out) != file.identity()) fileManager_.exchangeItems(out, destination);
        if (identityOfItem(out) == file.identity()) ::unlink(out.c_str());
        else keepAside(out);
        return false;
    }

    // Another program's version, out of place: it becomes a backup.
    void keepAside(const fs::path& path) {
        if (backupOf(path, configURL_.parent_path(), fileManager_, nullptr)) {
            ::unlink(path.c_str());
            fileManager_.syncFolder(configURL_.parent_path());
        }
    }

    FolderLock lock_;
    fs::path configURL_;
    FileManager& fileManager_;
    FileIdentity identity_;
    std::string bytes_;
};

} // namespace

std::string KarabinerWriter::ruleDescription(std::string_view title, std::optional<std::string_view> name) {
    std::string description(title);
    if (name) description.append(": ").append(*name);
    return description;
}

bool KarabinerWriter::isBackupName(std::string_view name) {
    // karabiner.backup-yyyyMMdd-HHmmss.json, or with "-N" before ".json"
    if (!name.starts_with(backupPrefix) || !name.ends_with(".json")) return false;
    std::string_view rest = name.substr(backupPrefix.size(), name.size() - backupPrefix.size() - 5);
    auto digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (rest.size() < 15 || !digits(rest.substr(0, 8)) || rest[8] != '-' || !digits(rest.substr(9, 6))) return false;
    rest.remove_prefix(15);
    return rest.empty() || (rest[0] == '-' && rest.size() <= 10 && digits(rest.substr(1)));
}

std::string KarabinerWriter::digest(std::string_view bytes) { return "sha256:" + sha256Hex(bytes); }

bool KarabinerWriter::isDigest(std::string_view text) {
    return text.size() == 7 + 64 && text.starts_with("sha256:") &&
           std::all_of(text.begin() + 7, text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

Result<fs::path, KarabinerWriterError> KarabinerWriter::backup(const fs::path& configURL, FileManager& fileManager) {
    return backupOf(configURL, configURL.parent_path(), fileManager, nullptr);
}

Result<KarabinerApplyResult, KarabinerApplyError> KarabinerWriter::apply(const KarabinerApplyRequest& request, const fs::path& configURL,
                                                                        FileManager& fileManager) {
    using Failure = KarabinerApplyError;
    auto change = Change::begin(configURL, fileManager);
    if (!change) return unexpected(change.error());
    if (auto failure = change->checkDigest(request.baseDigest)) return unexpected(*failure);

    auto config = examineConfiguration(std::move(change->bytes()));
    if (!config) return unexpected(Failure(config.error()));
    const std::size_t profile = request.profile.value_or(config->selected);
    if (profile >= config->profiles.size())
        return unexpected(Failure(KarabinerWriterError::of(Kind::noSuchProfile, std::to_string(profile))));
    const auto complex = config->complexModifications(profile);
    const auto& current = complex.ruleElements;
    const auto noSuchRule = [](std::size_t index) { return unexpected(Failure(KarabinerWriterError::of(Kind::noSuchRule, std::to_string(index)))); };

    // The rules array as a list: a rule as read (kept, or changed where it differs), or new.
    std::vector<Json> written;
    edit::Target rules{edit::Target::Kind::list, nullptr, {}, {}, {}};
    bool unchanged = false;
    if (request.ruleList) {
        for (const auto& entry : *request.ruleList) {
            if (entry.index && *entry.index >= current.size()) return noSuchRule(*entry.index);
            rules.list.push_back({entry.index, entry.rule ? &*entry.rule : nullptr});
        }
        // Every rule kept where it is: the rules are not touched (nor inserted where there are none).
        unchanged = rules.list.size() == current.size();
        for (std::size_t i = 0; unchanged && i < rules.list.size(); ++i) unchanged = rules.list[i].source == i && !rules.list[i].value;
    } else {
        // Tarvel's rules first, then the kept ones.
        for (const auto& rule : request.rules)
            if (!rule.manipulators.empty()) written.push_back(ruleObject(rule));
        for (const auto& rule : written) rules.list.push_back({std::nullopt, &rule});
        for (std::size_t index : request.keep) {
            if (index >= current.size()) return noSuchRule(index);
            rules.list.push_back({index, nullptr});
        }
    }

    std::vector<std::pair<std::string, edit::Target>> profileChanges, complexChanges;
    std::vector<std::pair<std::size_t, edit::Target>> deviceChanges;
    if (!unchanged) complexChanges.emplace_back("rules", std::move(rules));
    std::optional<std::vector<Span>> devices;
    for (const auto& value : request.values) {
        using ValueKind = ProfileValue::Kind;
        switch (value.kind) {
        case ValueKind::simpleModifications: profileChanges.emplace_back("simple_modifications", edit::Target::of(value.value)); break;
        case ValueKind::fnFunctionKeys: profileChanges.emplace_back("fn_function_keys", edit::Target::of(value.value)); break;
        case ValueKind::parameters: complexChanges.emplace_back("parameters", edit::Target::of(value.value)); break;
        case ValueKind::deviceSimpleModifications:
        case ValueKind::deviceFnFunctionKeys: {
            if (!devices) {
                const std::string_view text = config->text();
                auto member = jsonc::lastMember(text, config->profileMembers[profile], "devices");
                devices = member && text[member->value.begin] == '[' ? jsonc::elements(text, member->value.begin) : std::vector<Span>{};
            }
            if (value.device >= devices->size() || config->text()[(*devices)[value.device].begin] != '{')
                return unexpected(Failure(KarabinerWriterError::of(Kind::noSuchDevice, std::to_string(value.device))));
            auto device = std::find_if(deviceChanges.begin(), deviceChanges.end(), [&](const auto& d) { return d.first == value.device; });
            if (device == deviceChanges.end())
                device = deviceChanges.insert(deviceChanges.end(), std::pair<std::size_t, edit::Target>(value.device, members({})));
            device->second.members.emplace_back(value.kind == ValueKind::deviceSimpleModifications ? "simple_modifications" : "fn_function_keys",
                                                edit::Target::of(value.value));
            break;
        }
        }
    }
    if (!complexChanges.empty()) profileChanges.emplace_back("complex_modifications", members(std::move(complexChanges)));
    if (!deviceChanges.empty())
        profileChanges.emplace_back("devices", edit::Target{edit::Target::Kind::elements, nullptr, {}, std::move(deviceChanges), {}});

    edit::Pieces edited;
    try {
        edited = edit::rewrite(config->text(), config->facts, config->facts.top, profileTarget(profile, std::move(profileChanges)));
    } catch (const std::exception& e) {
        return unexpected(Failure(KarabinerWriterError::writeFailed(Error{e.what(), 0})));
    }
    return change->commit(edited.views(), config->text());
}

Result<KarabinerApplyResult, KarabinerApplyError> KarabinerWriter::apply(std::string_view title, const Json& manipulators,
                                                                        const fs::path& configURL, FileManager& fileManager) {
    KarabinerApplyRequest request;
    request.rules.push_back({std::string(title), true, manipulators});
    return apply(request, configURL, fileManager);
}

Result<KarabinerApplyResult, KarabinerApplyError> KarabinerWriter::restore(std::string_view name,
                                                                          const std::optional<std::string>& baseDigest,
                                                                          const fs::path& configURL, FileManager& fileManager) {
    using Failure = KarabinerApplyError;
    const auto noSuchBackup = [&] { return unexpected(Failure(KarabinerWriterError::of(Kind::noSuchBackup, std::string(name)))); };
    if (!isBackupName(name)) return noSuchBackup();
    auto change = Change::begin(configURL, fileManager);
    if (!change) return unexpected(change.error());
    if (auto failure = change->checkDigest(baseDigest)) return unexpected(*failure);

    // Only a plain file beside karabiner.json: never one a link leads to, even one swapped in for it
    // a moment ago; what is checked is the descriptor that is read.
    const fs::path backupURL = configURL.parent_path() / std::string(name);
    auto restored = fileManager.readFile(backupURL, {.followLinks = false});
    if (!restored) {
        const int reason = restored.error().code;
        if (reason == ENOENT || reason == ELOOP || reason == EMLINK || reason == EINVAL || reason == EISDIR) return noSuchBackup();
        return unexpected(Failure(restored.error()));
    }
    return change->commit({restored->bytes}, change->bytes());
}

} // namespace tarvel
