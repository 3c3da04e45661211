// On Windows the window system is part of the session: the program's windows
// cannot lose their display while the session lasts, and the session's end
// comes as a request to quit (the end-of-session path), not as a broken
// connection. The handler is kept so that the program is the same on both
// platforms; onLost is never called.

#include "app/DisplayLossHandler.h"

DisplayLossHandler::DisplayLossHandler (std::function<void()> onLostToUse)
    : onLost (std::move (onLostToUse))
{
}

DisplayLossHandler::~DisplayLossHandler() = default;

void DisplayLossHandler::connectionLost() const
{
    if (onLost != nullptr)
        onLost();
}
