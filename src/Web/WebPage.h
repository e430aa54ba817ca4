#pragma once
#include <string>
#include <vector>

namespace tarvel {

// The page side of a web view: evaluates one script and ignores its result. The platform layer
// owns the object; the bridge only ever holds it weakly (std::weak_ptr), so an answer that is due
// after the view went away is dropped.
class WebPage {
public:
    virtual ~WebPage() = default;
    virtual void evaluateJavaScript(const std::string& script) = 0;
    // The address of the document the view shows now; empty when it shows none or cannot tell.
    virtual std::string documentURL() const { return {}; }
    // Several scripts in order, each on its own: an error in one does not keep the next from
    // running. An engine that can hand them over in one go overrides this.
    virtual void evaluateJavaScripts(const std::vector<std::string>& scripts) {
        for (const auto& script : scripts) evaluateJavaScript(script);
    }
};

} // namespace tarvel
