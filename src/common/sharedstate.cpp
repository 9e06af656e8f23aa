#include "sharedstate.h"

namespace framix {

SharedState& shared()
{
    static SharedState state;
    return state;
}

} // namespace framix
