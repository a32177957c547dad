// The FFmpeg part's one export (medialib_av.so): its table of entry points.
#include "medialib/av/av_module.h"
#include "platform/export.h"

namespace {

constexpr medialib::av::EntryPoints kEntryPoints = {
    medialib::av::kEntryPointsVersion, sizeof(medialib::av::EntryPoints), &medialib::ff::ProbeStream,
    &medialib::ff::SameAudioPackets,   &medialib::conversion::Convert,    &medialib::playback::CreateChain,
};

}  // namespace

extern "C" CQ_EXPORT const medialib::av::EntryPoints* MediaLibAvEntryPoints() { return &kEntryPoints; }
