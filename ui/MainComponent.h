#pragma once

#include "session/UpdateSession.h"
#include "text/TxtLoader.h"
#include "ui/AlineButton.h"
#include "ui/LangLookAndFeel.h"
#include "ui/LanguageList.h"
#include "ui/ProgressLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <functional>
#include <memory>

/**
    The updater's one window content: it shows the screens of an update session
    (session/UpdateSession.h), drives its procedure with the user's presses and
    follows its events. What each ending shows comes from the session's outcome
    (session/Outcomes.h): after the last block the progress screen stays until the
    controller's word is known, then the completion screen, or the error screen of
    a write the controller did not take.

    With several TRB-Kelo7s connected and none chosen (--serial), the language
    screen is followed by the choice screen: the controllers (serial and port) in
    the language list's look, kept current while they come and go; the one chosen
    is the one the session's link holds from then on. Nothing is sent to any
    controller before the choice. A run that cannot go on before its first request
    (the controller named with --serial is not there, another process holds the
    controller's claim) shows its outcome with Close only.

    Threads: everything runs on the message thread; the procedure's worker is its
    own (update/UpdateProcedure.h), and its events arrive on the message thread.
*/
class MainComponent final : public juce::Component,
                            public juce::ComboBox::Listener,
                            public juce::Button::Listener,
                            private UpdateListener
{
public:
    /** Shows session, which must outlive the component. Message thread. */
    explicit MainComponent (UpdateSession& session);
    ~MainComponent() override;

    //==============================================================================
    // The user's actions, message thread.

    /** The main button on the language screen: lets the procedure search and check the
        update file and, with the controller connected, check the controller. Does
        nothing while the procedure's worker already runs. Failures end in the status. */
    void startCheck() { procedure.startCheck(); }

    /** What the language screen's main button leads to: the choice screen while several
        controllers wait for a choice; the end of the run, nothing sent, while the
        controller's claim is held elsewhere or the controller named with --serial is not
        there; otherwise the check (startCheck). Message thread. */
    void goOnFromLanguage();

    /** The choice screen's main button: the session takes the listed controller at index
        (nothing is sent to it before) and the check starts; a controller whose claim
        another process holds ends the run with nothing sent; one that has gone since it
        was listed leaves the choice screen up to date. Message thread. */
    void chooseController (int index);

    /** True while the choice screen shows. Message thread. */
    bool isChoosing() const noexcept { return choosing; }

    /** The controllers the choice screen lists, in its order. Message thread. */
    const std::vector<ConnectedController>& getListedControllers() const noexcept { return listed; }

    /** Where the main button looks for the update file: the executable's folder, the
        current folder and the download folder unless the program or a test says
        otherwise. Message thread, before the first press. */
    void setUpdateFilePlaces (std::vector<UpdateFilePlace> places) { procedure.setUpdateFilePlaces (std::move (places)); }

    /** Makes folder the only place the main button looks in (tests, tools). */
    void setUpdateFileFolder (const juce::File& folder) { procedure.setUpdateFileFolder (folder); }

    /** The main button on the ready screen ("Start"): lets the worker write the update.
        Does nothing in any other status. */
    void startUpdate() { procedure.startUpdate(); }

    /** Stops the procedure's worker (waking a pending wait at once) and asks the
        application to quit. */
    void closeApplication();

    //==============================================================================
    /** Rebuilds the screen for the current status: its text, the controls shown,
        their captions and places. An unchanged screen keeps its text layout.
        Message thread. */
    void updateDisplay();

    /** Takes the procedure's progress into the value the bar reads and rebuilds the
        screen: what a change of the procedure's status leads to. Message thread. */
    void refreshDisplay();

    /** The procedure's status. Any thread. */
    int32_t getStatus() const noexcept { return procedure.getStatus(); }

    /** What the program ends with now (the session's). Any thread; lock-free. */
    int getExitStatus() const noexcept { return session.getExitStatus(); }

    //==============================================================================
    // What the screens and the tests read: message thread.
    double getProgress() const noexcept { return progress; }
    SupportLog& getSupportLog() noexcept { return session.getSupportLog(); }
    UpdateProcedure& getProcedure() noexcept { return procedure; }
    UpdateSession& getSession() noexcept { return session; }

    // The controls, for the window's tests.
    juce::ComboBox& getLanguageBox() noexcept { return *languageBox; }
    juce::ComboBox& getControllerBox() noexcept { return *controllerBox; }
    juce::ProgressBar& getProgressBar() noexcept { return *progressBar; }
    AlineButton& getOkButton() noexcept { return *okButton; }
    AlineButton& getCancelButton() noexcept { return *cancelButton; }
    juce::GlyphArrangement& getTextLayout() noexcept { return textLayout; }

    //==============================================================================
    // What a screen reader hears: every control carries a title in the current
    // language, the component's description is the screen's text, and each new
    // screen's text is announced.

    /** Where each new screen's text goes to be announced: the platform's announcement
        (UI Automation on Windows) unless a test listens instead. Message thread. */
    using Announcer = std::function<void (const juce::String& text)>;
    void setAnnouncer (Announcer newAnnouncer) { announcer = std::move (newAnnouncer); }

    /** The screen's text as a screen reader reads it: its lines without the layout's
        spacing. Message thread. */
    juce::String getScreenText() const { return screenText; }

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

    //==============================================================================
    void paint (juce::Graphics& g) override;
    void resized() override;
    void parentHierarchyChanged() override;
    void buttonClicked (juce::Button* button) override;
    void comboBoxChanged (juce::ComboBox* box) override;

    // Colours of the window.
    static constexpr juce::uint32 kBackgroundColour = 0xFFEAEAEA;
    static constexpr juce::uint32 kTextColour = 0xFF000000;
    static constexpr juce::uint32 kBarColour = 0xFF080808;
    static constexpr juce::uint32 kMainRegionBarColour = 0xFFFA32C8;

private:
    //==============================================================================
    // The texts of one screen; at most one of heading+body, single and errorText is set.
    struct Screen
    {
        juce::String heading, body, single, errorText;
    };

    // What the text layout was last built from.
    struct DisplayKey
    {
        int32_t status = -1;
        int language = -1;
        int width = -1, height = -1;
        juce::String texts;
        juce::String title;

        bool operator== (const DisplayKey& other) const
        {
            return status == other.status && language == other.language && width == other.width
                   && height == other.height && texts == other.texts && title == other.title;
        }
        bool operator!= (const DisplayKey& other) const { return ! operator== (other); }
    };

    // The screens that show no step of the procedure: the choice between several
    // controllers, and a run that ended before its first request.
    static constexpr int32_t kChoiceScreen = -2;
    static constexpr int32_t kEndedScreen = -3;

    // The screens (ui/MainComponentScreens.cpp), the choice (ui/MainComponentChoice.cpp)
    // and their layout (ui/MainComponentLayout.cpp).
    bool hasEndedBeforeAnyRequest() const noexcept;
    void showChoice();
    void beginCheck();
    bool listControllers(); // true when the list changed
    juce::String rowsShown() const; // the list's rows, one a line
    void endBeforeAnyRequest (RunEnd end);
    int32_t shownStatus() const noexcept;
    bool isAwaitingConfirmation() const noexcept;
    Screen screenFor (int32_t statusValue) const;
    void layOutText (const Screen& screen, const juce::String& languageFont);
    void updateControls (int32_t statusValue, const juce::String& languageFont);
    void showButtons (const juce::String& okCaption, const juce::String& cancelCaption);
    void placeButtons();
    void giveDefaultFocus();
    void logScreen (int32_t statusValue, const Screen& screen);
    void updateAccessibility (const Screen& screen);

    // The procedure's events that change what the screen shows.
    void statusChanged (int32_t newStatus) override;
    void progressChanged (double newProgress) override;
    void regionWritten (int index, const UpdateRegion& region) override;

    // The window takes the keyboard focus itself when it becomes active, and
    // nothing repaints then: this hands it on to the screen's default button.
    struct FocusFollower final : public juce::FocusChangeListener
    {
        std::function<void()> onFocusChange;
        void globalFocusChanged (juce::Component*) override { onFocusChange(); }
    };

    //==============================================================================
    UpdateSession& session;
    UpdateProcedure& procedure { session.getProcedure() };
    FocusFollower focusFollower;
    juce::GlyphArrangement textLayout;
    DisplayKey laidOutKey;
    LangLookAndFeel langLookAndFeel;
    std::unique_ptr<LanguageList> languageBox;
    std::unique_ptr<LanguageList> controllerBox; // the choice screen's list, in the same look
    std::vector<ConnectedController> listed; // what controllerBox lists, in its order
    bool choosing = false; // the choice screen shows
    std::unique_ptr<ProgressLookAndFeel> progressLookAndFeel;
    double progress = 0.0; // what the progress bar reads
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<AlineButton> okButton, cancelButton;
    juce::String screenText; // what was last announced
    Announcer announcer = [] (const juce::String& text)
    { juce::AccessibilityHandler::postAnnouncement (text, juce::AccessibilityHandler::AnnouncementPriority::high); };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
