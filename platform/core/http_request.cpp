// Where the core's HTTP comes from (platform/backend.h): a desktop backend
// sets it; in a file of its own so that a program or test can take it
// without the rest of the core.
#include "platform/backend.h"

namespace backend {

HttpFunction httpRequest = nullptr;

}  // namespace backend
