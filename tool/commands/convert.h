// "--Convert": the choice of format and bit rate, the conversion attempts
// through the media library, and the final move of the converted file.
//
// The tool asks the library for a format code (container << 16 | codec) and a
// bit rate, chosen from the file-type word, the "--BitRate" option and what
// the target file says of itself. Some targets are made in two stages through
// an intermediate (container 6). Each stage tries the work folders in turn;
// the library converts on a thread of its own and reports through the
// ProgressSink, which the tool polls every 500 ms. The converted file gets
// the target's tags through the Put sequence and is then moved to the output
// path, never over an existing file without "--ForceWrite".
#pragma once

#include <atomic>
#include <string>

#include "library/media_library.h"
#include "tool/commands/command_run.h"

namespace quillet {

// Library states reported through ProgressSink::Notify.
inline constexpr LONG kConvertStarted = 0x1001;
inline constexpr LONG kConvertDone = 0x1003;
inline constexpr LONG kConvertStopped = 0x1004;
inline constexpr LONG kConvertPending = 0x1005;
inline constexpr LONG kConvertWorking = 0x1006;

// The tool's callback for one conversion attempt. It lives in the attempt's
// stack frame and is not reference-counted. The library may call Notify from
// a thread of its own while the tool polls: the state is published last
// (release) and read first (acquire), so the result code and output path are
// complete whenever the state shows 0x1003.
class ConvertProgressSink final : public ProgressSink {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return 0; }
    ULONG Release() override { return 0; }
    HRESULT Notify(LONG unused, LONG state, LONG result_code, LPCWSTR output_path, LONG percent, LONG unused3,
                   LONG* flag) override;

    // Before each attempt: busy, state 0x1005, no result.
    void Reset();
    void DropPath() { output_path_.clear(); }

    bool Busy() const { return busy_.load(std::memory_order_acquire); }
    LONG State() const { return state_.load(std::memory_order_acquire); }
    LONG ResultCode() const { return result_code_; }
    const std::u16string& OutputPath() const { return output_path_; }
    LONG Percent() const { return percent_.load(std::memory_order_relaxed); }

  private:
    std::atomic<bool> busy_{true};
    std::atomic<LONG> state_{kConvertPending};
    LONG result_code_ = 0;
    std::u16string output_path_;
    std::atomic<LONG> percent_{0};  // the library's percentage, for the progress display
};

// The format code of a "--FileType" word (the table of words, else the number).
LONG FileTypeCode(const std::u16string& word);

// Chooses a rate from rate table `table` (0..9) for `wanted`: the closest
// rate of the list (the higher on a tie), and the codec the table implies.
// Tables 0 and 5 only classify `wanted`. False when no codec follows; `rate`
// and `codec` are then as far as they got.
bool SnapBitRate(int table, LONG wanted, LONG* rate, LONG* codec);

// What the target says of itself.
struct ConvertSourceInfo {
    LONG format_code = 0;
    LONG bit_rate = 0;  // the attribute, or the estimate from size and duration
};
// Reads (and then closes) the target item; `path` is its file.
ConvertSourceInfo ReadConvertSource(MediaItem* item, LPCWSTR path);

// The wanted format code and rate from the word, its code, the bit rate
// option (-1 Auto) and the source.
struct ConvertChoice {
    LONG format_code = 0;
    LONG bit_rate = 0;
};
ConvertChoice ChooseConvertFormat(const std::u16string& word, LONG bit_rate_option,
                                  const ConvertSourceInfo& source);

// The intermediate code that target `final_code` needs from `source_code`, or
// 0 when it can be made directly.
LONG IntermediateCode(LONG final_code, LONG source_code);

// Test hook: the polling waits through this function (milliseconds).
void SetConvertWaitForTesting(void (*wait)(DWORD milliseconds));

// The final move, at the end of the Put sequence of a conversion. Returns
// false when the run must end without the closing listing.
bool FinishConversion(CommandRun& run);

}  // namespace quillet
