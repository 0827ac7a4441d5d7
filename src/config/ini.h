// INI files read and written the way the Windows private-profile functions
// do it, so that files written for the old program read the same here:
//  - "[name]" opens a section (the name runs to the last ']' of the line);
//    "key=value" gives a value; a line whose first non-blank character is ';'
//    is a comment; blanks around names and values do not count.
//  - Names match without regard to case, Cyrillic included (CP1251 pairs).
//  - The first section of a name and, inside it, the first key of a name win;
//    a later section of the same name is never searched.
//  - A value wrapped in matching double or single quotes loses them; at most
//    2047 characters of a value count (the 2048-byte buffer of the API).
//  - A key line without '=' hides later keys of its name and reads as missing.
//
// Encoding: the files are CP1251. A file that starts with a UTF-8 byte-order
// mark, or that is valid UTF-8 and holds non-ASCII bytes, was saved by a
// Unicode editor and is read as UTF-8 (and written back as UTF-8). Every name
// and value crosses this interface as CP1251.
//
// Writing changes only the bytes of the value it sets (or adds one line, or a
// section at the end); every other byte of the file stays as it was.
#pragma once

#include "config/paths.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kovra {

class TReplaceStorage;

inline constexpr std::size_t kIniValueMax = 2047;

enum class FileStatus { Read, Missing, Unreadable };

struct TFileBytes {
    FileStatus Status = FileStatus::Missing;
    std::string Bytes;
    std::string Error;  // CP1251, for Unreadable
};

// Whole contents of a file. A folder or a file that cannot be opened is
// Unreadable; a name that does not exist is Missing.
TFileBytes ReadFileBytes(const std::filesystem::path& path);

// Replaces the file in one step (written beside it, every write and the sync
// checked, then renamed over it), so that a failure leaves the old file whole.
// Returns the error ("Disk full", ...), or nullopt. storage: where the bytes
// go (tests pass one that fails).
std::optional<std::string> WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);
std::optional<std::string> WriteFileBytes(const std::filesystem::path& path, std::string_view bytes,
                                          std::shared_ptr<TReplaceStorage> storage);

class TIniFile {
public:
    TIniFile() = default;
    explicit TIniFile(std::string bytes);

    bool IsUtf8() const { return utf8_; }
    const std::string& Bytes() const { return bytes_; }

    // The value of key in section, unquoted and cut to 2047 characters;
    // nullopt when there is no such key.
    std::optional<std::string> Read(std::string_view section, std::string_view key) const;

    // The names of the sections that are read (the first of each name),
    // folded to one letter case, in CP1251.
    std::vector<std::string> SectionNames() const;

    // Every section header and key line in the order written, for a reader
    // that checks all of a file rather than looking up known names: later
    // sections of a taken name and repeated keys are listed too, although
    // Read() never sees them. Names as written (CP1251); lines count from 1.
    struct TEntry {
        std::size_t Line = 0;
        bool IsSection = false;
        std::string Name;       // the section's, or the key's
        bool HasValue = false;  // a key line with '='
    };
    std::vector<TEntry> Entries() const;

    // Sets key in section to value: replaced in place when the key exists,
    // otherwise added after the last key of the section, or in a new section
    // at the end of the file.
    void Write(std::string_view section, std::string_view key, std::string_view value);

private:
    struct Key {
        std::size_t Line;
    };
    struct Line {
        std::size_t Begin = 0;   // first byte of the line
        std::size_t End = 0;     // end of its text, before the line break
        std::size_t Next = 0;    // start of the next line
        bool IsKey = false;
        bool HasValue = false;
        std::size_t NameEnd = 0;     // end of the trimmed key name (bytes)
        std::size_t ValueBegin = 0;  // trimmed value, bytes of the file
        std::size_t ValueEnd = 0;
    };
    struct Section {
        std::size_t HeaderLine = 0;
        std::size_t LastKeyLine = 0;  // the header itself while it has no keys
        std::unordered_map<std::string, std::size_t> Keys;  // folded name -> first key line
    };

    void Parse();
    std::string Decode(std::string_view raw) const;  // file encoding -> CP1251
    std::string Encode(std::string_view text) const;  // CP1251 -> file encoding
    std::string LineBreak() const;

    std::string bytes_;
    bool utf8_ = false;
    std::vector<Line> lines_;
    std::unordered_map<std::string, Section> sections_;  // folded name -> first section
};

// Integers as the settings are read (TIniFile.ReadInteger of the VCL): a value
// that starts with "0x" or "0X" and is longer than two characters becomes "$"
// hex; then StrToIntDef: optional leading blanks, optional '+' or '-', then
// decimal digits, or '$' and hexadecimal digits. Anything else anywhere
// ("12abc", "1 2", "yes", "", "0x", "$") is not a number. Decimal values must
// fit a signed 32-bit integer; hexadecimal ones may use all 32 bits
// ("$FFFFFFFF" is -1). nullopt when the text is not a number.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

// Name of a numbered key or section: prefix and the index in plain decimal.
std::string NumberedName(std::string_view prefix, std::size_t index);

}  // namespace kovra
