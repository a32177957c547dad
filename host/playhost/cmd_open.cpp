// `open PATH`: the input that claims PATH opens it three times, once per kind
// of object (decoder, info reader, info writer), and each object's file stats
// are printed. The first failure prints the exception's text and ends the
// command with exit code 1.
#include <string>

#include "host/playhost/claiming_input.h"
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
    const std::string path = PlayerPath(args[0]);
    std::ostream& out = session.out;
    const ClaimingInput claim = AnnounceClaimingInput(out, session.host, path);
    if (!claim.input) return kExitFailure;
    const service_ptr_t<input_entry>& input = claim.input;

    abort_callback_dummy abort;
    const bool opened = RunReportingErrors(out, [&] {
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
        service_ptr_t<input_info_writer> writer;
        input->open_for_info_write(writer, file_ptr(), path.c_str(), abort);
        WriteStats(out, "info_write", writer->get_file_stats(abort));
    });
    return opened ? kExitOk : kExitFailure;
}

}  // namespace playhost
