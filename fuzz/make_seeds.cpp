// Writes seed inputs for the fuzz targets with the project's own writers:
//   fuzz_make_seeds OUTPUT_FOLDER
// One subfolder per target (see entries.h). scripts/make_fuzz_seeds.sh adds
// the files that the ffmpeg command makes (MP3, MP4, 3GP, WAV, pictures).
#include <taglib/id3v2tag.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "library/media_ids.h"
#include "medialib/core/dates.h"
#include "medialib/openmg/ea3_header.h"
#include "medialib/openmg/ea3_tag.h"
#include "medialib/openmg/openmg_file.h"
#include "platform/imaging/pixel_image.h"
#include "platform/text/text.h"
#include "plugin/tags/profile_store.h"
#include "tool/tags/info_file.h"

namespace fs = std::filesystem;
using namespace medialib;

namespace {

fs::path g_out;
bool g_ok = true;

void Write(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::create_directories(g_out / target);
    std::ofstream out(g_out / target / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) g_ok = false;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> SmallPng() {
    platform::imaging::PixelImage image;
    platform::imaging::AllocatePixels(image, 4, 3, 0xFF336699u);
    std::vector<uint8_t> png;
    platform::imaging::EncodePng(image, png);
    return png;
}

AttributeSet Tags(bool pictures) {
    AttributeSet t;
    t[attr::Title] = {std::u16string(u"Title \u00e9\u65e5")};
    t[attr::Artist] = {std::u16string(u"Artist"), std::u16string(u"Second")};
    t[attr::Album] = {std::u16string(u"Album")};
    t[attr::Genre] = {std::u16string(u"Genre")};
    t[attr::Composer] = {std::u16string(u"Composer")};
    t[attr::AlbumArtist] = {std::u16string(u"Album artist")};
    t[attr::SortTitle] = {std::u16string(u"Sort")};
    t[attr::TrackNumber] = {int32_t{7}};
    CivilTime date;
    date.year = 1999, date.month = 12, date.day = 31, date.hour = 23, date.minute = 59, date.second = 58;
    t[attr::Release] = {ToDateValue(date)};
    if (pictures)
        t[attr::Jacket] = {
            std::make_shared<PictureData>(PictureData{"image/png", SmallPng()}),
            std::make_shared<PictureData>(PictureData{"image/jpeg", {0xFF, 0xD8, 0xFF, 0xD9}})};
    return t;
}

void OpenMgSeeds() {
    using namespace openmg;
    // A whole file (tag, header, LPCM payload) for the container entries.
    const fs::path demo = g_out / "demo.oma";
    DemoOmaOptions options;
    options.tags = Tags(true);
    if (!WriteDemoOma(demo, 0.05, options)) {
        g_ok = false;
        return;
    }
    const std::vector<uint8_t> file = ReadFile(demo);
    fs::remove(demo);
    Write("open", "demo.oma", file);

    for (bool pictures : {false, true}) {
        const auto tag = RenderEa3Tag(Tags(pictures), AllTagAttributeIds(), {});
        if (tag) Write("ea3_tag", pictures ? "pictures.ea3" : "text.ea3", *tag);
    }
    const auto empty = RenderEa3Tag({}, AllTagAttributeIds(), {});
    if (empty) Write("ea3_tag", "empty.ea3", *empty);

    // Headers of each codec, followed by a little payload.
    struct Codec {
        const char* name;
        OmaCodec id;
        uint32_t params;
    };
    const uint32_t at3 = Atrac3Params(44100, 384, false);
    const Codec codecs[] = {
        {"atrac3", OmaCodec::Atrac3, at3},
        {"atrac3plus", OmaCodec::Atrac3Plus, 0x002817},
        {"mp3", OmaCodec::Mp3, 0x000000},
        {"lpcm", OmaCodec::Lpcm, 0x000000},
        {"aal_atrac3plus", OmaCodec::AalAtrac3Plus, 0x002817},
        {"aal_atrac3", OmaCodec::AalAtrac3, at3},
    };
    for (const Codec& c : codecs) {
        Ea3Header h;
        h.codec_id = static_cast<uint8_t>(c.id);
        h.params = c.params;
        h.duration_ms = 1000;
        h.packet_count = 3;
        h.base_codec_id = static_cast<uint8_t>(OmaCodec::Atrac3);
        h.base_params = at3;
        const auto rendered = RenderEa3Header(h);
        std::vector<uint8_t> bytes(rendered.begin(), rendered.end());
        if (c.id == OmaCodec::AalAtrac3Plus || c.id == OmaCodec::AalAtrac3) {
            for (int i = 0; i < 3; ++i) {
                std::vector<uint8_t> packet = {'B', 'L', 'K', 0, 0, 40};
                packet.resize(24 + 40, static_cast<uint8_t>(i));
                bytes = Cat(bytes, packet);
            }
        } else {
            bytes.resize(bytes.size() + 384 * 2, 0x5A);
        }
        Write("ea3_header", std::string(c.name) + ".ea3h", bytes);
    }
    if (file.size() > 3072 + 96 + 64)
        Write("ea3_header", "demo.ea3h",
              std::vector<uint8_t>(file.begin() + 3072, file.begin() + 3072 + 96 + 64));
}

// A legacy package: header sequence, payload, XML trailer (BER).
std::vector<uint8_t> Ber(uint8_t tag, const std::vector<uint8_t>& content) {
    std::vector<uint8_t> out = {tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(content.size()));
    } else {
        out.insert(out.end(),
                   {0x82, static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())});
    }
    return Cat(out, content);
}

void PackageSeeds() {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><package><album><caption><title>Album &amp; more</title>"
        "</caption></album><track><caption><title>Title &#x65E5;</title><artist>Artist</artist></caption>"
        "<genre>Genre</genre><tracknumber>3</tracknumber><rendition "
        "format=\"audio/atrac3\"/></track></package>";
    std::vector<uint8_t> header = {0x30, 0x80};
    for (const auto& e :
         {Ber(0x06, {'f', 'o', 'p', 'e', 'n', 'M', 'G'}), Ber(0x02, {0x03, 0xEB}),
          Ber(0x04, std::vector<uint8_t>(20, 1)), Ber(0x02, {0x3F, 0x00}), Ber(0x02, {0x0F, 0x00}),
          Ber(0x02, {0}), Ber(0x02, {0x02, 0x03, 0xA0}), Ber(0x02, {0x01, 0x80}), Ber(0x02, {0})})
        header = Cat(header, e);
    header = Cat(header, {0, 0});
    std::vector<uint8_t> out = Cat({0x30, 0x80}, header);
    out = Cat(out, Ber(0x04, std::vector<uint8_t>(8, 7)));
    out = Cat(out, Ber(0x04, std::vector<uint8_t>(384 * 2, 0x55)));
    std::vector<uint8_t> trailer = {0x30, 0x80};
    const std::string name = "OMG:FRINGE:USR:user.xml";
    trailer = Cat(trailer, Ber(0x04, {name.begin(), name.end()}));
    trailer = Cat(trailer, Ber(0x04, {xml.begin(), xml.end()}));
    trailer = Cat(trailer, {0, 0});
    out = Cat(Cat(out, trailer), {0, 0});
    Write("omg_package", "package.omg", out);
    Write("open", "package.omg", out);
}

void InfoSeeds() {
    quillet::NameValueList list;
    list.Append(u"Title", u"Title \u00e9\u65e5");
    list.Append(u"Artist", u"Artist");
    list.Append(u"TrackNumber", u"4/9");
    list.Append(u"Release", u"1999/12/31 23:59:58");
    list.Append(u"Comment", u"a=b");
    for (int digit : {1, 2, 8}) {
        const fs::path path = g_out / "info_file" / ("digit" + std::to_string(digit) + ".info");
        fs::create_directories(path.parent_path());
        const std::u16string wide = platform::Utf8ToUtf16(path.string());
        if (!quillet::WriteInfoFile(list, wide.c_str(), digit)) g_ok = false;
    }
}

void SideTagSeeds() {
    TagLib::ID3v2::Tag tag;
    tag.setTitle(TagLib::String("Title", TagLib::String::UTF8));
    tag.setArtist(TagLib::String("Artist", TagLib::String::UTF8));
    const TagLib::ByteVector rendered = tag.render();
    const std::vector<uint8_t> id3(rendered.begin(), rendered.end());
    for (const char16_t* key : {u"C:\\MUSIC\\ALBUM\\TRACK.OMA", u"\\\\SERVER\\SHARE\\A.MP3", u"X"}) {
        // First byte: the first window the lookup tries (see plugin_entries.cpp).
        const std::vector<uint8_t> file = Cat(id3, corvina::ProfileTrailer(key));
        Write("side_tag_trailer", "key" + std::to_string(file.size()) + ".tag", Cat({64}, file));
        Write("side_tag_trailer", "small_window" + std::to_string(file.size()) + ".tag", Cat({1}, file));
    }
}

void RegistrySeeds() {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{01234567-89AB-CDEF-0123-456789ABCDEF}"
        "\\InprocServer32]\r\n"
        "@=\"medialib.so\"\r\n\"ThreadingModel\"=\"Both\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Sony\\Value]\r\n\"Count\"=dword:0000001d\r\n"
        "\"Quoted \\\"name\\\"\"=\"text \\\\ more\"\r\n; comment\r\n[-HKEY_CURRENT_USER\\Gone]\r\n";
    Write("registry_file", "utf8.reg", std::vector<uint8_t>(text.begin(), text.end()));
    std::vector<uint8_t> utf16 = {0xFF, 0xFE};
    for (char16_t c : platform::Utf8ToUtf16("REGEDIT4\r\n" + text.substr(text.find('[')))) {
        utf16.push_back(static_cast<uint8_t>(c & 0xFF));
        utf16.push_back(static_cast<uint8_t>(c >> 8));
    }
    Write("registry_file", "utf16.reg", utf16);
}

void PictureSeeds() {
    platform::imaging::PixelImage image;
    platform::imaging::AllocatePixels(image, 8, 5, 0x80FF0000u);
    for (uint32_t y = 0; y < image.height; ++y) image.Row(y)[y] = 0xFF00FF00u;
    std::vector<uint8_t> jpeg, png;
    if (platform::imaging::EncodeJpeg(image, 75, jpeg)) Write("jpeg", "writer.jpg", jpeg);
    if (platform::imaging::EncodePng(image, png)) Write("png", "writer.png", png);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = argv[1];
    fs::create_directories(g_out);
    OpenMgSeeds();
    PackageSeeds();
    InfoSeeds();
    SideTagSeeds();
    RegistrySeeds();
    PictureSeeds();
    if (!g_ok) std::fprintf(stderr, "fuzz_make_seeds: some seeds could not be written\n");
    return g_ok ? 0 : 1;
}
