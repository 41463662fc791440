// src/xml/XmlArena.cpp: bump storage for the nodes and texts of one tree.
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "xml/XmlDocument.h"

namespace zeloro {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void XmlArena::FreeBlock::operator()(std::byte* block) const noexcept { std::free(block); }

void* XmlArena::Allocate(std::size_t size, std::size_t align) {
    // Blocks grow from 64 KiB to 4 MiB, so that a small document stays small.
    const std::size_t kBlock = std::min<std::size_t>(
        std::size_t{65536} << std::min<std::size_t>(blocks_.size(), 6), std::size_t{4} << 20);
    const auto misalign = [&] {
        return (align - (reinterpret_cast<std::uintptr_t>(cursor_) & (align - 1))) & (align - 1);
    };
    if (cursor_ == nullptr || left_ < size || left_ - size < misalign()) {
        std::size_t want = std::max(kBlock, size + align);
        void* block = nullptr;
        if (want >= kHugePage) {
            // Large blocks on huge-page boundaries: a big track then costs a few hundred page faults
            // instead of a hundred thousand.
            want = (want + kHugePage - 1) / kHugePage * kHugePage;
            block = std::aligned_alloc(kHugePage, want);
            if (block != nullptr) {
                (void)madvise(block, want, MADV_HUGEPAGE);
            }
        } else {
            block = std::malloc(want);
        }
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        blocks_.emplace_back(static_cast<std::byte*>(block));
        cursor_ = blocks_.back().get();
        left_ = want;
        reserved_ += want;
    }
    const std::size_t pad = misalign();
    std::byte* at = cursor_ + pad;
    cursor_ = at + size;
    left_ -= pad + size;
    return at;
}

std::string_view XmlArena::Store(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    auto* at = static_cast<char*>(Allocate(text.size(), 1));
    std::copy(text.begin(), text.end(), at);
    return {at, text.size()};
}

void XmlArena::Release(const Mark& mark) noexcept {
    blocks_.resize(mark.blocks);
    cursor_ = mark.cursor;
    left_ = mark.left;
    reserved_ = mark.reserved;
}

void XmlArena::Reset() noexcept {
    blocks_.clear();
    cursor_ = nullptr;
    left_ = 0;
    reserved_ = 0;
}

}  // namespace zeloro
