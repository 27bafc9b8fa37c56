#pragma once
// Writes stereo sound to a 16- or 24-bit WAV or FLAC file through
// libsndfile, the format chosen by the file name's extension (.wav or .flac,
// any case).
// A file whose writing fails, or that is discarded, is removed, so a failed
// render leaves no file behind.
//
// One thread at a time.

#include <cstdint>
#include <string>

namespace tonvero {

class AudioFileWriter {
public:
    enum class Format { Wav, Flac };

    AudioFileWriter() = default;
    ~AudioFileWriter();  // an open file is discarded (removed)
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // The format for a file name; false for an extension other than .wav or .flac.
    static bool formatForPath(const std::string& path, Format& format);

    // Creates `path` (replacing a file there) for stereo frames at `rate` Hz.
    // False with `error` in words for the user when it cannot.
    bool open(const std::string& path, int32_t rate, std::string* error = nullptr);
    // The same with `bits` 16 or 24 bits per sample.
    bool open(const std::string& path, int32_t rate, int32_t bits, std::string* error);
    // Appends `frames` interleaved stereo frames; false when the write fails.
    bool write(const int16_t* stereoFrames, uint32_t frames);
    // The same from floats, full scale 1.0 (beyond it saturates).
    bool writeFloat(const float* stereoFrames, uint32_t frames);
    // Finishes the file; false (and the file removed) when that fails.
    bool close(std::string* error = nullptr);
    // Closes and removes the file.
    void discard();

private:
    void* file_ = nullptr;  // SNDFILE*
    std::string path_;
};

}  // namespace tonvero
