#include "host/playhost/claiming_input.h"

#include <filesystem>
#include <system_error>

namespace playhost {

std::string PlayerPath(const std::string& typed) {
    if (typed.empty() || typed.find("://") != std::string::npos) return typed;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(typed, error);
    if (error) return typed;
    return absolute.lexically_normal().string();
}

ClaimingInputs::ClaimingInputs(Host& host) {
    for (const auto& module : host.components()) {
        for (service_factory_base* factory : module->Factories()) {
            if (factory->get_class_guid() != input_entry::class_guid) continue;
            service_ptr raw;
            factory->instance_create(raw);
            service_ptr_t<input_entry> entry;
            if (raw.service_query_t(entry)) inputs_.push_back({module.get(), entry});
        }
    }
}

ClaimingInput ClaimingInputs::Find(const std::string& path) const {
    const std::string extension = input_entry::g_extension(path.c_str());
    for (const ClaimingInput& candidate : inputs_) {
        if (candidate.input->is_our_path(path.c_str(), extension.c_str())) return candidate;
    }
    return {};
}

ClaimingInput FindClaimingInput(Host& host, const std::string& path) {
    return ClaimingInputs(host).Find(path);
}

ClaimingInput AnnounceClaimingInput(std::ostream& out, Host& host, const std::string& path) {
    return AnnounceClaimingInput(out, ClaimingInputs(host), path);
}

ClaimingInput AnnounceClaimingInput(std::ostream& out, const ClaimingInputs& inputs,
                                    const std::string& path) {
    WriteKeyValue(out, "path", path);
    ClaimingInput claim = inputs.Find(path);
    if (!claim.input)
        WriteKeyValue(out, "error", exception_io_unsupported_format().what());
    else
        WriteKeyValue(out, "input", claim.owner->file_name);
    return claim;
}

void ReadFileInfo(const service_ptr_t<input_entry>& input, const std::string& path, file_info& info,
                  abort_callback& abort) {
    service_ptr_t<input_info_reader> reader;
    input->open_for_info_read(reader, file_ptr(), path.c_str(), abort);
    reader->get_info(0, info, abort);
}

}  // namespace playhost
