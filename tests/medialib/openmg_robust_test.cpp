// Damaged input: truncated and bit-flipped copies of every sample must open
// or be refused without crashing, hanging or leaking (run under ASan/UBSan),
// and a file that opens must survive a save and open again.
#include <random>

#include "medialib/openmg/ea3_header.h"
#include "openmg_test_util.h"

namespace {

using namespace medialib;

size_t g_values_seen = 0;

// Touches everything an opened file reports.
void Exercise(const OpenedFile& file) {
    size_t n = 0;
    for (const auto& [id, values] : file.Attributes()) n += values.size() + file.CanStore(id);
    n += static_cast<size_t>(file.Container()) + static_cast<size_t>(file.Codec()) + file.Decodable();
    g_values_seen += n;
}

size_t OpenMutant(std::span<const uint8_t> bytes) {
    (void)LooksLikeOpenMg(bytes.first(std::min<size_t>(bytes.size(), 64)));
    const auto src = MemorySource(bytes);
    const auto file = OpenOpenMg(*src, "mutant.oma");
    if (!file) return 0;
    Exercise(*file);
    return 1;
}

struct Corpus {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<Corpus> LoadCorpus(const testsupport::ScopedTempDir& dir) {
    std::vector<Corpus> corpus;
    for (const char* name :
         {"pronom_03-Untitled-3_atrac3plus.oma", "pronom_02-Untitled-2_aal_atrac3.oma",
          "pronom_02-Untitled-2_openmg_legacy.omg", "atracdencU_test_atrac3_132k_noid3.oma",
          "atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma"}) {
        const auto path = testsupport::SamplePath(name);
        if (!path.empty()) corpus.push_back({name, testsupport::ReadBytes(path)});
    }
    // A generated file whose tag holds every kind of frame, pictures included.
    openmg::DemoOmaOptions options;
    options.tags[attr::Title] = {std::u16string(u"Title")};
    options.tags[attr::TrackNumber] = {int32_t{3}};
    options.tags[attr::TotalTracks] = {int32_t{9}};
    options.tags[attr::Release] = {DateValue{38353.5}};
    options.tags[attr::ArtistURL] = {std::u16string(u"http://example.com")};
    options.tags[attr::LyricsText] = {std::u16string(u"lyrics")};
    options.tags[attr::LinerNotesText] = {std::u16string(u"notes")};
    options.tags[attr::Jacket] = {omgtest::Picture("image/jpeg", {0xFF, 0xD8, 1, 2}),
                                  omgtest::Picture("image/png", {0x89, 'P', 'N', 'G'})};
    options.tags[attr::JacketAlt] = {omgtest::Picture("image/gif", {'G', 'I', 'F'})};
    const auto generated = dir / "generated.oma";
    if (openmg::WriteDemoOma(generated, 0.05, options))
        corpus.push_back({"generated", testsupport::ReadBytes(generated)});
    return corpus;
}

TEST(OpenMgRobustness, TruncatedAndBitFlippedCopies) {
    testsupport::ScopedTempDir dir;
    auto corpus = LoadCorpus(dir);
    ASSERT_FALSE(corpus.empty());
    std::mt19937 rng(20240607);
    size_t mutations = 0;
    size_t opened = 0;

    for (auto& c : corpus) {
        auto& bytes = c.bytes;
        const size_t ea3 = omgtest::Ea3Offset(bytes);
        // Structure lies in the tag, the audio header and (for AAL and the
        // legacy package) the first packets or the trailer: mutate there mostly.
        const size_t hot = std::min(bytes.size(), ea3 + openmg::kEa3HeaderSize + 256);

        // Truncations: every length around the structure, then a spread.
        std::vector<size_t> lengths;
        for (size_t n = 0; n < std::min<size_t>(hot, 160); ++n) lengths.push_back(n);
        for (size_t n = ea3 > 8 ? ea3 - 8 : 0; n < std::min(bytes.size(), ea3 + 110); ++n)
            lengths.push_back(n);
        for (int i = 0; i < 60; ++i)
            lengths.push_back(std::uniform_int_distribution<size_t>(0, bytes.size())(rng));
        lengths.push_back(bytes.size() - 1);
        for (size_t n : lengths) {
            opened += OpenMutant(std::span(bytes).first(n));
            ++mutations;
        }

        // Bit flips and byte overwrites, undone after each open.
        const size_t tail = bytes.size() > 1024 ? bytes.size() - 1024 : 0;
        for (int i = 0; i < 400; ++i) {
            size_t pos;
            const int where = std::uniform_int_distribution<int>(0, 9)(rng);
            if (where < 6)
                pos = std::uniform_int_distribution<size_t>(0, hot - 1)(rng);
            else if (where < 8)
                pos = std::uniform_int_distribution<size_t>(tail, bytes.size() - 1)(rng);
            else
                pos = std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(rng);
            const uint8_t saved = bytes[pos];
            static constexpr uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
            const int kind = std::uniform_int_distribution<int>(0, 12)(rng);
            bytes[pos] = kind < 8 ? static_cast<uint8_t>(saved ^ (1u << kind)) : kValues[kind - 8];
            opened += OpenMutant(bytes);
            bytes[pos] = saved;
            ++mutations;
        }
    }
    // Every file of the corpus (the generated one alone where the samples are
    // absent) went through its truncations and its 400 flips.
    EXPECT_GT(mutations, 600u * corpus.size());
    EXPECT_GT(opened, 0u);
    std::cout << "[ INFO ] " << mutations << " mutations, " << opened << " opened, " << g_values_seen
              << " values seen\n";
}

// Damaged tags that still open: saving must either fail cleanly or write a
// file that opens again with the same audio.
TEST(OpenMgRobustness, DamagedTagsSurviveASave) {
    testsupport::ScopedTempDir dir;
    auto corpus = LoadCorpus(dir);
    std::mt19937 rng(77);
    size_t saved = 0;
    for (auto& c : corpus) {
        if (c.name.find("legacy") != std::string::npos || c.name.find("aal") != std::string::npos) continue;
        const size_t ea3 = omgtest::Ea3Offset(c.bytes);
        if (ea3 == 0) continue;
        for (int i = 0; i < 15; ++i) {
            auto bytes = c.bytes;
            for (int k = 0; k < 4; ++k) {
                bytes[std::uniform_int_distribution<size_t>(10, ea3 - 1)(rng)] ^=
                    static_cast<uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(rng));
            }
            const auto path = dir / "damaged.oma";
            testsupport::WriteBytes(path, bytes);
            const auto file = omgtest::Open(path);
            if (!file) continue;
            const auto audio = omgtest::AudioPart(path);
            AttributeSet tags = file->Attributes();
            tags[attr::Title] = {std::u16string(u"after damage")};
            if (!file->Save(path, tags)) continue;
            ++saved;
            const auto again = omgtest::Open(path);
            ASSERT_NE(again, nullptr) << c.name << " mutation " << i;
            EXPECT_EQ(omgtest::Text(*again, attr::Title), u"after damage");
            EXPECT_EQ(omgtest::AudioPart(path), audio);
        }
    }
    EXPECT_GT(saved, 0u);
}

// Hostile sizes: a tag size field that claims far more than the file, a
// BER length of 2^63, and an AAL stream of zero-length packets.
TEST(OpenMgRobustness, HostileSizesAreRefusedCheaply) {
    std::vector<uint8_t> tag = {'e', 'a', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    tag.resize(200, 0);
    EXPECT_EQ(OpenMutant(tag), 0u);

    std::vector<uint8_t> ber = {0x30, 0x80, 0x30, 0x80, 0x06, 0x07, 'f',  'o',  'p',  'e',  'n', 'M',
                                'G',  0x04, 0x88, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(OpenMutant(ber), 0u);
    std::vector<uint8_t> nested = {0x30, 0x80, 0x30, 0x80, 0x06, 0x07, 'f', 'o', 'p', 'e', 'n', 'M', 'G'};
    for (int i = 0; i < 5000; ++i) nested.insert(nested.end(), {0x30, 0x80});
    EXPECT_EQ(OpenMutant(nested), 0u);

    openmg::Ea3Header aal;
    aal.codec_id = 0x22;
    aal.params = 0x520376;
    aal.base_params = 0x002030;
    const auto h = openmg::RenderEa3Header(aal);
    std::vector<uint8_t> file(h.begin(), h.end());
    for (int i = 0; i < 20000; ++i)
        file.insert(file.end(),
                    {'B', 'L', 'K', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const auto src = MemorySource(file);
    const auto opened = OpenOpenMg(*src, "x.oma");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(omgtest::Int(*opened, attr::MilliSecond), 464399);  // 20000 packets of 1024 samples
}

}  // namespace
