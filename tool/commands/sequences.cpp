#include "tool/commands/sequences.h"

#include "tool/commands/convert.h"
#include "tool/commands/numbers_paths.h"
#include "tool/tags/attribute_list.h"
#include "tool/tags/info_file.h"
#include "tool/tags/media_item.h"

namespace quillet {

// The lyrics, liner notes and jacket steps of Get and Put belong to the notes
// and jacket layer, which slots in after the info step here.

bool RunGetSequence(CommandRun& run) {
    CommandOptions& options = run.options;
    if (!options.info.Empty()) {
        NameValueList attributes;
        ReadAttributeList(run.item.Get(), attributes);
        if (!ExportInfoFiles(options.info, attributes, options.force_write) && !options.all)
            run.exit_code = 1;
    }
    // With "--GetAll" the info, lyrics and liner notes steps cannot fail the run.
    if (options.all) run.exit_code = 0;
    return true;
}

bool RunPutSequence(CommandRun& run) {
    CommandOptions& options = run.options;
    // Base files first, so that info files and tag options override them.
    for (const NameValueList::Entry& entry : options.base) {
        ComPtr<MediaItem> base = OpenMediaItem(run.root, entry.Value());
        if (!base) {
            std::u16string full;
            if (SplitPath(entry.Value(), &full, nullptr, nullptr, nullptr) != 0)
                base = OpenMediaItem(run.root, full.c_str());
        }
        if (!base) continue;
        CopyAllAttributes(base.Get(), run.item.Get());
    }

    NameValueList merged;
    if (!options.info.Empty()) ImportInfoFiles(options.info, merged);
    for (const NameValueList::Entry& entry : options.tags) merged.Set(entry.Name(), entry.Value());
    if (!merged.Empty() && !WriteAttributeList(run.item.Get(), merged)) run.exit_code = 1;
    if (options.command == Command::Convert) return FinishConversion(run);
    return true;
}

}  // namespace quillet
