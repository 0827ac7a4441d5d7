#include "record/log_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstring>

namespace kovra {

TLogReader::TLogReader(std::size_t bufferSize) : bufferSize_(std::max<std::size_t>(bufferSize, 1)) {}

TLogReader::~TLogReader() = default;

void TLogReader::Reset()
{
    file_.reset();
    data_ = nullptr;
    pos_ = end_ = 0;
    atEof_ = true;
    hasHeader_ = false;
    sampleLength_ = 0;
    totalBytes_ = bytesDone_ = records_ = 0;
    trailing_ = 0;
    failed_ = false;
    error_.clear();
}

void TLogReader::Fail(std::string why)
{
    failed_ = true;
    error_ = std::move(why);
}

bool TLogReader::Open(const std::filesystem::path& path)
{
    Reset();
    const QString name = QString::fromStdU16String(path.u16string());
    // Opening a folder succeeds on some systems and fails at the first read on
    // others; either way the user is better told what it is.
    if (QFileInfo(name).isDir()) {
        Fail("it is a folder, not a log file");
        return false;
    }
    file_ = std::make_unique<QFile>(name);
    if (!file_->open(QIODevice::ReadOnly)) {
        Fail(file_->errorString().toStdString());
        file_.reset();
        return false;
    }
    totalBytes_ = file_->isSequential() ? 0 : static_cast<std::uint64_t>(std::max<qint64>(file_->size(), 0));
    buffer_.assign(std::max(bufferSize_, kStampSize + 255), 0);
    data_ = buffer_.data();
    atEof_ = false;
    if (!Fill(1))
        return false;
    if (end_ == 0)
        return true;  // an empty file: no header, no records
    hasHeader_ = true;
    sampleLength_ = data_[0];
    pos_ = 1;
    bytesDone_ = 1;
    return true;
}

void TLogReader::OpenBytes(std::span<const std::uint8_t> bytes)
{
    Reset();
    data_ = bytes.data();
    end_ = bytes.size();
    totalBytes_ = bytes.size();
    if (bytes.empty())
        return;
    hasHeader_ = true;
    sampleLength_ = bytes[0];
    pos_ = 1;
    bytesDone_ = 1;
}

bool TLogReader::Fill(std::size_t want)
{
    if (!file_)
        return true;  // bytes in memory: everything is there already
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (buffer_.size() < want)
        buffer_.resize(want);
    data_ = buffer_.data();
    while (end_ < want && !atEof_) {
        const qint64 n = file_->read(reinterpret_cast<char*>(buffer_.data() + end_),
                                     static_cast<qint64>(buffer_.size() - end_));
        if (n < 0) {
            Fail("reading failed after " + std::to_string(bytesDone_ + end_) +
                 " bytes: " + file_->errorString().toStdString());
            return false;
        }
        if (n == 0)
            atEof_ = true;
        end_ += static_cast<std::size_t>(n);
    }
    return true;
}

bool TLogReader::SeekRecord(std::uint64_t index)
{
    if (!hasHeader_ || failed_)
        return false;
    const std::uint64_t size = RecordSize();
    // Past any file a log can be: keeps 1 + index * size from overflowing.
    const std::uint64_t limit = (std::uint64_t{1} << 62) / size;
    const std::uint64_t at = 1 + std::min(index, limit) * size;
    trailing_ = 0;
    if (!file_) {
        pos_ = static_cast<std::size_t>(std::min<std::uint64_t>(at, end_));
    } else {
        if (file_->isSequential() || !file_->seek(static_cast<qint64>(at))) {
            Fail("cannot go to record " + std::to_string(index) + " of the log: " +
                 file_->errorString().toStdString());
            return false;
        }
        pos_ = end_ = 0;
        atEof_ = false;
    }
    records_ = index;
    bytesDone_ = at;
    return true;
}

bool TLogReader::Next(TLogRecord& record)
{
    if (!hasHeader_ || failed_)
        return false;
    const std::size_t size = RecordSize();
    if (end_ - pos_ < size) {
        if (!Fill(size))
            return false;
        if (end_ - pos_ < size) {
            trailing_ = end_ - pos_;
            return false;
        }
    }
    const std::uint8_t* rec = data_ + pos_;
    record.Index = records_;
    record.Stamp = TTimeStamp{rec[0], rec[1], rec[2], rec[3]};
    record.Sample = {rec + kStampSize, sampleLength_};
    pos_ += size;
    bytesDone_ += size;
    ++records_;
    return true;
}

}  // namespace kovra
