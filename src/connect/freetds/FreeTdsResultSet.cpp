#include "connect/freetds/FreeTdsResultSet.h"

#include "connect/access/ServerWait.h"

namespace veltrane::tds {

void FreeTdsResultSet::Drain() {
    const ClientLibraryWaits waits;
    position_ = 0;
    while (ReadRow())
        rows_.Append(raw_);
    drained_ = true;
}

bool FreeTdsResultSet::ReadRow() {
    if (!reading_)
        return false;
    try {
        if (link_->NextRow()) {
            link_->CurrentRow(raw_);
            return true;
        }
    } catch (...) {
        StopReading();
        throw;
    }
    StopReading();
    return false;
}

void FreeTdsResultSet::Start(const std::function<void()>& rowRead) {
    if (!buffered_) {
        link_->stream = this;
        onRow_ = ReadRow();
        if (onRow_)
            Decode();
        return;
    }
    try {
        while (ReadRow()) {
            rows_.Append(raw_);
            if (rowRead)
                rowRead();
        }
    } catch (...) {
        // Failed here rather than in the read (the callback, memory): the rest of the results
        // is still on its way and would block the connection's next statement.
        if (reading_) {
            reading_ = false;
            if (!link_->Dead())
                dbcancel(link_->proc);
        }
        throw;
    }
    onRow_ = rows_.RowCount() > 0;
    if (onRow_) {
        rows_.Read(0, raw_);
        Decode();
    }
}

void FreeTdsResultSet::MoveNext() {
    const ClientLibraryWaits waits;
    if (closed_)
        throw ObjectClosedError();
    if (IsEOF())
        throw NoCurrentRecordError();
    onRow_ = false;
    current_.clear();
    if (buffered_) {
        if (++position_ < rows_.RowCount()) {
            rows_.Read(position_, raw_);
            Decode();
            onRow_ = true;
        }
        return;
    }
    if (drained_) {
        if (position_ < rows_.RowCount()) {
            rows_.Read(position_++, raw_);
            Decode();
            onRow_ = true;
        }
        return;
    }
    onRow_ = ReadRow();
    if (onRow_)
        Decode();
}

void FreeTdsResultSet::Close() {
    const ClientLibraryWaits waits;
    if (link_->stream == this) {
        link_->stream = nullptr;
        if (!link_->Dead())
            dbcancel(link_->proc);
    }
    reading_ = false;
    closed_ = true;
    onRow_ = false;
    current_.clear();
    rows_.Clear();
}

} // namespace veltrane::tds
