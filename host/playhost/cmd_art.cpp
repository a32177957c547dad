// `art PATH [--get KIND --out FILE | --set KIND FILE | --remove KIND]`: a
// file's cover pictures through the album-art services that claim PATH, as
// the player's picture viewer and editor use them. KIND is front, back,
// disc, icon or artist.
//
//   art PATH                      the extractor's pictures, one line per kind
//                                 found: KIND=MIME SIZE bytes WIDTHxHEIGHT
//                                 (MIME and dimensions from decoding the bytes;
//                                 "-" for data that is no picture)
//   art PATH --get KIND --out FILE  the picture's bytes into FILE (replaced);
//                                 prints out=FILE and size=BYTES
//   art PATH --set KIND FILE      FILE's bytes become the picture of KIND;
//                                 prints written=true
//   art PATH --remove KIND        the picture of KIND is removed (the later
//                                 kinds of the file's lists move up one place);
//                                 prints removed=true, as the editor reports no
//                                 failure of a removal
//
// Every form prints path=PATH first; a failure prints the service's error
// text and ends with exit code 1; wrong words are usage errors (exit code 2).
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"
#include "host/sdk/album_art.h"
#include "platform/imaging/gdiplus.h"
#include "platform/imaging/stream.h"

namespace playhost {
namespace {

struct ArtKind {
    const char* name;
    GUID id;
};

constexpr std::array<ArtKind, 5> kKinds = {{{"front", album_art_ids::cover_front},
                                            {"back", album_art_ids::cover_back},
                                            {"disc", album_art_ids::disc},
                                            {"icon", album_art_ids::icon},
                                            {"artist", album_art_ids::artist}}};

std::optional<GUID> KindId(const std::string& name) {
    for (const ArtKind& kind : kKinds) {
        if (name == kind.name) return kind.id;
    }
    return std::nullopt;
}

const char* MimeOfFormat(const GUID& format) {
    if (format == ImageFormatPNG) return "image/png";
    if (format == ImageFormatJPEG || format == ImageFormatEXIF) return "image/jpeg";
    if (format == ImageFormatGIF) return "image/gif";
    if (format == ImageFormatBMP || format == ImageFormatMemoryBMP) return "image/bmp";
    if (format == ImageFormatTIFF) return "image/tiff";
    if (format == ImageFormatIcon) return "image/x-icon";
    return nullptr;
}

// "MIME SIZE bytes WIDTHxHEIGHT" of picture bytes, decoded by the picture
// services; "-" stands for a type or size that the bytes do not give.
std::string Describe(const album_art_data& data) {
    std::string mime = "-";
    std::string dimensions = "-";
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (data.get_size() > 0 && GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        ComPtr<IStream> stream;
        ULONG written = 0;
        if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf())) && stream &&
            data.get_size() <= 0xFFFFFFFFu &&
            SUCCEEDED(stream->Write(data.get_ptr(), static_cast<ULONG>(data.get_size()), &written))) {
            GpBitmap* bitmap = nullptr;
            if (GdipCreateBitmapFromStream(stream.Get(), &bitmap) == Gdiplus::Ok && bitmap) {
                GUID format{};
                UINT width = 0;
                UINT height = 0;
                if (GdipGetImageRawFormat(bitmap, &format) == Gdiplus::Ok) {
                    if (const char* type = MimeOfFormat(format)) mime = type;
                }
                if (GdipGetImageWidth(bitmap, &width) == Gdiplus::Ok &&
                    GdipGetImageHeight(bitmap, &height) == Gdiplus::Ok)
                    dimensions = std::to_string(width) + "x" + std::to_string(height);
            }
            if (bitmap) GdipDisposeImage(bitmap);
        }
        GdiplusShutdown(token);
    }
    return mime + " " + std::to_string(data.get_size()) + " bytes " + dimensions;
}

int List(Session& session, const std::string& path) {
    abort_callback_dummy abort;
    album_art_extractor_instance_ptr instance;
    if (!RunReportingErrors(session.out,
                            [&] { instance = album_art_extractor::g_open(file_ptr(), path.c_str(), abort); }))
        return kExitFailure;
    for (const ArtKind& kind : kKinds) {
        try {
            album_art_data_ptr data = instance->query(kind.id, abort);
            if (data.is_valid()) WriteKeyValue(session.out, kind.name, Describe(*data));
        } catch (const exception_album_art_not_found&) {
            // Kinds the file has no picture of are not listed.
        }
    }
    return kExitOk;
}

int Get(Session& session, const std::string& path, const GUID& kind, const std::string& out_file) {
    abort_callback_dummy abort;
    album_art_data_ptr data;
    const bool read = RunReportingErrors(session.out, [&] {
        data = album_art_extractor::g_open(file_ptr(), path.c_str(), abort)->query(kind, abort);
    });
    if (!read) return kExitFailure;
    std::ofstream file(out_file, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data->get_ptr()), static_cast<std::streamsize>(data->get_size()));
    file.close();
    if (!file) {
        std::error_code error;
        std::filesystem::remove(out_file, error);  // no half-written picture stays
        WriteKeyValue(session.out, "error", "cannot write " + out_file);
        return kExitFailure;
    }
    WriteKeyValue(session.out, "out", out_file);
    WriteKeyValue(session.out, "size", std::to_string(data->get_size()));
    return kExitOk;
}

int Set(Session& session, const std::string& path, const GUID& kind, const std::string& in_file) {
    std::error_code error;
    std::ifstream file;
    if (std::filesystem::is_regular_file(in_file, error)) file.open(in_file, std::ios::binary);
    std::vector<char> bytes;
    if (file.is_open()) bytes.assign(std::istreambuf_iterator<char>(file), {});
    if (!file.is_open() || file.bad()) {
        WriteKeyValue(session.out, "error", "cannot read " + in_file);
        return kExitFailure;
    }
    abort_callback_dummy abort;
    const bool written = RunReportingErrors(session.out, [&] {
        album_art_editor_instance_ptr editor = album_art_editor::g_open(file_ptr(), path.c_str(), abort);
        editor->set(kind, album_art_data_impl::g_create(bytes.data(), bytes.size()), abort);
        editor->commit(abort);
    });
    if (!written) return kExitFailure;
    WriteKeyValue(session.out, "written", true);
    return kExitOk;
}

int Remove(Session& session, const std::string& path, const GUID& kind) {
    abort_callback_dummy abort;
    const bool removed = RunReportingErrors(session.out, [&] {
        album_art_editor_instance_ptr editor = album_art_editor::g_open(file_ptr(), path.c_str(), abort);
        editor->remove(kind);
        editor->commit(abort);
    });
    if (!removed) return kExitFailure;
    WriteKeyValue(session.out, "removed", true);
    return kExitOk;
}

int Usage(Session& session, const std::string& why) {
    if (!why.empty()) session.err << "playhost art: " << why << '\n';
    session.err << "usage: playhost art PATH [--get KIND --out FILE | --set KIND FILE | --remove KIND]\n"
                   "  KIND: front, back, disc, icon or artist\n";
    return kExitUsage;
}

}  // namespace

int RunArt(Session& session, const std::vector<std::string>& args) {
    if (args.empty()) return Usage(session, "");
    enum class Action { List, Get, Set, Remove } action = Action::List;
    std::optional<GUID> kind;
    std::string file;
    if (args.size() > 1) {
        const std::string& option = args[1];
        if (option == "--get" && args.size() == 5 && args[3] == "--out") {
            action = Action::Get;
            file = args[4];
        } else if (option == "--set" && args.size() == 4) {
            action = Action::Set;
            file = args[3];
        } else if (option == "--remove" && args.size() == 3) {
            action = Action::Remove;
        } else {
            return Usage(session, "unexpected words after PATH");
        }
        kind = KindId(args[2]);
        if (!kind) return Usage(session, "unknown kind \"" + args[2] + "\"");
        if (action != Action::Remove && file.empty()) return Usage(session, "FILE is empty");
    }

    const std::string path = PlayerPath(args[0]);
    WriteKeyValue(session.out, "path", path);
    switch (action) {
        case Action::List:
            return List(session, path);
        case Action::Get:
            return Get(session, path, *kind, file);
        case Action::Set:
            return Set(session, path, *kind, file);
        case Action::Remove:
            return Remove(session, path, *kind);
    }
    return kExitFailure;
}

}  // namespace playhost
