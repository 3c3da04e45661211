#include "app/MainWindow.h"

namespace
{
const juce::String kInitialTitle { "TRB-Kelo7 update program" };
const juce::Colour kWindowBackground { 0xFFEAEAEA };
constexpr int kNoTitleBarButtons = 0;
constexpr int kContentWidth = 404;
constexpr int kContentHeight = 126;
// The window is centred with a one-pixel frame on every side of its content.
constexpr int kFrameAllowance = 2;

// Temporary stand-in for the main component until it is part of the project:
// a plain area of the window's size and colour.
class StandInContent final : public juce::Component
{
public:
    void paint (juce::Graphics& g) override { g.fillAll (kWindowBackground); }
};

// The one place that decides what the window shows.
juce::Component* createMainContent()
{
    return new StandInContent();
}
} // namespace

MainWindow::MainWindow()
    : juce::DocumentWindow (kInitialTitle, kWindowBackground, kNoTitleBarButtons, true)
{
    mainComponent = createMainContent();
    mainComponent->setSize (kContentWidth, kContentHeight);
    setContentOwned (mainComponent, true);
    setResizable (false, false);

    // Read while the window still draws its own title bar (26 pixels), which
    // with the 404 x 126 content makes the window 406 x 154.
    centreWithSize (mainComponent->getWidth() + kFrameAllowance,
                    mainComponent->getHeight() + getTitleBarHeight() + kFrameAllowance);

    setAlwaysOnTop (true);
    // From here on the whole window is client area, and the look-and-feel
    // change this sends lays the content out again at the window's full size.
    setUsingNativeTitleBar (true);
    setVisible (true);
}

MainWindow::~MainWindow() = default;
