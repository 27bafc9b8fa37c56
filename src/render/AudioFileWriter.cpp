#include "render/AudioFileWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tonvero {

namespace {

std::string lowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

SNDFILE* handle(void* file) { return static_cast<SNDFILE*>(file); }

}  // namespace

AudioFileWriter::~AudioFileWriter() { discard(); }

bool AudioFileWriter::formatForPath(const std::string& path, Format& format) {
    const std::string ext = lowerExtension(path);
    if (ext == "wave") return formatForName("wav", format);
    if (ext == "oga") return formatForName("ogg", format);
    return formatForName(ext, format);
}

bool AudioFileWriter::formatForName(const std::string& name, Format& format) {
    for (Format f : {Format::Wav, Format::Flac, Format::Ogg, Format::Opus, Format::Mp3}) {
        if (name == extension(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

const char* AudioFileWriter::extension(Format format) {
    switch (format) {
    case Format::Wav: return "wav";
    case Format::Flac: return "flac";
    case Format::Ogg: return "ogg";
    case Format::Opus: return "opus";
    case Format::Mp3: return "mp3";
    }
    return "wav";
}

namespace {

// libsndfile's format code for stereo sound in `format`.
int sndfileFormat(AudioFileWriter::Format format, int32_t bits) {
    const int pcm = bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16;
    switch (format) {
    case AudioFileWriter::Format::Wav: return SF_FORMAT_WAV | pcm;
    case AudioFileWriter::Format::Flac: return SF_FORMAT_FLAC | pcm;
    case AudioFileWriter::Format::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case AudioFileWriter::Format::Opus: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case AudioFileWriter::Format::Mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    return SF_FORMAT_WAV | pcm;
}

const char* formatTitle(AudioFileWriter::Format format) {
    switch (format) {
    case AudioFileWriter::Format::Wav: return "WAV";
    case AudioFileWriter::Format::Flac: return "FLAC";
    case AudioFileWriter::Format::Ogg: return "Ogg Vorbis";
    case AudioFileWriter::Format::Opus: return "Opus";
    case AudioFileWriter::Format::Mp3: return "MP3";
    }
    return "WAV";
}

}  // namespace

bool AudioFileWriter::canWrite(Format format, int32_t rate, int32_t bits, std::string* problem) {
    if (format == Format::Opus && rate != 48000) {
        if (problem) *problem = "Opus files are written at 48000 Hz only: give --rate 48000.";
        return false;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = sndfileFormat(format, bits);
    if (sf_format_check(&info) == SF_TRUE) return true;
    if (problem)
        *problem = std::string("The libsndfile installed (") + sf_version_string() + ") does not write " +
                   formatTitle(format) + " files at " + std::to_string(rate) + " Hz.";
    return false;
}

bool AudioFileWriter::open(const std::string& path, int32_t rate, std::string* error) {
    return open(path, rate, 16, error);
}

bool AudioFileWriter::open(const std::string& path, int32_t rate, int32_t bits, std::string* error) {
    Format format;
    if (!formatForPath(path, format)) {
        discard();
        if (error)
            *error = "Cannot tell the output format from \"" + path + "\": name it .wav, .flac, .ogg, .opus or .mp3.";
        return false;
    }
    return open(path, format, rate, bits, error);
}

bool AudioFileWriter::open(const std::string& path, Format format, int32_t rate, int32_t bits, std::string* error) {
    discard();
    if (bits != 16 && bits != 24) {
        if (error) *error = "Cannot write " + std::to_string(bits) + "-bit samples: choose 16 or 24.";
        return false;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = sndfileFormat(format, bits);
    if (!canWrite(format, rate, bits, error)) return false;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        if (error) *error = "Cannot write \"" + path + "\": " + sf_strerror(nullptr);
        // libsndfile may have created the file before failing.
        std::remove(path.c_str());
        return false;
    }
    // Floats beyond full scale saturate instead of wrapping round.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    file_ = file;
    path_ = path;
    return true;
}

bool AudioFileWriter::write(const int16_t* stereoFrames, uint32_t frames) {
    if (!file_) return false;
    if (frames == 0) return true;
    return sf_writef_short(handle(file_), stereoFrames, frames) == static_cast<sf_count_t>(frames);
}

bool AudioFileWriter::writeFloat(const float* stereoFrames, uint32_t frames) {
    if (!file_) return false;
    if (frames == 0) return true;
    return sf_writef_float(handle(file_), stereoFrames, frames) == static_cast<sf_count_t>(frames);
}

bool AudioFileWriter::close(std::string* error) {
    if (!file_) return false;
    if (syncOnClose_) sf_write_sync(handle(file_));
    const int result = sf_close(handle(file_));
    file_ = nullptr;
    if (result != 0) {
        if (error) *error = "Cannot finish \"" + path_ + "\": " + sf_error_number(result);
        std::remove(path_.c_str());
        path_.clear();
        return false;
    }
    path_.clear();
    return true;
}

void AudioFileWriter::discard() {
    if (!file_) return;
    sf_close(handle(file_));
    file_ = nullptr;
    std::remove(path_.c_str());
    path_.clear();
}

}  // namespace tonvero
