// Copying a video file's other streams into the output untouched.
#include "host/media_copy.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

bool open_stream_copy(StreamCopy& copy, const std::string& source, int stream, AVFormatContext* out,
                      AVStream*& audio, std::string& error) {
    if (avformat_open_input(&copy.in, source.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(copy.in, nullptr) < 0) {
        error = "cannot read " + source + " again for its other streams";
        return false;
    }
    copy.packet = av_packet_alloc();
    if (copy.packet == nullptr) return false;
    int audios = 0;
    const int wanted = stream < 0 ? 0 : stream;
    for (unsigned i = 0; i < copy.in->nb_streams; ++i) {
        const AVStream* s = copy.in->streams[i];
        copy.map.push_back(-1);
        // Pictures come with the tags, an MP4's chapter text track with the
        // chapters; a stream the output's container cannot hold is left out.
        if ((s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 || s->codecpar->codec_id == AV_CODEC_ID_BIN_DATA ||
            (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO &&
             avformat_query_codec(out->oformat, s->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 0))
            continue;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && audios++ == wanted) {
            if (s->start_time != AV_NOPTS_VALUE) copy.audioStart = s->start_time * av_q2d(s->time_base);
            audio = avformat_new_stream(out, nullptr);
            if (audio == nullptr) break;
            av_dict_copy(&audio->metadata, s->metadata, 0);  // its language and title
            audio->disposition = s->disposition;
            continue;
        }
        AVStream* o = avformat_new_stream(out, nullptr);
        if (o == nullptr || avcodec_parameters_copy(o->codecpar, s->codecpar) < 0) {
            error = "out of memory";
            return false;
        }
        o->codecpar->codec_tag = 0;
        o->time_base = s->time_base;
        o->disposition = s->disposition;
        o->avg_frame_rate = s->avg_frame_rate;
        o->r_frame_rate = s->r_frame_rate;
        o->sample_aspect_ratio = s->sample_aspect_ratio;
        av_dict_copy(&o->metadata, s->metadata, 0);
        copy.map.back() = o->index;
    }
    if (audio == nullptr) error = "out of memory";
    return audio != nullptr;
}

bool pump_stream_copy(StreamCopy& copy, AVFormatContext* out, double seconds) {
    if (copy.in == nullptr) return true;
    for (;;) {
        if (!copy.pending) {
            if (av_read_frame(copy.in, copy.packet) < 0) return true;  // the end (or what could be read)
            const int index = copy.packet->stream_index;
            if (index < 0 || index >= static_cast<int>(copy.map.size()) || copy.map[index] < 0) {
                av_packet_unref(copy.packet);
                continue;
            }
            copy.pending = true;
        }
        const AVStream* s = copy.in->streams[copy.packet->stream_index];
        const int64_t at = copy.packet->dts != AV_NOPTS_VALUE ? copy.packet->dts : copy.packet->pts;
        if (at != AV_NOPTS_VALUE && at * av_q2d(s->time_base) > seconds) return true;
        AVStream* o = out->streams[copy.map[copy.packet->stream_index]];
        av_packet_rescale_ts(copy.packet, s->time_base, o->time_base);
        copy.packet->stream_index = o->index;
        copy.packet->pos = -1;
        copy.pending = false;
        if (av_interleaved_write_frame(out, copy.packet) < 0) return false;
    }
}

void close_stream_copy(StreamCopy& copy) {
    av_packet_free(&copy.packet);
    avformat_close_input(&copy.in);
    copy.map.clear();
}
