// window_rows.h - the rows the window filters (denoise, soften) work on: a ring of source
// rows read from the image as the windows reach them, a ring of result rows written back
// once no later window reads the old row, the image's rows cut into parts for the worker
// threads, and the replay of the plain algorithm's reads for an image whose samples could
// not all be proven in range.
//
// Internal linkage on purpose: the per-column counts are built into the files of the
// wider processor paths too, and a shared inline function could be merged by the linker
// with a copy built for a wider target and then run where that target is missing.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "driver/console.h"
#include "image/image.h"
#include "support/workers.h"

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

// Any other buffer of samples a filter needs, freed with its owner.
template <typename T> class Samples : RowBuffer<T> {
public:
    explicit Samples(std::size_t count) : RowBuffer<T>(count) {}
    T* Data() const { return this->rows_; }
};

// The image's rows cut into parts for the worker threads: part i makes output rows
// From(i) .. From(i + 1) - 1, with windows that reach rows more above and below. Those
// windows read rows that the neighbouring part writes back meanwhile, so the rows within
// reach of every inner cut are copied first, and every part reads them from the copies.
// T is uint8_t for 1-byte samples, else uint16_t.
template <typename T> class RowParts : RowBuffer<T> {
public:
    // The parts worth cutting the image into (PartsFor), fewer where the copies would
    // outgrow a MiB, or the parts' own buffers, partBytes each, 3 MB.
    static int Most(int reach, std::size_t partBytes = 0)
    {
        std::size_t cut = 2 * (std::size_t)reach * (std::size_t)ImgImageWidth * sizeof(T);
        int parts = PartsFor((long long)ImgImageWidth * ImgImageHeight);
        while (parts > 1
               && ((std::size_t)(parts - 1) * cut > (std::size_t(1) << 20)
                   || (std::size_t)parts * partBytes > (std::size_t(3) << 20)))
            --parts;
        return parts;
    }
    // parts from 1 to MostWorkers.
    RowParts(int parts, int reach)
        : RowBuffer<T>((std::size_t)(parts - 1) * 2 * (std::size_t)reach * (std::size_t)ImgImageWidth + 1),
          parts_(parts), reach_(reach)
    {
        CHECK(parts >= 1 && parts <= MostWorkers);
        int height = ImgImageHeight;
        for (int i = 0; i <= parts; ++i) cut_[i] = (int)((long long)height * i / parts);
        for (int i = 1; i < parts; ++i)
            for (int y = cut_[i] > reach ? cut_[i] - reach : 0; y < cut_[i] + reach && y < height; ++y)
                ImgReadRow(y, Copy(y));
    }

    int Count() const { return parts_; }
    int From(int part) const { return cut_[part]; }
    // The first source row part's windows read.
    int FirstRead(int part) const { return cut_[part] > reach_ ? cut_[part] - reach_ : 0; }
    // Columns first .. end-1 of row y as they were before any part wrote back.
    void Read(int y, int first, int end, T* row) const
    {
        if (const T* copy = Copy(y))
            std::memcpy(row, copy + first, (std::size_t)(end - first) * sizeof(T));
        else
            ImgReadColumns(y, first, end, row);
    }

private:
    // The copy of row y, or null when no inner cut is that close.
    T* Copy(int y) const
    {
        for (int i = 1; i < parts_; ++i)
            if (y >= cut_[i] - reach_ && y < cut_[i] + reach_)
                return rows_ + ((std::size_t)(i - 1) * 2 * reach_ + (std::size_t)(y - cut_[i] + reach_))
                                   * (std::size_t)ImgImageWidth;
        return nullptr;
    }
    using RowBuffer<T>::rows_;
    int parts_, reach_;
    int cut_[MostWorkers + 1];
};

// Makes every part's buffers first, Part(parts, i, args...), so that no part stops the run
// on a worker thread, then runs run(part, from, to) for each part's rows on the threads.
template <typename Part, typename T, typename Run, typename... Args>
void RunRowParts(const RowParts<T>& parts, const Run& run, const Args&... args)
{
    std::optional<Part> part[MostWorkers];
    for (int i = 0; i < parts.Count(); ++i) part[i].emplace(parts, i, args...);
    RunParts(parts.Count(), [&](int i) { run(*part[i], parts.From(i), parts.From(i + 1)); });
}

// Rows of the image, count of them in turn, stride samples apart; row y lives in slot
// y % count. Only the columns first .. end-1 when given (a vertical strip: stride at
// least end - first). With parts, the rows one part reads, from parts->FirstRead(part) on.
// T is uint8_t for 1-byte samples, else uint16_t.
template <typename T> class SourceRows : RowBuffer<T> {
public:
    SourceRows(int count, std::size_t stride) : SourceRows(count, stride, 0, ImgImageWidth) {}
    SourceRows(int count, std::size_t stride, int first, int end, const RowParts<T>* parts = nullptr,
               int part = 0)
        : RowBuffer<T>(stride * (std::size_t)count), count_(count), stride_(stride), first_(first),
          end_(end), parts_(parts), loaded_(parts ? parts->FirstRead(part) : 0)
    {
    }

    T* Row(int y) const { return rows_ + (std::size_t)(y % count_) * stride_; }
    // Reads the next row of the image (the first not read yet) and returns it.
    T* LoadNext()
    {
        T* row = Row(loaded_);
        if (parts_)
            parts_->Read(loaded_++, first_, end_, row);
        else
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
    const RowParts<T>* parts_;
    int loaded_;
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
// Only the rows from .. to-1 when given (one of RowParts).
template <typename T> class ResultRows : RowBuffer<T> {
public:
    explicit ResultRows(int delay) : ResultRows(delay, 0, ImgImageWidth, 0) {}
    ResultRows(int delay, int first, int end, int kept, int from = 0, int to = ImgImageHeight)
        : RowBuffer<T>((std::size_t)(end - first + kept) * (std::size_t)Slots(delay)),
          width_(end - first + kept), from_(from), to_(to), delay_(delay), count_(Slots(delay)),
          first_(first), end_(end)
    {
    }

    T* Row(int y) const { return rows_ + (std::size_t)(y % count_) * width_; }
    // Row y is complete: the row delay rows above goes back.
    void Done(int y)
    {
        if (y - delay_ >= from_) ImgWriteColumns(y - delay_, first_, end_, Row(y - delay_));
    }
    // After the last row: the rows still held go back, top first.
    void Flush()
    {
        for (int y = to_ - from_ > delay_ ? to_ - delay_ : from_; y < to_; ++y)
            ImgWriteColumns(y, first_, end_, Row(y));
    }

private:
    static int Slots(int delay) { return delay < ImgImageHeight ? delay + 1 : ImgImageHeight; }
    using RowBuffer<T>::rows_;
    std::size_t width_;
    int from_, to_, delay_, count_, first_, end_;
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
