#include "host/playhost/claiming_input.h"

namespace playhost {

ClaimingInput FindClaimingInput(Host& host, const std::string& path) {
    const std::string extension = input_entry::g_extension(path.c_str());
    for (const auto& module : host.components()) {
        for (service_factory_base* factory : module->Factories()) {
            if (factory->get_class_guid() != input_entry::class_guid) continue;
            service_ptr raw;
            factory->instance_create(raw);
            service_ptr_t<input_entry> candidate;
            if (raw.service_query_t(candidate) && candidate->is_our_path(path.c_str(), extension.c_str()))
                return {module.get(), candidate};
        }
    }
    return {};
}

}  // namespace playhost
