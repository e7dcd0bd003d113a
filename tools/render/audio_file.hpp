#pragma once
// Audio file reading and safe writing through libsndfile.
//
// `AudioWriter` never writes to the target path directly: it writes a hidden
// temporary file in the target's directory and renames it over the target
// on `commit`, so an existing file is either replaced whole or left as it
// was. A writer destroyed without `commit` removes its temporary file.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

struct sf_private_tag;

namespace tessellgrove::render {

// What a file holds: libsndfile's format code (container | encoding),
// channel count, rate and length.
struct AudioFormat {
    int format = 0;
    int channels = 0;
    int sample_rate = 0;
    int64_t frames = 0;
};

// Result of opening: the object, or a one-line message saying what failed.
template <typename T>
struct Opened {
    std::optional<T> value;
    std::string error;
};

// 32-bit float WAV, the format written for the built-in signal.
int float_wav_format() noexcept;

class AudioReader {
public:
    // Opens any file libsndfile reads (WAV, FLAC, AIFF, OGG, ...).
    static Opened<AudioReader> open(const std::string& path);

    AudioReader(AudioReader&& other) noexcept;
    AudioReader& operator=(AudioReader&&) = delete;
    AudioReader(const AudioReader&) = delete;
    ~AudioReader();

    const AudioFormat& format() const noexcept { return format_; }
    // Reads up to interleaved.size() / channels frames; returns the frames
    // read, 0 at the end, or nothing on a read error.
    std::optional<int64_t> read(std::span<float> interleaved);
    // libsndfile's description of the last error on this file.
    std::string last_error() const;

private:
    AudioReader(sf_private_tag* file, AudioFormat format) noexcept : file_(file), format_(format) {}
    sf_private_tag* file_;
    AudioFormat format_;
};

class AudioWriter {
public:
    // Creates the temporary file beside `target_path`. Fails when the
    // directory is not writable, the target is a directory, or libsndfile
    // cannot write `format` (frames are ignored).
    static Opened<AudioWriter> create(const std::string& target_path, const AudioFormat& format);

    AudioWriter(AudioWriter&& other) noexcept;
    AudioWriter& operator=(AudioWriter&&) = delete;
    AudioWriter(const AudioWriter&) = delete;
    // Removes the temporary file unless `commit` succeeded.
    ~AudioWriter();

    // Writes interleaved frames; false on a write error (see last_error).
    bool write(std::span<const float> interleaved);
    // Closes the file and renames it over the target. On failure the
    // temporary file is removed and the message says why.
    std::optional<std::string> commit();
    std::string last_error() const;

private:
    AudioWriter(sf_private_tag* file, int fd, int channels, std::string temp_path, std::string target_path) noexcept
        : file_(file), fd_(fd), channels_(channels), temp_path_(std::move(temp_path)),
          target_path_(std::move(target_path)) {}
    // Closes the sound file, then the descriptor; returns a close error, if any.
    std::optional<std::string> close_file() noexcept;
    void discard() noexcept;

    sf_private_tag* file_;  // open sound file, or null once closed
    int fd_;                // descriptor of the temporary file, or -1
    int channels_;
    std::string temp_path_;
    std::string target_path_;
};

} // namespace tessellgrove::render
