#include "tool/commands/entry.h"

#include "library/identity.h"
#include "platform/com/apartment.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "tool/commands/dispatch.h"
#include "tool/common/console_output.h"
#include "tool/pictures/picture_services.h"

namespace quillet {

// Arguments are UTF-8 on this platform whatever the locale says (a C or
// POSIX locale would turn every non-ASCII character into a default
// character), and file names are bytes: a byte that is not UTF-8 is carried
// losslessly, as the file functions expect it (platform::FromNativePath).
std::vector<std::u16string> DecodeArguments(int argc, char** argv) {
    std::vector<std::u16string> words;
    for (int i = 0; i < argc; ++i) words.push_back(platform::FromNativePath(argv[i]));
    return words;
}

LONG RunCommandLine(const std::vector<std::u16string>& words) {
    ComPtr<MediaLibrary> root;  // released last, after the identity
    int version = 0;
    if (!library::CreateLibraryRoot(root.ReleaseAndGetAddressOf(), &version)) return 1;

    library::ApplicationIdentity identity;
    library::FillApplicationIdentity(identity);
    LONG exit_code = 0;

    // The words come from the process arguments, already split by the shell
    // that started the program, so the splitting of a Windows command line
    // (and its failure, which would end the run here without "EOS.") has no
    // counterpart. An empty list is still handled as such a failure.
    if (words.empty()) return 0;
    if (words.size() == 1) {
        WriteLine(FormatLine(u"%s", kVersionLine));
    } else {
        const std::vector<std::u16string> arguments(words.begin() + 1, words.end());
        DispatchArguments(arguments, root.Get(), identity, exit_code, version);
    }
    WriteLine(FormatLine(u"EOS."));

    identity.Reset();
    return exit_code;
}

LONG ProcessEntry(const std::vector<std::u16string>& words) {
    InitConsoleOutput();
    WriteLine(FormatLine(u"%s", kVersionLine));
    WriteLine(FormatLine(u"Type \"--Version\" or \"--Help\" or \"--Exit\"."));
    WriteLine(FormatLine(u"EOS."));

    if (FAILED(CoInitialize(nullptr))) return 1;
    // The picture services start when the command first needs a picture
    // (UsePictureServices), and end here if it did.
    const LONG exit_code = RunCommandLine(words);
    EndPictureServices();
    CoUninitialize();
    return exit_code;
}

}  // namespace quillet
