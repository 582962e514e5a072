// Writes a GPX 1.1 document (one track, one segment) from a sequence of track log
// records, in a fixed byte layout that other tools read: CR LF line ends except the "<trk>"
// line (LF alone), coordinates with six decimals, <ele> and <speed> (km/h, not a GPX 1.1
// element) only when non-zero, and <time> as "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC. Numbers
// come out exactly as printf's "%.6f" prints them.
// Used by the track log's export and by "kestrix log gpx": both stream the log through
// ConvertLogToGpx, which reads it in blocks and hands the document to its sink in large
// chunks, so memory stays the same whatever the log's size.
// Pure apart from the files it is given; one thread at a time. Write errors are reported
// in the result.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tracklog/DocumentOutput.h"
#include "tracklog/LogRecord.h"

namespace kestrix {

namespace platform {
class DeviceFile;
}

// "2009-03-07T14:05:09.000Z"; empty when the time is not a calendar time.
std::string FormatIsoTime(uint64_t fileTime);

// The lines of the document, exposed for callers that write elsewhere.
std::string GpxHeader(const std::string& trackName);
// Empty for a record whose coordinates are not finite numbers (a damaged record).
std::string GpxPoint(const LogRecord& record);
std::string GpxFooter();

// Takes the next chunk of the document (DocumentOutput.h).
using GpxSink = DocumentSink;

struct GpxWriteResult {
    uint64_t points = 0;   // records written as track points
    uint64_t skipped = 0;  // damaged records left out
    bool complete = true;  // every byte reached the file
};

// Writes the header, one point per record that next() yields (until it returns false),
// and the footer.
GpxWriteResult WriteGpxDocument(const GpxSink& out, const std::string& trackName,
                                const std::function<bool(LogRecord&)>& next);
GpxWriteResult WriteGpxDocument(platform::DeviceFile& out, const std::string& trackName,
                                const std::function<bool(LogRecord&)>& next);

struct GpxConversion {
    uint64_t points = 0;       // track points written
    uint64_t damaged = 0;      // whole records that hold no position, left out
    size_t trailingBytes = 0;  // a final partial record, left out
    bool readFailed = false;   // the log could not be read to its end
    bool stopped = false;      // the stop flag ended it before the end of the log
    bool complete = true;      // every byte of the document reached the sink
};

// Converts a whole log, read from its current position, into one document; a stop flag
// set (from any thread) ends it early.
GpxConversion ConvertLogToGpx(platform::DeviceFile& log, const std::string& trackName, const GpxSink& out,
                              const std::atomic<bool>* stop = nullptr);

}  // namespace kestrix
