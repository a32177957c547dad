// Writes a small OpenMG file from a generated tone, tagged with a title,
// artist and album, for the README's demo and for trying the tools by hand:
//   make_demo_oma OUTPUT.oma [SECONDS]
#include <cstdio>
#include <cstdlib>

#include "library/media_ids.h"
#include "medialib/openmg/openmg_file.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.oma [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc == 3 ? std::atof(argv[2]) : 3.0;
    if (!(seconds > 0 && seconds <= 600)) {
        std::fprintf(stderr, "seconds must be more than 0 and at most 600\n");
        return 2;
    }
    medialib::openmg::DemoOmaOptions options;
    options.tags[medialib::attr::Title] = {std::u16string(u"Demo Tone")};
    options.tags[medialib::attr::Artist] = {std::u16string(u"Quillet")};
    options.tags[medialib::attr::Album] = {std::u16string(u"Generated Sounds")};
    options.tags[medialib::attr::TrackNumber] = {int32_t{1}};
    if (!medialib::openmg::WriteDemoOma(argv[1], seconds, options)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(stderr, "wrote %s (%.1f s of a 440 Hz tone)\n", argv[1], seconds);
    return 0;
}
