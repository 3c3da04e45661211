// The file layer on Windows: UTF-16 names, the Downloads known folder, Windows
// paths, and the regular-file read's refusals.

#include "platform/NativeFiles.h"
#include "platform/RegularFileRead.h"
#include "platform/ScopedHandle.h"
#include "platform/WidePath.h"
#include "tests/windows/WindowsTestSupport.h"
#include "update/UpdateFileSearch.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace
{
// A fresh folder under the temporary folder, removed with everything in it.
struct TemporaryFolder
{
    TemporaryFolder()
    {
        wchar_t temporary[MAX_PATH + 1] {};
        ::GetTempPathW (MAX_PATH, temporary);
        path = std::wstring (temporary) + windows_test_support::uniqueName ("trb-files").toWideCharPointer() + L" \u00DCn\u00EFcode \u65E5\u672C";
        ::CreateDirectoryW (path.c_str(), nullptr);
    }

    ~TemporaryFolder()
    {
        std::wstring list = path + L'\0' + L'\0';
        SHFILEOPSTRUCTW removal {};
        removal.wFunc = FO_DELETE;
        removal.pFrom = list.c_str();
        removal.fFlags = FOF_NO_UI;
        ::SHFileOperationW (&removal);
    }

    std::string bytes() const { return WidePath::fromWide (path); }

    std::wstring child (const std::wstring& name) const { return path + L"\\" + name; }

    std::wstring path;
};

bool writeFile (const std::wstring& path, const std::string& content)
{
    const ScopedHandle file { ::CreateFileW (path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr) };
    DWORD written = 0;
    return file.isValid() && ::WriteFile (file.get(), content.data(), (DWORD) content.size(), &written, nullptr)
           && written == content.size();
}

std::vector<uint8_t> bytesOf (const std::string& text) { return { text.begin(), text.end() }; }
} // namespace

TEST (WindowsPaths, EveryUtf16NameGoesToBytesAndBackUnchanged)
{
    const std::wstring names[] = {
        L"plain.bin",
        L"\u00FCber \u65E5\u672C\u8A9E.bin",
        L"emoji \U0001F3B5.bin",
        std::wstring (L"lone high ") + (wchar_t) 0xD800 + L".bin",
        std::wstring (L"lone low ") + (wchar_t) 0xDC00 + L".bin",
        std::wstring (L"reversed ") + (wchar_t) 0xDC00 + (wchar_t) 0xD800 + L".bin",
    };

    for (const auto& name : names)
        EXPECT_EQ (WidePath::toWide (WidePath::fromWide (name)), name);

    // Well-formed UTF-8 (the framework's paths) names what it says.
    EXPECT_EQ (WidePath::toWide ("\xC3\xBC\xE6\x97\xA5"), std::wstring (L"\u00FC\u65E5"));
    // A stray or overlong byte names nothing else: it becomes U+FFFD.
    EXPECT_EQ (WidePath::toWide ("a\xFF"
                                 "b"),
               std::wstring (L"a\uFFFDb"));
    EXPECT_EQ (WidePath::toWide ("\xC0\xAF"), std::wstring (L"\uFFFD\uFFFD"));
}

TEST (WindowsPaths, JoinFollowsWindowsRules)
{
    struct Row
    {
        const char* path;
        const char* relative;
        const char* joined;
    };

    const Row rows[] = {
        { "C:\\Users\\me", "update.bin", "C:\\Users\\me\\update.bin" },
        { "C:\\Users\\me", "..\\..\\..\\x.bin", "C:\\x.bin" },
        { "C:\\Users\\me", ".\\a/b\\\\c", "C:\\Users\\me\\a\\b\\c" },
        { "C:\\Users\\me", "D:\\other\\x.bin", "D:\\other\\x.bin" },
        { "C:\\Users\\me", "\\root.bin", "C:\\root.bin" },
        { "\\\\server\\share\\dir", "..\\..\\x.bin", "\\\\server\\share\\x.bin" },
        { "C:\\", "", "C:\\" },
    };

    for (const auto& row : rows)
        EXPECT_EQ (NativeFiles::join (row.path, row.relative), row.joined) << row.path << " + " << row.relative;
}

TEST (WindowsFiles, TheDownloadFolderIsTheUsersDownloadsKnownFolder)
{
    PWSTR known = nullptr;
    ASSERT_TRUE (SUCCEEDED (::SHGetKnownFolderPath (FOLDERID_Downloads, KF_FLAG_DEFAULT, nullptr, &known)));
    const auto expected = WidePath::fromWide (known, wcslen (known));
    ::CoTaskMemFree (known);

    EXPECT_EQ (NativeFiles::knownDownloadFolder(), expected);
    EXPECT_EQ (userDownloadFolder(), NativeFiles::shown (expected));

    const auto places = updateFilePlacesForThisProcess ({});
    ASSERT_FALSE (places.empty());
    EXPECT_EQ (places.back().bytes(), expected);
}

TEST (WindowsFiles, AnyNameWindowsAllowsIsListedAndRead)
{
    const TemporaryFolder folder;
    std::vector<std::wstring> names {
        L"trbkelo7__v101.bin",
        L"trbkelo7__v102 \u65E5\u672C.bin",
    };

    if (! windows_test_support::runningUnderWine())
        names.push_back (std::wstring (L"trbkelo7__v103") + (wchar_t) 0xD800 + L".bin");

    for (const auto& name : names)
        ASSERT_TRUE (writeFile (folder.child (name), "firmware"));

    ASSERT_TRUE (::CreateDirectoryW (folder.child (L"trbkelo7__v104.bin").c_str(), nullptr));
    ASSERT_TRUE (writeFile (folder.child (L"other.txt"), "x"));

    auto listed = NativeFiles::listFiles (folder.bytes(), "trbkelo7__v*.BIN");
    std::sort (listed.begin(), listed.end());
    ASSERT_EQ (listed.size(), names.size());

    for (const auto& name : names)
    {
        const auto path = WidePath::fromWide (folder.child (name));
        EXPECT_NE (std::find (listed.begin(), listed.end(), path), listed.end());
        EXPECT_EQ (NativeFiles::kindOf (path), NativeFiles::Kind::other);
        EXPECT_EQ (NativeFiles::sizeOf (path), 8);

        std::vector<uint8_t> content;
        EXPECT_EQ (readRegularFile (path, 8, content), RegularFileReadResult::read);
        EXPECT_EQ (content, bytesOf ("firmware"));
    }

    EXPECT_EQ (NativeFiles::kindOf (folder.bytes()), NativeFiles::Kind::folder);
    EXPECT_EQ (NativeFiles::kindOf (WidePath::fromWide (folder.child (L"missing.bin"))), NativeFiles::Kind::nothing);
}

TEST (WindowsPaths, TheNameOfAPathIsWhatFollowsItsLastSeparator)
{
    const std::pair<const char*, const char*> rows[] = {
        { "C:\\Users\\me\\trbkelo7__v105.bin", "trbkelo7__v105.bin" },
        { "C:\\Users/me/trbkelo7__v105.bin", "trbkelo7__v105.bin" },
        { "\\\\server\\share\\x.bin", "x.bin" },
        { "C:x.bin", "x.bin" },
        { "x.bin", "x.bin" },
        { "C:\\Users\\", "" },
    };

    for (const auto& [path, name] : rows)
        EXPECT_EQ (NativeFiles::nameOf (path), name) << path;
}

TEST (WindowsFiles, TheNewestUpdateFileOfAFolderIsTaken)
{
    const TemporaryFolder folder;

    for (const auto* name : { L"trbkelo7__v101.bin", L"trbkelo7__v105.bin", L"trbkelo7__v103.bin" })
        ASSERT_TRUE (writeFile (folder.child (name), "not firmware"));

    UpdateFileState state;
    UpdateFileSearchReport report;
    const auto error = findUpdateFile ({ UpdateFilePlace::fromNativePath (folder.bytes(), false) }, state, &report);

    // The content is no update file, so the check refuses it, but it was found.
    EXPECT_NE (error, std::optional<int32_t> (ERR_FILE_NOT_FOUND));
    EXPECT_EQ (report.chosenPath, WidePath::fromWide (folder.child (L"trbkelo7__v105.bin")));
    EXPECT_EQ (report.chosen.getFileName(), "trbkelo7__v105.bin");
}

TEST (WindowsFiles, TheRegularFileReadRefusesWhatIsNotAFileOnADisk)
{
    const TemporaryFolder folder;
    const auto pipeName = std::wstring (L"\\\\.\\pipe\\") + windows_test_support::uniqueName ("trb-read").toWideCharPointer();
    // One listening end for each open below, so that each meets a pipe and not a busy one.
    std::vector<ScopedHandle> pipeEnds;

    for (int i = 0; i < 2; ++i)
    {
        pipeEnds.emplace_back (::CreateNamedPipeW (pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE,
                                                   PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr));
        ASSERT_TRUE (pipeEnds.back().isValid());
    }

    ASSERT_TRUE (writeFile (folder.child (L"short.bin"), "1234567"));

    struct Row
    {
        std::wstring path;
        RegularFileReadResult expected;
    };

    const Row rows[] = {
        { folder.path, RegularFileReadResult::unreadable },
        { pipeName, RegularFileReadResult::unreadable },
        { L"NUL", RegularFileReadResult::unreadable },
        { L"CONOUT$", RegularFileReadResult::unreadable },
        { folder.child (L"missing.bin"), RegularFileReadResult::notFound },
        { folder.child (L"missing\\deeper.bin"), RegularFileReadResult::notFound },
        { folder.child (L"short.bin"), RegularFileReadResult::wrongSize },
    };

    for (const auto& row : rows)
    {
        std::vector<uint8_t> content;
        EXPECT_EQ (readRegularFile (WidePath::fromWide (row.path), 8, content), row.expected) << WidePath::fromWide (row.path);
        EXPECT_TRUE (content.empty());
    }

    juce::String problem;
    EXPECT_FALSE (NativeFiles::readSmallRegularFile (WidePath::fromWide (folder.path), 100, problem));
    EXPECT_EQ (problem, "is not a regular file");
    problem.clear();
    EXPECT_FALSE (NativeFiles::readSmallRegularFile (WidePath::fromWide (pipeName), 100, problem));
    EXPECT_EQ (problem, "is not a regular file");
    problem.clear();
    EXPECT_EQ (NativeFiles::readSmallRegularFile (WidePath::fromWide (folder.child (L"short.bin")), 100, problem), std::string ("1234567"));
}

TEST (WindowsFiles, AFileStillOpenForWritingIsNotReadButOneOpenForReadingIs)
{
    const TemporaryFolder folder;
    const auto path = folder.child (L"update.bin");
    ASSERT_TRUE (writeFile (path, "firmware"));

    {
        // Another program still writing it (sharing reads): the half-written file is not taken.
        const ScopedHandle writer { ::CreateFileW (path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) };
        ASSERT_TRUE (writer.isValid());
        std::vector<uint8_t> content;
        EXPECT_EQ (readRegularFile (WidePath::fromWide (path), 8, content), RegularFileReadResult::unreadable);
    }

    // Another reader that lets others read too does not keep the file from being read.
    const ScopedHandle reading { ::CreateFileW (path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) };
    ASSERT_TRUE (reading.isValid());
    std::vector<uint8_t> content;
    EXPECT_EQ (readRegularFile (WidePath::fromWide (path), 8, content), RegularFileReadResult::read);
}
