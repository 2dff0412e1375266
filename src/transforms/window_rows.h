// window_rows.h - the rows the window filters (denoise, soften) work on: a ring of source
// rows read from the image as the windows reach them, a ring of result rows written back
// once no later window reads the old row, and the replay of the plain algorithm's reads
// for an image whose samples could not all be proven in range.
//
// Internal linkage on purpose: the per-column counts are built into the files of the
// wider processor paths too, and a shared inline function could be merged by the linker
// with a copy built for a wider target and then run where that target is missing.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "driver/console.h"
#include "image/image.h"

namespace {

// A buffer of samples for rows, freed with its owner; the run stops at the check when it
// cannot be had.
template <typename T> class RowBuffer {
protected:
    explicit RowBuffer(std::size_t samples)
    {
        T* buf = (T*)std::malloc(sizeof(T) * samples);
        CHECK(buf);
        rows_ = buf;
    }
    ~RowBuffer() { std::free(rows_); }
    RowBuffer(const RowBuffer&) = delete;
    RowBuffer& operator=(const RowBuffer&) = delete;
    T* rows_;
};

// Rows of the image, count of them in turn, stride samples apart; row y lives in slot
// y % count. Only the columns first .. end-1 when given (a vertical strip: stride at
// least end - first). T is uint8_t for 1-byte samples, else uint16_t.
template <typename T> class SourceRows : RowBuffer<T> {
public:
    SourceRows(int count, std::size_t stride) : SourceRows(count, stride, 0, ImgImageWidth) {}
    SourceRows(int count, std::size_t stride, int first, int end)
        : RowBuffer<T>(stride * (std::size_t)count), count_(count), stride_(stride), first_(first),
          end_(end)
    {
    }

    T* Row(int y) const { return rows_ + (std::size_t)(y % count_) * stride_; }
    // Reads the next row of the image (the first not read yet) and returns it.
    T* LoadNext()
    {
        T* row = Row(loaded_);
        ImgReadColumns(loaded_++, first_, end_, row);
        return row;
    }
    // Reads every row up to y that is not read yet.
    void LoadThrough(int y)
    {
        while (loaded_ <= y) LoadNext();
    }
    int Loaded() const { return loaded_; }

private:
    using RowBuffer<T>::rows_;
    int count_;
    std::size_t stride_;
    int first_, end_;
    int loaded_ = 0;
};

// The distance between ring rows, in samples: an odd number of cache lines, so that the
// rows of a window column do not all fall in one set of the cache, as they would for a
// width of a large power of two.
template <typename T> std::size_t OddLineStride(int width)
{
    std::size_t lines = ((std::size_t)width * sizeof(T) + 63) / 64;
    return (lines | 1) * 64 / sizeof(T);
}

// The results of every image row, written back delay rows after they were made: row y
// goes back once row y + delay is done, when no window reads the old row y any more.
// Only the columns first .. end-1 when given (a vertical strip); each row then has kept
// more samples after them that stay out of the store: the caller takes them from Row(y)
// before row y + delay + 1 is made (a strip's last columns, which the next strip reads).
template <typename T> class ResultRows : RowBuffer<T> {
public:
    explicit ResultRows(int delay) : ResultRows(delay, 0, ImgImageWidth, 0) {}
    ResultRows(int delay, int first, int end, int kept)
        : RowBuffer<T>((std::size_t)(end - first + kept) * (std::size_t)Slots(delay)),
          width_(end - first + kept), height_(ImgImageHeight), delay_(delay), count_(Slots(delay)),
          first_(first), end_(end)
    {
    }

    T* Row(int y) const { return rows_ + (std::size_t)(y % count_) * width_; }
    // Row y is complete: the row delay rows above goes back.
    void Done(int y)
    {
        if (y >= delay_) ImgWriteColumns(y - delay_, first_, end_, Row(y - delay_));
    }
    // After the last row: the rows still held go back, top first.
    void Flush()
    {
        for (int y = height_ > delay_ ? height_ - delay_ : 0; y < height_; ++y)
            ImgWriteColumns(y, first_, end_, Row(y));
    }

private:
    static int Slots(int delay) { return delay < ImgImageHeight ? delay + 1 : ImgImageHeight; }
    using RowBuffer<T>::rows_;
    std::size_t width_;
    int height_, delay_, count_, first_, end_;
};

// Replays the reads of the plain algorithm through GetPixel, in its order, for an image
// whose samples could not all be proven in range, so that the run stops where it would
// have: every window of radii rx, ry (clipped to the image) is read, then
// afterWindow(x, y) makes the checks the plain algorithm makes after it.
template <typename F> void ReplayWindowReads(int rx, int ry, F&& afterWindow)
{
    int width = ImgImageWidth, height = ImgImageHeight;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int top = y - (ry < y ? ry : y), bottom = y + (ry < height - 1 - y ? ry : height - 1 - y);
            int left = x - (rx < x ? rx : x), right = x + (rx < width - 1 - x ? rx : width - 1 - x);
            for (int yy = top; yy <= bottom; ++yy)
                for (int xx = left; xx <= right; ++xx) GetPixel(xx, yy);
            afterWindow(x, y);
        }
}

}  // namespace
