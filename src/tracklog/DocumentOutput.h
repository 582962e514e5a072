// The text output shared by the track log's document writers (GPX, GeoJSON): a sink that
// takes the document in large chunks, a buffer that collects it for the sink, and the
// number and time formats both print. Pure; one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace kestrix {

// Takes the next chunk of a document; false when it could not be written whole.
using DocumentSink = std::function<bool(const char* data, size_t size)>;

// "%.6f" of the largest double: 309 digits, sign, point and six decimals.
constexpr size_t kMaxFixedBytes = 320;
// printf's "%.6f" of v (exactly, ties to even, "-" for every negative value).
char* PutFixed6(char* p, double v);
// "YYYY-MM-DDTHH:MM:SS.mmmZ" (24 bytes for years 1000 to 9999, at most 26); nothing written
// for a time that is not a calendar time.
char* PutIsoTime(char* p, uint64_t fileTime);

// Collects a document and hands it to the sink a chunk at a time. After a failed write
// nothing more is handed over.
class ChunkedOutput {
public:
    static constexpr size_t kChunkBytes = 256 * 1024;

    explicit ChunkedOutput(const DocumentSink& sink);
    ChunkedOutput(const ChunkedOutput&) = delete;
    ChunkedOutput& operator=(const ChunkedOutput&) = delete;

    // Room for `bytes` (at most kChunkBytes) at the returned position; Commit the end.
    char* Room(size_t bytes);
    void Commit(char* end) { used_ = static_cast<size_t>(end - buffer_.get()); }
    void Put(std::string_view text);
    // True when every byte so far reached the sink.
    bool Flush();

private:
    void Hand(const char* data, size_t size);

    const DocumentSink& sink_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    bool ok_ = true;
};

}  // namespace kestrix
