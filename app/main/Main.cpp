#include <juce_gui_basics/juce_gui_basics.h>

// Placeholder application until the main window exists: it says what the demo
// will run and quits.
class DemoPlaceholderApplication final : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "TRBKelo7UpdateProgram"; }
    const juce::String getApplicationVersion() override { return "1.0.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        std::puts ("TRB-Kelo7 updater demo: the window is not built yet.");
        quit();
    }

    void shutdown() override { }
};

START_JUCE_APPLICATION (DemoPlaceholderApplication)
