#include "config/ini.h"

#include "config/cp1251.h"
#include "platform/replace_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <system_error>

namespace kovra {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string Folded(std::string out)
{
    for (char& c : out)
        c = static_cast<char>(FoldCase1251(static_cast<unsigned char>(c)));
    return out;
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool HasBom(std::string_view bytes)
{
    return bytes.substr(0, kBom.size()) == kBom;
}

bool LooksUtf8(std::string_view bytes)
{
    if (HasBom(bytes))
        return true;
    bool nonAscii = false;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            nonAscii = true;
            break;
        }
    return nonAscii && IsValidUtf8(bytes);
}

}  // namespace

TFileBytes ReadFileBytes(const std::filesystem::path& path)
{
    TFileBytes out;
    const QString name = PathToQString(path);
    const QFileInfo info(name);
    if (!info.exists()) {
        out.Status = FileStatus::Missing;
        return out;
    }
    if (info.isDir()) {
        out.Status = FileStatus::Unreadable;
        out.Error = DisplayPath(path) + " is a folder";
        return out;
    }
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        out.Status = FileStatus::Unreadable;
        out.Error = "cannot read " + DisplayPath(path) + ": " + QStringToCp1251(file.errorString());
        return out;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        out.Status = FileStatus::Unreadable;
        out.Error = "cannot read " + DisplayPath(path) + ": " + QStringToCp1251(file.errorString());
        return out;
    }
    out.Status = FileStatus::Read;
    out.Bytes.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return out;
}

std::optional<std::string> WriteFileBytes(const std::filesystem::path& path, std::string_view bytes)
{
    return WriteFileBytes(path, bytes, OsReplaceStorage());
}

std::optional<std::string> WriteFileBytes(const std::filesystem::path& path, std::string_view bytes,
                                          std::shared_ptr<TReplaceStorage> storage)
{
    // Every write, the flush and the sync are checked before the rename: a
    // full disk must never put a short file in the place of a whole one.
    const int status = ReplaceFileContents(path, bytes, std::move(storage));
    if (status != kFileOk)
        return FileStatusText(status);
    return std::nullopt;
}

TIniFile::TIniFile(std::string bytes) : bytes_(std::move(bytes)), utf8_(LooksUtf8(bytes_))
{
    Parse();
}

std::string TIniFile::Decode(std::string_view raw) const
{
    return utf8_ ? Utf8ToCp1251(raw) : std::string(raw);
}

std::string TIniFile::Encode(std::string_view text) const
{
    return utf8_ ? Cp1251ToUtf8(text) : std::string(text);
}

std::string TIniFile::LineBreak() const
{
    const std::size_t p = bytes_.find_first_of("\r\n");
    if (p == std::string::npos)
        return "\r\n";  // the platform the files come from
    if (bytes_[p] == '\n')
        return "\n";
    return (p + 1 < bytes_.size() && bytes_[p + 1] == '\n') ? "\r\n" : "\r";
}

void TIniFile::Parse()
{
    lines_.clear();
    sections_.clear();
    const std::string_view all(bytes_);
    std::size_t pos = (utf8_ && HasBom(all)) ? kBom.size() : 0;
    Section* current = nullptr;
    while (pos < all.size()) {
        Line line;
        line.Begin = pos;
        std::size_t end = all.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = all.size();
        line.End = end;
        line.Next = end;
        if (end < all.size())
            line.Next = (all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ? end + 2 : end + 1;
        pos = line.Next;
        const std::size_t index = lines_.size();

        std::size_t p = line.Begin;
        while (p < end && IsBlank(all[p]))
            ++p;
        if (p == end || all[p] == ';') {
            lines_.push_back(line);
            continue;
        }
        if (all[p] == '[') {
            // Only this line is searched: looking back from the line's end
            // through the whole file made a file of unclosed '[' lines
            // quadratic to read.
            const std::size_t closeInLine = all.substr(p, end - p).rfind(']');
            const std::size_t close = closeInLine == std::string_view::npos ? closeInLine : p + closeInLine;
            if (close != std::string_view::npos && close > p) {
                const std::string name = Folded(Decode(Trim(all.substr(p + 1, close - p - 1))));
                auto [it, inserted] = sections_.try_emplace(name);
                if (inserted) {
                    it->second.HeaderLine = index;
                    it->second.LastKeyLine = index;
                    current = &it->second;
                } else {
                    current = nullptr;  // a later section of a taken name is never read
                }
                lines_.push_back(line);
                continue;
            }
        }
        line.IsKey = true;
        const std::size_t eqInLine = all.substr(p, end - p).find('=');
        const std::size_t eq = eqInLine == std::string_view::npos ? eqInLine : p + eqInLine;
        std::size_t nameEnd = (eq == std::string_view::npos) ? end : eq;
        while (nameEnd > p && IsBlank(all[nameEnd - 1]))
            --nameEnd;
        line.NameEnd = nameEnd;
        if (eq != std::string_view::npos) {
            line.HasValue = true;
            std::size_t vb = eq + 1, ve = end;
            while (vb < ve && IsBlank(all[vb]))
                ++vb;
            while (ve > vb && IsBlank(all[ve - 1]))
                --ve;
            line.ValueBegin = vb;
            line.ValueEnd = ve;
        }
        lines_.push_back(line);
        if (current) {
            current->Keys.try_emplace(Folded(Decode(all.substr(p, nameEnd - p))), index);
            current->LastKeyLine = index;
        }
    }
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const
{
    const auto s = sections_.find(Folded(std::string(Trim(section))));
    if (s == sections_.end())
        return std::nullopt;
    const auto k = s->second.Keys.find(Folded(std::string(Trim(key))));
    if (k == s->second.Keys.end())
        return std::nullopt;
    const Line& line = lines_[k->second];
    if (!line.HasValue)
        return std::nullopt;
    std::string value = Decode(std::string_view(bytes_).substr(line.ValueBegin, line.ValueEnd - line.ValueBegin));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > kIniValueMax)
        value.resize(kIniValueMax);
    return value;
}

std::vector<TIniFile::TEntry> TIniFile::Entries() const
{
    std::vector<TEntry> out;
    const std::string_view all(bytes_);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        std::size_t p = line.Begin;
        while (p < line.End && IsBlank(all[p]))
            ++p;
        TEntry e;
        e.Line = i + 1;
        if (line.IsKey) {
            e.Name = Decode(all.substr(p, line.NameEnd - p));
            e.HasValue = line.HasValue;
        } else if (p < line.End && all[p] == '[') {
            const std::size_t close = all.substr(p, line.End - p).rfind(']');
            e.IsSection = true;
            e.Name = Decode(Trim(all.substr(p + 1, close - 1)));
        } else {
            continue;  // blank or comment
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<std::string> TIniFile::SectionNames() const
{
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const auto& [name, section] : sections_)
        names.push_back(name);
    return names;
}

void TIniFile::Write(std::string_view section, std::string_view key, std::string_view value)
{
    section = Trim(section);
    key = Trim(key);
    const std::string eol = LineBreak();
    const auto s = sections_.find(Folded(std::string(section)));
    if (s == sections_.end()) {
        std::string add;
        if (!bytes_.empty() && bytes_.back() != '\n' && bytes_.back() != '\r')
            add += eol;
        add += "[" + Encode(section) + "]" + eol + Encode(key) + "=" + Encode(value) + eol;
        bytes_ += add;
    } else if (const auto k = s->second.Keys.find(Folded(std::string(key))); k != s->second.Keys.end()) {
        const Line& line = lines_[k->second];
        if (line.HasValue)
            bytes_.replace(line.ValueBegin, line.ValueEnd - line.ValueBegin, Encode(value));
        else
            bytes_.insert(line.NameEnd, "=" + Encode(value));
    } else {
        const Line& after = lines_[s->second.LastKeyLine];
        const std::string entry = Encode(key) + "=" + Encode(value);
        if (after.Next == after.End)  // the file's last line, without a break
            bytes_.insert(after.Next, eol + entry);
        else
            bytes_.insert(after.Next, entry + eol);
    }
    Parse();
}

std::optional<std::int32_t> ParseIniInteger(std::string_view text)
{
    std::string converted;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        converted = "$";
        converted.append(text.substr(2));
        text = converted;
    }
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const bool hex = i < text.size() && text[i] == '$';
    if (hex)
        ++i;
    if (i == text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * (hex ? 16u : 10u) + digit;
        if (value > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<std::uint32_t>(negative ? (~value + 1) : value);
    return static_cast<std::int32_t>(bits);
}

std::string NumberedName(std::string_view prefix, std::size_t index)
{
    std::string name(prefix);
    name += std::to_string(index);
    return name;
}

}  // namespace kovra
