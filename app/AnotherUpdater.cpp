#include "app/AnotherUpdater.h"

#include "log/PlatformAdvice.h"

juce::String anotherUpdaterMessage (const InstanceLock& lock, OtherUpdater how)
{
    juce::String who, problem, remedy;

    switch (how)
    {
        case OtherUpdater::doesNotAnswer:
            problem = "does not answer";
            remedy = "close that updater";
            break;
        case OtherUpdater::takesNoLaunches:
            // Busy, not hung: ending it would only interrupt its write.
            problem = "takes no launches (it runs in a terminal, or could not listen)";
            remedy = "let it finish or close it";
            break;
        case OtherUpdater::notAsked:
            problem = "is still running";
            remedy = "let it finish or close it";
            break;
    }

    if (const auto holder = lock.findHolder())
    {
        const juce::String pid (holder->processId);
        who = " (process " + pid + (holder->name.isNotEmpty() ? ", " + holder->name : juce::String()) + ")";

        if (holder->stopped)
        {
            problem = "is stopped";
            remedy = PlatformAdvice::resumeStopped (pid);
        }
        else if (how == OtherUpdater::doesNotAnswer)
        {
            remedy << PlatformAdvice::endHung (pid);
        }
    }

    return "another updater" + who + " holds " + lock.getLockName() + " but " + problem + "; " + remedy
           + ", then start this one again. Nothing was written.";
}
