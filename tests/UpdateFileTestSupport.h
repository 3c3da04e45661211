#pragma once

#include "tools/UpdateImageBuilder.h"

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

// What the tests of the update file and of its search share: a scratch folder
// of each test's own, and valid update images to write there.
namespace update_file_test
{
// A fresh folder for one test, removed with everything in it afterwards.
struct ScratchFolder
{
    ScratchFolder()
    {
        // CTest runs tests in parallel processes: a name picked as "not existing yet"
        // could be picked by two of them at once, so every folder gets a unique one.
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("trb-update-file-test-" + juce::Uuid().toString());
        folder.createDirectory();
    }

    ~ScratchFolder() { folder.deleteRecursively(); }

    juce::File write (const juce::String& name, const std::vector<uint8_t>& bytes) const
    {
        auto file = folder.getChildFile (name);

        // replaceWithData deletes the file when given nothing.
        if (bytes.empty())
        {
            file.deleteFile();
            file.create();
        }
        else
            file.replaceWithData (bytes.data(), bytes.size());

        return file;
    }

    juce::File folder;
};

inline const std::vector<uint8_t>& validImage()
{
    static const auto image = makeUpdateImage ("1.02", 0x20261209, 7);
    return image;
}

inline std::vector<uint8_t> withStamp (uint32_t stamp)
{
    auto image = validImage();
    setImageStamp (image, stamp);
    storeImageCrc (image);
    return image;
}

inline std::vector<uint8_t> withVersion (const std::string& version)
{
    auto image = validImage();
    setImageVersion (image, version);
    storeImageCrc (image);
    return image;
}
} // namespace update_file_test
