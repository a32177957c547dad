// A second reader for ID3v2 tags that the project writes: TagLib parses the
// tag at the start of a byte buffer on its own, through a minimal TagLib::File
// over an in-memory stream. Only for test executables that link TagLib.
#pragma once

#include <taglib/id3v2tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

#include <cstdint>
#include <vector>

namespace testsupport {

// What TagLib read from the tag.
struct TagLibId3v2 {
    TagLib::String title;
    TagLib::PropertyMap properties;
};

// Parses the ID3v2 tag at the start of `bytes`; empty fields when there is none.
inline TagLibId3v2 ReadId3v2WithTagLib(const std::vector<uint8_t>& bytes) {
    class Bytes final : public TagLib::File {
      public:
        explicit Bytes(TagLib::IOStream* s) : TagLib::File(s) {}
        TagLib::Tag* tag() const override { return nullptr; }
        TagLib::AudioProperties* audioProperties() const override { return nullptr; }
        bool save() override { return false; }
    };
    TagLib::ByteVector data(reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
    TagLib::ByteVectorStream stream(data);
    Bytes file(&stream);
    const TagLib::ID3v2::Tag tag(&file, 0);
    return {tag.title(), tag.properties()};
}

}  // namespace testsupport
