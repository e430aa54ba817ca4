#include "Karabiner/KarabinerEnvironment.h"

namespace tarvel {

const std::string& KarabinerEnvironment::downloadURL() {
    static const std::string url = "https://karabiner-elements.pqrs.org/";
    return url;
}

} // namespace tarvel
