// The media library module's stand-ins for the engine's FFmpeg functions:
// each loads medialib_av.so beside this module on first use (once per
// process, shared by every thread; it then stays loaded) and calls through its
// table. When the module cannot be loaded, or is of another build, every
// stand-in fails the way its function fails on content FFmpeg cannot read:
// the operation that needed FFmpeg fails cleanly, everything else works.
#include "medialib/av/av_module.h"
#include "platform/kernel/modules.h"

namespace medialib {
namespace {

const av::EntryPoints* LoadEntryPoints();

const av::EntryPoints* EntryPoints() {
    static const av::EntryPoints* const table = LoadEntryPoints();
    return table;
}

const av::EntryPoints* LoadEntryPoints() {
    // Anchored at code of this module, so the FFmpeg part is looked for
    // beside medialib.so wherever the registry found it.
    static platform::DelayLoadedModule module(reinterpret_cast<const void*>(&EntryPoints), av::kModuleName);
    auto* entry = module.Resolve<av::EntryPointsFn>(av::kEntryPointsSymbol);
    if (!entry) return nullptr;
    const av::EntryPoints* table = entry();
    if (!table || table->version != av::kEntryPointsVersion || table->size != sizeof(av::EntryPoints))
        return nullptr;
    return table;
}

}  // namespace

namespace ff {

bool ProbeStream(const ByteSource& source, StreamInfo& info, const char* format_name, ProbeChecks checks) {
    const av::EntryPoints* av = EntryPoints();
    return av && av->probe_stream(source, info, format_name, checks);
}

bool SameAudioPackets(const ByteSource& a, const ByteSource& b, const char* format_name) {
    const av::EntryPoints* av = EntryPoints();
    return av && av->same_audio_packets(a, b, format_name);
}

}  // namespace ff

namespace conversion {

Result Convert(const Request& request, const ProgressFn& progress) {
    const av::EntryPoints* av = EntryPoints();
    if (!av) return Result{};
    return av->convert(request, progress);
}

}  // namespace conversion

namespace playback {

std::unique_ptr<Chain> CreateChain(std::unique_ptr<ByteSource> bytes, int rate, int channels) {
    const av::EntryPoints* av = EntryPoints();
    if (!av) return nullptr;
    return av->create_chain(std::move(bytes), rate, channels);
}

}  // namespace playback
}  // namespace medialib
