#include "medialib/playback/chain.h"

#include <algorithm>

#include "medialib/playback/filters.h"

namespace medialib::playback {
namespace {

class FilterChain final : public Chain {
  public:
    FilterChain(ComPtr<Source> source, ComPtr<Decoder> decoder, ComPtr<AudioOutput> output)
        : source_(std::move(source)), decoder_(std::move(decoder)), output_(std::move(output)) {}

    IBaseFilter* SourceFilter() override { return source_.Get(); }
    IBaseFilter* DecoderFilter() override { return decoder_.Get(); }
    IBaseFilter* OutputFilter() override { return output_.Get(); }

    int64_t DurationMs() const override { return source_->DurationMs(); }

    void Seek(int64_t ms) override {
        ms = std::max<int64_t>(ms, 0);
        source_->Seek(ms);
        decoder_->Flush(ms > 0 ? ms : -1);
    }

    void SeekToEnd() override {
        source_->SeekToEnd();
        decoder_->Flush(-1);
    }

    bool Ended() const override { return decoder_->Ended(); }

  private:
    ComPtr<Source> source_;
    ComPtr<Decoder> decoder_;
    ComPtr<AudioOutput> output_;
};

}  // namespace

std::unique_ptr<Chain> CreateChain(std::unique_ptr<ByteSource> bytes, int rate, int channels) {
    ComPtr<Source> source;
    source.Attach(Source::Create(std::move(bytes)));
    ComPtr<Decoder> decoder;
    decoder.Attach(Decoder::Create(rate, channels));
    if (!source || !decoder) return nullptr;
    ComPtr<AudioOutput> output;
    output.Attach(new AudioOutput());
    return std::make_unique<FilterChain>(std::move(source), std::move(decoder), std::move(output));
}

}  // namespace medialib::playback
