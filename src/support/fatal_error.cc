#include "support/fatal_error.h"

namespace tolva {

void fatal(std::string_view message) { throw FatalError(std::string(message)); }

}  // namespace tolva
