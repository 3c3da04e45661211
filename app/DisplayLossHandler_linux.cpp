#include "app/DisplayLossHandler.h"

#include "session/ExitStatus.h"

#include <X11/Xlib.h>

#include <atomic>

#include <unistd.h>

namespace
{
// The one handler; set and cleared on the message thread, read in the X
// library's handler.
std::atomic<const DisplayLossHandler*> currentHandler { nullptr };
std::atomic<bool> handlingLoss { false };

extern "C" int onDisplayConnectionLost (Display*)
{
    // Ending the process may itself touch the dead connection.
    if (handlingLoss.exchange (true))
        ::_exit (EXIT_CANNOT_START);

    if (const auto* handler = currentHandler.load())
        handler->connectionLost();

    return 0;
}
} // namespace

DisplayLossHandler::DisplayLossHandler (std::function<void()> onLostToUse)
    : onLost (std::move (onLostToUse))
{
    jassert (currentHandler.load() == nullptr); // only one handler at a time
    currentHandler = this;
    previous = XSetIOErrorHandler (onDisplayConnectionLost);
}

DisplayLossHandler::~DisplayLossHandler()
{
    XSetIOErrorHandler (previous);
    currentHandler = nullptr;
}

void DisplayLossHandler::connectionLost() const
{
    if (onLost != nullptr)
        onLost();
}
