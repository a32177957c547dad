// `open PATH`: the input that claims PATH opens it three times, once per kind
// of object (decoder, info reader, info writer), and each object's file stats
// are printed. The first failure prints the exception's text and ends the
// command with exit code 1.
#include <string>

#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/sdk/input.h"

namespace playhost {
namespace {

void WriteStats(std::ostream& out, const std::string& prefix, const t_filestats& stats) {
    WriteKeyValue(out, prefix + ".size", std::to_string(stats.m_size));
    WriteKeyValue(out, prefix + ".timestamp", std::to_string(stats.m_timestamp));
}

}  // namespace

int RunOpen(Session& session, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        session.err << "usage: playhost open PATH\n";
        return kExitUsage;
    }
    const std::string& path = args[0];
    const std::string extension = input_entry::g_extension(path.c_str());
    std::ostream& out = session.out;
    WriteKeyValue(out, "path", path);

    const ComponentModule* owner = nullptr;
    service_ptr_t<input_entry> input;
    for (const auto& module : session.host.components()) {
        for (service_factory_base* factory : module->Factories()) {
            if (factory->get_class_guid() != input_entry::class_guid) continue;
            service_ptr raw;
            factory->instance_create(raw);
            service_ptr_t<input_entry> candidate;
            if (raw.service_query_t(candidate) && candidate->is_our_path(path.c_str(), extension.c_str())) {
                owner = module.get();
                input = candidate;
                break;
            }
        }
        if (input) break;
    }
    if (!input) {
        WriteKeyValue(out, "error", exception_io_unsupported_format().what());
        return kExitFailure;
    }
    WriteKeyValue(out, "input", owner->file_name);

    abort_callback_dummy abort;
    try {
        {
            service_ptr_t<input_decoder> decoder;
            input->open_for_decoding(decoder, file_ptr(), path.c_str(), abort);
            WriteStats(out, "decode", decoder->get_file_stats(abort));
        }
        {
            service_ptr_t<input_info_reader> reader;
            input->open_for_info_read(reader, file_ptr(), path.c_str(), abort);
            WriteStats(out, "info_read", reader->get_file_stats(abort));
        }
        {
            service_ptr_t<input_info_writer> writer;
            input->open_for_info_write(writer, file_ptr(), path.c_str(), abort);
            WriteStats(out, "info_write", writer->get_file_stats(abort));
        }
    } catch (const std::exception& e) {
        WriteKeyValue(out, "error", e.what());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace playhost
