// `scan FOLDER`: every file below FOLDER that a loaded input claims is read
// for its information, in this one process, as a player's library scan does.
//
// The walk lists each folder once, in byte order of the names, a subfolder's
// files in its place. A file is asked for by name first (the claiming inputs'
// is_our_path), so unclaimed files cost no system call beyond the listing.
// Only regular files are opened: a FIFO, device or socket is skipped unopened
// (opening a FIFO for reading would wait for a writer), and so is a symbolic
// link to a folder, so a link back up the tree cannot loop; a link to a
// regular file is read under its own name. A folder that cannot be listed and
// a file that cannot be read are reported on their own lines, and the walk
// goes on.
//
// Output, one line per file, its facts tab-separated (values are escaped, so
// a tab never occurs inside one):
//   path=P<TAB>codec=..<TAB>samplerate=..<TAB>channels=..<TAB>length=..<TAB>artist=..<TAB>title=..
// (each fact only when the record has it; length in seconds), or
//   path=P<TAB>error=TEXT        for a file that could not be read,
//   folder=F<TAB>error=TEXT      for a folder that could not be listed,
// then one closing line:
//   files=N<TAB>failed=F<TAB>skipped=S<TAB>seconds=T<TAB>per_file=U us
// N counts the claimed files read or tried, S the entries passed over
// (unclaimed files, links to folders, FIFOs and devices), T the time of the
// whole walk and U that time divided by N. When standard output is a terminal,
// a progress line below the results shows the count; through a pipe nothing
// but the lines above is written. Exit code 1 when any file or folder failed.
#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "host/playhost/claiming_input.h"
#include "host/playhost/commands.h"
#include "host/playhost/output.h"

namespace playhost {
namespace {

using Clock = std::chrono::steady_clock;

// What the walk found: a claimed file to read, or a folder that could not be
// listed, in the order of the tree.
struct Found {
    std::string path;
    ClaimingInput claim;  // null input: `path` is a folder that failed
    std::string error;    // the folder's failure
};

class Walk {
  public:
    explicit Walk(const ClaimingInputs& inputs) : inputs_(inputs) {}

    void Folder(const std::string& folder) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) {
            found_.push_back({folder, {}, std::strerror(errno)});
            return;
        }
        struct Entry {
            std::string name;
            unsigned char type;
        };
        std::vector<Entry> entries;
        errno = 0;
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            entries.push_back({e->d_name, e->d_type});
        }
        const int read_error = errno;
        ::closedir(dir);
        if (read_error != 0) found_.push_back({folder, {}, std::strerror(read_error)});
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });

        const std::string prefix = folder.ends_with('/') ? folder : folder + '/';
        for (const Entry& entry : entries) {
            std::string path = prefix + entry.name;
            unsigned char type = entry.type;
            if (type == DT_UNKNOWN) {
                // Some file systems leave the type to a stat of the entry itself.
                struct stat st {};
                if (::lstat(path.c_str(), &st) != 0) {
                    ++skipped_;
                    continue;
                }
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISREG(st.st_mode) ? DT_REG
                       : S_ISLNK(st.st_mode) ? DT_LNK
                                             : DT_FIFO;
            }
            if (type == DT_DIR) {
                Folder(path);
            } else if (type == DT_REG || type == DT_LNK) {
                File(std::move(path), type == DT_LNK);
            } else {
                ++skipped_;  // FIFO, device, socket: never opened
            }
        }
        Progress();
    }

    std::vector<Found>& found() { return found_; }
    size_t skipped() const { return skipped_; }
    void ShowProgress(std::ostream& out, bool on) {
        out_ = &out;
        progress_ = on;
    }

  private:
    void File(std::string path, bool link) {
        ClaimingInput claim = inputs_.Find(path);
        if (!claim.input) {
            ++skipped_;
            return;
        }
        if (link) {
            // The link is followed to see what it names; only a regular file is read.
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                // A dangling link to a claimed name is a file that cannot be read.
                found_.push_back({std::move(path), claim, {}});
                return;
            }
            if (!S_ISREG(st.st_mode)) {
                ++skipped_;
                return;
            }
        }
        found_.push_back({std::move(path), claim, {}});
    }

    void Progress() {
        if (!progress_) return;
        const Clock::time_point now = Clock::now();
        if (now - shown_ < std::chrono::milliseconds(100)) return;
        shown_ = now;
        *out_ << "\r\033[Klooking for files: " << found_.size() << " found" << std::flush;
    }

    const ClaimingInputs& inputs_;
    std::vector<Found> found_;
    size_t skipped_ = 0;
    std::ostream* out_ = nullptr;
    bool progress_ = false;
    Clock::time_point shown_{};
};

// The summary facts of one record, tab-separated after the path.
void WriteSummary(std::ostream& out, const std::string& path, const file_info& info) {
    out << "path=" << EscapeValue(path);
    const auto fact = [&](const char* key, const char* value) {
        if (value && *value) out << '\t' << key << '=' << EscapeValue(value);
    };
    fact("codec", info.info_get("codec"));
    fact("samplerate", info.info_get("samplerate"));
    fact("channels", info.info_get("channels"));
    if (info.get_length() > 0) out << "\tlength=" << ShortestNumber(info.get_length());
    fact("artist", info.meta_get("artist", 0));
    fact("title", info.meta_get("title", 0));
    out << '\n';
}

// The width of the terminal on standard output (80 when it does not say).
size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
    return 80;
}

// The progress line below the results: "scanning N/TOTAL (P%) NAME", cut to
// the terminal's width so that it never wraps (a wrapped line could not be
// redrawn in place).
void DrawProgress(std::ostream& out, size_t done, size_t total, const std::string& path, size_t columns) {
    std::string line = "scanning " + std::to_string(done) + "/" + std::to_string(total) + " (" +
                       std::to_string(total ? done * 100 / total : 100) + "%) ";
    const size_t slash = path.rfind('/');
    line += EscapeValue(slash == std::string::npos ? path : path.substr(slash + 1));
    if (line.size() >= columns) {
        size_t cut = columns - 1;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a character
        line.resize(cut);
    }
    out << "\r\033[K" << line << std::flush;
}

}  // namespace

int RunScan(Session& session, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        session.err << "usage: playhost scan FOLDER\n";
        return kExitUsage;
    }
    std::ostream& out = session.out;
    const std::string folder = PlayerPath(args[0]);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        WriteKeyValue(out, "error", "not a folder: " + folder);
        return kExitFailure;
    }
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    const size_t columns = terminal ? TerminalColumns() : 0;

    const Clock::time_point start = Clock::now();
    const ClaimingInputs inputs(session.host);
    Walk walk(inputs);
    walk.ShowProgress(out, terminal);
    walk.Folder(folder);

    std::vector<Found>& found = walk.found();
    size_t total = 0;
    for (const Found& item : found) total += item.claim.input ? 1 : 0;
    size_t files = 0;
    size_t failed = 0;
    bool folder_failed = false;
    abort_callback_dummy abort;
    for (Found& item : found) {
        if (terminal) out << "\r\033[K";  // the progress line gives way to the result
        if (!item.claim.input) {
            out << "folder=" << EscapeValue(item.path) << "\terror=" << EscapeValue(item.error) << '\n';
            folder_failed = true;
            continue;
        }
        ++files;
        file_info_impl info;
        try {
            ReadFileInfo(item.claim.input, item.path, info, abort);
            WriteSummary(out, item.path, info);
        } catch (const std::exception& e) {
            out << "path=" << EscapeValue(item.path) << "\terror=" << EscapeValue(e.what()) << '\n';
            ++failed;
        }
        if (terminal) DrawProgress(out, files, total, item.path, columns);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (terminal) out << "\r\033[K";
    out << "files=" << files << "\tfailed=" << failed << "\tskipped=" << walk.skipped()
        << "\tseconds=" << FixedNumber(seconds, 3)
        << "\tper_file=" << FixedNumber(files ? seconds * 1e6 / files : 0, 1) << " us\n";
    return failed || folder_failed ? kExitFailure : kExitOk;
}

}  // namespace playhost
