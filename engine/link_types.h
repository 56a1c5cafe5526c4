// Names of the link types capture files state (the common numbers their
// headers and interface descriptions carry), for messages and identify.
#pragma once
#include <cstdint>
#include <string>

namespace morph {

// The common name of a link type ("Linux cooked"), or nullptr when this
// table does not know it.
const char* LinkTypeName(uint32_t linkType);
// "link type 113 (Linux cooked)", or "link type 999" for one without a name.
std::string LinkTypeText(uint32_t linkType);

}  // namespace morph
