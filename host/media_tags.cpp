// Carrying an input's tags and pictures over into an output.
#include "host/media_tags.h"

#include <strings.h>

#include <cstring>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include "host/media_file.h"

namespace {

// Tags that describe the input's audio as it was (its gain, its encoder's
// delay, its container) and would be false of the output.
bool dropped(const char* key) {
    static const char* const prefixes[] = {"replaygain_", "r128_", "itunsmpb", "itunnorm", "encoder",
                                           "major_brand", "minor_version", "compatible_brands", "duration",
                                           "handler_name", "vendor_id", "encoded_by_lavf"};
    for (const char* p : prefixes)
        if (strncasecmp(key, p, strlen(p)) == 0) return true;
    return false;
}

void add_tags(AVDictionary*& into, const AVDictionary* from) {
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(from, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        if (!dropped(e->key)) av_dict_set(&into, e->key, e->value, AV_DICT_DONT_OVERWRITE);
}

bool copy_picture(const AVStream* s, SourceTags& into) {
    SourcePicture p;
    p.codec = avcodec_parameters_alloc();
    p.packet = av_packet_clone(&s->attached_pic);
    if (p.codec == nullptr || p.packet == nullptr || avcodec_parameters_copy(p.codec, s->codecpar) < 0) {
        avcodec_parameters_free(&p.codec);
        av_packet_free(&p.packet);
        return false;
    }
    av_dict_copy(&p.tags, s->metadata, 0);
    into.pictures.push_back(p);
    return true;
}

// Muxers that keep pictures as attached picture streams.
bool takes_pictures(const AVOutputFormat* f) {
    for (const char* name : {"mp3", "flac", "ipod", "mp4", "mov"})
        if (strcmp(f->name, name) == 0) return true;
    return false;
}

}  // namespace

bool read_source_tags(const std::string& path, int stream, SourceTags& into) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, path.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(in, nullptr) < 0) {
        avformat_close_input(&in);
        return false;
    }
    add_tags(into.tags, in->metadata);
    for (unsigned i = 0; i < in->nb_chapters; ++i) {
        const AVChapter* c = in->chapters[i];
        SourceChapter chapter{c->id, c->start, c->end, c->time_base, nullptr};
        av_dict_copy(&chapter.tags, c->metadata, 0);
        into.chapters.push_back(chapter);
    }
    int audio = 0;
    bool ok = true;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* s = in->streams[i];
        if ((s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 && s->attached_pic.size > 0)
            ok = copy_picture(s, into) && ok;
        else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && audio++ == (stream < 0 ? 0 : stream))
            add_tags(into.tags, s->metadata);
    }
    avformat_close_input(&in);
    return ok;
}

void free_source_tags(SourceTags& tags) {
    av_dict_free(&tags.tags);
    for (SourcePicture& p : tags.pictures) {
        avcodec_parameters_free(&p.codec);
        av_packet_free(&p.packet);
        av_dict_free(&p.tags);
    }
    tags.pictures.clear();
    for (SourceChapter& c : tags.chapters) av_dict_free(&c.tags);
    tags.chapters.clear();
}

bool has_source_tags(const SourceTags& tags) {
    return av_dict_count(tags.tags) > 0 || !tags.pictures.empty() || !tags.chapters.empty();
}

int add_source_tags(AVFormatContext* out, AVStream* audio, const SourceTags& tags) {
    av_dict_copy(&out->metadata, tags.tags, 0);
    av_dict_copy(&audio->metadata, tags.tags, 0);  // Ogg keeps its comments with the stream
    for (const SourceChapter& c : tags.chapters) {
        auto chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) break;
        chapter->id = c.id;
        chapter->time_base = c.timeBase;
        chapter->start = c.start;
        chapter->end = c.end;
        av_dict_copy(&chapter->metadata, c.tags, 0);
        int count = static_cast<int>(out->nb_chapters);
        if (av_dynarray_add_nofree(&out->chapters, &count, chapter) < 0) {  // else freed with out
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            break;
        }
        out->nb_chapters = static_cast<unsigned>(count);
    }
    if (!takes_pictures(out->oformat)) return -1;
    int first = -1;
    for (const SourcePicture& p : tags.pictures) {
        AVStream* s = avformat_new_stream(out, nullptr);
        if (s == nullptr || avcodec_parameters_copy(s->codecpar, p.codec) < 0) return first;
        s->codecpar->codec_tag = 0;
        s->disposition = AV_DISPOSITION_ATTACHED_PIC;
        av_dict_copy(&s->metadata, p.tags, 0);
        if (first < 0) first = s->index;
    }
    return first;
}

bool write_source_pictures(AVFormatContext* out, int first, const SourceTags& tags) {
    if (first < 0) return true;
    const size_t streams = out->nb_streams;
    for (size_t i = 0; i < tags.pictures.size() && static_cast<size_t>(first) + i < streams; ++i) {
        AVPacket* packet = av_packet_clone(tags.pictures[i].packet);
        if (packet == nullptr) return false;
        packet->stream_index = first + static_cast<int>(i);
        packet->pts = packet->dts = 0;
        const int status = av_write_frame(out, packet);
        av_packet_free(&packet);
        if (status < 0) return false;
    }
    return true;
}

namespace {

// Copies every packet of in (one audio stream) into out, tags and pictures
// added; false with a message on failure.
bool remux(AVFormatContext* in, const std::string& to, const SourceTags& tags, std::string& error) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, in->iformat->name, to.c_str()) < 0) {
        error = "cannot write tags into this format";
        return false;
    }
    AVStream* audio = avformat_new_stream(out, nullptr);
    bool ok = audio != nullptr && avcodec_parameters_copy(audio->codecpar, in->streams[0]->codecpar) >= 0;
    if (ok) {
        audio->codecpar->codec_tag = 0;
        audio->time_base = in->streams[0]->time_base;
    }
    const int pictures = ok ? add_source_tags(out, audio, tags) : -1;
    ok = ok && avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE) >= 0;
    const bool started = ok && avformat_write_header(out, nullptr) >= 0;  // a trailer only after a header
    ok = started && write_source_pictures(out, pictures, tags);
    AVPacket* packet = ok ? av_packet_alloc() : nullptr;
    while (packet != nullptr && ok && av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == 0) {
            av_packet_rescale_ts(packet, in->streams[0]->time_base, audio->time_base);
            packet->stream_index = audio->index;
            ok = av_interleaved_write_frame(out, packet) >= 0;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (started) ok = av_write_trailer(out) >= 0 && ok;
    if (out->pb != nullptr) ok = avio_closep(&out->pb) >= 0 && ok;
    avformat_free_context(out);
    if (!ok) error = "cannot write the tags";
    return ok;
}

}  // namespace

bool media_carry_tags(const std::string& path, const std::string& source, int stream, std::string& error) {
    SourceTags tags;
    if (!read_source_tags(source, stream, tags) || !has_source_tags(tags)) {
        free_source_tags(tags);
        return true;
    }
    AVFormatContext* in = nullptr;
    bool ok = avformat_open_input(&in, path.c_str(), nullptr, nullptr) >= 0 &&
              avformat_find_stream_info(in, nullptr) >= 0 && in->nb_streams == 1;
    const std::string with = path + ".tags";
    if (ok) ok = remux(in, with, tags, error);
    else error = "cannot read the output back";
    if (in != nullptr) avformat_close_input(&in);
    free_source_tags(tags);
    if (ok && rename(with.c_str(), path.c_str()) != 0) {
        error = "cannot replace the output";
        ok = false;
    }
    if (!ok) remove(with.c_str());
    return ok;
}
