#include "jet/page_file.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace jet {

PageFile::PageFile(const std::filesystem::path& path, Mode mode) : mode_(mode) {
    auto flags = std::ios::binary | std::ios::in;
    if (mode == Mode::ReadWrite) flags |= std::ios::out;
    stream_.open(path, flags);
    if (!stream_) throw std::runtime_error("cannot open file");
    stream_.seekg(0, std::ios::end);
    auto end = stream_.tellg();
    if (end < 0) throw std::runtime_error("cannot size file");
    file_size_ = static_cast<uint64_t>(end);
    set_page_size(page_size_);
}

PageFile::PageFile(std::vector<uint8_t> bytes, uint32_t page_size)
    : memory_(std::move(bytes)), in_memory_(true), mode_(Mode::ReadWrite), file_size_(memory_.size()) {
    set_page_size(page_size);
}

void PageFile::set_page_size(uint32_t page_size) {
    page_size_ = page_size == 0 ? 4096 : page_size;
    uint64_t count = file_size_ / page_size_;
    page_count_ = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
    cache_.clear();
}

std::span<const uint8_t> PageFile::page(uint32_t number) const {
    if (number >= page_count_) return {};
    if (in_memory_) return {memory_.data() + uint64_t(number) * page_size_, page_size_};
    auto it = cache_.find(number);
    if (it != cache_.end()) return {it->second.get(), page_size_};
    auto buffer = std::make_unique<uint8_t[]>(page_size_);
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(uint64_t(number) * page_size_));
    stream_.read(reinterpret_cast<char*>(buffer.get()), page_size_);
    if (stream_.gcount() != static_cast<std::streamsize>(page_size_)) {
        stream_.clear();
        return {};
    }
    auto stored = cache_.emplace(number, std::move(buffer)).first;
    return {stored->second.get(), page_size_};
}

std::vector<uint8_t> PageFile::read_prefix(size_t length) const {
    length = static_cast<size_t>(std::min<uint64_t>(length, file_size_));
    std::vector<uint8_t> out(length);
    if (in_memory_) {
        std::copy_n(memory_.begin(), length, out.begin());
        return out;
    }
    stream_.clear();
    stream_.seekg(0);
    stream_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
    out.resize(static_cast<size_t>(std::max<std::streamsize>(stream_.gcount(), 0)));
    stream_.clear();
    return out;
}

bool PageFile::write_page(uint32_t number, std::span<const uint8_t> bytes) {
    if (mode_ != Mode::ReadWrite || number >= page_count_ || bytes.size() != page_size_) return false;
    if (in_memory_) {
        std::copy(bytes.begin(), bytes.end(), memory_.begin() + uint64_t(number) * page_size_);
        return true;
    }
    stream_.clear();
    stream_.seekp(static_cast<std::streamoff>(uint64_t(number) * page_size_));
    stream_.write(reinterpret_cast<const char*>(bytes.data()), page_size_);
    if (!stream_) {
        stream_.clear();
        return false;
    }
    auto it = cache_.find(number);
    if (it != cache_.end()) std::memcpy(it->second.get(), bytes.data(), page_size_);
    return true;
}

bool PageFile::flush() {
    if (in_memory_) return true;
    stream_.flush();
    return static_cast<bool>(stream_);
}

}  // namespace jet
