#include "app/MainWindow.h"
#include "resources/AppIcon.h"
#include "ui/MainComponent.h"

namespace
{
const juce::String kInitialTitle { "TRB-Kelo7 update program" };
const juce::Colour kWindowBackground { 0xFFEAEAEA };
constexpr int kNoTitleBarButtons = 0;
constexpr int kContentWidth = 404;
constexpr int kContentHeight = 126;
// The window is centred with a one-pixel frame on every side of its content.
constexpr int kFrameAllowance = 2;
// The icon's size in the window's icon property: large enough for a window
// switcher on a high-density screen, which scales it down where it needs less.
constexpr int kWindowIconSize = 128;
// The framework's own title bar, drawn until the native one takes over.
constexpr int kTitleBarHeight = 26;

} // namespace

MainWindow::MainWindow (UpdateSession& session)
    : juce::DocumentWindow (kInitialTitle, kWindowBackground, kNoTitleBarButtons, true)
{
    mainComponent = new MainComponent (session);
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

int MainWindow::getOuterWidth() noexcept
{
    return kContentWidth + kFrameAllowance;
}

int MainWindow::getOuterHeight() noexcept
{
    return kContentHeight + kTitleBarHeight + kFrameAllowance;
}

juce::ComponentPeer* MainWindow::createNewPeer (int styleFlags, void* nativeWindowToAttachTo)
{
    auto* peer = juce::DocumentWindow::createNewPeer (styleFlags, nativeWindowToAttachTo);

    if (! icon.isValid())
        icon = renderAppIcon (kWindowIconSize);

    if (peer != nullptr && icon.isValid())
        peer->setIcon (icon);

    return peer;
}
