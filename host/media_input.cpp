// Decoding one audio stream of any file FFmpeg's libraries read.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/crc.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "host/media_file.h"
#include "host/mp3_length.h"

struct MediaInput {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* convert = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1, channels = 0;
    long long expected = -1, decoded = 0;  // frames by the file's header, when it says
    long long exact = -1;  // an MP3's own length (LAME tag): what is read, to the frame
    long long packetBytes = 0, packets = 0;  // the stream's packets so far, for their mean size
    bool ended = false, failed = false;
    std::string problem;  // why a read failed
    std::vector<float> ready;  // decoded interleaved samples not yet taken
    size_t taken = 0;
};

namespace {

std::string av_message(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The index of the wanted audio stream, or -1 after a message.
int find_audio_stream(AVFormatContext* format, int wanted, std::string& error) {
    int seen = 0, found = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if (seen++ == wanted) found = static_cast<int>(i);
    }
    if (found >= 0) return found;
    error = seen == 0 ? "it holds no audio stream"
                      : "it has " + std::to_string(seen) + " audio stream" + (seen == 1 ? "" : "s") +
                            " (--stream takes 0 to " + std::to_string(seen - 1) + ")";
    return -1;
}

// Bits of the stored samples (0 for float and lossy codecs) and whether they
// are wider than 16 bits.
void source_bits(const AVCodecParameters* p, SoundFormat& format) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(p->codec_id);
    const bool lossless = d != nullptr && (d->props & AV_CODEC_PROP_LOSSLESS) != 0;
    const AVSampleFormat f = static_cast<AVSampleFormat>(p->format);
    int bits = p->bits_per_raw_sample > 0 ? p->bits_per_raw_sample : av_get_bytes_per_sample(f) * 8;
    if (!lossless || f == AV_SAMPLE_FMT_FLT || f == AV_SAMPLE_FMT_FLTP || f == AV_SAMPLE_FMT_DBL ||
        f == AV_SAMPLE_FMT_DBLP)
        bits = 0;
    format.sourceBits = bits;
    format.converted = bits == 0 || bits > 16;
    const std::string name = d != nullptr ? d->name : "audio";
    format.description = name + (bits == 0 ? "" : " " + std::to_string(bits) + "-bit");
}

// The length of the Ogg page at data[0..size) when one whole, intact page
// starts there (its checksum holds); 0 otherwise.
size_t ogg_page(const uint8_t* data, size_t size) {
    if (size < 27 || memcmp(data, "OggS", 4) != 0 || data[4] != 0) return 0;
    size_t length = 27 + data[26];
    if (size < length) return 0;
    for (int i = 0; i < data[26]; ++i) length += data[27 + i];
    if (size < length) return 0;
    std::vector<uint8_t> page(data, data + length);
    memset(page.data() + 22, 0, 4);
    const uint32_t sum = av_crc(av_crc_get_table(AV_CRC_32_IEEE), 0, page.data(), length);
    // (the table works on byte-swapped values: the sum reads as big-endian)
    const uint32_t stored = static_cast<uint32_t>(data[22]) << 24 | data[23] << 16 | data[24] << 8 | data[25];
    return sum == stored ? length : 0;
}

// Whether an Ogg file ends as a complete one does: with a whole page that
// carries the end-of-stream mark. A file cut off ends without one.
bool ogg_complete(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t> tail(65536 + 27 + 255);  // more than the largest page
    long start = 0;
    if (fseek(f, 0, SEEK_END) == 0) start = std::max(0L, ftell(f) - static_cast<long>(tail.size()));
    const size_t got = fseek(f, start, SEEK_SET) == 0 ? fread(tail.data(), 1, tail.size(), f) : 0;
    fclose(f);
    // The last intact page, found from the end (a page is at most 65307 bytes).
    for (size_t at = got >= 27 ? got - 27 + 1 : 0; at-- > 0;) {
        const size_t length = ogg_page(tail.data() + at, got - at);
        if (length > 0) return (tail[at + 5] & 0x04) != 0;
    }
    return false;
}

bool open_decoder(MediaInput* in, std::string& error) {
    const AVCodecParameters* p = in->format->streams[in->stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(p->codec_id);
    if (decoder == nullptr) {
        error = std::string("no decoder for its ") + avcodec_get_name(p->codec_id) + " audio";
        return false;
    }
    in->codec = avcodec_alloc_context3(decoder);
    if (in->codec == nullptr || avcodec_parameters_to_context(in->codec, p) < 0) {
        error = "out of memory";
        return false;
    }
    in->codec->pkt_timebase = in->format->streams[in->stream]->time_base;
    const int status = avcodec_open2(in->codec, decoder, nullptr);
    if (status < 0) error = "cannot open its decoder: " + av_message(status);
    return status >= 0;
}

}  // namespace

MediaInput* media_open_input(const std::string& path, int stream, SoundFormat& format, std::string& error) {
    av_log_set_level(AV_LOG_QUIET);
    auto in = new MediaInput;
    int status = avformat_open_input(&in->format, path.c_str(), nullptr, nullptr);
    if (status >= 0) status = avformat_find_stream_info(in->format, nullptr);
    if (status < 0) {
        error = status == AVERROR_INVALIDDATA ? "format not recognised (or the file is damaged)" : av_message(status);
        media_close_input(in);
        return nullptr;
    }
    if (strcmp(in->format->iformat->name, "ogg") == 0 && !ogg_complete(path)) {
        error = "it ends without the end-of-stream mark of a complete Ogg file (cut off?)";
        media_close_input(in);
        return nullptr;
    }
    in->stream = find_audio_stream(in->format, stream < 0 ? 0 : stream, error);
    if (in->stream < 0 || !open_decoder(in, error)) {
        media_close_input(in);
        return nullptr;
    }
    const AVStream* s = in->format->streams[in->stream];
    in->channels = in->codec->ch_layout.nb_channels;
    format.rate = in->codec->sample_rate;
    format.channels = in->channels;
    const int64_t duration = s->duration != AV_NOPTS_VALUE
                                 ? av_rescale_q(s->duration, s->time_base, AVRational{1, format.rate})
                                 : av_rescale(in->format->duration, format.rate, AV_TIME_BASE);
    format.frames = duration > 0 ? duration : -1;
    if (in->format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM) in->expected = format.frames;
    if (strcmp(in->format->iformat->name, "mp3") == 0) {
        // Taken only where it agrees with the header's count within the
        // encoder's delay and padding (a few frames).
        const long long exact = mp3_exact_frames(path);
        if (exact > 0 && format.frames > 0 && std::llabs(format.frames - exact) <= 4 * 1152) {
            in->exact = exact;
            format.frames = exact;
        }
    }
    format.audioStreams = 0;
    for (unsigned i = 0; i < in->format->nb_streams; ++i)
        format.audioStreams += in->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    source_bits(s->codecpar, format);
    in->packet = av_packet_alloc();
    in->frame = av_frame_alloc();
    if (in->packet == nullptr || in->frame == nullptr || format.rate <= 0 || in->channels <= 0) {
        error = format.rate <= 0 || in->channels <= 0 ? "its audio stream has no usable format" : "out of memory";
        media_close_input(in);
        return nullptr;
    }
    return in;
}

namespace {

// The converter from this frame's layout and sample format to interleaved
// float in the stream's first layout; rebuilt when a frame differs.
bool converter_for(MediaInput* in, const AVFrame* f) {
    if (in->convert != nullptr) return true;
    AVChannelLayout layout{}, from{};
    av_channel_layout_default(&layout, in->channels);
    int status = av_channel_layout_copy(&from, &f->ch_layout);
    if (status >= 0)
        status = swr_alloc_set_opts2(&in->convert, &layout, AV_SAMPLE_FMT_FLT, in->codec->sample_rate, &from,
                                     static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    av_channel_layout_uninit(&from);
    return status >= 0 && swr_init(in->convert) >= 0;
}

bool append_frame(MediaInput* in, const AVFrame* f) {
    if (f->ch_layout.nb_channels != in->channels || f->format != in->codec->sample_fmt ||
        f->sample_rate != in->codec->sample_rate) {
        swr_free(&in->convert);
        in->codec->sample_fmt = static_cast<AVSampleFormat>(f->format);
        in->codec->sample_rate = f->sample_rate;
    }
    if (!converter_for(in, f)) return false;
    const int room = swr_get_out_samples(in->convert, f->nb_samples);
    if (room < 0) return false;
    const size_t start = in->ready.size();
    in->ready.resize(start + static_cast<size_t>(room) * static_cast<size_t>(in->channels));
    uint8_t* out[] = {reinterpret_cast<uint8_t*>(in->ready.data() + start)};
    const int got = swr_convert(in->convert, out, room, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got < 0) return false;
    in->ready.resize(start + static_cast<size_t>(got) * static_cast<size_t>(in->channels));
    for (size_t i = start; i < in->ready.size(); ++i) in->ready[i] *= 32768.0f;
    return true;
}

// Silence in place of a packet the decoder refused, so that what follows
// keeps its time. An MP3 reader folds damaged bytes into the packet after
// them: one far larger than the mean stands for as many frames as it holds.
void fill_gap(MediaInput* in, const AVPacket* p) {
    const AVStream* s = in->format->streams[in->stream];
    const AVRational perFrame{1, in->codec->sample_rate};
    int64_t frames = p->duration > 0 ? av_rescale_q(p->duration, s->time_base, perFrame) : 0;
    if (in->exact > 0 && in->packets >= 16 && p->size > 0) {
        const double mean = static_cast<double>(in->packetBytes) / static_cast<double>(in->packets);
        const long long held = std::llround(p->size / mean);
        if (held > 1 && held < 64) frames *= held;
    }
    if (frames > 0 && frames < (1 << 20))
        in->ready.resize(in->ready.size() + static_cast<size_t>(frames) * static_cast<size_t>(in->channels), 0.0f);
}

// Decodes until some samples are ready or the stream ends; false on a
// failure that stops the read.
bool decode_more(MediaInput* in) {
    int refused = 0;
    while (in->ready.size() == in->taken && !in->ended) {
        in->ready.clear();
        in->taken = 0;
        int status = avcodec_receive_frame(in->codec, in->frame);
        if (status >= 0) {
            const bool ok = append_frame(in, in->frame);
            av_frame_unref(in->frame);
            if (!ok) return false;
            continue;
        }
        if (status == AVERROR_EOF) {
            in->ended = true;
            break;
        }
        if (status != AVERROR(EAGAIN)) {
            if (++refused > 1000) return false;  // a decoder that no longer decodes anything
            continue;                           // one frame that did not decode
        }
        status = av_read_frame(in->format, in->packet);
        if (status == AVERROR_EOF) {
            avcodec_send_packet(in->codec, nullptr);
            continue;
        }
        if (status < 0) return false;
        if (in->packet->stream_index == in->stream) {
            status = avcodec_send_packet(in->codec, in->packet);
            if (status < 0 && status != AVERROR(EAGAIN)) {
                fill_gap(in, in->packet);
            } else {
                in->packetBytes += in->packet->size;
                ++in->packets;
            }
        }
        av_packet_unref(in->packet);
    }
    return true;
}

}  // namespace

long long media_read(MediaInput* in, float* samples, long long frames) {
    if (in->failed) return -1;
    long long done = 0;
    const size_t channels = static_cast<size_t>(in->channels);
    while (done < frames) {
        if (!decode_more(in)) {
            in->failed = true;
            in->problem = "its data is damaged beyond decoding";
            return -1;
        }
        size_t available = (in->ready.size() - in->taken) / channels;
        if (available == 0) {
            // Far shorter than its header says (beyond the codec's delay and
            // padding): the file was cut off.
            if (in->expected > 0 && in->decoded < in->expected - 8192 && in->decoded < in->expected * 99 / 100) {
                in->failed = true;
                in->problem = "it ends after " + std::to_string(in->decoded) + " of the " +
                              std::to_string(in->expected) + " frames its header gives (cut off?)";
                return -1;
            }
            if (in->exact <= in->decoded) break;
            // What damaged frames took: silence up to the length the file gives.
            in->ready.assign(static_cast<size_t>(in->exact - in->decoded) * channels, 0.0f);
            in->taken = 0;
            available = static_cast<size_t>(in->exact - in->decoded);
        }
        if (in->exact >= 0) available = std::min(available, static_cast<size_t>(in->exact - in->decoded));
        if (available == 0) break;  // the length the file gives: the rest is padding
        const size_t n = std::min(available, static_cast<size_t>(frames - done));
        memcpy(samples + done * in->channels, in->ready.data() + in->taken, n * channels * sizeof(float));
        in->taken += n * channels;
        done += static_cast<long long>(n);
        in->decoded += static_cast<long long>(n);
    }
    return done;
}

std::string media_input_problem(const MediaInput* in) { return in->problem; }

void media_close_input(MediaInput* in) {
    swr_free(&in->convert);
    av_frame_free(&in->frame);
    av_packet_free(&in->packet);
    avcodec_free_context(&in->codec);
    avformat_close_input(&in->format);
    delete in;
}

namespace {

bool holds_video(const AVFormatContext* f) {
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (f->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
            return true;
    return false;
}

// A video file keeps its container: WebM, Matroska, else MP4.
OutputKind video_kind(const std::string& path, AVCodecID audio) {
    const size_t dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : path.substr(dot);
    if (strcasecmp(ext.c_str(), ".webm") == 0) return OutputKind::webm;
    if (strcasecmp(ext.c_str(), ".mkv") == 0 || audio == AV_CODEC_ID_OPUS || audio == AV_CODEC_ID_VORBIS)
        return OutputKind::mkv;
    return OutputKind::mp4;
}

}  // namespace

OutputKind media_same_kind(const std::string& path, int stream) {
    SoundFormat format;
    std::string error;
    MediaInput* in = media_open_input(path, stream, format, error);
    if (in == nullptr) return OutputKind::wav;
    const AVCodecParameters* p = in->format->streams[in->stream]->codecpar;
    const AVCodecDescriptor* d = avcodec_descriptor_get(p->codec_id);
    const bool lossless = d != nullptr && (d->props & AV_CODEC_PROP_LOSSLESS) != 0;
    const bool pcm = d != nullptr && strncmp(d->name, "pcm_", 4) == 0;
    OutputKind kind = OutputKind::m4a;  // other lossy codecs: AAC
    switch (p->codec_id) {
        case AV_CODEC_ID_MP3: kind = OutputKind::mp3; break;
        case AV_CODEC_ID_OPUS: kind = OutputKind::opus; break;
        case AV_CODEC_ID_VORBIS: kind = OutputKind::ogg; break;
        case AV_CODEC_ID_AAC: kind = OutputKind::m4a; break;
        case AV_CODEC_ID_ALAC: kind = OutputKind::alac; break;
        default:
            if (pcm) kind = OutputKind::wav;
            else if (lossless) kind = OutputKind::flac;  // WavPack, APE and others
    }
    if (holds_video(in->format)) kind = video_kind(path, p->codec_id);
    media_close_input(in);
    return kind;
}
