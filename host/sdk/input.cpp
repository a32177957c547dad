#include "host/sdk/input.h"

#include <cstring>
#include <string_view>

#include "host/sdk/component.h"

std::string input_entry::g_extension(const char* path) {
    std::string_view text = path ? path : "";
    const size_t slash = text.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? text : text.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

bool component_installation_validator_filename::g_matches(const char* full_path, const char* expected) {
    if (!full_path || !expected) return false;
    std::string_view text = full_path;
    const size_t cut = text.find_last_of("/:\\|");
    const std::string_view name = cut == std::string_view::npos ? text : text.substr(cut + 1);
    return name == expected;
}
