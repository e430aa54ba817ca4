#pragma once
#include <string>

namespace tarvel {

// The page side of a web view: evaluates one script and ignores its result. The platform layer
// owns the object; the bridge only ever holds it weakly (std::weak_ptr), so an answer that is due
// after the view went away is dropped.
class WebPage {
public:
    virtual ~WebPage() = default;
    virtual void evaluateJavaScript(const std::string& script) = 0;
};

} // namespace tarvel
