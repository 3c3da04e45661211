// Feeds arbitrary bytes, as another process of the same user may send them, to
// the hand-over's message parsing, and the same bytes to the framework's String
// made from UTF-8. Any crash, out-of-bounds access or text that is not
// well-formed UTF-8 is a find.

#include "app/InstanceHandover.h"
#include "text/ExternalText.h"

#include <string>

namespace
{
void require (bool condition)
{
    if (! condition)
        __builtin_trap();
}

bool isWellFormedText (const juce::String& text)
{
    return ExternalText::isWellFormed (text.toRawUTF8(), text.getNumBytesAsUTF8());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const char*> (data);
    const std::string message (bytes, size);

    // Half the inputs carry the application's prefix, so the parsing goes on past it.
    const juce::String name ("TRBKelo7UpdateProgram");
    const auto prefixed = name.toStdString() + "/" + message;

    for (const auto* input : { &message, &prefixed })
        if (const auto commandLine = InstanceHandover::commandLineFromMessage (name, input->data(), input->size()))
            require (isWellFormedText (*commandLine));

    // The framework's own ways from UTF-8 bytes to text agree with the one of ours.
    const auto expected = ExternalText::fromBytes (message);
    require (isWellFormedText (expected));
    require (juce::String (juce::CharPointer_UTF8 (message.c_str())) == expected);
    require (juce::String::fromUTF8 (bytes, static_cast<int> (size)) == expected);
    require (juce::String (message) == expected);

    juce::String appended ("x");
    appended += message.c_str();
    require (appended == "x" + expected);
    return 0;
}
