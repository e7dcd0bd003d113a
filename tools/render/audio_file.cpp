#include "tools/render/audio_file.hpp"

#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessellgrove::render {
namespace {

std::string errno_text(int error) { return std::strerror(error); }

} // namespace

int float_wav_format() noexcept { return SF_FORMAT_WAV | SF_FORMAT_FLOAT; }

// ---------------------------------------------------------------------------
// AudioReader

Opened<AudioReader> AudioReader::open(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {std::nullopt, "cannot read '" + path + "': " + sf_strerror(nullptr)};
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        return {std::nullopt, "cannot read '" + path + "': no audio channels or no sample rate"};
    }
    return {AudioReader(file, AudioFormat{info.format, info.channels, info.samplerate, info.frames}), {}};
}

AudioReader::AudioReader(AudioReader&& other) noexcept : file_(other.file_), format_(other.format_) {
    other.file_ = nullptr;
}

AudioReader::~AudioReader() {
    if (file_ != nullptr) {
        sf_close(file_);
    }
}

std::optional<int64_t> AudioReader::read(std::span<float> interleaved) {
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(format_.channels));
    const sf_count_t got = sf_readf_float(file_, interleaved.data(), frames);
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
        return std::nullopt;
    }
    return got;
}

std::string AudioReader::last_error() const { return sf_strerror(file_); }

// ---------------------------------------------------------------------------
// AudioWriter

Opened<AudioWriter> AudioWriter::create(const std::string& target_path, const AudioFormat& format) {
    namespace fs = std::filesystem;
    const auto fail = [&](const std::string& why) {
        return Opened<AudioWriter>{std::nullopt, "cannot write '" + target_path + "': " + why};
    };

    SF_INFO info{};
    info.format = format.format;
    info.channels = format.channels;
    info.samplerate = format.sample_rate;
    if (sf_format_check(&info) == 0) {
        return fail("this audio format cannot be written");
    }

    std::error_code ec;
    if (fs::is_directory(target_path, ec)) {
        return fail("it is a directory");
    }
    const fs::path target(target_path);
    fs::path directory = target.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    std::string temp = (directory / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    std::vector<char> temp_buffer(temp.begin(), temp.end());
    temp_buffer.push_back('\0');
    const int fd = mkstemp(temp_buffer.data());
    if (fd < 0) {
        return fail(errno_text(errno));
    }
    temp.assign(temp_buffer.data());

    // mkstemp creates the file private to the owner; give it the mode a
    // freshly created file would have under the current umask.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, static_cast<mode_t>(0666 & ~mask));

    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        const std::string why = sf_strerror(nullptr);
        close(fd);
        std::remove(temp.c_str());
        return fail(why);
    }
    // Integer encodings clip values beyond full scale instead of wrapping.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return {AudioWriter(file, fd, format.channels, std::move(temp), target_path), {}};
}

AudioWriter::AudioWriter(AudioWriter&& other) noexcept
    : file_(other.file_), fd_(other.fd_), channels_(other.channels_), temp_path_(std::move(other.temp_path_)),
      target_path_(std::move(other.target_path_)) {
    other.file_ = nullptr;
    other.fd_ = -1;
    other.temp_path_.clear();
}

AudioWriter::~AudioWriter() { discard(); }

std::optional<std::string> AudioWriter::close_file() noexcept {
    std::optional<std::string> error;
    if (file_ != nullptr) {
        sf_write_sync(file_);
        const int sf_result = sf_close(file_);
        file_ = nullptr;
        if (sf_result != 0) {
            error = sf_error_number(sf_result);
        }
    }
    if (fd_ >= 0) {
        // Flush to disk before the rename makes the file visible under its name.
        if (fsync(fd_) != 0 && !error) {
            error = errno_text(errno);
        }
        if (close(fd_) != 0 && !error) {
            error = errno_text(errno);
        }
        fd_ = -1;
    }
    return error;
}

void AudioWriter::discard() noexcept {
    close_file();
    if (!temp_path_.empty()) {
        std::remove(temp_path_.c_str());
        temp_path_.clear();
    }
}

bool AudioWriter::write(std::span<const float> interleaved) {
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels_));
    return sf_writef_float(file_, interleaved.data(), frames) == frames;
}

std::optional<std::string> AudioWriter::commit() {
    const auto fail = [&](const std::string& why) {
        discard();
        return "cannot write '" + target_path_ + "': " + why;
    };
    if (const auto error = close_file()) {
        return fail(*error);
    }
    if (std::rename(temp_path_.c_str(), target_path_.c_str()) != 0) {
        return fail(errno_text(errno));
    }
    temp_path_.clear();
    return std::nullopt;
}

std::string AudioWriter::last_error() const { return sf_strerror(file_); }

} // namespace tessellgrove::render
