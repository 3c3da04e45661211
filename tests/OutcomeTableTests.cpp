#include "session/ExitStatus.h"
#include "session/Outcomes.h"
#include "update/Status.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

// The one table of outcomes against what the README and the manual page tell a user:
// each error ID's words and remedy, and the exit statuses.
namespace
{
const juce::File kSourceDir { TRB_SOURCE_DIR };

// The rows "| first | second | third |" of the markdown table under heading, cells trimmed.
std::vector<juce::StringArray> markdownRows (const juce::String& heading)
{
    const auto lines = juce::StringArray::fromLines (kSourceDir.getChildFile ("README.md").loadFileAsString());
    std::vector<juce::StringArray> rows;
    auto inSection = false;

    for (const auto& line : lines)
    {
        if (line.startsWith ("#"))
            inSection = line.trim() == heading;
        else if (inSection && line.startsWith ("|") && ! line.startsWith ("|---"))
        {
            auto cells = juce::StringArray::fromTokens (line.substring (1, line.length() - 1), "|", "`");
            cells.trim();
            rows.push_back (cells);
        }
    }

    if (! rows.empty())
        rows.erase (rows.begin()); // the heading row

    return rows;
}

// The manual page's ".TP / .B KEY / text" entries of a section, text joined to one line
// with the roff escapes a reader does not see taken out.
std::map<juce::String, juce::String> manEntries (const juce::String& section)
{
    const auto lines = juce::StringArray::fromLines (kSourceDir.getChildFile ("packaging/TRBKelo7UpdateProgram.1.in").loadFileAsString());
    std::map<juce::String, juce::String> entries;
    juce::String key;
    auto inSection = false;

    for (int i = 0; i < lines.size(); ++i)
    {
        const auto& line = lines[i];

        if (line.startsWith (".SH "))
        {
            inSection = line.substring (4).trim() == section;
            key.clear();
        }
        else if (inSection && line == ".TP" && lines[i + 1].startsWith (".B "))
        {
            key = lines[++i].substring (3).trim();
            entries[key] = {};
        }
        else if (inSection && key.isNotEmpty())
        {
            auto& text = entries[key];
            text << (text.isEmpty() ? "" : " ") << line.replace ("\\-", "-").replace ("\\(em", "—");
        }
    }

    return entries;
}
} // namespace

TEST (OutcomeTableHeadless, EveryErrorIdIsTheReadmesAndTheManualPagesRowWordForWord)
{
    const auto readme = markdownRows ("## Error IDs");
    const auto manual = manEntries ("ERROR IDS");
    std::set<juce::String> inTable;

    for (auto row = Outcomes::begin(); row != Outcomes::end(); ++row)
    {
        if (row->errorId == 0)
            continue;

        const auto id = "0x" + formatErrorId (row->errorId);
        SCOPED_TRACE (id);
        inTable.insert (id);
        const auto found = std::find_if (readme.begin(), readme.end(), [&id] (const juce::StringArray& cells)
                                         { return cells[0] == id; });
        ASSERT_NE (found, readme.end()) << "no README row";
        EXPECT_EQ ((*found)[1], juce::String::fromUTF8 (row->whatHappened));
        EXPECT_EQ ((*found)[2], Outcomes::remedy (*row));

        ASSERT_EQ (manual.count (id), 1u) << "no manual page entry";
        EXPECT_EQ (manual.at (id), juce::String::fromUTF8 (row->whatHappened) + ": " + Outcomes::remedy (*row) + ".");
        EXPECT_EQ (row->exitStatus, row->errorId == ERR_NOT_TAKEN ? EXIT_NOT_TAKEN : EXIT_UPDATE_FAILED);
    }

    EXPECT_EQ (readme.size(), inTable.size()) << "a README row the table does not have";
    EXPECT_EQ (manual.size(), inTable.size()) << "a manual page entry the table does not have";
}

TEST (OutcomeTableHeadless, EveryWayToEndHasItsExitStatusInTheReadmeAndTheManualPage)
{
    std::set<juce::String> inTable { "0" }; // also --help, --version and a launch handed over
    std::set<juce::String> readme, results;

    for (auto row = Outcomes::begin(); row != Outcomes::end(); ++row)
    {
        inTable.insert (juce::String (row->exitStatus));
        results.insert (row->resultName);
    }

    for (const auto& cells : markdownRows ("## Starting it, and what it tells a script"))
        if (cells.size() == 2 && cells[0].containsOnly ("0123456789"))
            readme.insert (cells[0]);

    std::set<juce::String> manual;

    for (const auto& [key, text] : manEntries ("EXIT STATUS"))
        manual.insert (key);

    EXPECT_EQ (readme, inTable);
    EXPECT_EQ (manual, inTable);

    // The JSON "result" names a script may meet are all listed.
    const auto text = kSourceDir.getChildFile ("README.md").loadFileAsString();

    for (const auto& name : results)
        EXPECT_TRUE (text.contains ("`\"" + name + "\"`")) << name;
}

TEST (OutcomeTableHeadless, EachEndHasOneRowAndOnlyTheCompletedWritesShowComplete)
{
    for (const auto end : { RunEnd::confirmed, RunEnd::notConfirmed, RunEnd::refused, RunEnd::notTaken, RunEnd::left, RunEnd::interrupted,
                            RunEnd::anotherUpdater, RunEnd::claimedElsewhere, RunEnd::notChosen, RunEnd::noDisplay, RunEnd::usage })
    {
        const auto& row = Outcomes::forEnd (end);
        EXPECT_EQ (row.end, end);
        EXPECT_EQ (Outcomes::isComplete (row), row.message == TXT_UPDATE_COMPLETE);
        EXPECT_EQ (row.exitStatus == EXIT_UPDATED, Outcomes::isComplete (row));
    }

    EXPECT_EQ (Outcomes::forConfirmation (WriteConfirmation::Outcome::mismatch).errorId, ERR_NOT_TAKEN);
    EXPECT_EQ (Outcomes::forConfirmation (WriteConfirmation::Outcome::refused).end, RunEnd::refused);
    EXPECT_EQ (Outcomes::logLine (Outcomes::forError (ERR_FILE_OPEN)),
               "result: error 0x0E32, the checked update could not be prepared for the write");
}
