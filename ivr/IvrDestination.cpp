#include "ivr/IvrDestination.h"

namespace tarvik {

std::string destinationKey(IvrDestination destination) {
    // The keys run without gaps in enumerator order, from "50001".
    int number = 50001 + static_cast<int>(destination);
    return std::to_string(number);
}

}  // namespace tarvik
