// Reading a log (".xlg") record by record through a buffer of fixed size, so
// that a log of any length takes the same memory: the export and the replay
// of a log both read it here.
//
// A log has no record count and no end marker, so its end is where the bytes
// end; bytes after the last whole record are a record cut short (a recording
// that died mid-write), reported by TrailingBytes and never handed out.
#pragma once

#include "record/log_format.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QFile;

namespace kovra {

struct TLogRecord {
    std::uint64_t Index = 0;                // counted from 0
    TTimeStamp Stamp;
    std::span<const std::uint8_t> Sample;  // valid until the next call of Next
};

// Records first to first + count - 1 of a log (a count past the end: to the
// end).
struct TRecordRange {
    std::uint64_t First = 0;
    std::uint64_t Count = UINT64_MAX;
};

class TLogReader {
public:
    static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 20;

    // bufferSize: bytes read from the file at a time (at least one record's
    // worth is held whatever is asked).
    explicit TLogReader(std::size_t bufferSize = kDefaultBufferSize);
    ~TLogReader();
    TLogReader(const TLogReader&) = delete;
    TLogReader& operator=(const TLogReader&) = delete;

    // Opens a log file and reads its sample length. False when the file
    // cannot be read; Error() then says why ("it is a folder", the system's
    // reason). An empty file opens, without a header.
    bool Open(const std::filesystem::path& path);
    // Reads a log held in memory; bytes must outlive the reader.
    void OpenBytes(std::span<const std::uint8_t> bytes);

    bool HasHeader() const { return hasHeader_; }  // at least the byte N
    std::size_t SampleLength() const { return sampleLength_; }
    std::size_t RecordSize() const { return kStampSize + sampleLength_; }
    // The log's size when it was opened (0 when the system cannot tell), and
    // how much of it the records handed out so far took: for progress.
    std::uint64_t TotalBytes() const { return totalBytes_; }
    std::uint64_t BytesDone() const { return bytesDone_; }

    // The next whole record. False at the end of the log, or when reading
    // failed (Failed(), Error()); the records handed out until then stand.
    bool Next(TLogRecord& record);
    // Makes record index the next that Next hands out (past the end: Next
    // hands out nothing). False, with Failed() and Error(), when the file
    // cannot be positioned (a pipe); the reader is then spent.
    bool SeekRecord(std::uint64_t index);
    // After the end: the bytes of a cut-short last record, left out.
    std::size_t TrailingBytes() const { return trailing_; }
    std::uint64_t Records() const { return records_; }

    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }

private:
    void Reset();
    // Tops the buffer up until it holds want bytes or the file ends.
    bool Fill(std::size_t want);
    void Fail(std::string why);

    std::unique_ptr<QFile> file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferSize_;
    const std::uint8_t* data_ = nullptr;  // the buffer, or the caller's bytes
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool atEof_ = true;
    bool hasHeader_ = false;
    std::size_t sampleLength_ = 0;
    std::uint64_t totalBytes_ = 0;
    std::uint64_t bytesDone_ = 0;
    std::uint64_t records_ = 0;
    std::size_t trailing_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace kovra
