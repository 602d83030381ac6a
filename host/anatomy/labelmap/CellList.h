#pragma once

// Append-only list of packed cells, stored in blocks that double in size up to a limit. Unlike a
// growing vector it never copies what it holds and never touches memory it does not fill, which
// matters because the cell lists of a large volume run to tens of megabytes; unlike fixed blocks
// it costs little for the many labels that have only a few cells.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Orbitane::LabelMap
{
    class CellList
    {
    public:
        void push(std::uint64_t cell)
        {
            if (fill_ == capacity_)
                addBlock();
            blocks_.back()[fill_++] = cell;
            ++size_;
        }

        std::size_t size() const { return size_; }

        // Calls f(cell) for every cell in the order of pushing.
        template <typename F>
        void forEach(F&& f) const
        {
            std::size_t blockSize = firstBlock;
            for (std::size_t b = 0; b < blocks_.size(); ++b)
            {
                const std::size_t count = b + 1 == blocks_.size() ? fill_ : blockSize;
                const std::uint64_t* block = blocks_[b].get();
                for (std::size_t i = 0; i < count; ++i)
                    f(block[i]);
                blockSize = std::min(2 * blockSize, lastBlock);
            }
        }

    private:
        static constexpr std::size_t firstBlock = 64;
        static constexpr std::size_t lastBlock = 8192;

        void addBlock()
        {
            capacity_ = blocks_.empty() ? firstBlock : std::min(2 * capacity_, lastBlock);
            blocks_.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(capacity_));
            fill_ = 0;
        }

        std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;
        std::size_t capacity_ = 0;
        std::size_t fill_ = 0;
        std::size_t size_ = 0;
    };
}
