#include "device/simulated/SimulatedController.h"
#include "session/ExitStatus.h"
#include "tests/GuiTestSupport.h"
#include "tests/MessageLoop.h"
#include "tools/UpdateImageBuilder.h"
#include "ui/MainComponent.h"

#include <gtest/gtest.h>

#include <set>

namespace
{
// Generous for a sanitizer build on a busy machine; a wait ends at its event.
constexpr int kWaitMs = 60000;
const juce::Rectangle<int> kRightSlot { 286, 114, 100, 20 };
const juce::Rectangle<int> kLeftSlot { 176, 114, 100, 20 };
const juce::Rectangle<int> kControlPlace { 20, 74, 366, 20 };

// Waits as long as the controller keeps receiving requests (a whole update takes
// what it takes on a slow machine), and gives up when it has heard nothing for kWaitMs.
bool runUntil (const std::function<bool()>& condition)
{
    return testing_support::runWhileProgressing (
        condition, []
        { return (int64_t) SimulatedController::instance().callCount (SimulatedController::Function::write); },
        kWaitMs);
}

// The text the screen shows, read back from its laid-out glyphs.
juce::String shownText (MainComponent& component)
{
    juce::String text;
    auto& layout = component.getTextLayout();

    for (int i = 0; i < layout.getNumGlyphs(); ++i)
        text << juce::String::charToString (layout.getGlyph (i).getCharacter());

    return text;
}

// A main component of the window's size on the simulated controller, with an
// update file of its own.
struct Screens
{
    explicit Screens (const SimulatedScenario& scenario = {}, const std::string& fileVersion = "1.05", const juce::String& serial = {})
    {
        folder.createDirectory();
        const auto image = makeUpdateImage (fileVersion, 0x20261209, 3);
        folder.getChildFile ("trbkelo7__v105.bin").replaceWithData (image.data(), image.size());

        SimulatedController::instance().reset (scenario);
        session = std::make_unique<UpdateSession> ([this] (const juce::String& line)
                                                   { logLines.add (line); },
                                                   false,
                                                   serial);
        component = std::make_unique<MainComponent> (*session);
        component->setUpdateFileFolder (folder);
        component->setSize (406, 154);
    }

    ~Screens()
    {
        component.reset();
        session.reset();
        SimulatedController::instance().waitUntilIdle (1000);
        folder.deleteRecursively();
    }

    void refresh() { component->refreshDisplay(); }

    void pressOk() { component->buttonClicked (&component->getOkButton()); }

    bool reachReady()
    {
        pressOk();
        return runUntil ([this]
                         { return component->getStatus() != ST_INITIAL; })
               && component->getStatus() == ST_READY;
    }

    bool visibleOnly (std::initializer_list<juce::Component*> shown)
    {
        for (auto* c : { (juce::Component*) &component->getLanguageBox(), (juce::Component*) &component->getControllerBox(),
                         (juce::Component*) &component->getProgressBar(),
                         (juce::Component*) &component->getOkButton(), (juce::Component*) &component->getCancelButton() })
            if (c->isVisible() != (std::find (shown.begin(), shown.end(), c) != shown.end()))
                return false;

        return true;
    }

    // The run's outcome settled (the support log's result line written).
    bool settled() const { return session->getOutcome() != nullptr; }

    juce::File folder = juce::File::createTempFile ("trb-screens");
    juce::StringArray logLines;
    std::unique_ptr<UpdateSession> session;
    std::unique_ptr<MainComponent> component;
};
} // namespace

TEST (MainComponent, TheLanguageScreenShowsHeadingBodyChooserAndBothButtonsInTheirPlaces)
{
    Screens screens;
    auto& c = *screens.component;

    EXPECT_TRUE (screens.visibleOnly ({ &c.getLanguageBox(), &c.getOkButton(), &c.getCancelButton() }));
    EXPECT_EQ (c.getLanguageBox().getBounds(), kControlPlace);
    EXPECT_EQ (c.getOkButton().getBounds(), kRightSlot);
    EXPECT_EQ (c.getCancelButton().getBounds(), kLeftSlot);
    EXPECT_EQ (c.getOkButton().getButtonText(), "OK");
    EXPECT_EQ (c.getCancelButton().getButtonText(), "Cancel");

    auto& layout = c.getTextLayout();
    ASSERT_GT (layout.getNumGlyphs(), 0);
    EXPECT_NEAR (layout.getGlyph (0).getLeft(), 20.0f, 1.0f);
    EXPECT_TRUE (shownText (c).startsWith ("Language Selections"));
    EXPECT_TRUE (shownText (c).contains ("Please select a language."));

    // The body is indented, after one empty line.
    int bodyStart = -1;
    for (int i = 0; i + 1 < layout.getNumGlyphs() && bodyStart < 0; ++i)
        if (layout.getGlyph (i).getCharacter() == 'P' && layout.getGlyph (i + 1).getCharacter() == 'l')
            bodyStart = i;

    ASSERT_GT (bodyStart, 0) << shownText (c);
    EXPECT_NEAR (layout.getGlyph (bodyStart).getLeft(), 40.0f, 1.0f);
    EXPECT_NEAR (layout.getGlyph (bodyStart).getBaselineY(), layout.getGlyph (0).getBaselineY() + 2 * 13.0f, 1.0f);
}

TEST (MainComponent, TheListHoldsTheAvailableLanguagesWithTheirIndexPlusOneAndSelectsTheCurrentOne)
{
    Screens screens;
    auto& box = screens.component->getLanguageBox();
    auto* catalogue = TxtLoader::getInstance();

    for (int i = 0; i < box.getNumItems(); ++i)
    {
        const auto index = box.getItemId (i) - 1;
        EXPECT_TRUE (catalogue->isLanguageAvailable (index));
        EXPECT_EQ (box.getItemText (i), catalogue->getLanguageName (index));
    }

    EXPECT_EQ (box.getSelectedId(), catalogue->getLanguage() + 1);
}

TEST (MainComponent, ChoosingAnotherLanguageChangesTextsAndCaptionsAtOnce)
{
    Screens screens;
    auto& c = *screens.component;
    auto& box = c.getLanguageBox();

    box.setSelectedId (2, juce::dontSendNotification); // French
    c.comboBoxChanged (&box);

    EXPECT_EQ (TxtLoader::getInstance()->getLanguage(), 1);
    EXPECT_TRUE (shownText (c).startsWith (TxtLoader::getInstance()->getText (TXT_LANGUAGE_TITLE)));
    EXPECT_EQ (c.getCancelButton().getButtonText(), TxtLoader::getInstance()->getText (TXT_CANCEL));
}

TEST (MainComponent, EveryErrorShowsItsMessageIdentifierAndOnlyCloseAtTheRightSlot)
{
    struct Case
    {
        int32_t status;
        const char* message;
        const char* identifier;
    };

    const Case cases[] = {
        { ERR_NOT_CONNECTED, "Your TRB-Kelo7 is not connected.", "0x0E21" },
        { ERR_FILE_NOT_FOUND, "There is an error in the update file.", "0x0E01" },
        { ERR_FILE_CRC, "There is an error in the update file.", "0x0E05" },
        { ERR_DEVICE_INFO, "An error has occurred.", "0x0E11" },
        { ERR_DEVICE_REMOVED, "An error has occurred.", "0x0E37" },
        { ERR_PROTOCOL, "An error has occurred.", "0x0E41" },
        { ERR_NOT_TAKEN, "An error has occurred.", "0x0E38" },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.identifier);
        Screens screens;
        auto& c = *screens.component;
        c.getProcedure().setStatus (test.status);
        screens.refresh();

        EXPECT_TRUE (screens.visibleOnly ({ &c.getCancelButton() }));
        EXPECT_EQ (c.getCancelButton().getBounds(), kRightSlot);
        EXPECT_EQ (c.getCancelButton().getButtonText(), "Close");

        const auto text = shownText (c);
        EXPECT_TRUE (text.startsWith (test.message)) << text;
        EXPECT_TRUE (text.endsWith (juce::String ("Error ID:    ") + test.identifier)) << text;
        EXPECT_GE (c.getTextLayout().getGlyph (0).getLeft(), 105.0f);
    }
}

TEST (MainComponent, TheReadyScreenShowsBothVersionsWithStartRightOfClose)
{
    Screens screens;
    auto& c = *screens.component;
    ASSERT_TRUE (screens.reachReady());
    screens.refresh();

    const auto text = shownText (c);
    EXPECT_TRUE (text.startsWith ("Updates the version of your TRB-Kelo7 firmware.")) << text;
    EXPECT_TRUE (text.contains ("Current Version: Ver. 1.00")) << text;
    EXPECT_TRUE (text.contains ("Update Version: Ver. 1.05")) << text;
    EXPECT_TRUE (screens.visibleOnly ({ &c.getOkButton(), &c.getCancelButton() }));
    EXPECT_EQ (c.getOkButton().getButtonText(), "Start");
    EXPECT_EQ (c.getCancelButton().getButtonText(), "Close");
    EXPECT_EQ (c.getOkButton().getBounds(), kRightSlot);
    EXPECT_EQ (c.getCancelButton().getBounds(), kLeftSlot);
}

TEST (MainComponent, TheProgressScreenShowsOnlyTheBarInTheMainRegionsColour)
{
    SimulatedScenario scenario;
    scenario.busyCount = -1; // the first block stays in the poll step
    Screens screens (scenario);
    auto& c = *screens.component;
    ASSERT_TRUE (screens.reachReady());

    c.buttonClicked (&c.getOkButton());
    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() == ST_BLOCK_WAIT; }));
    screens.refresh();

    EXPECT_TRUE (screens.visibleOnly ({ &c.getProgressBar() }));
    EXPECT_EQ (c.getProgressBar().getBounds(), kControlPlace);
    EXPECT_EQ (c.getProgressBar().findColour (juce::ProgressBar::backgroundColourId), juce::Colour (MainComponent::kMainRegionBarColour));
    EXPECT_TRUE (shownText (c).startsWith ("Updating your TRB-Kelo7 firmware.")) << shownText (c);
    EXPECT_GT (c.getProgress(), 0.0);

    // Pressing the hidden buttons' keys cannot end the program mid-write.
    c.buttonClicked (&c.getOkButton());
    EXPECT_TRUE (c.getProcedure().isWorkerRunning());
}

TEST (MainComponent, TheCompletionScreenShowsOnlyOkAndItsPressEndsTheProgram)
{
    Screens screens;
    auto& c = *screens.component;
    ASSERT_TRUE (screens.reachReady());

    c.buttonClicked (&c.getOkButton());
    ASSERT_TRUE (runUntil ([&c]
                           { return ! c.getProcedure().isWorkerRunning(); }));
    screens.refresh();

    EXPECT_EQ (c.getStatus(), ST_COMPLETE);
    EXPECT_TRUE (screens.visibleOnly ({ &c.getOkButton() }));
    EXPECT_EQ (c.getOkButton().getBounds(), kRightSlot);
    EXPECT_EQ (c.getOkButton().getButtonText(), "OK");
    EXPECT_DOUBLE_EQ (c.getProgress(), 1.0);
    EXPECT_NEAR (c.getTextLayout().getGlyph (0).getLeft(), 20.0f, 1.0f);
}

TEST (MainComponent, AfterTheLastBlockTheProgressScreenStaysUntilTheControllersWordThenShowsItsOutcome)
{
    // The controller comes back with the update, does not come back, or comes back
    // with its old firmware: complete, complete, and an error screen of its own.
    const struct
    {
        const char* name;
        bool gone, unchanged;
        int32_t shown;
        int exitStatus;
    } cases[] = {
        { "confirmed", false, false, ST_COMPLETE, EXIT_UPDATED },
        { "no answer", true, false, ST_COMPLETE, EXIT_UPDATED },
        { "not taken", false, true, ERR_NOT_TAKEN, EXIT_NOT_TAKEN },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        SimulatedScenario scenario;
        scenario.goneAfterFinish = test.gone;
        scenario.unchangedAfterFinish = test.unchanged;
        Screens screens (scenario);
        auto& c = *screens.component;
        // A controller that stays away is waited for briefly; one that comes back, in full.
        if (test.gone)
            c.getProcedure().setConfirmWaitMs (200);
        ASSERT_TRUE (screens.reachReady());
        c.buttonClicked (&c.getOkButton());

        // Written, the controller restarting: the bar full, its text, no button; OK
        // (its key) cannot end the run yet.
        ASSERT_TRUE (runUntil ([&c]
                               { return c.getStatus() == ST_COMPLETE; }));
        if (! screens.settled())
        {
            screens.refresh();
            EXPECT_TRUE (screens.visibleOnly ({ &c.getProgressBar() }));
            EXPECT_TRUE (shownText (c).startsWith ("Updating your TRB-Kelo7 firmware.")) << shownText (c);
            EXPECT_DOUBLE_EQ (c.getProgress(), 1.0);
            c.buttonClicked (&c.getOkButton());
            EXPECT_FALSE (screens.settled());
        }

        ASSERT_TRUE (testing_support::runWhileProgressing ([&screens]
                                                           { return screens.settled(); },
                                                           []
                                                           { return (int64_t) 0; },
                                                           kWaitMs));
        screens.refresh();
        EXPECT_EQ (c.getExitStatus(), test.exitStatus);

        if (test.shown == ST_COMPLETE)
        {
            EXPECT_TRUE (screens.visibleOnly ({ &c.getOkButton() }));
            EXPECT_TRUE (shownText (c).contains ("is now complete")) << shownText (c);
        }
        else
        {
            EXPECT_TRUE (screens.visibleOnly ({ &c.getCancelButton() }));
            EXPECT_FALSE (shownText (c).contains ("complete")) << shownText (c);
            EXPECT_TRUE (shownText (c).endsWith ("Error ID:    0x0E38")) << shownText (c);
        }

        // The controller's word, then the result, last.
        EXPECT_TRUE (screens.logLines[screens.logLines.size() - 1].startsWith ("result: ")) << screens.logLines.joinIntoString ("\n");
    }
}

TEST (MainComponent, QuittingWhileTheControllersWordIsAwaitedEndsAsWrittenNotConfirmed)
{
    SimulatedScenario scenario;
    scenario.goneAfterFinish = true;
    Screens screens (scenario);
    auto& c = *screens.component;
    ASSERT_TRUE (screens.reachReady());
    c.buttonClicked (&c.getOkButton());
    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() == ST_COMPLETE; }));
    ASSERT_FALSE (screens.settled());

    // The progress screen, full, without a button; OK's key does not end the run.
    screens.refresh();
    EXPECT_TRUE (screens.visibleOnly ({ &c.getProgressBar() }));
    c.buttonClicked (&c.getOkButton());
    EXPECT_TRUE (c.getProcedure().isWorkerRunning()) << "still waiting for the controller's word";
    EXPECT_FALSE (screens.settled());

    // What the application does when the window is closed or SIGTERM comes.
    const auto& outcome = screens.session->endNow();
    EXPECT_EQ (outcome.end, RunEnd::notConfirmed);
    EXPECT_EQ (c.getExitStatus(), EXIT_UPDATED);
    EXPECT_TRUE (screens.logLines.contains ("result: written, not confirmed (the controller did not answer)"))
        << screens.logLines.joinIntoString ("\n");
}

TEST (MainComponent, ASecondOkDuringTheControllerCheckTouchesNothing)
{
    SimulatedScenario scenario;
    scenario.faults.push_back ({ ControllerModel::RequestKind::statusQuery, 1, ControllerModel::ScriptedFault::Action::lateReply, 0, 0, 300 });
    Screens screens (scenario);
    auto& c = *screens.component;

    screens.pressOk();
    ASSERT_TRUE (c.getProcedure().isWorkerRunning());
    ASSERT_EQ (c.getStatus(), ST_INITIAL);

    // The file vanishing now would make a repeated search fail: the press must not search.
    screens.folder.deleteRecursively();
    screens.pressOk();

    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() != ST_INITIAL; }));
    EXPECT_EQ (c.getStatus(), ST_READY);
    EXPECT_EQ (c.getProcedure().getFileState(), FILE_READY);
}

TEST (MainComponent, CloseStopsTheWorkerInEveryStatusItCanBePressedIn)
{
    // Language screen during the check, ready screen, and an error screen.
    {
        SimulatedScenario scenario;
        scenario.faults.push_back ({ ControllerModel::RequestKind::statusQuery, 1, ControllerModel::ScriptedFault::Action::noReply, 0, 0, 0 });
        Screens screens (scenario);
        auto& c = *screens.component;
        screens.pressOk();
        ASSERT_TRUE (c.getProcedure().isWorkerRunning());
        c.buttonClicked (&c.getCancelButton());
        EXPECT_FALSE (c.getProcedure().isWorkerRunning());
    }
    {
        Screens screens;
        auto& c = *screens.component;
        ASSERT_TRUE (screens.reachReady());
        c.buttonClicked (&c.getCancelButton());
        EXPECT_FALSE (c.getProcedure().isWorkerRunning());
        EXPECT_EQ (c.getStatus(), ST_READY);
    }
}

TEST (MainComponent, DestroyingTheComponentMidUpdateStopsTheWorkerFirst)
{
    SimulatedScenario scenario;
    scenario.busyCount = -1;
    Screens screens (scenario);
    auto& c = *screens.component;
    ASSERT_TRUE (screens.reachReady());
    c.buttonClicked (&c.getOkButton());
    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() == ST_BLOCK_WAIT; }));

    // Under the address sanitizer a worker still running here would use what the
    // destructor has freed.
    screens.component.reset();
    SUCCEED();
}

TEST (MainComponent, AnUnchangedScreenKeepsItsTextLayout)
{
    Screens screens;
    auto& c = *screens.component;
    screens.refresh();
    const auto* firstGlyphBefore = &c.getTextLayout().getGlyph (0);
    const auto textBefore = shownText (c);

    screens.refresh();
    EXPECT_EQ (&c.getTextLayout().getGlyph (0), firstGlyphBefore);
    EXPECT_EQ (shownText (c), textBefore);

    c.getProcedure().setStatus (ERR_PROTOCOL);
    screens.refresh();
    EXPECT_NE (shownText (c), textBefore);
}

//==============================================================================
// Several controllers: the choice screen, --serial, and the runs that end before
// their first request.

namespace
{
SimulatedScenario withControllers (int count, int32_t claimedBy = 0)
{
    SimulatedScenario scenario;
    scenario.controllers = count;
    scenario.claimedByPid = claimedBy;
    return scenario;
}

juce::StringArray rowsOf (juce::ComboBox& box)
{
    juce::StringArray rows;

    for (int i = 0; i < box.getNumItems(); ++i)
        rows.add (box.getItemText (i));

    return rows;
}

// The devices the simulated controllers received anything on.
std::set<int32_t> devicesAsked()
{
    std::set<int32_t> devices;

    for (const auto& request : SimulatedController::instance().receivedRequests())
        devices.insert (request.deviceNumber);

    return devices;
}
} // namespace

TEST (MainComponent, WithSeveralControllersTheChoiceScreenListsThemAndOnlyTheOneChosenIsAsked)
{
    Screens screens (withControllers (2));
    auto& c = *screens.component;
    screens.pressOk();
    screens.refresh();

    ASSERT_TRUE (c.isChoosing());
    EXPECT_TRUE (screens.visibleOnly ({ &c.getControllerBox(), &c.getOkButton(), &c.getCancelButton() }));
    EXPECT_EQ (c.getControllerBox().getBounds(), kControlPlace);
    EXPECT_EQ (rowsOf (c.getControllerBox()), juce::StringArray ({ "Serial KELO7-SIM-0001, port sim-1", "Serial KELO7-SIM-0002, port sim-2" }));
    EXPECT_EQ (c.getOkButton().getButtonText(), "Select");
    EXPECT_EQ (c.getCancelButton().getButtonText(), "Cancel");
    EXPECT_TRUE (shownText (c).startsWith ("Several controllers are connected.")) << shownText (c);
    EXPECT_TRUE (shownText (c).contains ("Which one do you want to update?")) << shownText (c);
    EXPECT_TRUE (devicesAsked().empty()) << "a request before the choice";

    c.getControllerBox().setSelectedItemIndex (1, juce::dontSendNotification);
    screens.pressOk();
    ASSERT_TRUE (runUntil ([&c]
                           { return c.getStatus() != ST_INITIAL; }));
    EXPECT_EQ (c.getStatus(), ST_READY);
    EXPECT_FALSE (c.isChoosing());
    EXPECT_EQ (devicesAsked(), std::set<int32_t> { 1 });
}

TEST (MainComponent, TheChoiceListFollowsControllersThatComeAndGoAndKeepsTheSelection)
{
    Screens screens (withControllers (2));
    auto& c = *screens.component;
    auto& sim = SimulatedController::instance();
    auto& box = c.getControllerBox();
    screens.pressOk();
    ASSERT_TRUE (c.isChoosing());
    box.setSelectedItemIndex (1, juce::dontSendNotification);

    const auto third = sim.addController();
    ASSERT_TRUE (runUntil ([&box]
                           { return box.getNumItems() == 3; }));
    EXPECT_EQ (box.getText(), "Serial KELO7-SIM-0002, port sim-2");

    sim.remove (0);
    ASSERT_TRUE (runUntil ([&box]
                           { return box.getNumItems() == 2; }));
    EXPECT_EQ (box.getText(), "Serial KELO7-SIM-0002, port sim-2");

    // One that goes between the listing and the choice is not taken: the list is renewed.
    sim.remove (third);
    box.setSelectedItemIndex (1, juce::dontSendNotification);
    screens.pressOk();
    EXPECT_TRUE (c.isChoosing());
    EXPECT_EQ (rowsOf (box), juce::StringArray ({ "Serial KELO7-SIM-0002, port sim-2" }));
    EXPECT_TRUE (devicesAsked().empty());
}

TEST (MainComponent, SerialTakesItsControllerWithoutAChoice)
{
    Screens screens (withControllers (2), "1.05", "KELO7-SIM-0002");
    ASSERT_TRUE (screens.reachReady());
    EXPECT_FALSE (screens.component->isChoosing());
    EXPECT_EQ (devicesAsked(), std::set<int32_t> { 1 });
}

TEST (MainComponent, ARunThatCannotGoOnEndsBeforeItsFirstRequestWithCloseOnly)
{
    struct Case
    {
        const char* name;
        SimulatedScenario scenario;
        const char* serial;
        int chosenRow; // -1: no choice screen
        RunEnd end;
        int exitStatus;
    };

    const Case cases[] = {
        { "--serial matches none", withControllers (2), "KELO7-SIM-0009", -1, RunEnd::notChosen, EXIT_NOT_CHOSEN },
        { "the one controller held elsewhere", withControllers (1, 4242), "", -1, RunEnd::claimedElsewhere, EXIT_ANOTHER_UPDATER },
        { "--serial of one held elsewhere", withControllers (2, 4242), "KELO7-SIM-0001", -1, RunEnd::claimedElsewhere, EXIT_ANOTHER_UPDATER },
        { "the one chosen held elsewhere", withControllers (2, 4242), "", 0, RunEnd::claimedElsewhere, EXIT_ANOTHER_UPDATER },
    };

    for (const auto& test : cases)
    {
        SCOPED_TRACE (test.name);
        Screens screens (test.scenario, "1.05", test.serial);
        auto& c = *screens.component;
        screens.pressOk();

        if (test.chosenRow >= 0)
        {
            ASSERT_TRUE (c.isChoosing());
            c.chooseController (test.chosenRow);
        }

        screens.refresh();
        ASSERT_TRUE (screens.settled());
        EXPECT_EQ (screens.session->getOutcome()->end, test.end);
        EXPECT_EQ (c.getExitStatus(), test.exitStatus);
        EXPECT_FALSE (c.getProcedure().isWorkerRunning());
        EXPECT_TRUE (screens.visibleOnly ({ &c.getCancelButton() }));
        EXPECT_EQ (c.getCancelButton().getButtonText(), "Close");
        EXPECT_EQ (c.getCancelButton().getBounds(), kRightSlot);
        EXPECT_FALSE (shownText (c).contains ("Error ID"));
        EXPECT_TRUE (devicesAsked().empty());

        // The hidden main button's key does not start anything now.
        screens.pressOk();
        EXPECT_FALSE (c.getProcedure().isWorkerRunning());
        EXPECT_TRUE (devicesAsked().empty());
    }
}

// Needs the keyboard focus of the test display, so it runs alone.
TEST (MainComponentOnScreen, EachScreenGivesTheFocusToItsDefaultButtonUnlessOneOfItsControlsHasIt)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "no display";

    Screens screens;
    auto& c = *screens.component;
    ASSERT_TRUE (guitest::showOnDesktop (c));

    // The focus is handed out when the component paints; the window takes it a
    // moment after it is shown.
    juce::Image canvas (juce::Image::ARGB, 406, 154, true);
    const auto paintedFocusOn = [&] (juce::Component& expected)
    {
        return guitest::waitFor ([&]
                                 {
                                     juce::Graphics g (canvas);
                                     c.paintEntireComponent (g, false);
                                     return expected.hasKeyboardFocus (false); });
    };

    // Focus outside the screen's controls moves to its default button.
    c.setWantsKeyboardFocus (true);
    ASSERT_TRUE (guitest::focus (c));
    EXPECT_TRUE (paintedFocusOn (c.getOkButton()));

    // The language screen lets the focus stay on "Cancel".
    ASSERT_TRUE (guitest::focus (c.getCancelButton()));
    EXPECT_TRUE (paintedFocusOn (c.getCancelButton()));
    EXPECT_FALSE (c.getOkButton().hasKeyboardFocus (false));

    // An error screen takes it from wherever it was to "Close".
    ASSERT_TRUE (guitest::focus (c.getOkButton()));
    c.getProcedure().setStatus (ERR_PROTOCOL);
    screens.refresh();
    EXPECT_TRUE (paintedFocusOn (c.getCancelButton()));
}

TEST (MainComponentOnScreen, AWindowThatBecomesActiveHandsTheFocusToTheDefaultButton)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "no display";

    Screens screens;
    juce::DocumentWindow window ("focus", juce::Colours::grey, 0, true);
    window.setContentNonOwned (screens.component.get(), true);
    ASSERT_TRUE (guitest::showOnDesktop (window));

    // The window takes the focus itself, as it does when it becomes active; the
    // default button must have it then without waiting for a repaint.
    ASSERT_TRUE (guitest::focus (window));
    EXPECT_TRUE (guitest::waitFor ([&screens]
                                   { return screens.component->getOkButton().hasKeyboardFocus (false); }));
    window.clearContentComponent();
}

namespace
{
// What a screen reader finds on one control: its role, title and value ("" for none).
struct Exposed
{
    juce::AccessibilityRole role;
    juce::String title, value;
};

Exposed exposedBy (juce::Component& control)
{
    auto* handler = control.getAccessibilityHandler();

    if (handler == nullptr)
        return { juce::AccessibilityRole::ignored, "(no handler)", {} };

    const auto* value = handler->getValueInterface();
    return { handler->getRole(), handler->getTitle(), value != nullptr ? value->getCurrentValueAsString() : juce::String() };
}

bool operator== (const Exposed& a, const Exposed& b)
{
    return a.role == b.role && a.title == b.title && a.value == b.value;
}

std::ostream& operator<< (std::ostream& out, const Exposed& e)
{
    return out << "role " << (int) e.role << ", title \"" << e.title << "\", value \"" << e.value << "\"";
}

struct AccessibleScreen
{
    const char* name;
    int busyCount; // -1 holds the write in its first block, on the progress screen
    std::function<bool (Screens&)> reach;
    const char* textStart; // the screen's text, as read aloud
    std::vector<std::pair<std::function<juce::Component&(MainComponent&)>, Exposed>> controls;
};

juce::Component& languageList (MainComponent& c) { return c.getLanguageBox(); }
juce::Component& okButtonOf (MainComponent& c) { return c.getOkButton(); }
juce::Component& cancelButtonOf (MainComponent& c) { return c.getCancelButton(); }
juce::Component& progressBarOf (MainComponent& c) { return c.getProgressBar(); }

bool startTheWrite (Screens& s)
{
    if (! s.reachReady())
        return false;

    s.pressOk();
    return runUntil ([&s]
                     { return s.component->getStatus() >= ST_BLOCK_HEADER; });
}
} // namespace

TEST (MainComponentOnScreen, EachScreenExposesItsTextAndItsControlsTitlesRolesAndValuesAndIsAnnounced)
{
    if (! guitest::haveDisplay())
        GTEST_SKIP() << "no display";

    using Role = juce::AccessibilityRole;
    const AccessibleScreen screens[] = {
        { "language", 0, [] (Screens&)
          { return true; },
          "Language Selections\n",
          { { languageList, { Role::comboBox, "Language Selections", "English" } }, { okButtonOf, { Role::button, "OK", "" } }, { cancelButtonOf, { Role::button, "Cancel", "" } } } },
        { "ready", 0, [] (Screens& s)
          { return s.reachReady(); },
          "Updates the version of your TRB-Kelo7 firmware.",
          { { okButtonOf, { Role::button, "Start", "" } }, { cancelButtonOf, { Role::button, "Close", "" } } } },
        { "progress", -1, startTheWrite, "Updating your TRB-Kelo7 firmware.\n", { { progressBarOf, { Role::progressBar, "Updating your TRB-Kelo7 firmware.", "0" } } } },
        { "complete", 0, [] (Screens& s)
          { return startTheWrite (s) && runUntil ([&s]
                                                  { return s.settled(); }); },
          "The update of your version of the TRB-Kelo7 firmware is now complete.",
          { { okButtonOf, { Role::button, "OK", "" } } } },
        { "error", 0, [] (Screens& s)
          {
              s.component->getProcedure().setStatus (ERR_PROTOCOL);
              return true; },
          "An error has occurred.",
          { { cancelButtonOf, { Role::button, "Close", "" } } } },
    };

    for (const auto& screen : screens)
    {
        SCOPED_TRACE (screen.name);
        SimulatedScenario scenario;
        scenario.busyCount = screen.busyCount;
        Screens s (scenario);
        auto& c = *s.component;
        juce::StringArray announced;
        c.setAnnouncer ([&announced] (const juce::String& text)
                        { announced.add (text); });
        ASSERT_TRUE (guitest::showOnDesktop (c));
        ASSERT_TRUE (screen.reach (s));
        s.refresh();

        auto* handler = c.getAccessibilityHandler();
        ASSERT_NE (handler, nullptr);
        EXPECT_EQ (handler->getRole(), Role::group);
        EXPECT_EQ (handler->getTitle(), "Updater Program");
        EXPECT_TRUE (handler->getDescription().startsWith (screen.textStart)) << handler->getDescription();
        EXPECT_FALSE (handler->getDescription().containsChar ('\t'));
        // The first screen is announced as the component is made, before anyone listens.
        if (juce::String (screen.name) != "language")
        {
            ASSERT_FALSE (announced.isEmpty());
            EXPECT_EQ (announced[announced.size() - 1], handler->getDescription());
        }

        for (const auto& [control, expected] : screen.controls)
        {
            auto& component = control (c);
            EXPECT_TRUE (component.isVisible());
            auto exposed = exposedBy (component);

            // The bar's value moves on: its presence and range are what matters.
            if (expected.role == Role::progressBar)
            {
                const auto* value = component.getAccessibilityHandler()->getValueInterface();
                ASSERT_NE (value, nullptr);
                EXPECT_GE (value->getCurrentValue(), 0.0);
                EXPECT_LE (value->getCurrentValue(), 1.0);
                exposed.value = expected.value;
            }

            EXPECT_EQ (exposed, expected);
        }
    }
}

TEST (MainComponent, ControlTitlesFollowTheLanguage)
{
    Screens screens;
    auto& c = *screens.component;
    juce::StringArray announced;
    c.setAnnouncer ([&announced] (const juce::String& text)
                    { announced.add (text); });
    screens.refresh();
    const auto englishText = c.getScreenText();

    auto& box = c.getLanguageBox();
    box.setSelectedId (2, juce::dontSendNotification); // French
    c.comboBoxChanged (&box);

    auto* catalogue = TxtLoader::getInstance();
    ASSERT_EQ (catalogue->getLanguage(), 1);
    EXPECT_EQ (c.getTitle(), catalogue->getText (TXT_APP_TITLE));
    EXPECT_EQ (c.getCancelButton().getTitle(), catalogue->getText (TXT_CANCEL));
    EXPECT_EQ (c.getLanguageBox().getTitle(), catalogue->getText (TXT_LANGUAGE_TITLE).trim());
    EXPECT_NE (c.getLanguageBox().getTitle(), "Language Selections");
    EXPECT_NE (c.getScreenText(), englishText);
    ASSERT_FALSE (announced.isEmpty());
    EXPECT_EQ (announced[announced.size() - 1], c.getScreenText()) << "the screen in the new language was not announced";
}
