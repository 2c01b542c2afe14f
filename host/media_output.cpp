// Encoded outputs: MP3 (LAME), Opus, AAC in M4A and Vorbis in Ogg, from the
// float result, with the input's tags and pictures.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include "host/media_copy.h"
#include "host/media_file.h"
#include "host/media_tags.h"

struct MediaOutput {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    SwrContext* convert = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int channels = 0, frameSize = 0;
    int64_t pts = 0;
    bool opened = false;  // the file exists and its header is written
    StreamCopy copy;      // a video file's other streams
    std::vector<float> scaled;
    std::vector<uint8_t*> planes;
};

namespace {

struct Codec {
    OutputKind kind;
    const char* muxer;
    const char* encoder;
    const char* extension;
    int lowest, highest, standard;  // --quality: what it means is the codec's
    int headroom;                   // tenths of a dB its decoded peaks may rise above the ceiling
    bool video;                     // the input's other streams are copied in
    bool lossless;                  // integer samples kept exactly; no --quality
};

// mp3: LAME's VBR level (V0 best); opus, m4a: kbit/s; ogg: Vorbis quality.
const Codec codecs[] = {
    {OutputKind::mp3, "mp3", "libmp3lame", ".mp3", 0, 9, 2, 15, false, false},
    {OutputKind::opus, "opus", "libopus", ".opus", 6, 510, 160, 20, false, false},
    {OutputKind::m4a, "ipod", "aac", ".m4a", 16, 512, 256, 5, false, false},
    {OutputKind::ogg, "ogg", "libvorbis", ".ogg", -1, 10, 6, 15, false, false},
    {OutputKind::mp4, "mp4", "aac", ".mp4", 16, 512, 256, 5, true, false},
    {OutputKind::mkv, "matroska", "aac", ".mkv", 16, 512, 256, 5, true, false},
    {OutputKind::webm, "webm", "libopus", ".webm", 6, 510, 160, 20, true, false},
    {OutputKind::alac, "ipod", "alac", ".m4a", 0, 0, 0, 0, false, true},
};

const Codec* codec_of(OutputKind kind) {
    for (const Codec& c : codecs)
        if (c.kind == kind) return &c;
    return nullptr;
}

std::string av_message(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The encoder's rate: the input's where it takes it, else 48 kHz (Opus).
int encoder_rate(const AVCodec* encoder, int rate) {
    if (encoder->supported_samplerates == nullptr) return rate;
    int best = 0;
    for (const int* r = encoder->supported_samplerates; *r != 0; ++r) {
        if (*r == rate) return rate;
        if (*r == 48000 || best == 0) best = *r;
    }
    return best;
}

void set_quality(AVCodecContext* c, const Codec& codec, int quality) {
    if (codec.lossless) return;
    if (codec.kind == OutputKind::mp3 || codec.kind == OutputKind::ogg) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = quality * FF_QP2LAMBDA;
    } else {
        c->bit_rate = static_cast<int64_t>(quality) * 1000;
    }
}

// The encoder's sample format: float where it takes it (no 16-bit step);
// a lossless one's integers as wide as the output asks (16 or 24 bits).
void choose_sample_format(AVCodecContext* c, const AVCodec* encoder, const Codec& codec, OutputBits bits) {
    c->sample_fmt = encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = encoder->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f) {
        const bool wide = bits != OutputBits::pcm16;
        if (codec.lossless && wide && (*f == AV_SAMPLE_FMT_S32P || *f == AV_SAMPLE_FMT_S32)) {
            c->sample_fmt = *f;
            c->bits_per_raw_sample = 24;
        }
        if (codec.lossless && !wide && (*f == AV_SAMPLE_FMT_S16P || *f == AV_SAMPLE_FMT_S16)) c->sample_fmt = *f;
        if (!codec.lossless && (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT)) c->sample_fmt = *f;
    }
}

bool open_encoder(MediaOutput* out, const Codec& codec, int quality, int rate, OutputBits bits, std::string& error) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(codec.encoder);
    out->codec = encoder != nullptr ? avcodec_alloc_context3(encoder) : nullptr;
    if (out->codec == nullptr) {
        error = std::string("this FFmpeg has no ") + codec.encoder + " encoder";
        return false;
    }
    AVCodecContext* c = out->codec;
    c->sample_rate = encoder_rate(encoder, rate);
    av_channel_layout_default(&c->ch_layout, out->channels);
    choose_sample_format(c, encoder, codec, bits);
    c->time_base = AVRational{1, c->sample_rate};
    set_quality(c, codec, quality);
    if ((out->format->oformat->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int status = avcodec_open2(c, encoder, nullptr);
    if (status < 0) {
        error = std::string("cannot start the ") + codec.encoder + " encoder: " + av_message(status);
        return false;
    }
    out->frameSize = c->frame_size > 0 ? c->frame_size : 1024;
    out->frame = av_frame_alloc();
    out->packet = av_packet_alloc();
    out->fifo = av_audio_fifo_alloc(c->sample_fmt, out->channels, out->frameSize * 4);
    AVChannelLayout in{};
    av_channel_layout_default(&in, out->channels);
    const int made = swr_alloc_set_opts2(&out->convert, &c->ch_layout, c->sample_fmt, c->sample_rate, &in,
                                         AV_SAMPLE_FMT_FLT, rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (made < 0 || swr_init(out->convert) < 0 || out->frame == nullptr || out->packet == nullptr ||
        out->fifo == nullptr) {
        error = "out of memory";
        return false;
    }
    return true;
}

// The container with its audio stream, tags and pictures, header written.
bool open_container(MediaOutput* out, const std::string& path, const SourceTags& tags, std::string& error,
                    bool video, const std::string& source, int stream) {
    if (video && !source.empty()) {
        if (!open_stream_copy(out->copy, source, stream, out->format, out->stream, error)) return false;
        // Audio starts where it did. MP4 takes the encoder's priming off with
        // an edit list; Matroska has none, and would shift every stream to
        // keep the primed packets' times from going below zero: the priming
        // is put after the start instead (the audio then lags by it, 23 ms
        // for AAC, 6.5 for Opus, less than a video frame), and a start
        // before zero (Opus's own priming in WebM) is taken as zero.
        out->pts = llround(out->copy.audioStart * out->codec->sample_rate);
        const int64_t priming = out->codec->initial_padding;
        if (strcmp(out->format->oformat->name, "mp4") != 0) out->pts = std::max(out->pts + priming, priming);
    } else {
        out->stream = avformat_new_stream(out->format, nullptr);
    }
    if (out->stream == nullptr || avcodec_parameters_from_context(out->stream->codecpar, out->codec) < 0) {
        error = "out of memory";
        return false;
    }
    out->stream->time_base = out->codec->time_base;
    const int pictures = add_source_tags(out->format, out->stream, tags);
    int status = avio_open(&out->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        error = av_message(status);
        return false;
    }
    status = avformat_write_header(out->format, nullptr);
    out->opened = status >= 0;  // a trailer only after a header
    if (status < 0 || !write_source_pictures(out->format, pictures, tags)) {
        error = "cannot start the file: " + av_message(status);
        return false;
    }
    return true;
}

}  // namespace

const char* media_extension(OutputKind kind) {
    const Codec* c = codec_of(kind);
    return c != nullptr ? c->extension : kind == OutputKind::flac ? ".flac" : ".wav";
}

bool media_encoded(OutputKind kind) { return codec_of(kind) != nullptr; }

bool media_lossy(OutputKind kind) {
    const Codec* c = codec_of(kind);
    return c != nullptr && !c->lossless;
}

bool media_quality_valid(OutputKind kind, int quality, std::string& error) {
    const Codec* codec = codec_of(kind);
    if (codec == nullptr || codec->lossless || quality == defaultQuality ||
        (quality >= codec->lowest && quality <= codec->highest))
        return true;
    error = "--quality for " + std::string(codec->extension + 1) + " takes " + std::to_string(codec->lowest) + " to " +
            std::to_string(codec->highest) + ", not " + std::to_string(quality);
    return false;
}

int media_headroom(OutputKind kind) {
    const Codec* c = codec_of(kind);
    return c != nullptr ? c->headroom : 0;
}

MediaOutput* media_open_output(const std::string& path, OutputKind kind, int quality, OutputBits bits, int rate,
                               int channels, const std::string& source, int stream, std::string& error) {
    const Codec* codec = codec_of(kind);
    if (codec == nullptr || !media_quality_valid(kind, quality, error)) return nullptr;
    if (quality == defaultQuality) quality = codec->standard;
    av_log_set_level(AV_LOG_QUIET);
    auto out = new MediaOutput;
    out->channels = channels;
    SourceTags tags;
    if (!source.empty()) read_source_tags(source, stream, tags);
    bool ok = avformat_alloc_output_context2(&out->format, nullptr, codec->muxer, path.c_str()) >= 0;
    if (!ok) error = std::string("this FFmpeg cannot write ") + codec->muxer + " files";
    ok = ok && open_encoder(out, *codec, quality, rate, bits, error) &&
         open_container(out, path, tags, error, codec->video, source, stream);
    free_source_tags(tags);
    if (!ok) {
        media_close_output(out);
        return nullptr;
    }
    return out;
}

namespace {

bool drain(MediaOutput* out) {
    for (;;) {
        const int status = avcodec_receive_packet(out->codec, out->packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
        if (status < 0) return false;
        av_packet_rescale_ts(out->packet, out->codec->time_base, out->stream->time_base);
        out->packet->stream_index = out->stream->index;
        if (av_interleaved_write_frame(out->format, out->packet) < 0) return false;
    }
}

// Encodes whole frames from the queue; with `last`, the rest too.
bool encode_queued(MediaOutput* out, bool last) {
    while (av_audio_fifo_size(out->fifo) >= out->frameSize || (last && av_audio_fifo_size(out->fifo) > 0)) {
        const int n = std::min(out->frameSize, av_audio_fifo_size(out->fifo));
        AVFrame* f = out->frame;
        av_frame_unref(f);
        f->nb_samples = n;
        f->format = out->codec->sample_fmt;
        f->sample_rate = out->codec->sample_rate;
        if (av_channel_layout_copy(&f->ch_layout, &out->codec->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0)
            return false;
        if (av_audio_fifo_read(out->fifo, reinterpret_cast<void**>(f->data), n) != n) return false;
        // Encoders that need whole frames get the last one padded with silence.
        const AVSampleFormat format = out->codec->sample_fmt;
        if (n < out->frameSize && (out->codec->codec->capabilities &
                                   (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) == 0) {
            AVFrame* whole = av_frame_alloc();
            if (whole == nullptr) return false;
            whole->nb_samples = out->frameSize;
            whole->format = f->format;
            whole->sample_rate = f->sample_rate;
            if (av_channel_layout_copy(&whole->ch_layout, &f->ch_layout) < 0 || av_frame_get_buffer(whole, 0) < 0 ||
                av_samples_set_silence(whole->extended_data, 0, out->frameSize, out->channels, format) < 0 ||
                av_samples_copy(whole->extended_data, f->extended_data, 0, 0, n, out->channels, format) < 0) {
                av_frame_free(&whole);
                return false;
            }
            av_frame_unref(f);
            av_frame_move_ref(f, whole);
            av_frame_free(&whole);
        }
        f->pts = out->pts;
        out->pts += n;
        if (avcodec_send_frame(out->codec, f) < 0 || !drain(out)) return false;
    }
    return true;
}

// Converts interleaved float (full scale 1) to the encoder's format and rate
// into the queue; null samples flush the converter.
bool queue(MediaOutput* out, const float* samples, int frames) {
    const int room = swr_get_out_samples(out->convert, frames);
    if (room < 0) return false;
    if (room == 0) return true;
    uint8_t** planes = nullptr;
    if (av_samples_alloc_array_and_samples(&planes, nullptr, out->channels, room, out->codec->sample_fmt, 0) < 0)
        return false;
    const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(samples)};
    const int got = swr_convert(out->convert, planes, room, samples != nullptr ? in : nullptr, frames);
    const bool ok = got >= 0 && av_audio_fifo_write(out->fifo, reinterpret_cast<void**>(planes), got) == got;
    av_freep(&planes[0]);
    av_freep(&planes);
    return ok;
}

}  // namespace

bool media_write(MediaOutput* out, const float* samples, long long frames) {
    const size_t n = static_cast<size_t>(frames) * static_cast<size_t>(out->channels);
    if (out->scaled.size() < n) out->scaled.resize(n);
    for (size_t i = 0; i < n; ++i) out->scaled[i] = samples[i] / 32768.0f;  // exact
    for (long long at = 0; at < frames;) {
        const int part = static_cast<int>(std::min<long long>(frames - at, 65536));
        if (!queue(out, out->scaled.data() + at * out->channels, part) || !encode_queued(out, false) ||
            !pump_stream_copy(out->copy, out->format, static_cast<double>(out->pts) / out->codec->sample_rate))
            return false;
        at += part;
    }
    return true;
}

bool media_close_output(MediaOutput* out) {
    bool ok = out->opened && out->codec != nullptr && out->convert != nullptr;
    if (ok) {
        ok = queue(out, nullptr, 0) && encode_queued(out, true) && avcodec_send_frame(out->codec, nullptr) >= 0 &&
             drain(out) && pump_stream_copy(out->copy, out->format, HUGE_VAL);
        ok = av_write_trailer(out->format) >= 0 && ok;
    }
    if (out->format != nullptr && out->format->pb != nullptr) ok = avio_closep(&out->format->pb) >= 0 && ok;
    close_stream_copy(out->copy);
    avformat_free_context(out->format);
    avcodec_free_context(&out->codec);
    swr_free(&out->convert);
    if (out->fifo != nullptr) av_audio_fifo_free(out->fifo);
    av_frame_free(&out->frame);
    av_packet_free(&out->packet);
    delete out;
    return ok;
}
