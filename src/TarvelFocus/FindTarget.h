#pragma once
#include "RunningApplications.h"

namespace tarvel_focus {

// The identifier that a Java runtime reports for every program it runs: it says nothing about which
// application it is, so it is never matched on its own.
inline constexpr const char* kJavaRuntimeIdentifier = "net.java.openjdk.java";

// Exact, case-sensitive equality under Unicode canonical equivalence.
bool canonicallyEqual(const Normalizer& normalizer, const std::string& a, const std::string& b);

// The regular running application to bring forward. A name match wins over an identifier match; with
// both given, the application matching both is preferred. An empty name counts as no name; an empty
// identifier still narrows the name match but never matches on its own.
std::shared_ptr<RunningApplication> findTarget(RunningApplications& applications, const Normalizer& normalizer,
                                               const std::optional<std::string>& name,
                                               const std::optional<std::string>& bundleId);

} // namespace tarvel_focus
