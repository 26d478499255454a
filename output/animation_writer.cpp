#include "output/animation_writer.hpp"

#include <algorithm>
#include <cstring>

#include "output/output_file.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

std::string av_error(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

constexpr int io_buffer_size = 64 * 1024;

}  // namespace

AnimationType animation_type(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    if (extension == ".gif")
        return AnimationType::gif;
    if (extension == ".mp4")
        return AnimationType::mp4;
    if (extension == ".webm")
        return AnimationType::webm;
    if (extension == ".html" || extension == ".htm")
        return AnimationType::html;
    throw WriteError("cannot write " + path.string() + ": " +
                     (extension.empty() ? std::string("the name has no extension")
                                        : "'" + extension + "' is not an animation type") +
                     "; use .gif, .mp4, .webm or .html");
}

struct AnimationWriter::State {
    std::string name;
    AnimationType type = AnimationType::gif;
    OutputFile file;
    std::string io_error;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scale = nullptr;
    IndexedFrame padded;  // video sizes must be even: one more column or row of window face
    std::int64_t next_pts = 0;
    bool header_written = false;

    explicit State(const fs::path& path) : name(path.string()), file(path) {}

    ~State()
    {
        sws_freeContext(scale);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format != nullptr)
            avformat_free_context(format);
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    [[noreturn]] void fail(const std::string& why) const { throw WriteError("cannot write " + name + ": " + why); }

    void check(int code, const char* what) const
    {
        if (code >= 0)
            return;
        if (!io_error.empty())
            throw WriteError(io_error);
        fail(std::string(what) + ": " + av_error(code));
    }

    static int write_packet(void* opaque, std::uint8_t* data, int size)
    {
        auto* self = static_cast<State*>(opaque);
        try {
            self->file.write(data, static_cast<std::size_t>(size));
        } catch (const WriteError& e) {
            self->io_error = e.what();
            return AVERROR(EIO);
        }
        return size;
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence)
    {
        auto* self = static_cast<State*>(opaque);
        if ((whence & AVSEEK_SIZE) != 0)
            return -1;
        try {
            return self->file.seek(offset, whence & ~AVSEEK_FORCE);
        } catch (const WriteError& e) {
            self->io_error = e.what();
            return AVERROR(EIO);
        }
    }

    void drain(AVFrame* input) const
    {
        check(avcodec_send_frame(codec, input), "the encoder refused a frame");
        for (;;) {
            const int status = avcodec_receive_packet(codec, packet);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return;
            check(status, "the encoder failed");
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(format, packet), "writing a frame failed");
        }
    }
};

AnimationWriter::AnimationWriter(const fs::path& path, int width, int height, int frames_per_second)
{
    const AnimationType type = animation_type(path);
    av_log_set_level(AV_LOG_ERROR);  // the encoders' own chatter is not for users
    state_ = std::make_unique<State>(path);
    State& s = *state_;
    s.type = type;

    const char* muxer = type == AnimationType::gif ? "gif" : type == AnimationType::mp4 ? "mp4" : "webm";
    s.check(avformat_alloc_output_context2(&s.format, nullptr, muxer, nullptr), "the file format is missing");

    const AVCodec* encoder = nullptr;
    const char* wanted = "GIF";
    if (type == AnimationType::gif) {
        encoder = avcodec_find_encoder(AV_CODEC_ID_GIF);
    } else if (type == AnimationType::mp4) {
        wanted = "H.264";
        encoder = avcodec_find_encoder_by_name("libx264");
        if (encoder == nullptr)
            encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
    } else {
        wanted = "VP9";
        encoder = avcodec_find_encoder_by_name("libvpx-vp9");
        if (encoder == nullptr)
            encoder = avcodec_find_encoder(AV_CODEC_ID_VP9);
    }
    if (encoder == nullptr)
        s.fail(std::string("this system's FFmpeg libraries have no ") + wanted + " encoder");

    const bool video = type != AnimationType::gif;
    const int coded_width = video ? width + (width & 1) : width;
    const int coded_height = video ? height + (height & 1) : height;
    s.codec = avcodec_alloc_context3(encoder);
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (s.codec == nullptr || s.frame == nullptr || s.packet == nullptr)
        s.fail("out of memory");
    s.codec->width = coded_width;
    s.codec->height = coded_height;
    s.codec->time_base = AVRational{1, frames_per_second};
    s.codec->framerate = AVRational{frames_per_second, 1};
    s.codec->pix_fmt = video ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_PAL8;
    s.codec->gop_size = 10 * frames_per_second;
    if (type == AnimationType::mp4) {
        av_opt_set(s.codec->priv_data, "preset", "veryfast", 0);
        av_opt_set(s.codec->priv_data, "crf", "20", 0);
        av_opt_set(s.codec->priv_data, "tune", "animation", 0);
    } else if (type == AnimationType::webm) {
        av_opt_set(s.codec->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(s.codec->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(s.codec->priv_data, "crf", 20, 0);
        av_opt_set_int(s.codec->priv_data, "row-mt", 1, 0);
        s.codec->bit_rate = 0;
    }
    // Every core the encoder can use, while the next frame is drawn beside it.
    if (video)
        s.codec->thread_count = 0;
    if (video) {
        s.codec->colorspace = AVCOL_SPC_BT470BG;
        s.codec->color_range = AVCOL_RANGE_MPEG;
    }
    if ((s.format->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        s.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    s.check(avcodec_open2(s.codec, encoder, nullptr), "the encoder could not start");

    s.stream = avformat_new_stream(s.format, nullptr);
    if (s.stream == nullptr)
        s.fail("out of memory");
    s.stream->time_base = s.codec->time_base;
    s.stream->avg_frame_rate = s.codec->framerate;
    s.check(avcodec_parameters_from_context(s.stream->codecpar, s.codec), "the encoder's settings");

    auto* buffer = static_cast<unsigned char*>(av_malloc(io_buffer_size));
    s.io = avio_alloc_context(buffer, io_buffer_size, 1, &s, nullptr, &State::write_packet, &State::seek);
    if (s.io == nullptr)
        s.fail("out of memory");
    s.format->pb = s.io;
    s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    s.check(avformat_write_header(s.format, nullptr), "the file header");
    s.header_written = true;

    s.frame->format = s.codec->pix_fmt;
    s.frame->width = coded_width;
    s.frame->height = coded_height;
    s.check(av_frame_get_buffer(s.frame, 0), "out of memory");
    if (video) {
        s.scale = sws_getContext(coded_width, coded_height, AV_PIX_FMT_PAL8, coded_width, coded_height,
                                 AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
        if (s.scale == nullptr)
            s.fail("the colour conversion could not start");
        s.padded.width = coded_width;
        s.padded.height = coded_height;
        if (coded_width != width || coded_height != height)  // the margin of window face, for odd sides
            s.padded.pixels.assign(static_cast<std::size_t>(coded_width) * static_cast<std::size_t>(coded_height), 16);
    }
}

AnimationWriter::~AnimationWriter() = default;

void AnimationWriter::add(const IndexedFrame& picture)
{
    State& s = *state_;
    s.check(av_frame_make_writable(s.frame), "out of memory");
    // The palette as FFmpeg keeps it: native 32-bit ARGB words.
    std::uint32_t palette_words[256] = {};
    for (std::size_t i = 0; i < static_cast<std::size_t>(picture.colours); ++i) {
        const Colour c = frame_palette()[i];
        palette_words[i] = 0xFF000000U | (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
    }
    if (s.type == AnimationType::gif) {
        for (int y = 0; y < picture.height; ++y)
            std::memcpy(s.frame->data[0] + static_cast<std::ptrdiff_t>(y) * s.frame->linesize[0],
                        picture.pixels.data() + static_cast<std::ptrdiff_t>(y) * picture.width,
                        static_cast<std::size_t>(picture.width));
        std::memcpy(s.frame->data[1], palette_words, sizeof palette_words);
    } else {
        // A frame of even sides goes to the colour conversion as it is; an odd one with its margin.
        const bool even = picture.width == s.padded.width && picture.height == s.padded.height;
        if (!even)
            for (int y = 0; y < picture.height; ++y)
                std::memcpy(s.padded.pixels.data() + static_cast<std::ptrdiff_t>(y) * s.padded.width,
                            picture.pixels.data() + static_cast<std::ptrdiff_t>(y) * picture.width,
                            static_cast<std::size_t>(picture.width));
        const std::uint8_t* source[4] = {even ? picture.pixels.data() : s.padded.pixels.data(),
                                         reinterpret_cast<const std::uint8_t*>(palette_words), nullptr, nullptr};
        const int source_lines[4] = {s.padded.width, 0, 0, 0};
        sws_scale(s.scale, source, source_lines, 0, s.padded.height, s.frame->data, s.frame->linesize);
    }
    s.frame->pts = s.next_pts++;
    s.drain(s.frame);
}

void AnimationWriter::finish()
{
    State& s = *state_;
    s.drain(nullptr);
    s.check(av_write_trailer(s.format), "the file's end");
    avio_flush(s.io);
    if (!s.io_error.empty())
        throw WriteError(s.io_error);
    s.file.commit();
}

}  // namespace umbrascope
