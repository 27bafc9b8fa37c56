#pragma once
// Writes stereo sound through libsndfile: 16- or 24-bit WAV or FLAC, and
// Ogg Vorbis, Opus and MP3 where the libsndfile installed writes them (asked
// at run time; Opus only at 48000 Hz, as libsndfile writes it). The format is
// chosen by the file name's extension (.wav, .flac, .ogg, .opus, .mp3, any
// case) or given.
// A file whose writing fails, or that is discarded, is removed, so a failed
// render leaves no file behind.
//
// One thread at a time.

#include <cstdint>
#include <string>

namespace tonvero {

class AudioFileWriter {
public:
    enum class Format { Wav, Flac, Ogg, Opus, Mp3 };

    AudioFileWriter() = default;
    ~AudioFileWriter();  // an open file is discarded (removed)
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // The format for a file name; false for an extension other than .wav,
    // .wave, .flac, .ogg, .oga, .opus or .mp3.
    static bool formatForPath(const std::string& path, Format& format);
    // The format a name such as "flac" (as --format takes it) names; false for others.
    static bool formatForName(const std::string& name, Format& format);
    // The file name extension of a format, without the dot: "wav", "flac", "ogg", "opus", "mp3".
    static const char* extension(Format format);
    // True for the formats that store the samples exactly (WAV, FLAC): `bits` counts for them only.
    static bool isLossless(Format format) { return format == Format::Wav || format == Format::Flac; }
    // Whether the libsndfile installed writes `format` for stereo at `rate`
    // Hz; false with `problem` in words for the user when not.
    static bool canWrite(Format format, int32_t rate, int32_t bits, std::string* problem = nullptr);

    // Creates `path` (replacing a file there) for stereo frames at `rate` Hz.
    // False with `error` in words for the user when it cannot.
    bool open(const std::string& path, int32_t rate, std::string* error = nullptr);
    // The same with `bits` 16 or 24 bits per sample (WAV and FLAC).
    bool open(const std::string& path, int32_t rate, int32_t bits, std::string* error);
    // The same in `format`, whatever the name's extension (a temporary name).
    bool open(const std::string& path, Format format, int32_t rate, int32_t bits, std::string* error);
    // Appends `frames` interleaved stereo frames; false when the write fails.
    bool write(const int16_t* stereoFrames, uint32_t frames);
    // The same from floats, full scale 1.0 (beyond it saturates).
    bool writeFloat(const float* stereoFrames, uint32_t frames);
    // Finishes the file; false (and the file removed) when that fails.
    bool close(std::string* error = nullptr);
    // Whether close waits until the file is on the disk (fsync), as it does
    // unless told not to. The bulk renderer does not wait: it checks each
    // output's checksum when it resumes instead.
    void setSyncOnClose(bool sync) { syncOnClose_ = sync; }
    // Closes and removes the file.
    void discard();

private:
    void* file_ = nullptr;  // SNDFILE*
    bool syncOnClose_ = true;
    std::string path_;
};

}  // namespace tonvero
