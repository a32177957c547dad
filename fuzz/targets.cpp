#include "fuzz/entries.h"

namespace cqfuzz {

const std::vector<Target>& AllTargets() {
    static const std::vector<Target> targets = {
        {"open", Open},
        {"ea3_tag", Ea3Tag},
        {"ea3_header", Ea3Header},
        {"omg_package", OmgPackage},
        {"mp4_boxes", Mp4Boxes},
        {"riff", Riff},
        {"mpeg", Mpeg},
        {"info_file", InfoFile},
        {"side_tag_trailer", SideTagTrailer},
        {"registry_file", RegistryFile},
        {"jpeg", Jpeg},
        {"png", Png},
        {"gif", Gif},
        {"bmp", Bmp},
        {"tiff", Tiff},
        {"atrac3_encode", Atrac3Encode},
    };
    return targets;
}

const Target* FindTarget(std::string_view name) {
    for (const Target& t : AllTargets())
        if (name == t.name) return &t;
    return nullptr;
}

}  // namespace cqfuzz
