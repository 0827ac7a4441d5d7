// The log file (".xlg") and its sample records.
//
// A log is the sample length N (one byte), then one record per completed
// cycle: hour, minute, second, milliseconds / 5 (0 to 200), then the N sample
// bytes. No header beyond N, no count, no end marker: a reader knows the
// number of records only from the file's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kovra {

inline constexpr std::size_t kStampSize = 4;

struct TTimeStamp {
    std::uint8_t Hour = 0;
    std::uint8_t Minute = 0;
    std::uint8_t Second = 0;
    std::uint8_t Fifths = 0;  // milliseconds / 5, rounded: 0 to 200

    // Milliseconds since midnight that the stamp stands for (Fifths 200 of
    // 23:59:59 gives a full day).
    std::int64_t MsOfDay() const;
    // Hour, minute and second within range and Fifths at most 200.
    bool Valid() const;
    // The time of day the record's cycle was given, in milliseconds since
    // midnight: a full day (23:59:59 and 998 ms or more) is midnight, a stamp
    // out of range stands as it is. The export writes it and a replay hands
    // it to the cycle, so both see the same time.
    std::int64_t CycleMs() const;
    // The same as a fraction of a day, as the cycle takes it.
    double CycleTimeOfDay() const;
};

// The stamp of a cycle timed t (time of day as a fraction of a day, held in
// single precision as the cycle reads it). A t that rounds up to a whole day
// is midnight of the next day.
TTimeStamp StampOf(float t);

// What a log's bytes hold, found without reading past them.
struct TLogShape {
    bool HasHeader = false;          // at least the byte N
    std::size_t SampleLength = 0;    // N
    std::size_t RecordSize = 0;      // 4 + N
    std::size_t Records = 0;         // whole records
    std::size_t TrailingBytes = 0;   // a partial last record, left out
};
TLogShape InspectLog(std::span<const std::uint8_t> bytes);

// The text the user sees for a failed log save: FileStatusText of
// platform/files.h ("Disk full", "I/O error 123", ...), by its old name.
std::string IoErrorMessage(int status);

}  // namespace kovra
