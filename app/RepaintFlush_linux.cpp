#include "app/RepaintFlush.h"

// The X11 windowing paints on its own frame clock: nothing to flush here.
struct RepaintFlush::Flusher
{
};

RepaintFlush::RepaintFlush (juce::Component&) { }

RepaintFlush::~RepaintFlush() = default;

bool RepaintFlush::isNeeded()
{
    return false;
}

bool RepaintFlush::isActive() const noexcept
{
    return false;
}
