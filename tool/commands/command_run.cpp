#include "tool/commands/command_run.h"

#include "platform/text/text.h"
#include "tool/commands/sequences.h"
#include "tool/common/console_output.h"
#include "tool/common/numbers_paths.h"
#include "tool/common/protected_files.h"
#include "tool/tags/attribute_list.h"
#include "tool/tags/media_item.h"

namespace quillet {
namespace {

PathParts Split(LPCWSTR path) {
    PathParts parts;
    SplitPath(path, &parts.full, &parts.folder, &parts.base_name, &parts.extension);
    return parts;
}

// With "--GetAll"/"--PutAll" an empty list stands for the file beside the
// target with the list's own extension, in the command's encoding.
void AddAllDefaults(CommandOptions& options, const PathParts& target) {
    WCHAR digit[16];
    wsprintfW(digit, u"%d", static_cast<int>(options.command_digit));
    const std::u16string stem = target.folder + target.base_name;
    struct Default {
        NameValueList* list;
        const char16_t* extension;
    };
    const Default defaults[] = {{&options.info, u".info"},
                                {&options.lyrics, u".lrc"},
                                {&options.liner_notes, u".txt"},
                                {&options.jacket, u".jpg"}};
    for (const Default& entry : defaults) {
        if (entry.list->Empty()) entry.list->Append(digit, (stem + entry.extension).c_str());
    }
}

// The listing of the file the command ended on, then Close and release.
// Close is where the library writes the changes, so a failed Close is a
// failed run: the listing printed before it showed values that never reached
// the file.
void CloseTarget(CommandRun& run) {
    if (!run.item) return;
    if (!run.options.quiet) {
        NameValueList listing;
        ReadAttributeList(run.item.Get(), listing);
        for (const NameValueList::Entry& entry : listing) WriteKeyValue(entry.Name(), entry.Value());
    }
    if (FAILED(run.item->Close())) run.exit_code = 1;
    run.item.Reset();
}

}  // namespace

void RunCommand(CommandOptions& options, MediaLibrary* root, int version,
                const library::ApplicationIdentity& identity, LONG& exit_code) {
    // The files this run works on are known only for the run.
    ClearProtectedFiles();
    struct ForgetAtEnd {
        ~ForgetAtEnd() { ClearProtectedFiles(); }
    } forget_at_end;
    if (options.command == Command::Create) {
        RunCreateSequence(options);
        return;
    }
    if (options.sources.Empty()) return;
    if (!library::EnsureApplicationTold(root, version, identity)) {
        exit_code = 1;
        return;
    }

    // The last source file that opens is the target; earlier ones are not touched.
    CommandRun run{options, root, exit_code, {}, {}, {}, {}, {}};
    std::u16string target_path;
    for (auto it = options.sources.rbegin(); it != options.sources.rend(); ++it) {
        run.item = OpenMediaItem(root, it->Value());
        if (run.item) {
            target_path = it->value;
            break;
        }
    }
    if (!run.item) return;
    WriteKeyValue(u"TargetTrack", target_path.c_str());

    run.target = Split(target_path.c_str());
    run.output =
        options.output_path.empty() ? Split(run.target.full.c_str()) : Split(options.output_path.c_str());
    if (options.all) AddAllDefaults(options, run.target);

    bool ended_normally = true;
    switch (options.command) {
        case Command::Get:
            ended_normally = RunGetSequence(run);
            break;
        case Command::Put:
            ended_normally = RunPutSequence(run);
            break;
        case Command::Convert:
            ended_normally = RunConvertSequence(run);
            break;
        case Command::Create:
            break;
    }
    if (ended_normally) CloseTarget(run);
}

}  // namespace quillet
